// Keeps the window painted while the GUI thread waits on a blocking call.
// Where the program filters input during such calls (blockedinput.h), the
// Abort command gets through; otherwise user input stays queued. Header-only:
// the run-time loaded layers use it too, without linking the widgets.
#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QVariant>

// Widgets and actions with this property set to true abort a blocked call.
inline constexpr const char* kAbortsBlockedCall = "vizoAbortsBlockedCall";
// Application properties: a call is blocked; the filter is installed.
inline constexpr const char* kBlockedCallProperty = "vizoBlockedCall";
inline constexpr const char* kBlockedInputFiltered = "vizoBlockedInputFiltered";

inline void PumpWhileBlocked(int maxMs = 0)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return;
    QEventLoop::ProcessEventsFlags flags = QEventLoop::ExcludeUserInputEvents;
    bool filtered = app->property(kBlockedInputFiltered).toBool();
    bool outer = !app->property(kBlockedCallProperty).toBool();
    if (filtered) {
        flags = QEventLoop::AllEvents;
        app->setProperty(kBlockedCallProperty, true);
    }
    if (maxMs > 0)
        QCoreApplication::processEvents(flags, maxMs);
    else
        QCoreApplication::processEvents(flags);
    if (filtered && outer)
        app->setProperty(kBlockedCallProperty, false);
}
