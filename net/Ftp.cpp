// FTP session and transfer of the upload engine, through the bound Internet layer.
#include "Ftp.h"

#include "CUpload.h"
#include "FtpCleanup.h"
#include "platform/afx/log.h"
#include "platform/win/lasterror.h"
#include "res/strings.h"

#include <QFile>
#include <vector>

int s_nFtpSwapIndex = 0;

using namespace ftpcleanup;

namespace
{

constexpr int kRenameAttempts = 5;
// A broken layer must not make us allocate without bound.
constexpr DWORD kMaxProxyInfoBytes = 65536;

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

QString Suffixed(const QString& name, const char* format, int index)
{
    return name + QString::asprintf(format, index);
}

} // namespace

QString FailureReason(const CUpload::InternetTable& inet, DWORD code)
{
    // The layer words its own codes; the rest come from the system's table.
    bool worded = code == ERROR_INTERNET_INVALID_CA || (code >= 12200 && code < 12300);
    if (worded && inet.InternetQueryOptionA) {
        char text[1024];
        DWORD size = sizeof text;
        if (inet.InternetQueryOptionA(nullptr, INTERNET_OPTION_VIZO_FAILURE_TEXT, text, &size)) {
            text[sizeof text - 1] = '\0';
            return QString::fromUtf8(text);
        }
    }
    QString reason;
    if (!LookupMessageString(int(code), &reason))
        reason = QStringLiteral("error code %1").arg(code);
    return reason;
}

QString LayerNote(const CUpload::InternetTable& inet)
{
    const DWORD code = GetLastError();
    char text[1024] = {};
    DWORD size = sizeof text;
    QString note;
    if (inet.InternetQueryOptionA &&
        inet.InternetQueryOptionA(nullptr, INTERNET_OPTION_VIZO_NOTE, text, &size)) {
        text[sizeof text - 1] = '\0';
        note = QString::fromUtf8(text);
    }
    SetLastError(code);
    return note;
}

namespace
{
// Shown also in a quiet transfer.
void ShowLayerNote(CUpload& u)
{
    const QString note = LayerNote(u.m_inet);
    if (!note.isEmpty())
        u.ShowStatus(note);
}
} // namespace

bool ftpcleanup::RenameWithRetries(const CUpload::InternetTable& inet, HINTERNET session,
                                   const QByteArray& from, const QByteArray& to)
{
    for (int attempt = 0; attempt < kRenameAttempts; ++attempt)
        if (inet.FtpRenameFileA(session, from.constData(), to.constData()))
            return true;
    return false;
}

HINTERNET ConnectDestination(const CUpload::InternetTable& inet, HINTERNET internet,
                             const FtpDestination& d, DWORD_PTR context)
{
    const FtpTransportSettings& t = d.transport;
    DWORD flags = TransferModeFlag(t.nProtocol, t.nTransferMode, PassiveFlag(inet, internet));
    TransportArgument transport(t);
    if (t.nProtocol != VIZO_PROTOCOL_FTP) {
        flags |= INTERNET_FLAG_VIZO_TRANSPORT;
        context = transport.Context();
    }
    return inet.InternetConnectA(
        internet, d.strServer.toUtf8().constData(), 0, d.strUsername.toUtf8().constData(),
        d.strPassword.toUtf8().constData(), INTERNET_SERVICE_FTP, flags, context);
}

// The session's own login: the upload and the clean-up after an Abort reach
// the server the same way.
HINTERNET ftpcleanup::ConnectSession(CUpload& u, HINTERNET internet)
{
    return ConnectDestination(u.m_inet, internet, u.ActiveDestination(), kContext);
}

FtpDestination CUpload::FirstDestination() const
{
    FtpDestination d;
    d.strServer = m_strFtpServer;
    d.strUsername = m_strFtpUsername;
    d.strPassword = m_strFtpPassword;
    d.strRemotePath = m_strRemotePath;
    d.bSafeFtp = m_bSafeFtp;
    d.transport = m_ftpTransport;
    d.bUse = m_bUseFtp;
    return d;
}

FtpDestination CUpload::ActiveDestination() const
{
    return m_pPublishing ? *m_pPublishing : FirstDestination();
}

namespace
{
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
    const FtpDestination d = ActiveDestination();
    const QString server = ServerForDisplay(d.strServer);
    ShowStatus(QStringLiteral("Opening FTP session to %1...").arg(server));
    const QString problem = TransportProblem(d.transport);
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
    ShowStatus(QStringLiteral("FTP session to %1 opened.").arg(server));
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
    const FtpDestination d = ActiveDestination();
    if (PublishesInPlace(d.transport.nProtocol))
        return PutInPlace(*this, session, localPath, remote, transferType);
    const QByteArray temporary = Suffixed(remoteName, ".t%02d", s_nFtpSwapIndex).toUtf8();
    const QByteArray aside = Suffixed(remoteName, ".d%02d", s_nFtpSwapIndex).toUtf8();
    s_nFtpSwapIndex = s_nFtpSwapIndex >= 99 ? 0 : s_nFtpSwapIndex + 1;
    ForgetUnfinished(*this, temporary);

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
    if (!m_bQuietTransfer)
        ShowStatus(QStringLiteral("Renaming file to %1...").arg(remoteName));
    // Back to back: between them the final name is missing.
    bool movedAside = d.bSafeFtp && RenameWithRetries(m_inet, session, remote, aside);
    if (RenameWithRetries(m_inet, session, temporary, remote)) {
        if (movedAside)
            m_inet.FtpDeleteFileA(session, aside.constData());
        RemoveUnfinished(*this, session, remote);
        if (!m_bQuietTransfer)
            ShowStatus(QStringLiteral("FTP transfer completed."));
        return true;
    }
    ReportFailure(QStringLiteral("FTP rename failed"));
    if (m_bAbort)
        RemoveLeftovers(*this, session, {temporary, movedAside ? aside : QByteArray(), remote});
    else
        Remove(*this, session, {temporary, movedAside ? aside : QByteArray(), remote});
    return false;
}

bool CUpload::Transfer(const QString& localPath, const QString& remoteName, DWORD transferType)
{
    return PutFile(m_hFtpSession, localPath, remoteName, transferType);
}

void CUpload::ReportFailure(const QString& description)
{
    // Taken first: anything that runs next may overwrite it.
    const QString reason = FailureReason(m_inet, GetLastError());
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
