#include "reader.h"

#include "address.h"
#include "ffmpeg.h"
#include "log.h"

#include <QFileInfo>
#include <algorithm>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace
{

// Long enough for a network camera's first answer, short enough that a dead
// address does not hold the window for long.
constexpr std::chrono::seconds kOpenLimit{15};
// Enough for a frame on the clipboard, one in the caption step and one in the
// preview while the next is converted.
constexpr std::size_t kMaxSpares = 3;

} // namespace

struct SourceReader::Av {
    AVFormatContext* input = nullptr;
    AVCodecContext* decoder = nullptr;
    AVFrame* held = nullptr; // the newest decoded frame
    int stream = -1;
    AVRational timeBase{1, 1};

    ~Av()
    {
        av_frame_free(&held);
        avcodec_free_context(&decoder);
        avformat_close_input(&input);
    }
};

SourceReader::SourceReader() : m_av(std::make_unique<Av>()) {}

SourceReader::~SourceReader()
{
    Stop();
}

void SourceReader::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_cv.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

int SourceReader::Interrupted(void* self)
{
    auto* reader = static_cast<SourceReader*>(self);
    const Clock::rep deadline = reader->m_openDeadline;
    return reader->m_stop || (deadline && Clock::now().time_since_epoch().count() > deadline);
}

bool SourceReader::Open(const CaptureDriver& driver, const FrameFormat& wanted, QString* error)
{
    InitFfmpeg();
    m_openDeadline = (Clock::now() + kOpenLimit).time_since_epoch().count();
    const bool opened = OpenInput(driver, wanted, error);
    m_openDeadline = 0;
    if (!opened)
        return false;
    m_format = wanted;
    if (m_format.width <= 0 || m_format.height <= 0) {
        m_format.width = m_native.width();
        m_format.height = m_native.height();
    }
    if (!IsSupportedBitCount(m_format.bitCount))
        m_format.bitCount = 24;
    // lavfi graphs and files deliver as fast as they are read.
    m_paced = driver.format == QLatin1String("lavfi") || QFileInfo(driver.input).isFile();
    m_thread = std::thread([this] { Run(); });
    return true;
}

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
        if (wanted.width > 0 && wanted.height > 0)
            av_dict_set(&options, "video_size",
                        QStringLiteral("%1x%2").arg(wanted.width).arg(wanted.height).toUtf8(), 0);
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

void SourceReader::Run()
{
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    Av& av = *m_av;
    int r = 0;
    while (packet && frame && !m_stop) {
        r = av_read_frame(av.input, packet);
        if (r == AVERROR(EAGAIN)) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cv.wait_for(lock, std::chrono::milliseconds(5), [this] { return bool(m_stop); });
            continue;
        }
        if (r < 0)
            break;
        if (packet->stream_index == av.stream && avcodec_send_packet(av.decoder, packet) == 0) {
            while (!m_stop && avcodec_receive_frame(av.decoder, frame) == 0) {
                Pace(frame);
                Deliver(frame);
                av_frame_unref(frame);
            }
        }
        av_packet_unref(packet);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    if (m_stop)
        return;
    LogLine("capture",
            QStringLiteral("Video source stopped delivering: %1.")
                .arg(r == AVERROR_EOF ? QStringLiteral("end of stream") : AvErrorText(r)));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ended = true;
    m_hasFrame = false;
    av_frame_unref(av.held);
    m_cv.notify_all();
}

// Holds a frame until its time stamp is due; a source that falls behind by
// more than a second starts a new time base rather than racing to catch up.
void SourceReader::Pace(AVFrame* frame)
{
    if (!m_paced || frame->best_effort_timestamp == AV_NOPTS_VALUE)
        return;
    const auto offset = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
        double(frame->best_effort_timestamp) * av_q2d(m_av->timeBase)));
    const Clock::time_point now = Clock::now();
    if (!m_hasPaceBase || now - (m_paceBase + offset) > std::chrono::seconds(1)) {
        m_paceBase = now - offset;
        m_hasPaceBase = true;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait_until(lock, m_paceBase + offset, [this] { return bool(m_stop); });
}

// Takes the decoded frame by swapping it with the held one, so the reader
// gets the older frame back to release outside the lock.
void SourceReader::Deliver(AVFrame*& frame)
{
    if (frame->width <= 0 || frame->height <= 0 || frame->format < 0)
        return;
    // A frame the decoder had to patch up (a stream joined between key
    // frames) is half a picture.
    if ((frame->flags & AV_FRAME_FLAG_CORRUPT) || frame->decode_error_flags)
        return;
    if (m_warmUp > 0) {
        --m_warmUp;
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    std::swap(frame, m_av->held);
    m_hasFrame = true;
    ++m_sequence;
    m_frameTime = Clock::now();
    m_cv.notify_all();
}

// Converts the frame in hand at most once: a grab and a preview of the same
// frame share the result. A frame that cannot be converted counts as stale,
// so a grab waits for the next one.
bool SourceReader::ConvertLocked()
{
    if (m_frontSequence == m_sequence && m_front)
        return true;
    Buffer next = SpareLocked();
    if (next)
        next->resize(DibTotalBytes(m_format));
    if (!next || !m_takerConverter.Convert(m_av->held, m_format, next->data())) {
        m_failedSequence = m_sequence;
        if (!m_convertFailing)
            LogLine("capture", QStringLiteral("Video frames could not be converted to %1x%2 at "
                                              "%3 bits.")
                                   .arg(m_format.width)
                                   .arg(m_format.height)
                                   .arg(m_format.bitCount));
        m_convertFailing = true;
        return false;
    }
    if (next != m_front) {
        m_spares.erase(std::remove(m_spares.begin(), m_spares.end(), next), m_spares.end());
        if (m_front && m_spares.size() < kMaxSpares)
            m_spares.push_back(m_front);
        m_front = std::move(next);
    }
    m_frontSequence = m_sequence;
    m_convertFailing = false;
    return true;
}

// A buffer no taker holds any more: the front one itself when it was never
// handed out, otherwise a spare, otherwise a new one.
SourceReader::Buffer SourceReader::SpareLocked()
{
    if (m_front && m_front.use_count() == 1)
        return m_front;
    for (const Buffer& b : m_spares) {
        if (b.use_count() == 1)
            return b;
    }
    try {
        return std::make_shared<std::vector<std::uint8_t>>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

FrameFormat SourceReader::Format() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_format;
}

void SourceReader::SetFormat(const FrameFormat& format)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (format == m_format)
        return;
    m_format = format;
    m_hasFrame = false;
    av_frame_unref(m_av->held);
}

bool SourceReader::FreshLocked(Clock::time_point now) const
{
    return !m_ended && m_hasFrame && m_failedSequence != m_sequence &&
           now - m_frameTime <= m_stallLimit;
}

// A stream faster than its camera would otherwise publish the same picture
// again and again, each one written and uploaded, and call that its rate.
bool SourceReader::GrabNewest(Frame& out)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const Clock::time_point deadline = Clock::now() + m_stallLimit;
    while (m_cv.wait_until(lock, deadline, [this] {
        return m_ended || (m_sequence > m_grabbedSequence && FreshLocked(Clock::now()));
    })) {
        if (m_ended)
            return false;
        if (ConvertLocked()) {
            out = m_front;
            m_grabbedSequence = m_frontSequence;
            return true;
        }
    }
    return false;
}

bool SourceReader::PeekNewest(Frame& out, std::uint64_t* sequence)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!FreshLocked(Clock::now()) || m_sequence == *sequence || !ConvertLocked())
        return false;
    out = m_front;
    *sequence = m_sequence;
    return true;
}

bool SourceReader::HasEnded() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ended;
}

bool SourceReader::GrabNewest(std::vector<std::uint8_t>& out)
{
    Frame frame;
    if (!GrabNewest(frame))
        return false;
    out.assign(frame->begin(), frame->end());
    return true;
}

bool SourceReader::PeekNewest(std::vector<std::uint8_t>& out, std::uint64_t* sequence)
{
    Frame frame;
    if (!PeekNewest(frame, sequence))
        return false;
    out.assign(frame->begin(), frame->end());
    return true;
}

bool SourceReader::IsDelivering() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return FreshLocked(Clock::now());
}
