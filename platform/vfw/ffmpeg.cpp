#include "ffmpeg.h"

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <mutex>

void InitFfmpeg()
{
    static std::once_flag once;
    std::call_once(once, [] {
        avdevice_register_all();
        av_log_set_level(AV_LOG_FATAL);
    });
}

const AVInputFormat* FindInputFormat(const QString& name)
{
    InitFfmpeg();
    return av_find_input_format(name.toUtf8().constData());
}

QString FfmpegVersion()
{
    return QString::fromUtf8(av_version_info());
}

QString AvErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}
