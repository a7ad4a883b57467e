#include "Watchdog.h"

#include "platform/afx/log.h"

#include <climits>
#include <systemd/sd-daemon.h>

int WatchdogBeatMs(std::uint64_t limitUsec)
{
    if (limitUsec == 0)
        return 0;
    const std::uint64_t ms = limitUsec / 2000;
    return ms == 0 ? 1 : ms > std::uint64_t(INT_MAX) ? INT_MAX : int(ms);
}

Watchdog::~Watchdog()
{
    Stopping();
}

void Watchdog::Ready()
{
    if (m_ready || m_stopping)
        return;
    m_ready = true;
    // Without NOTIFY_SOCKET sd_notify sends nothing and returns 0.
    if (sd_notify(0, "READY=1") <= 0)
        return;
    std::uint64_t usec = 0;
    const int beatMs = sd_watchdog_enabled(0, &usec) > 0 ? WatchdogBeatMs(usec) : 0;
    if (beatMs == 0)
        return;
    // The beat comes from the main loop itself: a loop that hangs stops it.
    m_beat.setTimerType(Qt::CoarseTimer);
    QObject::connect(&m_beat, &QTimer::timeout, this, [] { sd_notify(0, "WATCHDOG=1"); });
    m_beat.start(beatMs);
    LogLine("service", QStringLiteral("Watchdog fed every %1 ms").arg(beatMs));
}

void Watchdog::Stopping()
{
    if (!m_ready || m_stopping)
        return;
    m_stopping = true;
    m_beat.stop();
    sd_notify(0, "STOPPING=1");
}
