#include "inetrules.h"

#include "wininet.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <curl/curl.h>

namespace
{

bool IsHostChar(unsigned char c)
{
    // Bytes above ASCII are left to the resolver (international names).
    return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c >= 0x80;
}

bool IsIpv6Char(unsigned char c)
{
    return std::isxdigit(c) || c == ':' || c == '.';
}

bool ParsePort(const std::string& text, unsigned* port)
{
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    unsigned long value = std::strtoul(text.c_str(), nullptr, 10);
    if (value == 0 || value > 65535)
        return false;
    *port = unsigned(value);
    return true;
}

template <typename Pred> bool AllOf(const std::string& text, Pred pred)
{
    for (unsigned char c : text)
        if (!pred(c))
            return false;
    return !text.empty();
}

bool SplitServer(const std::string& text, ServerAddress* out, std::string* portText)
{
    if (!text.empty() && text[0] == '[') {
        auto close = text.find(']');
        if (close == std::string::npos)
            return false;
        out->host = text.substr(1, close - 1);
        out->ipv6 = true;
        std::string rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':')
                return false;
            *portText = rest.substr(1);
            if (portText->empty())
                return false;
        }
        return AllOf(out->host, IsIpv6Char);
    }
    auto colon = text.find(':');
    if (colon != std::string::npos && text.find(':', colon + 1) != std::string::npos) {
        out->host = text; // a bare IPv6 address has no port
        out->ipv6 = true;
        return AllOf(out->host, IsIpv6Char);
    }
    out->host = text.substr(0, colon);
    if (colon != std::string::npos) {
        *portText = text.substr(colon + 1);
        if (portText->empty())
            return false;
    }
    return AllOf(out->host, IsHostChar);
}

std::string Env(const EnvironmentReader& env, const char* lower, const char* upper)
{
    std::string value = env(lower);
    return value.empty() ? env(upper) : value;
}

bool IsConnectionReset(int osError, const char* errorText)
{
    if (osError == ECONNRESET || osError == EPIPE)
        return true;
    return errorText &&
           (std::strstr(errorText, "reset by peer") || std::strstr(errorText, "Broken pipe"));
}

} // namespace

bool ParseServer(const std::string& text, unsigned explicitPort, ServerAddress* out,
                 unsigned defaultPort)
{
    ServerAddress address;
    std::string portText;
    if (!SplitServer(text, &address, &portText))
        return false;
    address.port = defaultPort;
    if (!portText.empty() && !ParsePort(portText, &address.port))
        return false;
    if (explicitPort != 0)
        address.port = explicitPort;
    *out = address;
    return true;
}

unsigned DefaultPort(DWORD protocol)
{
    switch (protocol) {
    case VIZO_PROTOCOL_FTPS_IMPLICIT:
        return 990;
    case VIZO_PROTOCOL_SFTP:
        return 22;
    default:
        return INTERNET_DEFAULT_FTP_PORT;
    }
}

std::string ServerUrl(const ServerAddress& address, DWORD protocol)
{
    const char* scheme = protocol == VIZO_PROTOCOL_FTPS_IMPLICIT ? "ftps://"
                         : protocol == VIZO_PROTOCOL_SFTP        ? "sftp://"
                                                                 : "ftp://";
    std::string host = address.ipv6 ? "[" + address.host + "]" : address.host;
    return scheme + host + ":" + std::to_string(address.port) + "/";
}

std::string RemoteUrl(const std::string& base, DWORD protocol, const std::string& name)
{
    if (protocol == VIZO_PROTOCOL_SFTP && (name.empty() || name[0] != '/'))
        return base + "~/" + EscapePath(name);
    return base + EscapePath(name);
}

const char* TooLongLoginText(const char* server, const char* user, const char* password)
{
    // A DNS name has at most 253 bytes (an address with brackets and port fits too);
    // an FTP command line of more than about 1 KB is refused by many servers.
    constexpr size_t kServer = 260, kLogin = 1000;
    if (server && std::strlen(server) > kServer)
        return "Server name too long";
    if (user && std::strlen(user) > kLogin)
        return "Username too long";
    if (password && std::strlen(password) > kLogin)
        return "Password too long";
    return nullptr;
}

std::string EscapePath(const std::string& path)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

bool HasLineBreak(const char* text)
{
    return text && std::strpbrk(text, "\r\n") != nullptr;
}

std::vector<std::string> FolderLevels(const std::string& remoteName)
{
    std::vector<std::string> levels;
    size_t start = 0;
    for (size_t slash; (slash = remoteName.find('/', start)) != std::string::npos;
         start = slash + 1) {
        // "/" itself, "a//b" and "./x" name nothing to make.
        const std::string segment = remoteName.substr(start, slash - start);
        if (!segment.empty() && segment != ".")
            levels.push_back(remoteName.substr(0, slash));
    }
    return levels;
}

long long SizeInReply(const std::string& reply)
{
    if (reply.rfind("550", 0) == 0)
        return 0;
    if (reply.rfind("213 ", 0) != 0)
        return -1;
    char* end = nullptr;
    long long n = std::strtoll(reply.c_str() + 4, &end, 10);
    return end != reply.c_str() + 4 && n >= 0 ? n : -1;
}

bool RefusalSaysExists(const std::string& text)
{
    std::string lower(text);
    for (char& c : lower)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("exist") != std::string::npos && lower.find("not exist") == std::string::npos;
}

int FinalReplyCode(const std::string& line)
{
    auto digit = [&](size_t i) { return line[i] >= '0' && line[i] <= '9'; };
    if (line.size() < 4 || line[3] != ' ' || line[0] < '1' || line[0] > '5' || !digit(1) ||
        !digit(2))
        return 0;
    return std::atoi(line.substr(0, 3).c_str());
}

std::string SftpQuoted(const std::string& name)
{
    std::string out = "\"";
    for (char c : name) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

bool IsUsableRemoteName(const char* name)
{
    return name && *name && !HasLineBreak(name);
}

std::string ProxyHostPort(const std::string& url)
{
    std::string rest = url;
    auto scheme = rest.find("://");
    if (scheme != std::string::npos)
        rest = rest.substr(scheme + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    auto at = rest.rfind('@');
    if (at != std::string::npos)
        rest = rest.substr(at + 1);
    return rest;
}

ProxySettings ProxyFromEnvironment(const EnvironmentReader& env)
{
    std::string ftp = ProxyHostPort(Env(env, "ftp_proxy", "FTP_PROXY"));
    std::string all = ProxyHostPort(Env(env, "all_proxy", "ALL_PROXY"));
    std::string http = ProxyHostPort(Env(env, "http_proxy", "HTTP_PROXY"));

    ProxySettings settings;
    if (ftp.empty() && http.empty()) {
        settings.list = all; // one proxy for every protocol
    } else {
        if (ftp.empty())
            ftp = all;
        if (http.empty())
            http = all;
        if (!ftp.empty())
            settings.list = "ftp=" + ftp;
        if (!http.empty())
            settings.list += (settings.list.empty() ? "" : " ") + ("http=" + http);
    }
    std::string bypass = Env(env, "no_proxy", "NO_PROXY");
    for (char& c : bypass)
        if (c == ',')
            c = ';';
    settings.bypass = bypass;
    return settings;
}

DWORD MapCurlError(int curlCode, long reply, int osError, const char* errorText)
{
    switch (curlCode) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_CACERT_BADFILE:
        return ERROR_INTERNET_INVALID_CA;
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_USE_SSL_FAILED:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_PORT_FAILED:
        return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_LOGIN_DENIED:
        return ERROR_INTERNET_INCORRECT_PASSWORD;
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_FTP_ACCEPT_TIMEOUT:
        return ERROR_INTERNET_TIMEOUT;
    default:
        break;
    }
    bool dropped = curlCode == CURLE_SEND_ERROR || curlCode == CURLE_RECV_ERROR;
    if (dropped && IsConnectionReset(osError, errorText))
        return ERROR_INTERNET_CONNECTION_RESET;
    switch (curlCode) {
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_FTP_COULDNT_SET_TYPE:
    case CURLE_QUOTE_ERROR:
    case CURLE_UPLOAD_FAILED:
    case CURLE_REMOTE_FILE_NOT_FOUND:
        return ERROR_INTERNET_EXTENDED_ERROR;
    default:
        break;
    }
    if (reply >= 400)
        return ERROR_INTERNET_EXTENDED_ERROR;
    switch (curlCode) {
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_ABORTED_BY_CALLBACK:
    case CURLE_SSH:
        return ERROR_FTP_DROPPED;
    default:
        return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

long TimeoutSeconds(const EnvironmentReader& env)
{
    std::string text = env(VIZO_INET_TIMEOUT_ENV);
    char* end = nullptr;
    long seconds = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || seconds <= 0)
        return 30;
    return seconds > 600 ? 600 : seconds;
}
