// One chosen source, kept delivering: when it stops (device gone, stream
// ended, camera silent) it is let go and reopened with a growing wait. The
// reopening runs on a worker thread, so a camera that does not answer never
// holds the window.
#pragma once

#include "dib.h"
#include "drivers.h"

#include <QObject>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

class QTimer;
class SourceReader;

inline constexpr std::chrono::milliseconds kFirstRetryDelay{1000};
inline constexpr std::chrono::milliseconds kLongestRetryDelay{60000};
// The wait after one of `delay` that did not bring the source back.
std::chrono::milliseconds NextRetryDelay(std::chrono::milliseconds delay);
// Frames to skip after an open: synthetic and recorded sources have no
// exposure to settle, so they skip none.
int WarmUpFramesFor(const CaptureDriver& driver, int setting);

// Tests make a source refuse to open: a non-empty answer is the reason given.
// Called on the opening thread, which may be a worker. Null removes it.
using OpenRefusal = std::function<QString(const CaptureDriver&, const FrameFormat&)>;
void SetOpenRefusalForTesting(OpenRefusal refusal);

class SourceKeeper : public QObject
{
public:
    // ok false when the source is lost, true when it delivers again (and
    // after each successful Open).
    using StateHandler = std::function<void(const QString& source, bool ok)>;

    explicit SourceKeeper(QObject* parent = nullptr);
    ~SourceKeeper() override;

    void SetWarmUpSetting(int frames) { m_warmUpSetting = frames; }
    void SetStateHandler(StateHandler handler) { m_handler = std::move(handler); }
    // Tests see each wait before a reopening, as the rule chose it, and return
    // the wait to use instead.
    using WaitHook = std::function<std::chrono::milliseconds(std::chrono::milliseconds)>;
    void SetWaitHookForTesting(WaitHook hook) { m_waitHook = std::move(hook); }

    // Opens at once, the caller waiting; on failure nothing is kept.
    bool Open(const CaptureDriver& driver, const FrameFormat& format, QString* error);
    // Counts the source as lost and keeps reopening it in the background.
    void KeepTrying(const CaptureDriver& driver, const FrameFormat& format, const QString& reason);
    void Close();

    // Null from a loss until a reopening succeeds.
    SourceReader* Reader() const { return m_reader.get(); }
    // The source as last opened: a device's node may have changed.
    const CaptureDriver& Driver() const { return m_driver; }
    // The format a reopening asks for. The reader in hand has just dropped its
    // frame for it, so the next one is waited for as after an open.
    void SetFormat(const FrameFormat& format);

private:
    using Clock = std::chrono::steady_clock;
    struct Attempt;

    std::unique_ptr<SourceReader> NewReader(const CaptureDriver& driver) const;
    void Watch();
    void Lose(const QString& reason);
    void ScheduleAttempt();
    void StartAttempt();
    void AttemptDone(const std::shared_ptr<Attempt>& attempt);
    void StopAttempt();
    void Keep(std::unique_ptr<SourceReader> reader);

    CaptureDriver m_driver;
    FrameFormat m_format;
    std::unique_ptr<SourceReader> m_reader;
    bool m_lost = false;
    bool m_delivered = false; // the reader in hand has delivered a frame
    Clock::time_point m_openedAt;
    std::chrono::milliseconds m_delay = kFirstRetryDelay;
    int m_warmUpSetting = 5;
    StateHandler m_handler;
    WaitHook m_waitHook;
    QTimer* m_watch;
    QTimer* m_retry;
    std::shared_ptr<Attempt> m_attempt;
    std::thread m_worker;
};
