// What a continuous stream writes to the log: months of frames must fit in a
// journal, so after the first frame only a summary a minute says it is alive.
// The status bar is not governed by this: it shows every frame.
#pragma once

#include <QString>
#include <QtGlobal>

class StreamLogRule
{
public:
    explicit StreamLogRule(qint64 summaryMs = 60000, bool everyFrame = EveryFrameWanted());

    struct Frame {
        bool logLine;    // the frame's own success line goes to the log
        QString summary; // a summary line is due now (empty: none)
    };
    // A frame published at nowMs (milliseconds on any steady clock).
    Frame Published(qint64 nowMs);

    // VIZO_LOG_EVERY_FRAME=1: benchmarks and scripts that count frames in the log.
    static bool EveryFrameWanted();

private:
    qint64 m_summaryMs;
    bool m_everyFrame;
    bool m_started = false;
    qint64 m_since = 0;  // start of the summary's period
    qint64 m_frames = 0; // published after it began
};
