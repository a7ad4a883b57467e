// The series and continuous-stream modes of an upload session.
#include "Schedule.h"
#include "SeriesNames.h"
#include "StreamLog.h"
#include "UploadSession.h"
#include "app/CCameraApp.h"
#include "platform/afx/log.h"
#include "platform/win/ownfile.h"
#include "session/CCameraDlg.h"

#include <QFile>
#include <unistd.h>

namespace
{
QString NowText()
{
    return FormatTimeOfDay(CCameraApp::Now());
}

// Always a new file: a link planted at the list's name is never written through.
bool OpenListFile(const QString& name, QFile* list)
{
    const int fd = CreateOwnFile(QFile::encodeName(name).constData());
    if (fd < 0)
        return false;
    if (list->open(fd, QIODevice::WriteOnly | QIODevice::Text, QFileDevice::AutoCloseHandle))
        return true;
    ::close(fd);
    return false;
}
} // namespace

bool UploadSession::SeriesNames(SplitName* local, SplitName* remote)
{
    static const char* const kNoDot[] = {
        "Invalid local pathname '%1' (does not contain file extension)",
        "Invalid remote pathname '%1' (does not contain file extension)"};
    static const char* const kTooLong[] = {
        "Invalid local pathname '%1' (name or extension too long for a series)",
        "Invalid remote pathname '%1' (name or extension too long for a series)"};
    const QString* paths[] = {&m_u.m_strLocalPath, &m_u.m_strRemotePath};
    SplitName* names[] = {local, remote};
    for (int i = 0; i < 2; ++i) {
        if (!SplitAtLastDot(*paths[i], names[i])) {
            SetStatus(QString::fromLatin1(kNoDot[i]).arg(*paths[i]));
            return false;
        }
        if (!FitsSeriesBuffers(*names[i])) {
            SetStatus(QString::fromLatin1(kTooLong[i]).arg(*paths[i]));
            return false;
        }
    }
    return true;
}

void UploadSession::Series()
{
    // A negative count can only come from a hand-edited store: no frames.
    const unsigned n = m_u.m_nNumSeries > 0 ? unsigned(m_u.m_nNumSeries) : 0u;
    const int width = SeriesIndexWidth(n);
    SplitName local, remote;
    if (!SeriesNames(&local, &remote))
        return;
    QFile list;
    const bool listOpen = OpenListFile(SeriesListName(local), &list);

    qint64 start = MillisecondClock(), prev = start, now = start;
    bool ok = true;
    for (unsigned k = 0; k < n && !m_u.m_bAbort;) {
        const qint64 t = MillisecondClock();
        ok = m_wnd && m_wnd->GrabFrame(SeriesFrameName(local, width, k));
        if (!ok)
            break;
        m_app.m_archive.Keep(SeriesFrameName(local, width, k), CCameraApp::Now(), true);
        if (listOpen) {
            list.write(TimingListLine(t - start, width, k));
            list.flush();
        }
        FrameRateWait(start, prev, now);
        ++k;
        const double rate = k * 1000.0 / double(qMax<qint64>(now - start, 1)) + 0.005;
        SetStatus(QString::asprintf("Capturing frames %u/%u... (%.2f fps)", k, n, rate));
    }
    if (listOpen)
        list.close();
    ClearPause();
    if (m_u.m_bUseFtp && !m_u.m_bAbort)
        ok = SendSeries(local, remote, n, width, listOpen, ok);
    m_app.ScheduleNextUpload();
    const QString started = FormatTimeOfDay(m_app.m_timeLastStart);
    if (!ok)
        SetStatus(QStringLiteral("Failed series at ") + NowText());
    else if (m_u.m_bAbort)
        SetStatus(QStringLiteral("Aborted series at ") + started);
    else
        SetStatus(QStringLiteral("Uploaded series at ") + started);
}

// Sends the frames over one connection, then the timing list even after an
// abort or a failed frame. Returns the result of the last frame transfer.
bool UploadSession::SendSeries(const SplitName& local, const SplitName& remote, unsigned n,
                               int width, bool listOpen, bool ok)
{
    m_u.m_bQuietTransfer = 1;
    m_u.Connect();
    for (unsigned j = 0; j < n && !m_u.m_bAbort;) {
        SetStatus(QString::asprintf("Sending frame %u/%u...", j + 1, n));
        ok = m_u.Transfer(SeriesFrameName(local, width, j), SeriesFrameName(remote, width, j),
                          FTP_TRANSFER_TYPE_BINARY);
        if (!ok) {
            SetStatus(QStringLiteral("FTP session failed"));
            break;
        }
        ++j;
        PumpMessages();
    }
    if (listOpen) {
        SetStatus(QStringLiteral("Sending timing list file..."));
        m_u.Transfer(SeriesListName(local), SeriesListName(remote), FTP_TRANSFER_TYPE_ASCII);
    }
    m_u.Disconnect();
    return ok;
}

void UploadSession::Stream()
{
    if (m_u.m_bUseFtp && !m_u.Connect()) {
        m_u.Disconnect();
        return;
    }
    unsigned count = 0;
    qint64 start = MillisecondClock(), prev = start, now = start;
    bool ok = true;
    StreamLogRule streamLog;
    m_u.m_bQuietTransfer = 1;
    while (!m_u.m_bAbort && m_app.IsWithinUploadPeriod()) {
        ok = m_wnd && m_wnd->GrabFrame(m_u.m_strLocalPath);
        if (!ok)
            break;
        if (m_u.m_bUseFtp) {
            ok = m_u.Transfer(m_u.m_strLocalPath, m_u.m_strRemotePath, FTP_TRANSFER_TYPE_BINARY);
            if (!ok) {
                SetStatus(QStringLiteral("FTP session failed"));
                break;
            }
        }
        ++count;
        m_app.m_archive.Keep(m_u.m_strLocalPath, CCameraApp::Now(), true);
        FrameRateWait(start, prev, now);
        const double rate = count * 1000.0 / double(qMax<qint64>(now - start, 1));
        const QString line = QString::asprintf("Succesful upload at %s (%.2f fps)",
                                               NowText().toLatin1().constData(), rate);
        const StreamLogRule::Frame logged = streamLog.Published(now);
        if (logged.logLine || !m_wnd)
            SetStatus(line);
        else
            m_wnd->ShowStatusUnlogged(line);
        if (!logged.summary.isEmpty())
            LogStatus(logged.summary);
    }
    if (m_u.m_bUseFtp)
        m_u.Disconnect();
    ClearPause();
    m_app.ScheduleNextUpload();
    if (ok)
        SetStatus(QStringLiteral("Uploaded stream at ") + FormatTimeOfDay(m_app.m_timeLastStart));
    else
        SetStatus(QStringLiteral("Continuous stream interrupted at ") + NowText());
}
