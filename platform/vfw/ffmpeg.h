// The few FFmpeg services the capture layer shares between its parts.
#pragma once

#include <QString>
#include <chrono>
#include <functional>

struct AVInputFormat;

// Registers the devices once and routes the library's own messages into our
// log. Call it on the main thread before any worker uses
// FFmpeg: the routing is process-wide state.
void InitFfmpeg();
// Null when FFmpeg has no input format of that name.
const AVInputFormat* FindInputFormat(const QString& name);
QString FfmpegVersion();
QString AvErrorText(int code);

// FFmpeg's messages reach the log as "ffmpeg: COMPONENT: text": warnings and
// worse only, one line per kind of message a minute (a camera sending bad
// frames would otherwise log each one), addresses left out, passwords masked.
inline constexpr std::chrono::seconds kFfmpegLogInterval{60};
using FfmpegLogClock = std::function<std::chrono::steady_clock::time_point()>;
// Tests move the rate limit's clock; null restores the real one.
void SetFfmpegLogClockForTesting(FfmpegLogClock clock);
