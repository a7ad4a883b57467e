// Building one day's timelapse into the archive, on a thread of its own at
// a lower priority, or in the caller's thread for the command line.
#pragma once

#include "ArchiveNames.h"
#include "TimelapseEncoder.h"

#include <QThread>
#include <atomic>
#include <ctime>

struct DayBuild {
    bool ok = false;
    QString day;   // YYYY-MM-DD
    QString video; // the video in the archive, when ok
    int pictures = 0;
    TimelapseOutcome encoded;
    QString error; // why there is no video
};

// The day's pictures in time order into the archive's video for that day,
// written under a temporary name and then renamed into place.
DayBuild BuildDayTimelapse(const ArchiveLayout& layout, std::time_t day, int fps,
                           const std::function<void(int, int)>& progress,
                           const std::atomic<bool>* cancel);

class TimelapseJob : public QThread
{
public:
    TimelapseJob(const ArchiveLayout& layout, std::time_t day, int fps);
    ~TimelapseJob() override;

    std::atomic<int> m_done{0};
    std::atomic<int> m_total{0};
    std::atomic<bool> m_cancel{false};
    DayBuild m_result; // read once finished

protected:
    void run() override;

private:
    ArchiveLayout m_layout;
    std::time_t m_day;
    int m_fps;
};
