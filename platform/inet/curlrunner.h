// One libcurl easy handle, run on a worker thread while the calling thread
// keeps the window painted; Cancel cuts a running call at once, also where
// libcurl waits on the server without calling back.
#pragma once

#include <atomic>
#include <curl/curl.h>
#include <mutex>
#include <set>

class CurlRunner
{
public:
    CurlRunner();
    ~CurlRunner();
    CurlRunner(const CurlRunner&) = delete;
    CurlRunner& operator=(const CurlRunner&) = delete;

    CURL* Easy() const { return m_easy; } // null when libcurl had no memory
    // libcurl's wording of the last failure; read only after one.
    const char* ErrorText() const { return m_errorText; }
    void ClearErrorText() { m_errorText[0] = '\0'; }

    // The prepared request; *osError is errno right after it.
    CURLcode Run(int* osError);

    void Cancel();
    bool Cancelled() const { return m_cancelled; }
    // Set while a call runs on the connection: a nested call is refused.
    std::atomic<bool>& BusyFlag() { return m_busy; }

private:
    static curl_socket_t OpenSocket(void* self, curlsocktype purpose, curl_sockaddr* address);
    static int CloseSocket(void* self, curl_socket_t socket);
    static int Progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

    CURL* m_easy = nullptr;
    char m_errorText[CURL_ERROR_SIZE] = {};
    std::atomic<bool> m_busy{false};
    std::atomic<bool> m_cancelled{false};
    std::mutex m_socketsMutex;
    std::set<curl_socket_t> m_sockets; // every socket libcurl holds open for us
};
