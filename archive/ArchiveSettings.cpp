#include "ArchiveSettings.h"

#include "config/KeyedStore.h"
#include "config/RunProfile.h"

#include <QStandardPaths>

bool ArchiveSettings::operator==(const ArchiveSettings& o) const
{
    return bUseArchive == o.bUseArchive && strFolder == o.strFolder && strName == o.strName &&
           nMinSecs == o.nMinSecs && nKeepDays == o.nKeepDays && nMaxMB == o.nMaxMB &&
           nMinFreeMB == o.nMinFreeMB && bTimelapse == o.bTimelapse &&
           nTimelapseAt == o.nTimelapseAt && nTimelapseFps == o.nTimelapseFps &&
           strTimelapseRemote == o.strTimelapseRemote;
}

ArchiveSettings LoadArchiveSettings(const Profile* store)
{
    ArchiveSettings s;
    s.bUseArchive = ReadInt(store, Keys::UseArchive);
    s.strFolder = ReadString(store, Keys::ArchiveFolder);
    s.strName = ReadString(store, Keys::ArchiveName);
    s.nMinSecs = ReadInt(store, Keys::ArchiveMinSecs);
    s.nKeepDays = ReadInt(store, Keys::ArchiveKeepDays);
    s.nMaxMB = ReadInt(store, Keys::ArchiveMaxMB);
    s.nMinFreeMB = ReadInt(store, Keys::ArchiveMinFreeMB);
    s.bTimelapse = ReadInt(store, Keys::Timelapse);
    s.nTimelapseAt = ReadInt(store, Keys::TimelapseAt);
    s.nTimelapseFps = ReadInt(store, Keys::TimelapseFps);
    s.strTimelapseRemote = ReadString(store, Keys::TimelapseRemote);
    return s;
}

void SaveArchiveSettings(ArchiveSettings& cur, const ArchiveSettings& e, Profile& store)
{
    WriteIfChanged(store, Keys::UseArchive, cur.bUseArchive, e.bUseArchive);
    WriteIfChanged(store, Keys::ArchiveFolder, cur.strFolder, e.strFolder);
    WriteIfChanged(store, Keys::ArchiveName, cur.strName, e.strName);
    WriteIfChanged(store, Keys::ArchiveMinSecs, cur.nMinSecs, e.nMinSecs);
    WriteIfChanged(store, Keys::ArchiveKeepDays, cur.nKeepDays, e.nKeepDays);
    WriteIfChanged(store, Keys::ArchiveMaxMB, cur.nMaxMB, e.nMaxMB);
    WriteIfChanged(store, Keys::ArchiveMinFreeMB, cur.nMinFreeMB, e.nMinFreeMB);
    WriteIfChanged(store, Keys::Timelapse, cur.bTimelapse, e.bTimelapse);
    WriteIfChanged(store, Keys::TimelapseAt, cur.nTimelapseAt, e.nTimelapseAt);
    WriteIfChanged(store, Keys::TimelapseFps, cur.nTimelapseFps, e.nTimelapseFps);
    WriteIfChanged(store, Keys::TimelapseRemote, cur.strTimelapseRemote, e.strTimelapseRemote);
}

QString DefaultArchiveFolder()
{
    QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (pictures.isEmpty())
        pictures = QStandardPaths::writableLocation(QStandardPaths::HomeLocation);
    const QString& profile = RunProfile();
    return pictures + QStringLiteral("/Vizo/") +
           (profile.isEmpty() ? QString() : profile + QLatin1Char('/')) +
           QStringLiteral("%Y-%m-%d");
}

QString EffectiveFolder(const QString& folder)
{
    return folder.trimmed().isEmpty() ? DefaultArchiveFolder() : folder;
}

QString EffectiveFolder(const ArchiveSettings& s)
{
    return EffectiveFolder(s.strFolder);
}
