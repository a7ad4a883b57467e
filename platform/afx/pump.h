// Keeps the window painted while the GUI thread waits on a blocking call.
// User input stays queued, so commands arrive only where the program pumps
// messages itself. Header-only: the run-time loaded layers use it too.
#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

inline void PumpWhileBlocked(int maxMs = 0)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return;
    if (maxMs > 0)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, maxMs);
    else
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
