// Movable memory blocks: the form in which a packed bitmap travels from the
// capture layer through the clipboard to the JPEG writer.
#pragma once

#include "wintypes.h"

#include <memory>

#define GMEM_MOVEABLE 0x0002
#define GMEM_ZEROINIT 0x0040
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)

HGLOBAL GlobalAlloc(UINT flags, std::size_t bytes);
// A block over bytes that another owner keeps alive and that never change
// while it lives: a frame handed on without copying it. Its holders only read
// it; the bytes are released with the last reference, not by GlobalFree.
HGLOBAL GlobalAllocShared(std::shared_ptr<const void> owner, const void* bytes, std::size_t size);
// Null for a null or freed handle.
void* GlobalLock(HGLOBAL h);
BOOL GlobalUnlock(HGLOBAL h);
// 0 for a null or freed handle.
std::size_t GlobalSize(HGLOBAL h);
// Returns null on success, the handle when it was not a live block.
HGLOBAL GlobalFree(HGLOBAL h);
