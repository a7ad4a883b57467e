#include "precisewake.h"

#include <QSocketNotifier>

#ifdef __linux__
#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>
#endif

PreciseWake::PreciseWake()
{
#ifdef __linux__
    m_fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd < 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [fd = m_fd] {
        std::uint64_t expirations = 0;
        (void)!::read(fd, &expirations, sizeof expirations);
    });
#endif
}

PreciseWake::~PreciseWake()
{
    m_notifier.reset();
#ifdef __linux__
    if (m_fd >= 0)
        ::close(m_fd);
#endif
}

bool PreciseWake::Arm(qint64 ns)
{
#ifdef __linux__
    if (m_fd < 0)
        return false;
    ns = qMax<qint64>(ns, 1); // zero would disarm it
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
    when.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
    return ::timerfd_settime(m_fd, 0, &when, nullptr) == 0;
#else
    Q_UNUSED(ns);
    return false;
#endif
}
