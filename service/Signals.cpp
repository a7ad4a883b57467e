#include "Signals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace
{
// The handler can only reach the pipe through a global; it is set while a
// catcher lives and the handlers are installed.
int g_writeEnd = -1;
const int kSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGUSR1};

void Handler(int sig)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] ssize_t n = ::write(g_writeEnd, &byte, 1);
    errno = saved;
}
} // namespace

SignalCatcher::SignalCatcher(std::function<void(int)> onEnd, std::function<void()> onUploadNow)
    : m_onEnd(std::move(onEnd)), m_onUploadNow(std::move(onUploadNow))
{
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // the default dispositions stay: signals still end the program
    m_notifier = std::make_unique<QSocketNotifier>(m_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { Drain(); });
    g_writeEnd = m_pipe[1];
    struct sigaction sa {
    };
    sa.sa_handler = Handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : kSignals)
        sigaction(sig, &sa, nullptr);
}

SignalCatcher::~SignalCatcher()
{
    if (m_pipe[0] < 0)
        return;
    for (int sig : kSignals)
        std::signal(sig, SIG_DFL);
    g_writeEnd = -1;
    m_notifier.reset();
    ::close(m_pipe[0]);
    ::close(m_pipe[1]);
}

void SignalCatcher::Drain()
{
    unsigned char byte = 0;
    while (::read(m_pipe[0], &byte, 1) == 1) {
        if (byte == SIGUSR1) {
            if (m_onUploadNow)
                m_onUploadNow();
        } else if (m_onEnd) {
            m_onEnd(byte);
        }
    }
}
