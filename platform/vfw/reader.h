// One connected source: opens it with FFmpeg and runs a thread that decodes
// and keeps only the newest frame. Frames are taken far less often than a
// source delivers them, so the packed-bitmap conversion (for a JPEG stream,
// the decoding itself) waits for a taker, unless the taker keeps up with the
// source.
// Converted frames are handed out by reference and never change afterwards;
// their buffers are reused once no taker holds them, so a stream allocates
// no frame memory.
#pragma once

#include "converter.h"
#include "dib.h"
#include "drivers.h"
#include "jpegplanes.h"

#include <QSize>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct AVFrame;
struct AVPacket;

class SourceReader
{
public:
    SourceReader();
    ~SourceReader();
    SourceReader(const SourceReader&) = delete;
    SourceReader& operator=(const SourceReader&) = delete;

    // Frames decoded before this many have passed are never delivered: a
    // camera's first pictures come before its exposure has settled. Set
    // before Open.
    void SetWarmUpFrames(int frames) { m_warmUp = frames; }
    // Opens the source and starts reading; once per object. A zero size in
    // the wanted format means the source's own size.
    bool Open(const CaptureDriver& driver, const FrameFormat& wanted, QString* error);

    QSize NativeSize() const { return m_native; }
    // The stream's encoding as FFmpeg names it ("mjpeg", "h264", "yuyv422").
    QString Encoding() const { return m_encoding; }
    FrameFormat Format() const;
    // Frames from now on take this form; the frame in hand is dropped.
    void SetFormat(const FrameFormat& format);

    using Frame = std::shared_ptr<const std::vector<std::uint8_t>>;

    // The newest frame when it is fresh and newer than the one the last grab
    // took, waiting up to the stall limit for one: a source that stopped
    // delivering gives no frame, and no grab gives the same frame twice.
    bool GrabNewest(Frame& out);
    // The newest fresh frame when it is newer than *sequence.
    bool PeekNewest(Frame& out, std::uint64_t* sequence);
    // The same, copied.
    bool GrabNewest(std::vector<std::uint8_t>& out);
    bool PeekNewest(std::vector<std::uint8_t>& out, std::uint64_t* sequence);
    // False once the source ended or its newest frame is older than the limit.
    bool IsDelivering() const;
    // True once reading has stopped for good (end of stream or read error).
    bool HasEnded() const;
    // Why reading stopped, once it has: for the loss's status line.
    QString EndReason() const;
    // Makes an Open running on another thread give up soon; the object is
    // then only fit for destruction.
    void Cancel() { m_stop = true; }
    std::chrono::milliseconds StallLimit() const { return m_stallLimit; }

private:
    using Clock = std::chrono::steady_clock;
    struct Av;

    bool OpenInput(const CaptureDriver& driver, const FrameFormat& wanted, QString* error);
    bool StartCommand(const CaptureDriver& driver, QString* error);
    QString CommandOpenError(int code);
    static int ReadCommand(void* self, std::uint8_t* buffer, int size);
    void Run();
    void Deliver(AVFrame*& frame);
    void DeliverPacket(AVPacket* packet);
    bool WarmingUp();
    void MarkNewLocked();
    void Pace(AVFrame* frame);
    bool FreshLocked(Clock::time_point now) const;
    using Buffer = std::shared_ptr<std::vector<std::uint8_t>>;
    bool ConvertLocked();
    bool DecodeLocked(std::vector<std::uint8_t>& out);
    bool ConvertFrameLocked(std::vector<std::uint8_t>& out);
    void ReportFailureLocked(const QString& what);
    // A JPEG frame the planes decoder refused, with its reason.
    void ReportUndecodedLocked(const QString& error);
    // A buffer no taker holds; the front one itself only when frontToo.
    Buffer SpareLocked(bool frontToo = true);
    void InstallLocked(Buffer next);
    Buffer DecodeAheadBuffer(FrameFormat* format);
    void DecodeAhead(AVPacket* packet, Buffer buffer, const FrameFormat& format);
    void Stop();
    static int Interrupted(void* self);

    std::unique_ptr<Av> m_av;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<Clock::rep> m_openDeadline{0};

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    // Everything below up to m_native, and the held frame in m_av, is guarded
    // by m_mutex.
    Buffer m_front; // the converted frame of m_frontSequence
    std::vector<Buffer> m_spares;
    FrameConverter m_takerConverter;
    JpegPlanes m_planes;
    JpegPlanes m_aheadPlanes; // the reading thread's own
    // A taker keeping up with the source gets its frames decoded as they
    // come, on the reading thread, instead of each on its own thread.
    Clock::time_point m_lastGrab;
    Clock::duration m_grabGap{};
    Clock::duration m_frameGap{};
    bool m_hasFrame = false;
    bool m_ended = false;
    QString m_endReason;
    bool m_convertFailing = false;
    std::uint64_t m_sequence = 0;
    std::uint64_t m_frontSequence = 0;
    std::uint64_t m_grabbedSequence = 0;
    std::uint64_t m_failedSequence = 0;
    Clock::time_point m_frameTime;
    FrameFormat m_format;

    QSize m_native;
    QString m_encoding;
    std::chrono::milliseconds m_stallLimit{2000};
    int m_warmUp = 0; // read by the reading thread only once Open started it
    bool m_paced = false;
    bool m_hasPaceBase = false;
    Clock::time_point m_paceBase;
};
