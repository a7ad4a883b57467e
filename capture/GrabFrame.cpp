#include "CaptureSend.h"
#include "FrameSwap.h"
#include "app/CCameraApp.h"
#include "platform/win/clipboard.h"
#include "platform/win/globalmem.h"
#include "res/strings.h"
#include "session/CCameraDlg.h"

#include <QFile>
#include <sys/stat.h>

unsigned s_nSwapIndex = 0;

namespace
{

// Closes the clipboard on every path out of the caption step.
class ClipboardOpen
{
public:
    explicit ClipboardOpen(const void* owner) : m_open(OpenClipboard(owner)) {}
    ~ClipboardOpen()
    {
        if (m_open)
            CloseClipboard();
    }
    ClipboardOpen(const ClipboardOpen&) = delete;
    ClipboardOpen& operator=(const ClipboardOpen&) = delete;
    bool isOpen() const { return m_open; }

private:
    bool m_open;
};

QString JpegErrorText(int code)
{
    QString text;
    if (!LookupMessageString(code, &text))
        text = QString::asprintf("error code %d.", code);
    return QStringLiteral("JPEG error: ") + text;
}

// Empty when the destination can be used; otherwise the status line.
QString CheckDestination(const QByteArray& destination)
{
    if (destination.isEmpty())
        return QStringLiteral("File error: No local file name");
    if (destination.size() > kMaxDestinationBytes)
        return QStringLiteral("File error: Local file name longer than %1 characters")
            .arg(kMaxDestinationBytes);
    // Parking would move a folder out of the way instead of a picture.
    struct stat st;
    if (::stat(destination.constData(), &st) == 0 && S_ISDIR(st.st_mode))
        return QStringLiteral("File error: Local file name is a folder");
    return QString();
}

HGLOBAL CaptionedFrame(CCameraDlg& dlg, const CUpload& settings, QString* failure)
{
    ClipboardOpen clipboard(&dlg);
    if (!clipboard.isOpen()) {
        *failure = QStringLiteral("Could not open clipboard!");
        return nullptr;
    }
    HGLOBAL frame = GetClipboardData(CF_DIB);
    if (!frame) {
        *failure = QStringLiteral("Could not get bitmap from clipboard!");
        return nullptr;
    }
    HGLOBAL output = dlg.StampCaption(frame, CCameraApp::Now(), settings);
    if (!output)
        *failure = QStringLiteral("Could not draw text in bitmap!");
    return output;
}

int WriteAndSwap(CCameraDlg& dlg, HGLOBAL output, const QByteArray& destination, int quality)
{
    const SwapNames names = ClaimSwapNames(destination);
    FrameFileOps& ops = FrameFiles();
    const int code = ops.writeJpeg(output, names.temporary.constData(), quality);
    if (code != 0) {
        dlg.SetStatus(JpegErrorText(code));
        // A writer may leave part of a file behind.
        DeleteWithRetries(names.temporary);
        return 0;
    }
    if (!SwapIntoPlace(destination, names)) {
        dlg.SetStatus(QStringLiteral("File error: Locking problem"));
        return 0;
    }
    return 1;
}

} // namespace

int WriteClipboardFrame(CCameraDlg& dlg, const QString& destination)
{
    CCameraApp* app = AfxGetApp();
    if (!app) {
        dlg.SetStatus(QStringLiteral("Could not draw text in bitmap!"));
        return 0;
    }
    QString failure;
    HGLOBAL output = CaptionedFrame(dlg, app->m_upload, &failure);
    if (!output) {
        dlg.SetStatus(failure);
        return 0;
    }
    const QByteArray path = QFile::encodeName(destination);
    const QString bad = CheckDestination(path);
    int result = 0;
    if (!bad.isEmpty())
        dlg.SetStatus(bad);
    else
        result = WriteAndSwap(dlg, output, path, app->m_upload.m_nQuality);
    GlobalFree(output);
    return result;
}

int CCameraDlg::GrabFrame(const QString& path)
{
    if (!CapSend(m_hWndCap, WM_CAP_GRAB_FRAME_NOSTOP)) {
        SetStatus(QStringLiteral("Could not grab frame..."));
        return 0;
    }
    if (!CapSend(m_hWndCap, WM_CAP_EDIT_COPY)) {
        SetStatus(QStringLiteral("Could not copy bitmap from clipboard!"));
        return 0;
    }
    ResumeDisplay();
    return WriteClipboardFrame(*this, path);
}
