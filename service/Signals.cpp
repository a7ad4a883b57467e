#include "Signals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace
{
int g_pipe[2] = {-1, -1};
std::unique_ptr<QSocketNotifier> g_notifier;
std::function<void(int)> g_onEnd;
std::function<void()> g_onUploadNow;
const int kSignals[] = {SIGTERM, SIGINT, SIGUSR1};

void Handler(int sig)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

void Drain()
{
    unsigned char byte = 0;
    while (::read(g_pipe[0], &byte, 1) == 1) {
        if (byte == SIGUSR1) {
            if (g_onUploadNow)
                g_onUploadNow();
        } else if (g_onEnd) {
            g_onEnd(byte);
        }
    }
}
} // namespace

void InstallSignalHandlers(std::function<void(int)> onEnd, std::function<void()> onUploadNow)
{
    g_onEnd = std::move(onEnd);
    g_onUploadNow = std::move(onUploadNow);
    if (g_pipe[0] < 0) {
        if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        g_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
        QObject::connect(g_notifier.get(), &QSocketNotifier::activated, [] { Drain(); });
    }
    struct sigaction sa {
    };
    sa.sa_handler = Handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : kSignals)
        sigaction(sig, &sa, nullptr);
}

void RemoveSignalHandlers()
{
    for (int sig : kSignals)
        std::signal(sig, SIG_DFL);
    g_onEnd = nullptr;
    g_onUploadNow = nullptr;
}
