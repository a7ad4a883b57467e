// The dial-up layer: the entry points the upload engine binds at run time,
// with the meanings of the platform service they stand in for.
#pragma once

#include "wintypes.h"

struct HRASCONN__;
using HRASCONN = HRASCONN__*;

#define RAS_MaxEntryName 256
#define RAS_MaxDeviceType 16
#define RAS_MaxDeviceName 128
#define RAS_MaxPhoneNumber 128
#define RAS_MaxCallbackNumber RAS_MaxPhoneNumber
#define RAS_MaxIpAddress 15
#define UNLEN 256
#define PWLEN 256
#define DNLEN 15

// Projection code of the PPP IP projection.
#define RASP_PppIp 0x8021

struct RASCONNA {
    DWORD dwSize;
    HRASCONN hrasconn;
    char szEntryName[RAS_MaxEntryName + 1];
    char szDeviceType[RAS_MaxDeviceType + 1];
    char szDeviceName[RAS_MaxDeviceName + 1];
};

struct RASENTRYNAMEA {
    DWORD dwSize;
    char szEntryName[RAS_MaxEntryName + 1];
};

struct RASDIALPARAMSA {
    DWORD dwSize;
    char szEntryName[RAS_MaxEntryName + 1];
    char szPhoneNumber[RAS_MaxPhoneNumber + 1];
    char szCallbackNumber[RAS_MaxCallbackNumber + 1];
    char szUserName[UNLEN + 1];
    char szPassword[PWLEN + 1];
    char szDomain[DNLEN + 1];
};
static_assert(sizeof(RASDIALPARAMSA) == 1052, "dial parameters record is 1052 bytes");

struct RASPPPIPA {
    DWORD dwSize;
    DWORD dwError;
    char szIpAddress[RAS_MaxIpAddress + 1];
    char szServerIpAddress[RAS_MaxIpAddress + 1];
};
static_assert(sizeof(RASPPPIPA) == 40, "IP projection record is 40 bytes");

using RASCONNSTATE = DWORD;
#define RASCS_OpenPort 0
#define RASCS_Connected 0x2000
#define RASCS_Disconnected 0x2001

struct RASCONNSTATUSA {
    DWORD dwSize;
    RASCONNSTATE rasconnstate;
    DWORD dwError;
    char szDeviceType[RAS_MaxDeviceType + 1];
    char szDeviceName[RAS_MaxDeviceName + 1];
};
static_assert(sizeof(RASCONNSTATUSA) == 160, "connection status record is 160 bytes");

#define ERROR_BUFFER_TOO_SMALL 603
#define ERROR_CANNOT_OPEN_PHONEBOOK 621
#define ERROR_CANNOT_FIND_PHONEBOOK_ENTRY 623
#define ERROR_INVALID_SIZE 632
#define ERROR_PROJECTION_NOT_COMPLETE 730
#define ERROR_PROTOCOL_NOT_CONFIGURED 731

// Codes of this layer's own. A failed activation gives the base plus
// NetworkManager's reason for the state change (0 to 99).
#define VIZO_NM_REASON_BASE 1000
#define VIZO_NM_NOT_RUNNING 1100 // no system bus, or NetworkManager not on it
#define VIZO_NM_NO_REPLY 1101    // a call got no answer within its time limit
#define VIZO_NM_PERMISSION_DENIED 1102
#define VIZO_NM_NO_DEVICE 1103    // no device can carry the profile now
#define VIZO_NM_REFUSED 1104      // any other error NetworkManager answered with
#define VIZO_NM_BAD_REPLY 1105    // an answer of the wrong shape
#define VIZO_NM_DIAL_TIMEOUT 1106 // not activated within the dialling time limit

extern "C" {
using PFN_RasDialA = DWORD (*)(void* lpRasDialExtensions, LPCSTR lpszPhonebook,
                               RASDIALPARAMSA* lpRasDialParams, DWORD dwNotifierType,
                               LPVOID lpvNotifier, HRASCONN* lphRasConn);
using PFN_RasEnumConnectionsA = DWORD (*)(RASCONNA* lprasconn, LPDWORD lpcb,
                                          LPDWORD lpcConnections);
using PFN_RasEnumEntriesA = DWORD (*)(LPCSTR reserved, LPCSTR lpszPhonebook,
                                      RASENTRYNAMEA* lprasentryname, LPDWORD lpcb,
                                      LPDWORD lpcEntries);
using PFN_RasGetConnectStatusA = DWORD (*)(HRASCONN hrasconn, RASCONNSTATUSA* lprasconnstatus);
using PFN_RasGetEntryDialParamsA = DWORD (*)(LPCSTR lpszPhonebook, RASDIALPARAMSA* lprasdialparams,
                                             BOOL* lpfPassword);
using PFN_RasGetErrorStringA = DWORD (*)(UINT uErrorValue, LPSTR lpszErrorString, DWORD cBufSize);
using PFN_RasGetProjectionInfoA = DWORD (*)(HRASCONN hrasconn, DWORD rasprojection,
                                            LPVOID lpprojection, LPDWORD lpcb);
using PFN_RasHangUpA = DWORD (*)(HRASCONN hrasconn);
// Not bound by the program: lets tests shorten the time limits of one bus call
// and of one dial attempt (milliseconds; 0 keeps a limit unchanged).
using PFN_VizoRasSetTimeLimits = void (*)(int callMs, int dialMs);
}

// File name of the layer beside the program.
#define VIZO_DIALUP_LIBRARY "libvizoras.so"
