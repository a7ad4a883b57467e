#include "log.h"

#include <cstdio>
#include <ctime>

namespace
{
LogObserver g_observer;
LogObserver g_tap;
} // namespace

LogObserver SetLogTap(LogObserver tap)
{
    std::swap(g_tap, tap);
    return tap;
}

LogObserver SetLogObserver(LogObserver observer)
{
    std::swap(g_observer, observer);
    return observer;
}

void LogLine(const char* kind, const QString& text)
{
    if (g_observer)
        g_observer(kind, text);
    if (g_tap)
        g_tap(kind, text);
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    QString flat = text;
    flat.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    std::fprintf(stderr, "%s %s: %s\n", stamp, kind, flat.toLocal8Bit().constData());
    std::fflush(stderr);
}
