// Exports every Internet entry point but InternetQueryOptionA.
#include "wintypes.h"

#define STUB(type, name, result)                                                                   \
    extern "C" __attribute__((visibility("default"))) type name()                                  \
    {                                                                                              \
        return result;                                                                             \
    }

STUB(void*, InternetOpenA, nullptr)
STUB(void*, InternetConnectA, nullptr)
STUB(BOOL, InternetCloseHandle, FALSE)
STUB(BOOL, FtpPutFileA, FALSE)
STUB(BOOL, FtpRenameFileA, FALSE)
STUB(BOOL, FtpDeleteFileA, FALSE)
