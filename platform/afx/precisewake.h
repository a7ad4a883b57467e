// Wakes a waiting event loop on an exact nanosecond deadline. Qt's timers
// count whole milliseconds, which rounds a frame period up by half a
// millisecond on average, and finishing the wait with a sleep costs a second
// wake-up per frame.
#pragma once

#include <QtGlobal>
#include <memory>

class QSocketNotifier;

class PreciseWake
{
public:
    PreciseWake();
    ~PreciseWake();
    PreciseWake(const PreciseWake&) = delete;
    PreciseWake& operator=(const PreciseWake&) = delete;

    // The event loop's wait ends ns from now (at once for ns <= 0). False
    // where the platform has no such timer; the caller then waits its own way.
    bool Arm(qint64 ns);

private:
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
