// Exports every dial-up entry point but RasHangUpA.
#include "wintypes.h"

#define STUB(name)                                                                                 \
    extern "C" __attribute__((visibility("default"))) DWORD name()                                 \
    {                                                                                              \
        return 1;                                                                                  \
    }

STUB(RasDialA)
STUB(RasEnumConnectionsA)
STUB(RasEnumEntriesA)
STUB(RasGetConnectStatusA)
STUB(RasGetEntryDialParamsA)
STUB(RasGetErrorStringA)
STUB(RasGetProjectionInfoA)
