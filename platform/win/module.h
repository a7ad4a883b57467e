// Run-time loading of Vizo's own platform libraries.
#pragma once

#include "wintypes.h"

#include <string>

// Loads a shared library. A name without a '/' is looked for in the program's
// directory only, never on the system search path. Null when it cannot be loaded.
HMODULE LoadLibraryA(LPCSTR name);
// Null when the module does not export the symbol.
void* GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);

// Directory of the running program file, with a trailing '/'; empty if unknown.
std::string ProgramDirectory();
// Full path of the running program file (GetModuleFileName's role).
std::string ProgramFilePath();
