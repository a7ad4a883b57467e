// The unattended record: every status line and message-box text also goes to
// standard error as "YYYY-MM-DD HH:MM:SS kind: text".
#pragma once

#include <QString>
#include <functional>

void LogLine(const char* kind, const QString& text);
inline void LogStatus(const QString& text)
{
    LogLine("status", text);
}
inline void LogMessage(const QString& text)
{
    LogLine("message", text);
}

// Tests watch the record: the observer sees every line as it is written.
using LogObserver = std::function<void(const char* kind, const QString& text)>;
LogObserver SetLogObserver(LogObserver observer);
