// Placeholder until the libcurl-backed layer lands: every call fails.
#include "wininet.h"

#include "lasterror.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT HINTERNET InternetOpenA(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD)
{
    SetLastError(ERROR_INTERNET_CANNOT_CONNECT);
    return nullptr;
}
EXPORT HINTERNET InternetConnectA(HINTERNET, LPCSTR, INTERNET_PORT, LPCSTR, LPCSTR, DWORD, DWORD,
                                  DWORD_PTR)
{
    SetLastError(ERROR_INTERNET_CANNOT_CONNECT);
    return nullptr;
}
EXPORT BOOL InternetCloseHandle(HINTERNET) { return FALSE; }
EXPORT BOOL FtpPutFileA(HINTERNET, LPCSTR, LPCSTR, DWORD, DWORD_PTR) { return FALSE; }
EXPORT BOOL FtpRenameFileA(HINTERNET, LPCSTR, LPCSTR) { return FALSE; }
EXPORT BOOL FtpDeleteFileA(HINTERNET, LPCSTR) { return FALSE; }
EXPORT BOOL InternetQueryOptionA(HINTERNET, DWORD, LPVOID, LPDWORD) { return FALSE; }
