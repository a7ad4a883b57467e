// FTP session and transfer of the upload engine, through the bound Internet layer.
#include "Ftp.h"

#include "CUpload.h"
#include "platform/afx/log.h"
#include "platform/win/lasterror.h"
#include "res/strings.h"

#include <QFile>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

int s_nFtpSwapIndex = 0;

namespace
{

constexpr DWORD_PTR kContext = 666;
constexpr int kRenameAttempts = 5;
// A broken layer must not make us allocate without bound.
constexpr DWORD kMaxProxyInfoBytes = 65536;

bool RenameWithRetries(const CUpload::InternetTable& inet, HINTERNET session,
                       const QByteArray& from, const QByteArray& to)
{
    for (int attempt = 0; attempt < kRenameAttempts; ++attempt)
        if (inet.FtpRenameFileA(session, from.constData(), to.constData()))
            return true;
    return false;
}

// Passive mode when a proxy stands in the way of FTP: an "ftp=" entry, or one
// proxy for all protocols.
DWORD PassiveFlag(const CUpload::InternetTable& inet, HINTERNET internet)
{
    DWORD size = 4;
    inet.InternetQueryOptionA(internet, INTERNET_OPTION_PROXY, nullptr, &size);
    if (size < sizeof(INTERNET_PROXY_INFO) || size > kMaxProxyInfoBytes)
        return 0;
    std::vector<char> buffer(size);
    if (!inet.InternetQueryOptionA(internet, INTERNET_OPTION_PROXY, buffer.data(), &size))
        return 0;
    const auto* info = reinterpret_cast<const INTERNET_PROXY_INFO*>(buffer.data());
    if (!info->lpszProxy)
        return 0;
    QByteArray list(info->lpszProxy);
    return list.contains("ftp=") || !list.contains('=') ? INTERNET_FLAG_PASSIVE : 0;
}

// The layer's own wording of the last failure, for the codes it words itself.
QString FailureText(const CUpload::InternetTable& inet, DWORD code)
{
    bool worded = code == ERROR_INTERNET_INVALID_CA || (code >= 12200 && code < 12300);
    if (!worded || !inet.InternetQueryOptionA)
        return QString();
    char text[1024];
    DWORD size = sizeof text;
    if (!inet.InternetQueryOptionA(nullptr, INTERNET_OPTION_VIZO_FAILURE_TEXT, text, &size))
        return QString();
    text[sizeof text - 1] = '\0';
    return QString::fromUtf8(text);
}

// What the layer did on the way that the user should read once (a remote
// folder made); shown also in a quiet transfer.
void ShowLayerNote(CUpload& u)
{
    const DWORD code = GetLastError();
    char text[1024] = {};
    DWORD size = sizeof text;
    if (u.m_inet.InternetQueryOptionA &&
        u.m_inet.InternetQueryOptionA(nullptr, INTERNET_OPTION_VIZO_NOTE, text, &size) && text[0]) {
        text[sizeof text - 1] = '\0';
        u.ShowStatus(QString::fromUtf8(text));
    }
    SetLastError(code);
}

QString Suffixed(const QString& name, const char* format, int index)
{
    return name + QString::asprintf(format, index);
}

// Bounds the clean-up connection: SIGTERM must still end the program within a
// few seconds, even against a server that has gone silent.
constexpr auto kCleanUpLimit = std::chrono::milliseconds(3000);

// Closes a handle from another thread once the limit has passed, which cancels
// whatever call is running on it or below it.
class CloseWhenLate
{
public:
    CloseWhenLate(const CUpload::InternetTable& inet, HINTERNET handle)
        : m_watch([this, &inet, handle] {
              std::unique_lock<std::mutex> lock(m_mutex);
              if (!m_finished.wait_for(lock, kCleanUpLimit, [this] { return m_done; }))
                  inet.InternetCloseHandle(handle);
          })
    {
    }
    ~CloseWhenLate()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_finished.notify_one();
        m_watch.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_finished;
    bool m_done = false;
    std::thread m_watch; // last: it starts once the members above exist
};

// What a failed transfer may have left: the temporary, and the live file moved
// aside (empty name when it was not).
struct Leftovers {
    QByteArray temporary;
    QByteArray aside;
    QByteArray remote;
};

bool Remove(const CUpload::InternetTable& inet, HINTERNET session, const Leftovers& left)
{
    bool restored =
        left.aside.isEmpty() || RenameWithRetries(inet, session, left.aside, left.remote);
    return inet.FtpDeleteFileA(session, left.temporary.constData()) && restored;
}

// The session's own login, with its protocol, keys and transfer mode: the
// upload and the clean-up after an Abort reach the server the same way.
HINTERNET ConnectSession(CUpload& u, HINTERNET internet)
{
    const FtpTransportSettings& t = u.m_ftpTransport;
    DWORD flags = TransferModeFlag(t.nProtocol, t.nTransferMode, PassiveFlag(u.m_inet, internet));
    DWORD_PTR context = kContext;
    TransportArgument transport(t);
    if (t.nProtocol != VIZO_PROTOCOL_FTP) {
        flags |= INTERNET_FLAG_VIZO_TRANSPORT;
        context = transport.Context();
    }
    return u.m_inet.InternetConnectA(
        internet, u.m_strFtpServer.toUtf8().constData(), 0, u.m_strFtpUsername.toUtf8().constData(),
        u.m_strFtpPassword.toUtf8().constData(), INTERNET_SERVICE_FTP, flags, context);
}

// Abort closed the transfer's session; a brief, quiet connection of our own
// removes what it left. Only logged: the failure is already on the status line.
void RemoveThroughOwnConnection(CUpload& u, const Leftovers& left)
{
    const CUpload::InternetTable& inet = u.m_inet;
    HINTERNET internet =
        inet.InternetOpenA("Vizo", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!internet)
        return;
    bool removed = false;
    {
        CloseWhenLate limit(inet, internet);
        HINTERNET session = ConnectSession(u, internet);
        removed = session && Remove(inet, session, left);
    }
    // Closes the session too; fails harmlessly when the limit already did.
    inet.InternetCloseHandle(internet);
    const QString name = QString::fromUtf8(left.temporary);
    LogLine("ftp",
            removed
                ? QStringLiteral("Removed the unfinished %1 from the server").arg(name)
                : QStringLiteral("Could not remove the unfinished %1 from the server").arg(name));
}

// Uploads that failed before sending anything: no local file, a call already
// running on the session, or a session closed before the call (a series still
// sends its timing list after an Abort).
bool NothingSent(DWORD code)
{
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_INTERNET_INCORRECT_HANDLE_STATE ||
           code == ERROR_INVALID_HANDLE;
}

// A short file the layer removed itself; a server gone silent would only make
// the attempt wait as long again.
bool SessionCanTidy(DWORD code)
{
    return code != ERROR_VIZO_SHORT_TRANSFER && code != ERROR_INTERNET_TIMEOUT;
}

// Nothing of a failed transfer stays on the server.
void RemoveLeftovers(CUpload& u, HINTERNET session, const Leftovers& left)
{
    const DWORD code = GetLastError();
    if (u.m_bAbort)
        RemoveThroughOwnConnection(u, left);
    else if (SessionCanTidy(code))
        Remove(u.m_inet, session, left);
    SetLastError(code);
}

// The store replaces the picture whole by itself, and drops an upload it did
// not get whole: no temporary, no rename, nothing to tidy.
bool PutInPlace(CUpload& u, HINTERNET session, const QString& localPath, const QByteArray& remote,
                DWORD transferType)
{
    if (!u.m_bQuietTransfer)
        u.ShowStatus(
            QStringLiteral("Starting FTP transfer of %1...").arg(QString::fromUtf8(remote)));
    const bool sent = u.m_inet.FtpPutFileA(session, QFile::encodeName(localPath).constData(),
                                           remote.constData(), transferType, kContext);
    ShowLayerNote(u);
    if (!sent) {
        u.ReportFailure(QStringLiteral("FTP transfer failed"));
        return false;
    }
    if (!u.m_bQuietTransfer)
        u.ShowStatus(QStringLiteral("FTP transfer completed."));
    return true;
}

} // namespace

HINTERNET CUpload::OpenInternet()
{
    HINTERNET internet =
        m_inet.InternetOpenA("Vizo", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!internet)
        ReportFailure(QStringLiteral("Internet connect failed"));
    return internet;
}

void CUpload::CloseInternet(HINTERNET internet)
{
    if (internet)
        m_inet.InternetCloseHandle(internet);
}

HINTERNET CUpload::OpenFtpSession(HINTERNET internet)
{
    ShowStatus(
        QStringLiteral("Opening FTP session to %1...").arg(ServerForDisplay(m_strFtpServer)));
    const QString problem = TransportProblem(m_ftpTransport);
    if (!problem.isEmpty()) {
        ShowStatus(QStringLiteral("FTP session failed (%1)").arg(problem));
        s_bCloseMessages = false;
        return nullptr;
    }
    HINTERNET session = ConnectSession(*this, internet);
    if (!session) {
        ReportFailure(QStringLiteral("FTP session failed"));
        return nullptr;
    }
    ShowStatus(QStringLiteral("FTP session to %1 opened.").arg(ServerForDisplay(m_strFtpServer)));
    return session;
}

void CUpload::CloseFtpSession(HINTERNET session)
{
    if (!session)
        return;
    if (s_bCloseMessages)
        ShowStatus(QStringLiteral("Closing FTP session..."));
    m_inet.InternetCloseHandle(session);
    if (s_bCloseMessages)
        ShowStatus(QStringLiteral("FTP session closed."));
}

bool CUpload::PutFile(HINTERNET session, const QString& localPath, const QString& remoteName,
                      DWORD transferType)
{
    if (!remoteName.contains(QLatin1Char('.'))) {
        ShowStatus(QStringLiteral("Invalid remote filename '%1' (must have file extension)")
                       .arg(remoteName));
        s_bCloseMessages = false;
        return false;
    }
    if (remoteName.toUtf8().size() > kMaxRemoteNameBytes) {
        ShowStatus(QStringLiteral("Invalid remote filename (longer than %1 bytes)")
                       .arg(kMaxRemoteNameBytes));
        s_bCloseMessages = false;
        return false;
    }
    const QByteArray remote = remoteName.toUtf8();
    if (PublishesInPlace(m_ftpTransport.nProtocol))
        return PutInPlace(*this, session, localPath, remote, transferType);
    const QByteArray temporary = Suffixed(remoteName, ".t%02d", s_nFtpSwapIndex).toUtf8();
    const QByteArray aside = Suffixed(remoteName, ".d%02d", s_nFtpSwapIndex).toUtf8();
    s_nFtpSwapIndex = s_nFtpSwapIndex >= 99 ? 0 : s_nFtpSwapIndex + 1;

    if (!m_bQuietTransfer)
        ShowStatus(
            QStringLiteral("Starting FTP transfer of %1...").arg(QString::fromUtf8(temporary)));
    const bool sent = m_inet.FtpPutFileA(session, QFile::encodeName(localPath).constData(),
                                         temporary.constData(), transferType, kContext);
    ShowLayerNote(*this);
    if (!sent) {
        ReportFailure(QStringLiteral("FTP transfer failed"));
        if (!NothingSent(GetLastError()))
            RemoveLeftovers(*this, session, {temporary, QByteArray(), remote});
        return false;
    }
    bool movedAside = m_bSafeFtp && RenameWithRetries(m_inet, session, remote, aside);
    if (!m_bQuietTransfer)
        ShowStatus(QStringLiteral("Renaming file to %1...").arg(remoteName));
    if (RenameWithRetries(m_inet, session, temporary, remote)) {
        if (movedAside)
            m_inet.FtpDeleteFileA(session, aside.constData());
        if (!m_bQuietTransfer)
            ShowStatus(QStringLiteral("FTP transfer completed."));
        return true;
    }
    ReportFailure(QStringLiteral("FTP rename failed"));
    if (m_bAbort)
        RemoveLeftovers(*this, session, {temporary, movedAside ? aside : QByteArray(), remote});
    else
        Remove(m_inet, session, {temporary, movedAside ? aside : QByteArray(), remote});
    return false;
}

bool CUpload::Transfer(const QString& localPath, const QString& remoteName, DWORD transferType)
{
    return PutFile(m_hFtpSession, localPath, remoteName, transferType);
}

void CUpload::ReportFailure(const QString& description)
{
    // Taken first: anything that runs next may overwrite it.
    const int code = int(GetLastError());
    QString reason = FailureText(m_inet, DWORD(code));
    if (reason.isEmpty() && !LookupMessageString(code, &reason))
        reason = QStringLiteral("error code %1").arg(code);
    ShowStatus(description + QStringLiteral(" (") + reason + QLatin1Char(')'));
    s_bCloseMessages = false;
}

bool CUpload::UploadFile()
{
    m_hRasConn = nullptr;
    m_hInternet = nullptr;
    m_hFtpSession = nullptr;
    m_hRasConn = Dial();
    if (!m_hRasConn || HangUpIfAborted())
        return false;
    bool result = false;
    m_hInternet = OpenInternet();
    if (m_hInternet) {
        m_hFtpSession = OpenFtpSession(m_hInternet);
        if (m_hFtpSession) {
            result =
                PutFile(m_hFtpSession, m_strLocalPath, m_strRemotePath, FTP_TRANSFER_TYPE_BINARY);
            CloseFtpSession(m_hFtpSession);
            m_hFtpSession = nullptr;
        }
        CloseInternet(m_hInternet);
        m_hInternet = nullptr;
    }
    HangUp(m_hRasConn);
    m_hRasConn = nullptr;
    return result;
}

bool CUpload::Connect()
{
    m_hRasConn = nullptr;
    m_hInternet = nullptr;
    m_hFtpSession = nullptr;
    m_hRasConn = Dial();
    if (m_hRasConn && !HangUpIfAborted()) {
        m_hInternet = OpenInternet();
        if (m_hInternet)
            m_hFtpSession = OpenFtpSession(m_hInternet);
    }
    return m_hFtpSession != nullptr;
}

// A dial cannot be cut short, so an Abort pressed meanwhile is only seen once
// it has connected: the session must then send nothing.
bool CUpload::HangUpIfAborted()
{
    if (!m_bAbort)
        return false;
    HangUp(m_hRasConn);
    m_hRasConn = nullptr;
    return true;
}

void CUpload::Disconnect()
{
    if (m_hFtpSession)
        CloseFtpSession(m_hFtpSession);
    if (m_hInternet)
        CloseInternet(m_hInternet);
    if (m_hRasConn)
        HangUp(m_hRasConn);
    m_hRasConn = nullptr;
    m_hInternet = nullptr;
    m_hFtpSession = nullptr;
}

void CUpload::Abort()
{
    m_bAbort = 1;
    // Only the innermost handle: the call blocked on it fails, the rest are
    // closed by whoever opened them.
    if (m_hFtpSession) {
        m_inet.InternetCloseHandle(m_hFtpSession);
    } else if (m_hInternet) {
        m_inet.InternetCloseHandle(m_hInternet);
    } else if (m_hRasConn && m_hRasConn != AllBitsSetConnection() && m_hRasApi &&
               m_ras.RasHangUpA) {
        m_ras.RasHangUpA(m_hRasConn);
    }
}
