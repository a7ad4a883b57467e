// The Internet layer: the FTP entry points the upload engine binds at run time,
// with the meanings of the platform library they stand in for.
#pragma once

#include "wintypes.h"

using HINTERNET = void*;
using INTERNET_PORT = WORD;
using DWORD_PTR = UINT_PTR;

#define INTERNET_OPEN_TYPE_PRECONFIG 0
#define INTERNET_OPEN_TYPE_DIRECT 1
#define INTERNET_OPEN_TYPE_PROXY 3
#define INTERNET_SERVICE_FTP 1
#define INTERNET_DEFAULT_FTP_PORT 21
#define INTERNET_FLAG_PASSIVE 0x08000000u
#define INTERNET_OPTION_PROXY 38
// The calling thread's last failure reason as text (any handle, or none).
#define INTERNET_OPTION_VIZO_FAILURE_TEXT 0x7F01
// What the calling thread's last FtpPutFileA did that the log should tell (a
// remote folder made), as text; empty when nothing. Reading it clears it.
#define INTERNET_OPTION_VIZO_NOTE 0x7F02
// InternetConnectA: dwContext points to a VIZO_TRANSPORT naming the protocol.
#define INTERNET_FLAG_VIZO_TRANSPORT 0x00000100u
#define FTP_TRANSFER_TYPE_ASCII 1
#define FTP_TRANSFER_TYPE_BINARY 2

// Error codes left in the thread's last-error slot.
#define ERROR_INTERNET_TIMEOUT 12002
#define ERROR_INTERNET_EXTENDED_ERROR 12003
#define ERROR_INTERNET_INTERNAL_ERROR 12004
#define ERROR_INTERNET_INVALID_OPTION 12009
#define ERROR_INTERNET_NAME_NOT_RESOLVED 12007
#define ERROR_INTERNET_INCORRECT_PASSWORD 12014
#define ERROR_INTERNET_INCORRECT_HANDLE_STATE 12019
#define ERROR_INTERNET_CANNOT_CONNECT 12029
#define ERROR_INTERNET_CONNECTION_RESET 12031
#define ERROR_FTP_DROPPED 12111
#define WSAECONNRESET 10054
#define ERROR_INTERNET_INVALID_CA 12045
// Failures the platform library has no code for. The layer words their reason
// itself (it names numbers, keys or the server's fingerprint): read it with
// INTERNET_OPTION_VIZO_FAILURE_TEXT right after the failure.
#define ERROR_VIZO_HOST_KEY 12201
#define ERROR_VIZO_SHORT_TRANSFER 12202
#define ERROR_VIZO_TEXT_TOO_LONG 12203
#define ERROR_VIZO_PRIVATE_KEY 12204
#define ERROR_VIZO_TLS_REQUIRED 12205
#define ERROR_VIZO_UNSUPPORTED 12206
#define ERROR_VIZO_REMOTE_FOLDER 12207
// An HTTP server refused a request; the text names its status.
#define ERROR_VIZO_HTTP_STATUS 12208
// The Server of an HTTP destination is not an http:// or https:// URL.
#define ERROR_VIZO_SERVER_URL 12209
#ifndef ERROR_FILE_NOT_FOUND
#define ERROR_FILE_NOT_FOUND 2
#endif
#ifndef ERROR_ACCESS_DENIED
#define ERROR_ACCESS_DENIED 5
#endif

struct INTERNET_PROXY_INFO {
    DWORD dwAccessType;
    LPCSTR lpszProxy;
    LPCSTR lpszProxyBypass;
};

enum VizoProtocol : DWORD {
    VIZO_PROTOCOL_FTP = 0,
    VIZO_PROTOCOL_FTP_EXPLICIT_TLS = 1,
    VIZO_PROTOCOL_FTPS_IMPLICIT = 2,
    VIZO_PROTOCOL_SFTP = 3,
    // Server holds a URL for these.
    VIZO_PROTOCOL_WEBDAV = 4,
    VIZO_PROTOCOL_S3 = 5,
    VIZO_PROTOCOL_HTTP_POST = 6,
};

struct VIZO_TRANSPORT {
    DWORD cbSize; // sizeof(VIZO_TRANSPORT)
    DWORD dwProtocol;
    LPCSTR lpszServerKey;  // TLS: "sha256//..." pin; SFTP: SHA-256 host-key fingerprint
    LPCSTR lpszPrivateKey; // SFTP: private-key file tried before the password
    // Read only when cbSize covers them.
    LPCSTR lpszRegion;    // S3: the region signed for; empty: us-east-1
    LPCSTR lpszFormField; // HTTP POST: the form field of the file; empty: "file"
};

extern "C" {
using PFN_FtpPutFileA = BOOL (*)(HINTERNET hConnect, LPCSTR lpszLocalFile, LPCSTR lpszNewRemoteFile,
                                 DWORD dwFlags, DWORD_PTR dwContext);
using PFN_InternetOpenA = HINTERNET (*)(LPCSTR lpszAgent, DWORD dwAccessType, LPCSTR lpszProxy,
                                        LPCSTR lpszProxyBypass, DWORD dwFlags);
using PFN_InternetCloseHandle = BOOL (*)(HINTERNET hInternet);
using PFN_FtpRenameFileA = BOOL (*)(HINTERNET hConnect, LPCSTR lpszExisting, LPCSTR lpszNew);
using PFN_FtpDeleteFileA = BOOL (*)(HINTERNET hConnect, LPCSTR lpszFileName);
using PFN_InternetConnectA = HINTERNET (*)(HINTERNET hInternet, LPCSTR lpszServerName,
                                           INTERNET_PORT nServerPort, LPCSTR lpszUserName,
                                           LPCSTR lpszPassword, DWORD dwService, DWORD dwFlags,
                                           DWORD_PTR dwContext);
using PFN_InternetQueryOptionA = BOOL (*)(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                                          LPDWORD lpdwBufferLength);
}

// Seconds a connect, a server reply or a stalled transfer may take before the
// call fails with ERROR_INTERNET_TIMEOUT (default 30, so a silent server fails
// well within a minute); read from this environment variable when set.
#define VIZO_INET_TIMEOUT_ENV "VIZO_INET_TIMEOUT"

// File name of the layer beside the program.
#define VIZO_INTERNET_LIBRARY "libvizoinet.so"
