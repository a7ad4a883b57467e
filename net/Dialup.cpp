// Placeholder until the dial-up connection lands: LAN behaviour only.
#include "CUpload.h"

HRASCONN CUpload::Dial()
{
    s_bCloseMessages = true;
    return AllBitsSetConnection();
}

void CUpload::HangUp(HRASCONN) {}
