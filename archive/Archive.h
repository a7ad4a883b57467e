// The picture archive as the rest of the program sees it: keep a published
// picture, tidy, the daily timelapse and its publication, the command line.
#pragma once

#include "ArchiveSettings.h"

#include <QString>
#include <ctime>
#include <memory>

class CUpload;
class Profile;
class TimelapseJob;
struct ArchiveLayout;

// Whether the daily video of the day before now is due: now has passed the
// time of day atSecs and that day was not tried yet. Sets *day to it.
bool TimelapseDue(std::time_t now, int atSecs, std::time_t lastTried, std::time_t* day);

class Archive
{
public:
    // Status lines go through the engine, which also publishes the video.
    explicit Archive(CUpload& engine);
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    // The Archive section, then retention once at start-up.
    void Load(const Profile* store, std::time_t now);

    // After a picture was published. limited (series and stream frames): at
    // most one picture per Min Seconds. True when the picture was kept.
    bool Keep(const QString& picture, std::time_t t, bool limited);
    // Retention now (Keep runs it at most once a minute); quiet unless
    // something failed.
    void Tidy(std::time_t now);

    // The main window's timer: starts the day's video when due, shows its
    // progress, and publishes it once no session uses the engine.
    // sessionActive is held set while publishing.
    void Tick(std::time_t now, int& sessionActive, bool modalOpen);
    bool Building() const { return m_job != nullptr; }

    // vizo -timelapse YYYY-MM-DD: builds (and publishes with FTP on) in this
    // thread. The process exit code: 0 done, 1 not, the reason shown.
    int RunCommand(const QString& dayText);

    ArchiveSettings m_settings;

private:
    bool Layout(ArchiveLayout* layout);
    void Status(const QString& text);
    void FinishJob();
    bool Publish(const QString& video, std::time_t day);
    QString RemoteName(std::time_t day) const;

    CUpload& m_engine;
    bool m_bHaveKept = false;
    std::time_t m_timeLastKept = 0;
    bool m_bHaveTidied = false;
    std::time_t m_timeLastTidy = 0;
    std::time_t m_timeLastTried = 0; // day start of the last video attempted
    std::unique_ptr<TimelapseJob> m_job;
    std::time_t m_jobDay = 0;
    int m_nShownDone = -1;
    QString m_strPendingVideo; // built, waiting for the engine
    std::time_t m_pendingDay = 0;
};
