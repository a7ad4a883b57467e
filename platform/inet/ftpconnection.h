// One logged-in connection over libcurl (FTP, FTP over TLS or SFTP). Every
// call keeps the GUI thread's window painted and fails within the time-out on
// a silent server; Cancel cuts a running call at once.
#pragma once

#include "curlrunner.h"
#include "dialect.h"
#include "inetrules.h"
#include "transport.h"
#include "wintypes.h"

#include <curl/curl.h>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

struct ConnectionOptions {
    ServerAddress server;
    std::string user;
    std::string password;
    bool passive = true;
    long timeoutSeconds = 30;
    TransportOptions transport;
};

class FtpConnection
{
public:
    explicit FtpConnection(const ConnectionOptions& options);
    FtpConnection(const FtpConnection&) = delete;
    FtpConnection& operator=(const FtpConnection&) = delete;

    // Each returns 0 or the platform error code of the failure; FailureText()
    // then holds a reason of the layer's own wording, or nothing.
    DWORD Login();
    DWORD Put(const char* localPath, const char* remoteName, bool ascii);
    DWORD Rename(const std::string& from, const std::string& to);
    DWORD Delete(const std::string& name);
    const std::string& FailureText() const { return m_failureText; }
    // What the last call did that the log should tell (a remote folder made), once.
    std::string TakeNote() { return std::exchange(m_note, std::string()); }

    // The handle was closed while a call was running: that call fails at once.
    void Cancel() { m_runner.Cancel(); }

private:
    static size_t KeepReply(char* text, size_t size, size_t count, void* self);
    DWORD Perform(bool retryOnDrop, const std::function<void()>& prepare);
    void ResetRequest();
    DWORD Quote(const std::vector<std::string>& commands);
    DWORD RemoteSize(const std::string& name, curl_off_t* size);
    static constexpr curl_off_t kAskSize = -2;
    // remoteSize: as reported, -1 unknown, or kAskSize to ask the server now.
    DWORD CheckArrived(const char* remoteName, curl_off_t localSize, curl_off_t remoteSize);
    DWORD SftpReplace(const std::string& from, const std::string& to);
    std::string MakeFolders(const std::string& remoteName, std::string* refusal);

    CurlRunner m_runner;
    CURL* m_easy; // the runner's
    std::string m_base;
    Transport m_transport;
    Dialect m_dialect;
    DWORD m_setupError = 0;
    bool m_sizeUnknownLogged = false;
    std::string m_failureText;
    std::string m_lastReply;
    bool m_watchRefusals = false;    // set while commands of ours run
    int m_refusal = 0;               // the first refusing reply to them
    std::string m_refusalText;       // and its text
    std::set<std::string> m_folders; // known to exist on the server this session
    std::string m_note;
};
