// The reading thread: opening, decoding, pacing and keeping the newest frame.
#include "reader.h"

#include "ffmpeg.h"
#include "log.h"
#include "readerav.h"

namespace
{

// Long enough for a network camera's first answer, short enough that a dead
// address does not hold the window for long.
constexpr std::chrono::seconds kOpenLimit{15};

} // namespace

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
    m_paced = IsSyntheticSource(driver);
    m_thread = std::thread([this] { Run(); });
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
        if (packet->stream_index == av.stream && av.packets) {
            DeliverPacket(packet);
        } else if (packet->stream_index == av.stream &&
                   avcodec_send_packet(av.decoder, packet) == 0) {
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
    // A command closes its output as it exits; its status says more.
    const QString reason =
        av.command ? av.command->EndReason(1000) : QStringLiteral("the stream ended");
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ended = true;
    m_endReason = reason;
    m_hasFrame = false;
    av.Drop();
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
    if ((frame->flags & AV_FRAME_FLAG_CORRUPT) || frame->decode_error_flags || WarmingUp())
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::swap(frame, m_av->held);
    MarkNewLocked();
}

// Takes the packet's data over; the one it replaces is released here, which
// for a camera hands its buffer back to the driver.
void SourceReader::DeliverPacket(AVPacket* packet)
{
    if (packet->size <= 0 || (packet->flags & AV_PKT_FLAG_CORRUPT) || WarmingUp())
        return;
    FrameFormat format;
    Buffer ahead = DecodeAheadBuffer(&format);
    if (ahead) {
        DecodeAhead(packet, std::move(ahead), format);
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    av_packet_unref(m_av->heldPacket);
    av_packet_move_ref(m_av->heldPacket, packet);
    MarkNewLocked();
}

// A buffer to decode the packet into before it is announced, when the taker
// took the newest frame and takes them about as often as they come; null
// otherwise: a taker that skips frames decodes only those it takes.
SourceReader::Buffer SourceReader::DecodeAheadBuffer(FrameFormat* format)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const Clock::time_point now = Clock::now();
    const bool keepingUp = m_grabbedSequence == m_sequence && m_frameGap.count() > 0 &&
                           m_grabGap < m_frameGap * 3 / 2 && now - m_lastGrab < 2 * m_frameGap;
    if (!keepingUp || m_format.bitCount != 24)
        return nullptr;
    *format = m_format;
    return SpareLocked(false);
}

void SourceReader::DecodeAhead(AVPacket* packet, Buffer buffer, const FrameFormat& format)
{
    QString error;
    const JpegPlanes::Result result = m_aheadPlanes.Decode(
        packet->data, std::size_t(packet->size), format.width, format.height, *buffer, &error);
    std::lock_guard<std::mutex> lock(m_mutex);
    av_packet_unref(m_av->heldPacket);
    av_packet_move_ref(m_av->heldPacket, packet);
    MarkNewLocked();
    // A format changed meanwhile, or a frame not for the planes, is left to
    // the taker.
    if (format != m_format || result == JpegPlanes::Result::NotPlanes)
        return;
    if (result == JpegPlanes::Result::Decoded)
        InstallLocked(std::move(buffer));
    else
        ReportUndecodedLocked(error);
}

bool SourceReader::WarmingUp()
{
    if (m_warmUp <= 0)
        return false;
    --m_warmUp;
    return true;
}

void SourceReader::MarkNewLocked()
{
    const Clock::time_point now = Clock::now();
    if (m_hasFrame)
        m_frameGap = now - m_frameTime;
    m_hasFrame = true;
    ++m_sequence;
    m_frameTime = now;
    m_cv.notify_all();
}
