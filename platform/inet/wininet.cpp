// The seven entry points the upload engine binds at run time.
#include "wininet.h"

#include "handles.h"
#include "httpconnection.h"
#include "lasterror.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace
{

// The reason of the calling thread's last failure, when the layer worded one.
thread_local std::string t_failureText;
thread_local std::string t_note;

std::string ReadEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

BOOL Fail(DWORD code, const std::string& text = std::string())
{
    t_failureText = text;
    SetLastError(code);
    return FALSE;
}

HINTERNET FailHandle(DWORD code, const std::string& text = std::string())
{
    Fail(code, text);
    return nullptr;
}

BOOL Outcome(DWORD code, const CurlSession& connection)
{
    return code == 0 ? TRUE : Fail(code, connection.FailureText());
}

// Protocol and keys: plain FTP unless the caller names a transport.
bool ReadTransport(DWORD flags, DWORD_PTR context, TransportOptions* out)
{
    if (!(flags & INTERNET_FLAG_VIZO_TRANSPORT))
        return true;
    const auto* t = reinterpret_cast<const VIZO_TRANSPORT*>(context);
    const DWORD withKeys = offsetof(VIZO_TRANSPORT, lpszRegion);
    if (!t || t->cbSize < withKeys || t->dwProtocol > VIZO_PROTOCOL_HTTP_POST)
        return false;
    out->protocol = t->dwProtocol;
    out->serverKey = t->lpszServerKey ? t->lpszServerKey : "";
    out->privateKey = t->lpszPrivateKey ? t->lpszPrivateKey : "";
    out->home = ReadEnvironment("HOME");
    if (t->cbSize >= sizeof(VIZO_TRANSPORT)) {
        out->region = t->lpszRegion ? t->lpszRegion : "";
        out->formField = t->lpszFormField ? t->lpszFormField : "";
    }
    return true;
}

// The connection a protocol speaks; the server text was checked already.
std::unique_ptr<CurlSession> MakeConnection(const ConnectionOptions& options, const HttpServer& url)
{
    if (options.transport.protocol < VIZO_PROTOCOL_WEBDAV)
        return std::make_unique<FtpConnection>(options);
    HttpOptions http{url, options.user, options.password, options.timeoutSeconds,
                     options.transport};
    return std::make_unique<HttpConnection>(http);
}

// Over HTTP the server is a URL, longer than a host name may be.
DWORD CheckServer(const char* serverName, INTERNET_PORT serverPort, ConnectionOptions* options,
                  HttpServer* url, std::string* reason)
{
    if (!serverName || HasLineBreak(serverName))
        return ERROR_INTERNET_NAME_NOT_RESOLVED;
    const DWORD protocol = options->transport.protocol;
    if (protocol < VIZO_PROTOCOL_WEBDAV)
        return ParseServer(serverName, serverPort, &options->server, DefaultPort(protocol))
                   ? 0
                   : ERROR_INTERNET_NAME_NOT_RESOLVED;
    if (std::strlen(serverName) > 2000 || !ParseHttpServer(serverName, url)) {
        *reason = "Server is not an http:// or https:// address";
        return ERROR_VIZO_SERVER_URL;
    }
    return 0;
}

BOOL CopyText(const std::string& text, LPVOID buffer, LPDWORD bufferLength)
{
    DWORD needed = DWORD(text.size() + 1);
    if (!buffer || *bufferLength < needed) {
        *bufferLength = needed;
        return Fail(ERROR_INSUFFICIENT_BUFFER, t_failureText);
    }
    std::memcpy(buffer, text.c_str(), needed);
    *bufferLength = needed;
    return TRUE;
}

std::shared_ptr<SessionObject> FindSession(HINTERNET handle)
{
    auto session = FindHandleOf<SessionObject>(handle);
    if (!session)
        SetLastError(ERROR_INVALID_HANDLE);
    return session;
}

size_t CopyString(const std::string& text, char* at, LPCSTR* slot)
{
    if (text.empty()) {
        *slot = nullptr;
        return 0;
    }
    std::memcpy(at, text.c_str(), text.size() + 1);
    *slot = at;
    return text.size() + 1;
}

} // namespace

EXPORT HINTERNET InternetOpenA(LPCSTR, DWORD accessType, LPCSTR proxy, LPCSTR proxyBypass, DWORD)
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    auto internet = std::make_shared<InternetObject>();
    if (accessType == INTERNET_OPEN_TYPE_PRECONFIG) {
        internet->proxy = ProxyFromEnvironment(ReadEnvironment);
    } else if (accessType == INTERNET_OPEN_TYPE_PROXY) {
        internet->proxy.list = proxy ? proxy : "";
        internet->proxy.bypass = proxyBypass ? proxyBypass : "";
    }
    return RegisterHandle(internet);
}

EXPORT HINTERNET InternetConnectA(HINTERNET internetHandle, LPCSTR serverName,
                                  INTERNET_PORT serverPort, LPCSTR userName, LPCSTR password,
                                  DWORD service, DWORD flags, DWORD_PTR context)
{
    auto internet = FindHandleOf<InternetObject>(internetHandle);
    if (!internet)
        return FailHandle(ERROR_INVALID_HANDLE);
    if (service != INTERNET_SERVICE_FTP)
        return FailHandle(ERROR_INVALID_PARAMETER);
    ConnectionOptions options;
    if (!ReadTransport(flags, context, &options.transport))
        return FailHandle(ERROR_INVALID_PARAMETER);
    HttpServer url;
    std::string reason;
    if (DWORD error = CheckServer(serverName, serverPort, &options, &url, &reason))
        return FailHandle(error, reason);
    if (const char* what =
            TooLongLoginText(url.origin.empty() ? serverName : "", userName, password))
        return FailHandle(ERROR_VIZO_TEXT_TOO_LONG, what);
    if (HasLineBreak(userName) || HasLineBreak(password))
        return FailHandle(ERROR_INTERNET_INCORRECT_PASSWORD);
    options.user = userName ? userName : "";
    options.password = password ? password : "";
    options.passive = (flags & INTERNET_FLAG_PASSIVE) != 0;
    options.transport.passive = options.passive;
    options.timeoutSeconds = TimeoutSeconds(ReadEnvironment);

    auto session = std::make_shared<SessionObject>();
    session->parent = internetHandle;
    session->proxy = internet->proxy;
    session->connection = MakeConnection(options, url);
    // Registered before the login so that closing the parent cancels it.
    HINTERNET handle = RegisterHandle(session);
    if (DWORD error = session->connection->Login()) {
        std::string text = session->connection->FailureText();
        CloseHandle(handle);
        return FailHandle(error, text);
    }
    return handle;
}

EXPORT BOOL InternetCloseHandle(HINTERNET handle)
{
    return CloseHandle(handle) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

EXPORT BOOL FtpPutFileA(HINTERNET connect, LPCSTR localFile, LPCSTR newRemoteFile, DWORD flags,
                        DWORD_PTR)
{
    auto session = FindSession(connect);
    if (!session)
        return FALSE;
    if (!IsUsableRemoteName(newRemoteFile))
        return Fail(ERROR_INTERNET_EXTENDED_ERROR);
    bool ascii = (flags & 3) == FTP_TRANSFER_TYPE_ASCII;
    DWORD code = session->connection->Put(localFile, newRemoteFile, ascii);
    t_note = session->connection->TakeNote();
    return Outcome(code, *session->connection);
}

EXPORT BOOL FtpRenameFileA(HINTERNET connect, LPCSTR existing, LPCSTR newName)
{
    auto session = FindSession(connect);
    if (!session)
        return FALSE;
    if (!IsUsableRemoteName(existing) || !IsUsableRemoteName(newName))
        return Fail(ERROR_INTERNET_EXTENDED_ERROR);
    return Outcome(session->connection->Rename(existing, newName), *session->connection);
}

EXPORT BOOL FtpDeleteFileA(HINTERNET connect, LPCSTR fileName)
{
    auto session = FindSession(connect);
    if (!session)
        return FALSE;
    if (!IsUsableRemoteName(fileName))
        return Fail(ERROR_INTERNET_EXTENDED_ERROR);
    return Outcome(session->connection->Delete(fileName), *session->connection);
}

EXPORT BOOL InternetQueryOptionA(HINTERNET handle, DWORD option, LPVOID buffer,
                                 LPDWORD bufferLength)
{
    if (!bufferLength)
        return Fail(ERROR_INVALID_PARAMETER);
    if (option == INTERNET_OPTION_VIZO_FAILURE_TEXT)
        return CopyText(t_failureText, buffer, bufferLength);
    if (option == INTERNET_OPTION_VIZO_NOTE) {
        if (!CopyText(t_note, buffer, bufferLength))
            return FALSE;
        t_note.clear();
        return TRUE;
    }
    if (option != INTERNET_OPTION_PROXY)
        return Fail(ERROR_INTERNET_INVALID_OPTION);
    ProxySettings proxy;
    if (!handle) {
        proxy = ProxyFromEnvironment(ReadEnvironment);
    } else if (auto object = FindHandle(handle)) {
        proxy = object->proxy;
    } else {
        return Fail(ERROR_INVALID_HANDLE);
    }
    auto size = [](const std::string& s) { return s.empty() ? 0 : s.size() + 1; };
    size_t needed = sizeof(INTERNET_PROXY_INFO) + size(proxy.list) + size(proxy.bypass);
    if (!buffer || *bufferLength < needed) {
        *bufferLength = DWORD(needed);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    auto* info = static_cast<INTERNET_PROXY_INFO*>(buffer);
    info->dwAccessType = proxy.list.empty() ? INTERNET_OPEN_TYPE_DIRECT : INTERNET_OPEN_TYPE_PROXY;
    char* strings = static_cast<char*>(buffer) + sizeof(INTERNET_PROXY_INFO);
    strings += CopyString(proxy.list, strings, &info->lpszProxy);
    CopyString(proxy.bypass, strings, &info->lpszProxyBypass);
    *bufferLength = DWORD(needed);
    return TRUE;
}
