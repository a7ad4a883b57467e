// SIGTERM and SIGINT end the program; SIGUSR1 asks for an upload now (the
// service's stand-in for the Upload now command). Handlers only write to a
// pipe; the callbacks run on the GUI thread from its event loop.
#pragma once

#include <functional>

// Installs the handlers; onEnd runs once per SIGTERM/SIGINT received, onUploadNow per SIGUSR1.
void InstallSignalHandlers(std::function<void(int signal)> onEnd,
                           std::function<void()> onUploadNow);
// Back to the default dispositions; the callbacks are dropped.
void RemoveSignalHandlers();
