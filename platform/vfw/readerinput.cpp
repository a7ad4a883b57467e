// Opening a source: the input, its video stream and a decoder for it.
#include "address.h"
#include "devicesetup.h"
#include "ffmpeg.h"
#include "readerav.h"

#include <algorithm>

bool SourceReader::OpenInput(const CaptureDriver& driver, const FrameFormat& wanted, QString* error)
{
    const AVInputFormat* format = nullptr;
    if (!driver.format.isEmpty() && !(format = FindInputFormat(driver.format))) {
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
    const NetworkInput network = NetworkInputFor(driver.input);
    for (const auto& [name, value] : network.options)
        av_dict_set(&options, name.constData(), value.constData(), 0);
    int r = avformat_open_input(&av.input, network.url.toUtf8().constData(), format, &options);
    av_dict_free(&options);
    if (r < 0) {
        *error = AvErrorText(r);
        return false;
    }
    // Devices describe their stream in the header; probing would spin on a
    // non-blocking node.
    if (!driver.isDevice && (r = avformat_find_stream_info(av.input, nullptr)) < 0) {
        *error = AvErrorText(r);
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
    m_native = QSize(stream->codecpar->width, stream->codecpar->height);
    if (m_native.isEmpty()) {
        *error = QStringLiteral("the picture size is unknown");
        return false;
    }
    const AVRational rate = av_guess_frame_rate(av.input, stream, nullptr);
    if (rate.num > 0 && rate.den > 0) {
        const auto interval = std::chrono::milliseconds(1000LL * rate.den / rate.num);
        m_stallLimit = std::clamp(3 * interval, std::chrono::milliseconds(2000),
                                  std::chrono::milliseconds(10000));
    }
    return true;
}
