// Handing out frames: converted on demand, at most once each, into buffers
// reused once no taker holds them.
#include "log.h"
#include "readerav.h"

#include <algorithm>
#include <new>

namespace
{

// Enough for a frame on the clipboard, one in the caption step and one in the
// preview while the next is converted.
constexpr std::size_t kMaxSpares = 3;

} // namespace

// Converts the frame in hand at most once: a grab and a preview of the same
// frame share the result. A frame that cannot be converted counts as stale,
// so a grab waits for the next one.
bool SourceReader::ConvertLocked()
{
    if (m_frontSequence == m_sequence && m_front)
        return true;
    Buffer next = SpareLocked();
    if (!next) {
        ReportFailureLocked(QStringLiteral("Video frames could not be kept: out of memory."));
        return false;
    }
    if (!(m_av->packets ? DecodeLocked(*next) : ConvertFrameLocked(*next)))
        return false;
    InstallLocked(std::move(next));
    return true;
}

// The converted frame in hand becomes the front one.
void SourceReader::InstallLocked(Buffer next)
{
    if (next != m_front) {
        m_spares.erase(std::remove(m_spares.begin(), m_spares.end(), next), m_spares.end());
        if (m_front && m_spares.size() < kMaxSpares)
            m_spares.push_back(m_front);
        m_front = std::move(next);
    }
    m_frontSequence = m_sequence;
    m_convertFailing = false;
}

// A JPEG frame at its own size in 24 bits is kept in its YUV planes; any
// other is decoded and converted to the format's rows.
bool SourceReader::DecodeLocked(std::vector<std::uint8_t>& out)
{
    const AVPacket* packet = m_av->heldPacket;
    QString error;
    if (m_format.bitCount == 24) {
        switch (m_planes.Decode(packet->data, std::size_t(packet->size), m_format.width,
                                m_format.height, out, &error)) {
        case JpegPlanes::Result::Decoded:
            return true;
        case JpegPlanes::Result::Failed:
            ReportUndecodedLocked(error);
            return false;
        case JpegPlanes::Result::NotPlanes:
            break;
        }
    }
    AVFrame* frame = m_av->held;
    av_frame_unref(frame);
    const bool decoded = avcodec_send_packet(m_av->decoder, packet) == 0 &&
                         avcodec_receive_frame(m_av->decoder, frame) == 0 &&
                         !(frame->flags & AV_FRAME_FLAG_CORRUPT) && !frame->decode_error_flags;
    if (!decoded) {
        avcodec_flush_buffers(m_av->decoder);
        ReportFailureLocked(
            QStringLiteral("Video frame could not be decoded; waiting for the next."));
        return false;
    }
    return ConvertFrameLocked(out);
}

bool SourceReader::ConvertFrameLocked(std::vector<std::uint8_t>& out)
{
    try {
        out.resize(DibTotalBytes(m_format));
    } catch (const std::bad_alloc&) {
        ReportFailureLocked(QStringLiteral("Video frames could not be kept: out of memory."));
        return false;
    }
    if (m_takerConverter.Convert(m_av->held, m_format, out.data()))
        return true;
    ReportFailureLocked(QStringLiteral("Video frames could not be converted to %1x%2 at %3 bits.")
                            .arg(m_format.width)
                            .arg(m_format.height)
                            .arg(m_format.bitCount));
    return false;
}

// The frame in hand counts as stale, so a grab waits for the next one. A
// source failing frame after frame is logged once until a frame works again.
void SourceReader::ReportFailureLocked(const QString& line)
{
    m_failedSequence = m_sequence;
    if (!m_convertFailing)
        LogLine("capture", line);
    m_convertFailing = true;
}

void SourceReader::ReportUndecodedLocked(const QString& error)
{
    ReportFailureLocked(
        QStringLiteral("Video frame could not be decoded: %1; waiting for the next.").arg(error));
}

// A buffer no taker holds any more: the front one itself when it was never
// handed out, otherwise a spare, otherwise a new one.
SourceReader::Buffer SourceReader::SpareLocked(bool frontToo)
{
    if (frontToo && m_front && m_front.use_count() == 1)
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
    m_av->Drop();
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
            const Clock::time_point now = Clock::now();
            m_grabGap = now - m_lastGrab;
            m_lastGrab = now;
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

QString SourceReader::EndReason() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_endReason;
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
