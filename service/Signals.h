// SIGTERM, SIGINT and SIGHUP (a closed terminal) end the program; SIGUSR1 asks
// for an upload now (the service's stand-in for the Upload now command).
// Handlers only write to a pipe; the callbacks run on the GUI thread from its
// event loop.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

// Catches the signals while it lives; the default dispositions come back when
// it goes. One at a time: the handlers share one pipe.
class SignalCatcher
{
public:
    // onEnd runs once per ending signal received, onUploadNow per SIGUSR1.
    SignalCatcher(std::function<void(int signal)> onEnd, std::function<void()> onUploadNow);
    ~SignalCatcher();
    SignalCatcher(const SignalCatcher&) = delete;
    SignalCatcher& operator=(const SignalCatcher&) = delete;

private:
    void Drain();

    int m_pipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::function<void(int)> m_onEnd;
    std::function<void()> m_onUploadNow;
};
