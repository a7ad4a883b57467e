// The unattended record: every status line and message-box text also goes to
// standard error as "YYYY-MM-DD HH:MM:SS kind: text".
#pragma once

#include <QString>

void LogLine(const char* kind, const QString& text);
inline void LogStatus(const QString& text) { LogLine("status", text); }
inline void LogMessage(const QString& text) { LogLine("message", text); }
