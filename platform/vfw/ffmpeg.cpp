#include "ffmpeg.h"

#include "address.h"
#include "log.h"

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

namespace
{

using Clock = std::chrono::steady_clock;
// More kinds than FFmpeg has messages for one source: the table stays small.
constexpr std::size_t kMostKinds = 256;

struct Kind {
    Clock::time_point loggedAt;
    int suppressed = 0;
};

std::mutex g_logMutex;
FfmpegLogClock g_clock;
std::unordered_map<std::string, Kind> g_kinds;

// A message may come in pieces, each call without its line end; the pieces of
// one thread are joined, keyed by the first one's format.
struct Pending {
    std::string key;
    std::string text;
};

// Whether a line of this kind may go out now, and how many were held back
// since the last one that did.
bool MayLog(const std::string& key, int* suppressed)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    const Clock::time_point now = g_clock ? g_clock() : Clock::now();
    if (g_kinds.size() >= kMostKinds && !g_kinds.count(key)) {
        for (auto i = g_kinds.begin(); i != g_kinds.end();)
            i = now - i->second.loggedAt >= kFfmpegLogInterval ? g_kinds.erase(i) : std::next(i);
        if (g_kinds.size() >= kMostKinds)
            return false;
    }
    auto [it, fresh] = g_kinds.try_emplace(key);
    if (!fresh && now - it->second.loggedAt < kFfmpegLogInterval) {
        ++it->second.suppressed;
        return false;
    }
    *suppressed = it->second.suppressed;
    it->second = {now, 0};
    return true;
}

void Emit(const std::string& key, std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    // A server's reply quoted in a message must not reach a terminal as codes.
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    int suppressed = 0;
    if (text.empty() || !MayLog(key, &suppressed))
        return;
    QString line = MaskAddressPasswords(QString::fromUtf8(text.data(), int(text.size())));
    if (suppressed > 0)
        line += QStringLiteral(" (%1 more since the last such line)").arg(suppressed);
    LogLine("ffmpeg", line);
}

// Called by FFmpeg on whichever thread logs.
void Route(void* object, int level, const char* format, va_list args)
{
    thread_local Pending pending;
    if (level > AV_LOG_WARNING || !format)
        return;
    char piece[1024];
    std::vsnprintf(piece, sizeof piece, format, args);
    if (pending.key.empty()) {
        // The component by name only: "[mjpeg @ 0x55d1...]" would make every
        // decoder instance a kind of its own.
        const AVClass* cls = object ? *static_cast<AVClass* const*>(object) : nullptr;
        const char* name = cls && cls->item_name ? cls->item_name(object) : nullptr;
        pending.key = std::string(name ? name : "") + '\x1f' + format;
        if (name && *name)
            pending.text = std::string(name) + ": ";
    }
    pending.text += piece;
    const std::size_t length = std::strlen(piece);
    if ((length == 0 || piece[length - 1] != '\n') && pending.text.size() < sizeof piece)
        return;
    Emit(pending.key, std::move(pending.text));
    pending = {};
}

} // namespace

void InitFfmpeg()
{
    static std::once_flag once;
    std::call_once(once, [] {
        avdevice_register_all();
        // The level stays FFmpeg's own: the route filters, so no thread ever
        // changes what another one's messages do.
        av_log_set_callback(Route);
    });
}

void SetFfmpegLogClockForTesting(FfmpegLogClock clock)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_clock = std::move(clock);
    g_kinds.clear();
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
