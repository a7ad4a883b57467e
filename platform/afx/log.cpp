#include "log.h"

#include <cstdio>
#include <ctime>
#include <string>

namespace
{
LogObserver g_observer;

// A stream logs a status line per frame: the stamp is formatted once a second,
// and the line goes out in one write from a buffer that keeps its size. Per
// thread, as the capture reader logs from its own.
struct LineBuffer {
    std::time_t stampedAt = -1;
    char stamp[32] = {};
    std::string line;
};

const char* Stamp(LineBuffer& b)
{
    const std::time_t now = std::time(nullptr);
    if (now != b.stampedAt) {
        std::tm local{};
        localtime_r(&now, &local);
        std::strftime(b.stamp, sizeof b.stamp, "%Y-%m-%d %H:%M:%S", &local);
        b.stampedAt = now;
    }
    return b.stamp;
}
} // namespace

LogObserver SetLogObserver(LogObserver observer)
{
    std::swap(g_observer, observer);
    return observer;
}

void LogLine(const char* kind, const QString& text)
{
    if (g_observer)
        g_observer(kind, text);
    thread_local LineBuffer b;
    QByteArray bytes = text.toLocal8Bit();
    // One record per line: a line break in the text would start a false one.
    if (bytes.contains('\n'))
        bytes.replace('\n', "\\n");
    b.line.assign(Stamp(b)).append(1, ' ').append(kind).append(": ");
    b.line.append(bytes.constData(), std::size_t(bytes.size())).append(1, '\n');
    std::fwrite(b.line.data(), 1, b.line.size(), stderr);
}
