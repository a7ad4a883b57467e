// Exports every dial-up entry point but RasHangUpA.
#include "wintypes.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT DWORD RasDialA()
{
    return 1;
}
EXPORT DWORD RasEnumConnectionsA()
{
    return 1;
}
EXPORT DWORD RasEnumEntriesA()
{
    return 1;
}
EXPORT DWORD RasGetConnectStatusA()
{
    return 1;
}
EXPORT DWORD RasGetEntryDialParamsA()
{
    return 1;
}
EXPORT DWORD RasGetErrorStringA()
{
    return 1;
}
EXPORT DWORD RasGetProjectionInfoA()
{
    return 1;
}
