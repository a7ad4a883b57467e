// The calling thread's last error code, shared by the program and the
// run-time loaded layers (they all link this one library).
#pragma once

#include "wintypes.h"

DWORD GetLastError();
void SetLastError(DWORD code);
