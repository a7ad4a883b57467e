// Rules of the Internet layer that need no network: server names, the proxy
// list, remote paths in URLs and the error codes the program understands.
#pragma once

#include "wintypes.h"

#include <functional>
#include <string>
#include <vector>

struct ServerAddress {
    std::string host; // without brackets, also for IPv6
    unsigned port = 21;
    bool ipv6 = false;
};

// "host", "host:port", "[v6]", "[v6]:port" or a bare IPv6 address. A non-zero
// explicit port wins over one in the text, which wins over defaultPort. False
// for names that cannot be a host.
bool ParseServer(const std::string& text, unsigned explicitPort, ServerAddress* out,
                 unsigned defaultPort = 21);

// The port a protocol (VizoProtocol) listens on unless the server text names one.
unsigned DefaultPort(DWORD protocol);

// "ftp://host:port/" (or ftps://, sftp://) with IPv6 hosts bracketed.
std::string ServerUrl(const ServerAddress& address, DWORD protocol = 0);

// The URL of a remote name under a ServerUrl. Over SFTP a relative name is
// taken from the login (home) directory, as FTP does.
std::string RemoteUrl(const std::string& base, DWORD protocol, const std::string& name);

// Which of the login texts is too long for a server to take, or null. libcurl
// refuses over-long options silently, so they are caught before it sees them.
const char* TooLongLoginText(const char* server, const char* user, const char* password);

// Percent-escapes every path segment, keeping the slashes, so that no name can
// change the meaning of the URL.
std::string EscapePath(const std::string& path);

// The folders above a remote name, outermost first ("a/b/x.jpg": "a", "a/b"),
// each as the server is to be asked to make it. Empty for a bare name.
std::vector<std::string> FolderLevels(const std::string& remoteName);

// Whether a refusal to make a folder says the name is taken already (FTP's
// "550 File exists.", SFTP's "File already exists"): then the upload's own
// refusal, not the folder, is the reason to give.
bool RefusalSaysExists(const std::string& text);

// The size in a reply to SIZE ("213 N"); 0 when the file is missing (550),
// -1 when the server cannot tell.
long long SizeInReply(const std::string& reply);

// The code of the last line of an FTP reply ("226 Done"); 0 for any other line.
int FinalReplyCode(const std::string& line);

// An SFTP command argument: quoted, so blanks and quotes stay in the name.
std::string SftpQuoted(const std::string& name);

// Remote names go into FTP commands verbatim: a line break would start a new one.
bool IsUsableRemoteName(const char* name);
bool HasLineBreak(const char* text);

struct ProxySettings {
    std::string list;   // "ftp=host:port http=host:port" or a single "host:port"
    std::string bypass; // hosts reached directly, ";"-separated
};

using EnvironmentReader = std::function<std::string(const char* name)>;

// The preconfigured proxies of this user: ftp_proxy, all_proxy, http_proxy and
// no_proxy (lower case first, then upper case).
ProxySettings ProxyFromEnvironment(const EnvironmentReader& env);

// "scheme://user:pw@host:port/path" reduced to "host:port".
std::string ProxyHostPort(const std::string& url);

// A failed libcurl call as the platform's error code. reply is the last FTP
// reply code, osError the errno seen right after the failure.
DWORD MapCurlError(int curlCode, long reply, int osError, const char* errorText);

// Seconds for the connect, reply and stall time-outs.
long TimeoutSeconds(const EnvironmentReader& env);
