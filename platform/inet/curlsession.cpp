#include "curlsession.h"

#include "pump.h"

#include <cerrno>
#include <condition_variable>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace
{

// Short enough that painting never waits visibly.
constexpr int kPumpMs = 20;

// libcurl waits for the server's final reply to an upload inside one call.
// Whatever still sits unsent in the socket then drains inside that wait, so
// keep it small; data already on its way is not limited.
constexpr int kUnsentBytes = 128 * 1024;

int LimitUnsentData(void*, curl_socket_t socket, curlsocktype)
{
    int bytes = kUnsentBytes;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &bytes, sizeof bytes);
    return CURL_SOCKOPT_OK;
}

} // namespace

CurlSession::CurlSession(long timeout)
{
    m_easy = curl_easy_init();
    if (!m_easy)
        return;
    curl_easy_setopt(m_easy, CURLOPT_ERRORBUFFER, m_errorText);
    curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_easy, CURLOPT_SOCKOPTFUNCTION, &LimitUnsentData);
    curl_easy_setopt(m_easy, CURLOPT_OPENSOCKETFUNCTION, &CurlSession::OpenSocket);
    curl_easy_setopt(m_easy, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_CLOSESOCKETFUNCTION, &CurlSession::CloseSocket);
    curl_easy_setopt(m_easy, CURLOPT_CLOSESOCKETDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(m_easy, CURLOPT_XFERINFOFUNCTION, &CurlSession::Progress);
    curl_easy_setopt(m_easy, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT, timeout);
    curl_easy_setopt(m_easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, timeout);
    curl_easy_setopt(m_easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(m_easy, CURLOPT_LOW_SPEED_TIME, timeout);
    // Every request of one upload must name the same file: libcurl would
    // resolve "a/../x" in one path but not in another.
    curl_easy_setopt(m_easy, CURLOPT_PATH_AS_IS, 1L);
}

CurlSession::~CurlSession()
{
    // libcurl says goodbye on the way out and waits for the answer without
    // returning to us, up to the whole reply time-out on a silent server. With
    // our reading side shut it still says it but gives up the wait at once.
    {
        std::lock_guard<std::mutex> lock(m_socketsMutex);
        for (curl_socket_t socket : m_sockets)
            ::shutdown(socket, SHUT_RD);
    }
    if (m_easy)
        curl_easy_cleanup(m_easy);
}

void CurlSession::Cancel()
{
    m_cancelled = true;
    if (!m_busy)
        return; // idle: the goodbye on the way out still gets through
    // Wakes libcurl from any wait on the server, also where it checks no flag.
    std::lock_guard<std::mutex> lock(m_socketsMutex);
    for (curl_socket_t socket : m_sockets)
        ::shutdown(socket, SHUT_RDWR);
}

curl_socket_t CurlSession::OpenSocket(void* self, curlsocktype, curl_sockaddr* address)
{
    auto* session = static_cast<CurlSession*>(self);
    if (session->m_cancelled)
        return CURL_SOCKET_BAD;
    curl_socket_t socket =
        ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (socket != CURL_SOCKET_BAD) {
        std::lock_guard<std::mutex> lock(session->m_socketsMutex);
        session->m_sockets.insert(socket);
    }
    return socket;
}

int CurlSession::CloseSocket(void* self, curl_socket_t socket)
{
    auto* session = static_cast<CurlSession*>(self);
    {
        std::lock_guard<std::mutex> lock(session->m_socketsMutex);
        session->m_sockets.erase(socket);
    }
    return ::close(socket);
}

int CurlSession::Progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<CurlSession*>(self)->m_cancelled ? 1 : 0;
}

// libcurl runs on a worker thread while this thread keeps the window painted:
// parts of its work (the wait for an upload's final reply, the goodbye) block
// inside it without a call back to us.
CURLcode CurlSession::RunOnce(int* osError)
{
    if (m_cancelled)
        return CURLE_ABORTED_BY_CALLBACK;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    CURLcode result = CURLE_FAILED_INIT;
    int error = 0;
    std::thread worker([&] {
        CURLcode r = curl_easy_perform(m_easy);
        int e = errno;
        std::lock_guard<std::mutex> lock(mutex);
        result = r;
        error = e;
        done = true;
        finished.notify_one();
    });
    std::unique_lock<std::mutex> lock(mutex);
    while (!done) {
        finished.wait_for(lock, std::chrono::milliseconds(kPumpMs));
        if (done)
            break;
        lock.unlock();
        PumpWhileBlocked();
        lock.lock();
    }
    lock.unlock();
    worker.join();
    *osError = error;
    return result;
}
