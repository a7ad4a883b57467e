// Exports every Internet entry point but InternetQueryOptionA.
#include "wintypes.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT void* InternetOpenA()
{
    return nullptr;
}
EXPORT void* InternetConnectA()
{
    return nullptr;
}
EXPORT BOOL InternetCloseHandle()
{
    return FALSE;
}
EXPORT BOOL FtpPutFileA()
{
    return FALSE;
}
EXPORT BOOL FtpRenameFileA()
{
    return FALSE;
}
EXPORT BOOL FtpDeleteFileA()
{
    return FALSE;
}
