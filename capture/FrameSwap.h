// The file side of a frame grab: local temporary and parked names, and the
// swap that puts a new picture in place of the previous one.
#pragma once

#include "platform/win/ownfile.h"
#include "platform/win/wintypes.h"

#include <QByteArray>
#include <QString>
#include <functional>

class CCameraDlg;

// Numbers the local temporary names, 0..99 and round again.
extern unsigned s_nSwapIndex;

// Each name is built in a buffer of MAX_PATH bytes, so the destination may
// have at most MAX_PATH - 5 bytes.
constexpr int kMaxDestinationBytes = MAX_PATH - 5;

struct SwapNames {
    QByteArray temporary; // D.tNN
    QByteArray parked;    // D.dNN
};
SwapNames MakeSwapNames(const QByteArray& destination, unsigned index);

// The names for the next picture at the destination, from s_nSwapIndex (which
// moves on). A picture left parked by an interrupted swap is put back first;
// then whatever is left at the two names, and at the previous grab's (an old
// picture whose delete failed), is cleared, so no leftover of ours blocks the
// grab or lingers.
SwapNames ClaimSwapNames(const QByteArray& destination);

// When the destination is missing, the newest picture parked under one of its
// D.dNN names (our own regular file, never a link) goes back in its place.
// True when one was put back.
bool RestoreParkedPicture(const QByteArray& destination);

// Seam: the writer a grab uses. The file operations are the platform's
// OwnFiles().
struct FrameFileOps {
    std::function<int(HGLOBAL dib, const char* name, int quality)> writeJpeg;
};
FrameFileOps& FrameFiles();

// Up to 5 immediate attempts to delete through the seam.
bool DeleteWithRetries(const QByteArray& path);

// Exchanges the temporary file with the destination and deletes the old
// picture, now at the temporary's name. Where the file system cannot exchange,
// there is no destination yet, or the exchange keeps failing: parks the
// destination under a second name, renames the temporary file over it and
// deletes the parked name. Each step up to 5 immediate attempts; the
// destination is never missing on the way. When the install fails the
// temporary file is deleted and the parked picture is put back if the
// destination went. True when the new picture is in place.
bool SwapIntoPlace(const QByteArray& destination, const SwapNames& names);

// The grab's steps from opening the clipboard on: caption, write, swap, with
// their status lines. GrabFrame runs it once the frame is on the clipboard.
int WriteClipboardFrame(CCameraDlg& dlg, const QString& destination);
