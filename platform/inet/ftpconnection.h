// One logged-in FTP connection over libcurl. Every call waits without blocking
// the GUI thread's painting, and fails within the time-out on a silent server.
#pragma once

#include "inetrules.h"
#include "wintypes.h"

#include <atomic>
#include <curl/curl.h>
#include <functional>
#include <set>
#include <string>
#include <vector>

class FtpConnection
{
public:
    FtpConnection(const ServerAddress& server, const char* user, const char* password, bool passive,
                  long timeoutSeconds);
    ~FtpConnection();
    FtpConnection(const FtpConnection&) = delete;
    FtpConnection& operator=(const FtpConnection&) = delete;

    // Each returns 0 or the platform error code of the failure.
    DWORD Login();
    DWORD Put(const char* localPath, const char* remoteName, bool ascii);
    DWORD Commands(const std::vector<std::string>& commands);

    // The handle was closed while a call was running: that call fails at once.
    void Cancel() { m_cancelled = true; }
    bool Busy() const { return m_busy; }

private:
    static curl_socket_t OpenSocket(void* self, curlsocktype purpose, curl_sockaddr* address);
    static int CloseSocket(void* self, curl_socket_t socket);
    DWORD Perform(bool retryOnDrop, const std::function<void()>& prepare);
    CURLcode RunOnce(int* osError);
    void ResetRequest();

    CURL* m_easy = nullptr;
    CURLM* m_multi = nullptr;
    std::string m_base;
    char m_errorText[CURL_ERROR_SIZE] = {};
    std::atomic<bool> m_busy{false};
    std::atomic<bool> m_cancelled{false};
    std::set<curl_socket_t> m_sockets; // every socket libcurl holds open for us
};
