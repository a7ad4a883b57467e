// Opening a source: the input, its video stream and a decoder for it.
#include "address.h"
#include "devicesetup.h"
#include "ffmpeg.h"
#include "readerav.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace
{

constexpr int kPipeBufferBytes = 64 * 1024;
// A command's output gives no honest frame rate (the pipe readers assume 25),
// and a still camera may take seconds for each picture.
constexpr std::chrono::seconds kCommandStallLimit{10};
// A pipe's demuxer gives no header, so the stream is analysed for this long:
// one microsecond ends it with its first pictures, where half a second of
// frames would keep a program sending a picture every few seconds past the
// opening's time limit.
constexpr int64_t kCommandAnalyseUs = 1;

bool IsCommand(const CaptureDriver& driver)
{
    return driver.format == QLatin1String(kCommandFormat);
}

} // namespace

// Polls, so a reader being stopped or an open past its limit is not held in a
// read from a silent command.
int SourceReader::ReadCommand(void* self, std::uint8_t* buffer, int size)
{
    auto* reader = static_cast<SourceReader*>(self);
    const int fd = reader->m_av->command->OutputFd();
    for (;;) {
        if (Interrupted(self))
            return AVERROR_EXIT;
        pollfd p{fd, POLLIN, 0};
        const int n = poll(&p, 1, 100);
        if (n < 0 && errno != EINTR)
            return AVERROR(errno);
        if (n <= 0)
            continue;
        const ssize_t got = read(fd, buffer, size_t(size));
        if (got > 0) {
            reader->m_av->piped += got;
            return int(got);
        }
        if (got == 0)
            return AVERROR_EOF;
        if (errno != EINTR && errno != EAGAIN)
            return AVERROR(errno);
    }
}

bool SourceReader::StartCommand(const CaptureDriver& driver, QString* error)
{
    Av& av = *m_av;
    av.command = std::make_unique<CommandProcess>(driver.name);
    if (!av.command->Start(driver.input, error))
        return false;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kPipeBufferBytes));
    av.pipe = buffer ? avio_alloc_context(buffer, kPipeBufferBytes, 0, this,
                                          &SourceReader::ReadCommand, nullptr, nullptr)
                     : nullptr;
    if (!av.pipe) {
        av_free(buffer);
        *error = QStringLiteral("out of memory");
        return false;
    }
    av.input->pb = av.pipe;
    av.input->flags |= AVFMT_FLAG_CUSTOM_IO;
    // A pipe's frames carry no rate to find.
    av.input->max_analyze_duration = kCommandAnalyseUs;
    return true;
}

// What went wrong in words about the command rather than the pipe.
QString SourceReader::CommandOpenError(int code)
{
    Av& av = *m_av;
    if (av.piped > 0 && code == AVERROR_INVALIDDATA)
        return QStringLiteral("the command's output is not video");
    if (code == AVERROR_EOF || code == AVERROR_INVALIDDATA)
        return av.command->EndReason(1000);
    if (code == AVERROR_EXIT && !m_stop)
        return av.piped == 0 ? QStringLiteral("the command wrote nothing")
                             : QStringLiteral("the command's first pictures came too slowly");
    return AvErrorText(code);
}

bool SourceReader::OpenInput(const CaptureDriver& driver, const FrameFormat& wanted, QString* error)
{
    const AVInputFormat* format = nullptr;
    const bool command = IsCommand(driver);
    if (!command && !driver.format.isEmpty() && !(format = FindInputFormat(driver.format))) {
        *error = QStringLiteral("unknown input format '%1'").arg(driver.format);
        return false;
    }
    Av& av = *m_av;
    av.input = avformat_alloc_context();
    av.held = av_frame_alloc();
    if (!av.input || !av.held) {
        *error = QStringLiteral("out of memory");
        return false;
    }
    av.input->interrupt_callback = {&SourceReader::Interrupted, this};
    AVDictionary* options = nullptr;
    if (driver.isDevice) {
        // A camera that stops must not hold the reader in a blocking read.
        av.input->flags |= AVFMT_FLAG_NONBLOCK;
        // Before the stream starts, so that no frame is taken with old values.
        ApplySourceControls(driver);
        for (const auto& [name, value] : DeviceInputOptions(driver, wanted))
            av_dict_set(&options, name.constData(), value.constData(), 0);
    }
    NetworkInput network{QString(), {}};
    if (command) {
        if (!StartCommand(driver, error))
            return false;
    } else {
        network = NetworkInputFor(driver.input);
    }
    for (const auto& [name, value] : network.options)
        av_dict_set(&options, name.constData(), value.constData(), 0);
    int r = avformat_open_input(&av.input, network.url.toUtf8().constData(), format, &options);
    av_dict_free(&options);
    // Devices describe their stream in the header; probing would spin on a
    // non-blocking node.
    if (r >= 0 && !driver.isDevice)
        r = avformat_find_stream_info(av.input, nullptr);
    // The time limit cut a slow command's analysis short: the pipe keeps that
    // error, and the stream would end at its first read.
    if (r >= 0 && command && av.input->pb->error == AVERROR_EXIT)
        r = AVERROR_EXIT;
    if (r < 0) {
        *error = command ? CommandOpenError(r) : AvErrorText(r);
        return false;
    }
    const AVCodec* codec = nullptr;
    r = av_find_best_stream(av.input, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (r < 0 || !codec) {
        *error = r < 0 ? QStringLiteral("no video stream") : QStringLiteral("no decoder");
        return false;
    }
    av.stream = r;
    AVStream* stream = av.input->streams[r];
    av.timeBase = stream->time_base;
    av.decoder = avcodec_alloc_context3(codec);
    if (!av.decoder || avcodec_parameters_to_context(av.decoder, stream->codecpar) < 0 ||
        (r = avcodec_open2(av.decoder, codec, nullptr)) < 0) {
        *error = QStringLiteral("the decoder could not be opened");
        return false;
    }
    av.packets = codec->id == AV_CODEC_ID_MJPEG;
    if (av.packets && !(av.heldPacket = av_packet_alloc())) {
        *error = QStringLiteral("out of memory");
        return false;
    }
    m_native = QSize(stream->codecpar->width, stream->codecpar->height);
    // Raw video is told apart by its pixel layout.
    const char* pixels = av_get_pix_fmt_name(AVPixelFormat(stream->codecpar->format));
    m_encoding =
        QString::fromLatin1(codec->id == AV_CODEC_ID_RAWVIDEO && pixels ? pixels : codec->name);
    if (m_native.isEmpty()) {
        *error = QStringLiteral("the picture size is unknown");
        return false;
    }
    const AVRational rate = av_guess_frame_rate(av.input, stream, nullptr);
    if (command) {
        m_stallLimit = kCommandStallLimit;
    } else if (rate.num > 0 && rate.den > 0) {
        const auto interval = std::chrono::milliseconds(1000LL * rate.den / rate.num);
        m_stallLimit = std::clamp(3 * interval, std::chrono::milliseconds(2000),
                                  std::chrono::milliseconds(10000));
    }
    return true;
}
