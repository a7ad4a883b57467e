#include "FtpCleanup.h"

#include "Unfinished.h"
#include "platform/afx/log.h"
#include "platform/win/lasterror.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace ftpcleanup
{
namespace
{

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

} // namespace

// Where uploads go: temporaries are only ever removed where they were left.
static QString Destination(const CUpload& u)
{
    const FtpDestination d = u.ActiveDestination();
    return QString::number(d.transport.nProtocol) + QLatin1Char(' ') + d.strUsername +
           QLatin1Char('@') + d.strServer;
}

// A temporary the server refused to delete is not there (or not ours to
// remove); any other failure means the server could not be asked.
static bool CouldNotAsk(DWORD code)
{
    return code != ERROR_INTERNET_EXTENDED_ERROR;
}

bool Remove(CUpload& u, HINTERNET session, const Leftovers& left)
{
    const CUpload::InternetTable& inet = u.m_inet;
    bool restored =
        left.aside.isEmpty() || RenameWithRetries(inet, session, left.aside, left.remote);
    bool removed = inet.FtpDeleteFileA(session, left.temporary.constData());
    if (!removed && CouldNotAsk(GetLastError()))
        Unfinished().Remember(Destination(u), left.remote, left.temporary);
    return removed && restored;
}

// What earlier failures left of this name and could not remove then. Quiet:
// the upload has succeeded whatever happens here.
void RemoveUnfinished(CUpload& u, HINTERNET session, const QByteArray& remote)
{
    const QString destination = Destination(u);
    for (const QByteArray& temporary : Unfinished().Take(destination, remote)) {
        if (u.m_inet.FtpDeleteFileA(session, temporary.constData()))
            LogLine("ftp", QStringLiteral("Removed %1, left on the server by an earlier failure")
                               .arg(QString::fromUtf8(temporary)));
        else if (CouldNotAsk(GetLastError()))
            Unfinished().Remember(destination, remote, temporary);
    }
}

// Abort closed the transfer's session; a brief, quiet connection of our own
// removes what it left. Only logged: the failure is already on the status line.
static void RemoveThroughOwnConnection(CUpload& u, const Leftovers& left)
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
        removed = session && Remove(u, session, left);
        if (!session)
            Unfinished().Remember(Destination(u), left.remote, left.temporary);
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
static bool SessionCanTidy(DWORD code)
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
        Remove(u, session, left);
    else if (code == ERROR_INTERNET_TIMEOUT)
        Unfinished().Remember(Destination(u), left.remote, left.temporary);
    SetLastError(code);
}

void ForgetUnfinished(const CUpload& u, const QByteArray& temporary)
{
    Unfinished().Forget(Destination(u), temporary);
}

} // namespace ftpcleanup
