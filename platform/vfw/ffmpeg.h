// The few FFmpeg services the capture layer shares between its parts.
#pragma once

#include <QString>

struct AVInputFormat;

// Registers the devices once and quiets the library's own logging: this
// layer logs its reasons itself, one line each.
void InitFfmpeg();
// Null when FFmpeg has no input format of that name.
const AVInputFormat* FindInputFormat(const QString& name);
QString FfmpegVersion();
QString AvErrorText(int code);
