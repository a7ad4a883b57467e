// Dial-up connection: dialling the configured phone-book entry with retries,
// and hanging up what was dialled here.
#include "CUpload.h"

#include "app/CCameraApp.h"
#include "platform/afx/afx.h"
#include "platform/afx/log.h"
#include "platform/afx/pump.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstring>

RASDIALPARAMSA s_DialParams;

// How long HangUp waits for the line to drop; a service that never reports
// it must not hold the program for ever.
int g_nHangUpLimitMs = 60000;

namespace
{

constexpr int kReasonChars = 150;
constexpr int kConnections = 10;
// The attempt number was a 16-bit counter; counts above it are limited.
constexpr unsigned kMaxAttempts = 65535;

bool ConnectionCarriesIp(const CUpload::DialupTable& ras)
{
    RASCONNA conns[kConnections] = {};
    conns[0].dwSize = sizeof(RASCONNA);
    DWORD bytes = sizeof conns;
    DWORD count = 0;
    if (ras.RasEnumConnectionsA(conns, &bytes, &count) != 0)
        return false;
    for (DWORD i = 0; i < std::min<DWORD>(count, kConnections); ++i) {
        RASPPPIPA ip = {};
        ip.dwSize = sizeof ip;
        DWORD ipBytes = sizeof ip;
        if (ras.RasGetProjectionInfoA(conns[i].hrasconn, RASP_PppIp, &ip, &ipBytes) == 0 &&
            ip.dwError == 0)
            return true;
    }
    return false;
}

QString ErrorText(const CUpload::DialupTable& ras, DWORD code)
{
    char text[kReasonChars] = {};
    if (ras.RasGetErrorStringA(code, text, sizeof text) != 0)
        return QStringLiteral("error %1").arg(code);
    text[sizeof text - 1] = '\0';
    return QString::fromUtf8(text);
}

// Sleeps in the event loop with user input left queued, so the window stays
// painted while the service takes the line down.
void SleepPainted(int ms)
{
    PumpWhileBlocked();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    if (loop.exec(QEventLoop::ExcludeUserInputEvents) == -1) // a quit is pending
        QThread::msleep(ms);
}

// Polls until the handle is invalid, i.e. the connection no longer exists.
bool WaitUntilGone(const CUpload::DialupTable& ras, HRASCONN connection)
{
    QDeadlineTimer deadline(g_nHangUpLimitMs);
    for (;;) {
        RASCONNSTATUSA status = {};
        status.dwSize = sizeof status;
        if (ras.RasGetConnectStatusA(connection, &status) == ERROR_INVALID_HANDLE)
            return true;
        if (deadline.hasExpired())
            return false;
        SleepPainted(int(std::min<qint64>(100, deadline.remainingTime() + 1)));
    }
}

// The pause before a further attempt: until the whole-second clock has moved
// on by 4 (3 to 4 s), handling every event so that Abort can run.
void PauseBetweenAttempts(const int& abort)
{
    using namespace std::chrono;
    const auto now = system_clock::now().time_since_epoch();
    const auto toGo = seconds(duration_cast<seconds>(now).count() + 4) - now;
    QDeadlineTimer deadline(duration_cast<milliseconds>(toGo).count());
    while (!abort && !deadline.hasExpired()) {
        QEventLoop loop;
        QTimer::singleShot(int(std::min<qint64>(50, deadline.remainingTime() + 1)), &loop,
                           &QEventLoop::quit);
        // A quit request ends the outer loop once dialling is over; it does
        // not end the dialling.
        if (loop.exec() == -1) {
            PumpMessages();
            QThread::msleep(20);
        }
    }
}

} // namespace

HRASCONN CUpload::Dial()
{
    s_bCloseMessages = true;
    if (!m_bUseDialup)
        return AllBitsSetConnection();
    if (ConnectionCarriesIp(m_ras))
        return AllBitsSetConnection();

    // The name must fit the record whole: a cut name could dial another entry.
    const QByteArray entry = m_strDialupConnection.toUtf8();
    if (entry.size() > RAS_MaxEntryName || entry.contains('\0')) {
        ShowStatus(QStringLiteral("Invalid dial-up connection: the name is longer than %1 bytes.")
                       .arg(RAS_MaxEntryName));
        return nullptr;
    }
    std::memset(&s_DialParams, 0, sizeof s_DialParams);
    s_DialParams.dwSize = sizeof s_DialParams;
    std::memcpy(s_DialParams.szEntryName, entry.constData(), std::size_t(entry.size()));
    BOOL passwordSaved = FALSE;
    const QString quoted = QLatin1Char('"') + m_strDialupConnection + QLatin1Char('"');
    if (m_ras.RasGetEntryDialParamsA(nullptr, &s_DialParams, &passwordSaved) != 0) {
        AfxMessageBox(QStringLiteral("Dial-up connection ") + quoted +
                      QStringLiteral(" does not exist."));
        ShowStatus(QStringLiteral("Invalid dial-up connection."));
        return nullptr;
    }
    if (!s_DialParams.szUserName[0] || !s_DialParams.szPassword[0]) {
        AfxMessageBox(QStringLiteral("Dial-up connection ") + quoted +
                      QStringLiteral(" has no valid\nusername/password combination."));
        ShowStatus(QStringLiteral("Invalid dial-up connection."));
        return nullptr;
    }

    const unsigned attempts = std::min(m_nDialupRetries, kMaxAttempts);
    const QString total = QString::number(attempts);
    unsigned attempt = 0;
    HRASCONN connection = nullptr;
    QString reason;
    for (;;) {
        ++attempt;
        if (attempt > attempts || m_bAbort)
            break;
        if (attempt > 1) {
            PauseBetweenAttempts(m_bAbort);
            if (m_bAbort) {
                reason = QStringLiteral("user abort");
                break;
            }
        }
        const QString number = QString::number(attempt);
        // One arg() call for all: a '%' in the name must not take a number.
        ShowStatus(attempt == 1
                       ? QStringLiteral("Establishing dialup connection '%1'...")
                             .arg(m_strDialupConnection)
                       : QStringLiteral("Establishing dialup connection '%1' (attempt #%2/%3)...")
                             .arg(m_strDialupConnection, number, total));
        connection = nullptr;
        const DWORD rc = m_ras.RasDialA(nullptr, nullptr, &s_DialParams, 0, nullptr, &connection);
        if (rc == 0)
            break;
        reason = ErrorText(m_ras, rc);
        ShowStatus(QStringLiteral("Attempt #%1/%2 failed (%3)").arg(number, total, reason));
        if (connection) {
            m_ras.RasHangUpA(connection);
            WaitUntilGone(m_ras, connection);
            connection = nullptr;
        }
    }
    if (connection)
        ShowStatus(QStringLiteral("Connected."));
    else
        ShowStatus(QStringLiteral("Last connect failed (%1)").arg(reason));
    return connection;
}

void CUpload::HangUp(HRASCONN connection)
{
    if (!connection || connection == AllBitsSetConnection())
        return;
    if (s_bCloseMessages)
        ShowStatus(QStringLiteral("Disconnecting..."));
    m_ras.RasHangUpA(connection);
    if (WaitUntilGone(m_ras, connection))
        return;
    const QString late =
        QStringLiteral("The dial-up connection did not report hanging up within %1 s.")
            .arg(g_nHangUpLimitMs / 1000);
    // With closing lines suppressed the screen holds a failure reason to keep.
    if (s_bCloseMessages)
        ShowStatus(late);
    else
        LogStatus(late);
}
