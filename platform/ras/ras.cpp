// Placeholder until the NetworkManager-backed layer lands: every call fails.
#include "ras.h"

#define EXPORT extern "C" __attribute__((visibility("default")))
#define NOT_READY 711

EXPORT DWORD RasDialA(void*, LPCSTR, RASDIALPARAMSA*, DWORD, LPVOID, HRASCONN*) { return NOT_READY; }
EXPORT DWORD RasEnumConnectionsA(RASCONNA*, LPDWORD, LPDWORD) { return NOT_READY; }
EXPORT DWORD RasEnumEntriesA(LPCSTR, LPCSTR, RASENTRYNAMEA*, LPDWORD, LPDWORD) { return NOT_READY; }
EXPORT DWORD RasGetConnectStatusA(HRASCONN, RASCONNSTATUSA*) { return ERROR_INVALID_HANDLE; }
EXPORT DWORD RasGetEntryDialParamsA(LPCSTR, RASDIALPARAMSA*, BOOL*) { return NOT_READY; }
EXPORT DWORD RasGetErrorStringA(UINT, LPSTR, DWORD) { return NOT_READY; }
EXPORT DWORD RasGetProjectionInfoA(HRASCONN, DWORD, LPVOID, LPDWORD) { return NOT_READY; }
EXPORT DWORD RasHangUpA(HRASCONN) { return NOT_READY; }
