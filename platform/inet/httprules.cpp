#include "httprules.h"

#include "inetrules.h"

#include <cctype>
#include <cstring>
#include <curl/curl.h>
#include <map>

namespace
{

bool IsPathChar(unsigned char c)
{
    return std::isalnum(c) || std::strchr("/%-._~!$&'()*+,;=:@", c) != nullptr;
}

} // namespace

bool ParseHttpServer(const std::string& text, HttpServer* out)
{
    std::string scheme;
    for (const char* s : {"https://", "http://"})
        if (text.size() > std::strlen(s) && strncasecmp(text.c_str(), s, std::strlen(s)) == 0)
            scheme = s;
    if (scheme.empty())
        return false;
    const std::string rest = text.substr(scheme.size());
    const size_t slash = rest.find('/');
    const std::string authority = rest.substr(0, slash);
    std::string path = slash == std::string::npos ? "/" : rest.substr(slash);
    ServerAddress address;
    const bool https = scheme.size() == 8;
    if (authority.find('@') != std::string::npos ||
        !ParseServer(authority, 0, &address, https ? 443 : 80))
        return false;
    for (unsigned char c : path)
        if (!IsPathChar(c))
            return false;
    if (path.find("/../") != std::string::npos || path.find("/./") != std::string::npos)
        return false;
    const std::string host = address.ipv6 ? "[" + address.host + "]" : address.host;
    out->origin = (https ? "https://" : "http://") + host + ":" + std::to_string(address.port);
    out->base = path;
    return true;
}

std::string HttpUrl(const HttpServer& server, const std::string& name)
{
    // The base as typed (a form's script is reached at exactly that URL), and
    // no "//" between it and a name.
    const size_t skip = name.find_first_not_of('/');
    if (skip == std::string::npos)
        return server.origin + server.base;
    const char* slash = server.base.back() == '/' ? "" : "/";
    return server.origin + server.base + slash + EscapePath(name.substr(skip));
}

std::string HttpStatusText(long status, const std::string& body)
{
    static const std::map<long, const char*> phrases = {
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {408, "Request Timeout"},
        {409, "Conflict"},
        {411, "Length Required"},
        {412, "Precondition Failed"},
        {413, "Content Too Large"},
        {415, "Unsupported Media Type"},
        {423, "Locked"},
        {429, "Too Many Requests"},
        {500, "Internal Server Error"},
        {501, "Not Implemented"},
        {502, "Bad Gateway"},
        {503, "Service Unavailable"},
        {504, "Gateway Timeout"},
        {507, "Insufficient Storage"},
    };
    std::string text = "HTTP " + std::to_string(status);
    if (auto it = phrases.find(status); it != phrases.end())
        text += std::string(" ") + it->second;
    const std::string code = S3ErrorCode(body);
    return code.empty() ? text : text + " (" + code + ")";
}

std::string S3ErrorCode(const std::string& body)
{
    const size_t open = body.find("<Code>");
    const size_t close = body.find("</Code>", open);
    if (open == std::string::npos || close == std::string::npos)
        return std::string();
    const std::string code = body.substr(open + 6, close - open - 6);
    // Only a word: the body is the server's and ends up in the log.
    for (unsigned char c : code)
        if (!std::isalnum(c) || code.size() > 64)
            return std::string();
    return code;
}

void ConfigureSigV4(void* easy, const std::string& accessKey, const std::string& secret,
                    const std::string& region, const std::string& service)
{
    const std::string provider = "aws:amz:" + region + ":" + service;
    curl_easy_setopt(easy, CURLOPT_AWS_SIGV4, provider.c_str());
    curl_easy_setopt(easy, CURLOPT_USERNAME, accessKey.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, secret.c_str());
}

bool IsRegionName(const std::string& region)
{
    if (region.empty() || region.size() > 64)
        return false;
    for (unsigned char c : region)
        if (!(std::islower(c) || std::isdigit(c) || c == '-'))
            return false;
    return true;
}

std::string HexOf(const unsigned char* bytes, size_t length)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        out += hex[bytes[i] >> 4];
        out += hex[bytes[i] & 15];
    }
    return out;
}

const char* ContentType(const std::string& name)
{
    static const std::map<std::string, const char*> types = {
        {"jpg", "image/jpeg"}, {"jpeg", "image/jpeg"}, {"png", "image/png"},  {"mp4", "video/mp4"},
        {"txt", "text/plain"}, {"htm", "text/html"},   {"html", "text/html"},
    };
    const size_t dot = name.rfind('.');
    std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    for (char& c : extension)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    auto it = types.find(extension);
    return it == types.end() ? "application/octet-stream" : it->second;
}
