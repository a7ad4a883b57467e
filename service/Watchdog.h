// The service manager's side of a started service: "ready" once the schedule
// is set, a heartbeat from the main loop while the manager watches it, and
// "stopping" at the end. Nothing is sent unless the manager asked for notes.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>

// How often to feed a watchdog whose limit is limitUsec: half of it, so one
// late beat is not yet a miss; 0 when there is no limit to feed.
int WatchdogBeatMs(std::uint64_t limitUsec);

class Watchdog : public QObject
{
public:
    Watchdog() = default;
    ~Watchdog() override;
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // READY=1, then WATCHDOG=1 from the event loop while the manager watches.
    void Ready();
    // STOPPING=1 once; the heartbeat ends.
    void Stopping();

private:
    QTimer m_beat;
    bool m_ready = false;
    bool m_stopping = false;
};
