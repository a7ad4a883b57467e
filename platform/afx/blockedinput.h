// While a call blocks (see pump.h), only input that aborts it reaches the
// window: widgets and actions marked with kAbortsBlockedCall, and the menus on
// the way to such an item. Other input is dropped, as by a busy window, so no
// other command runs inside the call.
#pragma once

#include "pump.h"

// Once per application; the main window does it.
void InstallBlockedInputFilter();
