// The file side of a frame grab: local temporary and parked names, the swap
// that puts a new picture in place of the previous one, and the seams through
// which tests make files fail.
#pragma once

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

// A rename that fails when the target exists; a delete. True on success.
bool RenameNoReplace(const char* from, const char* to);
bool DeleteLocalFile(const char* path);

// Seams: the file operations and the writer a grab uses.
struct FrameFileOps {
    std::function<bool(const char* from, const char* to)> rename = RenameNoReplace;
    std::function<bool(const char* path)> remove = DeleteLocalFile;
    std::function<int(HGLOBAL dib, const char* name, int quality)> writeJpeg;
};
FrameFileOps& FrameFiles();

// Up to 5 immediate attempts to delete through the seam.
bool DeleteWithRetries(const QByteArray& path);

// Parks the destination, installs the temporary file under its name and
// deletes the parked one, each up to 5 immediate attempts. When the install
// fails the temporary file is deleted and a parked picture is put back.
// True when the new picture is in place.
bool SwapIntoPlace(const QByteArray& destination, const SwapNames& names);

// The grab's steps from opening the clipboard on: caption, write, swap, with
// their status lines. GrabFrame runs it once the frame is on the clipboard.
int WriteClipboardFrame(CCameraDlg& dlg, const QString& destination);
