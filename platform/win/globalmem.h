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
// A block of size bytes that reads as base's first size bytes except for the
// length bytes from offset, which are its own and start as base's: a captioned
// frame owns only the rows the caption covers and shares the rest. Only a base
// whose bytes another owner keeps alive (GlobalAllocShared) is shared; any
// other is copied whole. Its own bytes are written through GlobalLockView.
HGLOBAL GlobalAllocOverlay(HGLOBAL base, std::size_t size, std::size_t offset, std::size_t length);

// A locked block seen as read-only bytes plus the range the block owns (and
// may write), so that a reader need not make an overlay whole. A plain block
// owns all of itself, a shared one none, an overlay its band.
struct BlockView {
    const unsigned char* bytes = nullptr; // size bytes; the owned range here is stale
    std::size_t size = 0;
    unsigned char* own = nullptr;
    std::size_t ownOffset = 0, ownLength = 0;

    bool Owns(std::size_t i, std::size_t n) const
    {
        return own && i >= ownOffset && n <= ownLength && i - ownOffset <= ownLength - n;
    }
    const unsigned char* At(std::size_t i) const
    {
        return Owns(i, 1) ? own + (i - ownOffset) : bytes + i;
    }
};
// Locks like GlobalLock (GlobalUnlock ends it). False for a null or freed handle.
bool GlobalLockView(HGLOBAL h, BlockView* view);
// Null for a null or freed handle. An overlay is made whole first: a copy, so
// the band is better written before anyone locks it this way.
void* GlobalLock(HGLOBAL h);
BOOL GlobalUnlock(HGLOBAL h);
// 0 for a null or freed handle.
std::size_t GlobalSize(HGLOBAL h);
// Returns null on success, the handle when it was not a live block.
HGLOBAL GlobalFree(HGLOBAL h);
