#include "StreamLog.h"

StreamLogRule::StreamLogRule(qint64 summaryMs, bool everyFrame)
    : m_summaryMs(qMax<qint64>(1, summaryMs)), m_everyFrame(everyFrame)
{
}

bool StreamLogRule::EveryFrameWanted()
{
    return qEnvironmentVariableIntValue("VIZO_LOG_EVERY_FRAME") == 1;
}

StreamLogRule::Frame StreamLogRule::Published(qint64 nowMs)
{
    if (!m_started) {
        m_started = true;
        m_since = nowMs;
        return {true, QString()};
    }
    ++m_frames;
    const qint64 elapsed = nowMs - m_since;
    if (elapsed < m_summaryMs)
        return {m_everyFrame, QString()};
    const QString summary =
        QString::asprintf("Stream running: %lld frames in the last %lld s (%.2f fps)", m_frames,
                          (elapsed + 500) / 1000, m_frames * 1000.0 / double(elapsed));
    m_since = nowMs;
    m_frames = 0;
    return {m_everyFrame, summary};
}
