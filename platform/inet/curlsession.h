// What every connection of the layer shares, whatever it speaks: one libcurl
// easy handle kept for reuse, each call run on a worker while the GUI thread
// keeps the window painted, and a Cancel that cuts a running call at once.
#pragma once

#include "wintypes.h"

#include <atomic>
#include <curl/curl.h>
#include <mutex>
#include <set>
#include <string>
#include <utility>

class CurlSession
{
public:
    explicit CurlSession(long timeoutSeconds);
    virtual ~CurlSession();
    CurlSession(const CurlSession&) = delete;
    CurlSession& operator=(const CurlSession&) = delete;

    // Each returns 0 or the platform error code of the failure; FailureText()
    // then holds a reason of the layer's own wording, or nothing.
    virtual DWORD Login() = 0;
    virtual DWORD Put(const char* localPath, const char* remoteName, bool ascii) = 0;
    virtual DWORD Rename(const std::string& from, const std::string& to) = 0;
    virtual DWORD Delete(const std::string& name) = 0;
    const std::string& FailureText() const { return m_failureText; }
    // What the last call did that the log should tell (a remote folder made), once.
    std::string TakeNote() { return std::exchange(m_note, std::string()); }

    // The handle was closed while a call was running: that call fails at once.
    void Cancel();
    bool Busy() const { return m_busy; }

protected:
    // Flags the connection busy for one call, refusing a nested call on it.
    class BusyScope
    {
    public:
        explicit BusyScope(std::atomic<bool>& busy) : m_busy(busy), m_owned(!busy.exchange(true)) {}
        ~BusyScope()
        {
            if (m_owned)
                m_busy = false;
        }
        bool Owned() const { return m_owned; }

    private:
        std::atomic<bool>& m_busy;
        bool m_owned;
    };

    // One curl_easy_perform, with errno as it was right after it.
    CURLcode RunOnce(int* osError);
    bool Cancelled() const { return m_cancelled; }

    CURL* m_easy = nullptr;
    std::string m_failureText;
    std::string m_note;
    char m_errorText[CURL_ERROR_SIZE] = {};
    std::atomic<bool> m_busy{false};

private:
    static curl_socket_t OpenSocket(void* self, curlsocktype purpose, curl_sockaddr* address);
    static int CloseSocket(void* self, curl_socket_t socket);
    static int Progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

    std::atomic<bool> m_cancelled{false};
    std::mutex m_socketsMutex;
    std::set<curl_socket_t> m_sockets; // every socket libcurl holds open for us
};
