// The Archive section: keeping published pictures, their retention, and the
// daily timelapse video.
#pragma once

#include <QString>

class Profile;

struct ArchiveSettings {
    int bUseArchive = 0;
    QString strFolder; // time pattern; empty = DefaultArchiveFolder()
    QString strName;   // time pattern of a picture's name
    int nMinSecs = 60;
    int nKeepDays = 30;   // 0 = keep for ever
    int nMaxMB = 0;       // 0 = no limit
    int nMinFreeMB = 500; // 0 = no guard
    int bTimelapse = 0;
    int nTimelapseAt = 300; // seconds after midnight
    int nTimelapseFps = 25;
    QString strTimelapseRemote;

    bool operator==(const ArchiveSettings& o) const;
};

// A null store yields every default.
ArchiveSettings LoadArchiveSettings(const Profile* store);
// Assigns and writes each value that differs, nothing else.
void SaveArchiveSettings(ArchiveSettings& current, const ArchiveSettings& edited, Profile& store);

// The user's pictures folder followed by /Vizo/%Y-%m-%d, or /Vizo/NAME/%Y-%m-%d
// for a profile, so that two cameras never share an archive by default.
QString DefaultArchiveFolder();
// The folder pattern in force: the stored one, or the default when empty.
QString EffectiveFolder(const QString& folder);
QString EffectiveFolder(const ArchiveSettings& s);
