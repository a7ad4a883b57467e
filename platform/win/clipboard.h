// A process-private clipboard with the operations and failure results of the
// system one. The user's own clipboard is never touched: replacing it at every
// grab would destroy what the user copied.
#pragma once

#include "wintypes.h"

// Fails while another owner holds it open.
BOOL OpenClipboard(const void* owner);
BOOL CloseClipboard();
// Needs the clipboard open; frees what it held.
BOOL EmptyClipboard();
// Needs the clipboard open; takes ownership of the block. Returns it, or null.
HGLOBAL SetClipboardData(UINT format, HGLOBAL data);
// Needs the clipboard open; the clipboard keeps ownership. Null when none.
HGLOBAL GetClipboardData(UINT format);
