// Rules of the layer's HTTP destinations (WebDAV, S3-compatible storage, form
// upload) that need no network: the server URL, request names and the wording
// of a server's refusal.
#pragma once

#include "wintypes.h"

#include <string>

// The Server setting of an HTTP destination: "http(s)://host[:port][/base]".
struct HttpServer {
    std::string origin; // "https://host:port", IPv6 hosts bracketed
    std::string base;   // the path below it as typed, at least "/"
};

// False for anything that is not such a URL: another scheme, no host, a
// password inside it, a query, or bytes a URL cannot carry.
bool ParseHttpServer(const std::string& text, HttpServer* out);

// The URL of a remote name below the server's base, every segment escaped.
std::string HttpUrl(const HttpServer& server, const std::string& name);

// "HTTP 401 Unauthorized"; the S3 error code in brackets when the body names one.
std::string HttpStatusText(long status, const std::string& body = std::string());

// The <Code> of an S3 error document, or empty.
std::string S3ErrorCode(const std::string& body);

// Requests signed as AWS Signature Version 4 for the service in the region;
// libcurl adds the date and signs the request's headers.
void ConfigureSigV4(void* easy, const std::string& accessKey, const std::string& secret,
                    const std::string& region, const std::string& service = "s3");

// A region as S3 signs it: lower-case letters, digits and dashes.
bool IsRegionName(const std::string& region);

// Lower-case hexadecimal of bytes.
std::string HexOf(const unsigned char* bytes, size_t length);

// The media type a server should hand out for a published file, by its extension.
const char* ContentType(const std::string& name);
