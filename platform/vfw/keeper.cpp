#include "keeper.h"

#include "address.h"
#include "log.h"
#include "reader.h"
#include "v4l2.h"

#include <QMutex>
#include <QTimer>
#include <algorithm>

namespace
{

// A camera checked once a second costs nothing and is missed for a second at most.
constexpr int kWatchIntervalMs = 1000;
// A network camera may take a while for its first picture after the warm-up.
constexpr std::chrono::seconds kFirstFrameLimit{20};
constexpr int kMostWarmUpFrames = 300;

QMutex g_refusalMutex;
OpenRefusal g_refusal;

bool OpenReader(SourceReader& reader, const CaptureDriver& driver, const FrameFormat& format,
                QString* error)
{
    {
        QMutexLocker lock(&g_refusalMutex);
        if (g_refusal && !(*error = g_refusal(driver, format)).isEmpty())
            return false;
    }
    if (reader.Open(driver, format, error))
        return true;
    *error = MaskAddressPasswords(*error);
    return false;
}

} // namespace

void SetOpenRefusalForTesting(OpenRefusal refusal)
{
    QMutexLocker lock(&g_refusalMutex);
    g_refusal = std::move(refusal);
}

struct SourceKeeper::Attempt {
    CaptureDriver driver;
    FrameFormat format;
    std::unique_ptr<SourceReader> reader;
    QString error;
    bool opened = false;
};

std::chrono::milliseconds NextRetryDelay(std::chrono::milliseconds delay)
{
    return std::clamp(2 * delay, kFirstRetryDelay, kLongestRetryDelay);
}

int WarmUpFramesFor(const CaptureDriver& driver, int setting)
{
    if (IsSyntheticSource(driver))
        return 0;
    return std::clamp(setting, 0, kMostWarmUpFrames);
}

SourceKeeper::SourceKeeper(QObject* parent)
    : QObject(parent), m_watch(new QTimer(this)), m_retry(new QTimer(this))
{
    m_watch->setInterval(kWatchIntervalMs);
    m_retry->setSingleShot(true);
    connect(m_watch, &QTimer::timeout, this, &SourceKeeper::Watch);
    connect(m_retry, &QTimer::timeout, this, &SourceKeeper::StartAttempt);
}

SourceKeeper::~SourceKeeper()
{
    Close();
}

std::unique_ptr<SourceReader> SourceKeeper::NewReader(const CaptureDriver& driver) const
{
    auto reader = std::make_unique<SourceReader>();
    reader->SetWarmUpFrames(WarmUpFramesFor(driver, m_warmUpSetting));
    return reader;
}

bool SourceKeeper::Open(const CaptureDriver& driver, const FrameFormat& format, QString* error)
{
    Close();
    std::unique_ptr<SourceReader> reader = NewReader(driver);
    if (!OpenReader(*reader, driver, format, error))
        return false;
    m_driver = driver;
    m_format = format;
    Keep(std::move(reader));
    if (m_handler)
        m_handler(m_driver.name, true);
    return true;
}

void SourceKeeper::KeepTrying(const CaptureDriver& driver, const FrameFormat& format,
                              const QString& reason)
{
    Close();
    m_driver = driver;
    m_format = format;
    Lose(reason);
}

void SourceKeeper::Close()
{
    StopAttempt();
    m_watch->stop();
    m_retry->stop();
    m_reader.reset();
    m_lost = false;
    m_delay = kFirstRetryDelay;
}

void SourceKeeper::SetFormat(const FrameFormat& format)
{
    m_format = format;
    m_delivered = false;
    m_openedAt = Clock::now();
}

void SourceKeeper::Keep(std::unique_ptr<SourceReader> reader)
{
    m_reader = std::move(reader);
    m_delivered = false;
    m_openedAt = Clock::now();
    m_watch->start();
}

// A source counts as back only once it delivers: one that opens and then
// gives nothing is another failed attempt, and the wait goes on growing.
void SourceKeeper::Watch()
{
    if (!m_reader)
        return;
    if (m_reader->HasEnded()) {
        Lose(m_reader->EndReason());
    } else if (m_reader->IsDelivering()) {
        m_delivered = true;
        m_delay = kFirstRetryDelay;
        if (m_lost) {
            m_lost = false;
            LogLine("capture", QStringLiteral("Video source '%1' is back.").arg(m_driver.name));
            if (m_handler)
                m_handler(m_driver.name, true);
        }
    } else if (m_delivered || Clock::now() - m_openedAt > kFirstFrameLimit) {
        // Not delivering means its newest frame is older than the stall limit.
        Lose(QStringLiteral("no frames came"));
    }
}

void SourceKeeper::Lose(const QString& reason)
{
    m_watch->stop();
    m_reader.reset();
    if (!m_lost) {
        m_lost = true;
        LogLine("capture", QStringLiteral("Video source '%1' lost (%2); reopening it.")
                               .arg(m_driver.name, reason));
        if (m_handler)
            m_handler(m_driver.name, false);
    }
    ScheduleAttempt();
}

void SourceKeeper::ScheduleAttempt()
{
    m_retry->start(int((m_waitHook ? m_waitHook(m_delay) : m_delay).count()));
    m_delay = NextRetryDelay(m_delay);
}

void SourceKeeper::StartAttempt()
{
    StopAttempt();
    auto attempt = std::make_shared<Attempt>();
    attempt->driver = m_driver;
    attempt->format = m_format;
    attempt->reader = NewReader(m_driver);
    m_attempt = attempt;
    m_worker = std::thread([this, attempt] {
        // A camera plugged back in may come back under another node.
        CaptureDriver& d = attempt->driver;
        V4l2DeviceInfo info;
        if (d.isDevice && !(QueryCaptureDevice(d.input, &info) && info.card == d.name))
            if (std::optional<CaptureDriver> found = FindVideoDevice(d.name))
                d.input = found->input;
        attempt->opened =
            OpenReader(*attempt->reader, attempt->driver, attempt->format, &attempt->error);
        QMetaObject::invokeMethod(
            this, [this, attempt] { AttemptDone(attempt); }, Qt::QueuedConnection);
    });
}

void SourceKeeper::AttemptDone(const std::shared_ptr<Attempt>& attempt)
{
    if (attempt != m_attempt)
        return; // closed or replaced meanwhile
    if (m_worker.joinable())
        m_worker.join(); // it has posted this and is ending
    m_attempt.reset();
    if (!attempt->opened) {
        ScheduleAttempt();
        return;
    }
    m_driver.input = attempt->driver.input;
    Keep(std::move(attempt->reader));
}

// Waits for the worker only as long as the cancelled open takes to notice.
void SourceKeeper::StopAttempt()
{
    if (m_attempt && m_attempt->reader)
        m_attempt->reader->Cancel();
    if (m_worker.joinable())
        m_worker.join();
    m_attempt.reset();
}
