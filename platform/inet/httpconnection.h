// One connection to an HTTP destination over libcurl: WebDAV (PUT, MKCOL,
// MOVE, DELETE), S3-compatible storage (signed PUT, HEAD, DELETE) or a form
// upload by POST. The same calls as the FTP family, with the same promises.
#pragma once

#include "curlsession.h"
#include "httprules.h"
#include "transport.h"

#include <functional>
#include <set>
#include <string>
#include <vector>

struct HttpOptions {
    HttpServer server;
    std::string user;
    std::string password;
    long timeoutSeconds = 30;
    TransportOptions transport;
};

class HttpConnection : public CurlSession
{
public:
    explicit HttpConnection(const HttpOptions& options);

    DWORD Login() override;
    DWORD Put(const char* localPath, const char* remoteName, bool ascii) override;
    DWORD Rename(const std::string& from, const std::string& to) override;
    DWORD Delete(const std::string& name) override;

private:
    struct Request {
        const char* method;
        std::string name;
        std::vector<std::string> headers;
        const char* query = "";
    };
    // 0 once the server answered (its status in *status), or the code of a
    // request that got no answer.
    DWORD Perform(const Request& request, long* status,
                  const std::function<void()>& prepare = nullptr);
    // 0 when the server answered the request with a 2xx status.
    DWORD Expect2xx(const Request& request, const std::function<void()>& prepare = nullptr);
    DWORD Refused(long status);
    void ResetRequest();
    static size_t KeepBody(char* text, size_t size, size_t count, void* self);
    static size_t KeepEtag(char* text, size_t size, size_t count, void* self);
    DWORD MakeFolders(const std::string& remoteName);
    DWORD PutBody(std::FILE* file, const std::string& remoteName, curl_off_t size,
                  std::string* md5);
    DWORD PostForm(const char* localPath, const std::string& remoteName);
    DWORD CheckStored(const std::string& remoteName, curl_off_t size);
    DWORD Unsupported(const char* what);
    bool IsS3() const { return m_transport.Protocol() == VIZO_PROTOCOL_S3; }
    bool IsPost() const { return m_transport.Protocol() == VIZO_PROTOCOL_HTTP_POST; }

    HttpServer m_server;
    Transport m_transport;
    DWORD m_setupError = 0;
    std::string m_body;              // the reply's body, kept short: the reason's S3 code
    std::string m_etag;              // the reply's ETag, unquoted
    std::set<std::string> m_folders; // known to exist on the server this session
};
