#include "ArchiveSettings.h"

#include "app/Profile.h"
#include "app/SettingsKeys.h"

#include <QStandardPaths>

namespace
{
int ReadInt(const Profile* store, const Keys::IntKey& k)
{
    return store ? store->ReadInt(k.section, k.entry, k.def) : k.def;
}

QString ReadString(const Profile* store, const Keys::StrKey& k)
{
    const QString def = QString::fromLatin1(k.def);
    return store ? store->ReadString(k.section, k.entry, def) : def;
}

void Save(Profile& store, const Keys::IntKey& k, int& field, int value)
{
    if (field != value) {
        field = value;
        store.WriteInt(k.section, k.entry, value);
    }
}

void Save(Profile& store, const Keys::StrKey& k, QString& field, const QString& value)
{
    if (field != value) {
        field = value;
        store.WriteString(k.section, k.entry, value);
    }
}
} // namespace

bool ArchiveSettings::operator==(const ArchiveSettings& o) const
{
    return bUseArchive == o.bUseArchive && strFolder == o.strFolder && strName == o.strName &&
           nMinSecs == o.nMinSecs && nKeepDays == o.nKeepDays && nMaxMB == o.nMaxMB &&
           bTimelapse == o.bTimelapse && nTimelapseAt == o.nTimelapseAt &&
           nTimelapseFps == o.nTimelapseFps && strTimelapseRemote == o.strTimelapseRemote;
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
    s.bTimelapse = ReadInt(store, Keys::Timelapse);
    s.nTimelapseAt = ReadInt(store, Keys::TimelapseAt);
    s.nTimelapseFps = ReadInt(store, Keys::TimelapseFps);
    s.strTimelapseRemote = ReadString(store, Keys::TimelapseRemote);
    return s;
}

void SaveArchiveSettings(ArchiveSettings& cur, const ArchiveSettings& e, Profile& store)
{
    Save(store, Keys::UseArchive, cur.bUseArchive, e.bUseArchive);
    Save(store, Keys::ArchiveFolder, cur.strFolder, e.strFolder);
    Save(store, Keys::ArchiveName, cur.strName, e.strName);
    Save(store, Keys::ArchiveMinSecs, cur.nMinSecs, e.nMinSecs);
    Save(store, Keys::ArchiveKeepDays, cur.nKeepDays, e.nKeepDays);
    Save(store, Keys::ArchiveMaxMB, cur.nMaxMB, e.nMaxMB);
    Save(store, Keys::Timelapse, cur.bTimelapse, e.bTimelapse);
    Save(store, Keys::TimelapseAt, cur.nTimelapseAt, e.nTimelapseAt);
    Save(store, Keys::TimelapseFps, cur.nTimelapseFps, e.nTimelapseFps);
    Save(store, Keys::TimelapseRemote, cur.strTimelapseRemote, e.strTimelapseRemote);
}

QString DefaultArchiveFolder()
{
    QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (pictures.isEmpty())
        pictures = QStandardPaths::writableLocation(QStandardPaths::HomeLocation);
    return pictures + QStringLiteral("/Vizo/%Y-%m-%d");
}

QString EffectiveFolder(const ArchiveSettings& s)
{
    return s.strFolder.trimmed().isEmpty() ? DefaultArchiveFolder() : s.strFolder;
}
