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
