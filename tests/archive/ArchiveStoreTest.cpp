// Naming, storing (link or copy, never half-written, never overwriting) and
// which pictures a session's hooks keep.
#include "ArchiveTestSupport.h"
#include "archive/Archive.h"
#include "archive/ArchiveFiles.h"
#include "config/Profile.h"
#include "config/RunProfile.h"
#include "platform/win/ownfile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <cerrno>
#include <sys/stat.h>

namespace
{
struct ScopedFileOps {
    OwnFileOps saved = OwnFiles();
    ~ScopedFileOps() { OwnFiles() = saved; }
};

ino_t Inode(const QString& path)
{
    struct stat st {
    };
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_ino;
}

class ArchiveStore : public ArchiveTest
{
protected:
    QString picture = dir.filePath("vizo.jpg");
    std::time_t noon = LocalTime(2026, 12, 6, 12, 0, 5);
    RecordingPorts ports;
    Archive archive{ports};
    void SetUp() override
    {
        ASSERT_TRUE(WriteFile(picture, QByteArray(5000, 'p')));
        ArchiveSettings& s = archive.m_settings;
        s.bUseArchive = 1;
        s.strFolder = dir.filePath("archive/%Y-%m-%d");
        s.strName = "%H%M%S.jpg";
        s.nMinSecs = 60;
        s.nKeepDays = 0;
    }
};
} // namespace

TEST(ArchiveNames, PatternsExpandAndOnlyOwnNamesMatch)
{
    ScopedTimeZone tz("UTC");
    ArchiveLayout layout;
    QString reason;
    ASSERT_TRUE(MakeArchiveLayout("/srv/cam/%Y/%m-%d", "%H%M%S.jpg", &layout, &reason));
    EXPECT_EQ(layout.root, "/srv/cam");
    EXPECT_EQ(PictureRelPath(layout, LocalTime(2026, 12, 6, 8, 4, 9)), "2026/12-06/080409.jpg");
    EXPECT_EQ(WithCollisionSuffix("2026/12-06/080409.jpg", layout.extensionLen, 2),
              "2026/12-06/080409-2.jpg");
    EXPECT_EQ(TimelapseRelPath(layout, LocalTime(2026, 12, 6, 23, 59, 0)),
              "2026/12-06/timelapse-2026-12-06.mp4");
    for (const char* owned : {"2026/12-06/080409.jpg", "2026/12-06/080409-17.jpg",
                              "2026/12-06/080409.jpg.t03", "2026/12-06/timelapse-2026-12-06.mp4"})
        EXPECT_TRUE(IsOwnedName(layout, owned)) << owned;
    for (const char* foreign :
         {"2026/12-06/notes.txt", "2026/12-06/80409.jpg", "080409.jpg", "2026/12-06/x/080409.jpg",
          "2026/12-06/080409.jpeg", "holiday/12-06/080409.jpg"})
        EXPECT_FALSE(IsOwnedName(layout, foreign)) << foreign;
}

TEST(ArchiveNames, ProfilesGetADefaultFolderOfTheirOwn)
{
    const QString usual = DefaultArchiveFolder();
    SetRunProfile("door");
    const QString door = DefaultArchiveFolder();
    SetRunProfile(QString());
    ASSERT_TRUE(usual.endsWith("/Vizo/%Y-%m-%d")) << usual.toStdString();
    EXPECT_EQ(door, usual.chopped(8) + "door/%Y-%m-%d");
    EXPECT_EQ(EffectiveFolder(QStringLiteral("  ")), usual);
    EXPECT_EQ(EffectiveFolder(QStringLiteral("/srv/cam/%Y")), "/srv/cam/%Y");
}

TEST(ArchiveNames, UnsafePatternsAreRefusedWithAReason)
{
    ArchiveLayout layout;
    const char* cases[][2] = {{"relative/%Y", "%H.jpg"}, {"/%Y-%m-%d", "%H.jpg"},
                              {"/srv/cam", "fixed.jpg"}, {"/srv/cam", "%H%M%S"},
                              {"/srv/cam", "../%H.jpg"}, {"/srv/cam", "a/./%H.jpg"},
                              {"/srv/cam", "%Q%H.jpg"},  {"/srv/cam", "/%H.jpg"}};
    for (const auto& c : cases) {
        QString reason;
        EXPECT_FALSE(MakeArchiveLayout(c[0], c[1], &layout, &reason)) << c[0] << " " << c[1];
        EXPECT_FALSE(reason.isEmpty());
    }
}

TEST(ArchiveNames, DayTextRefusesDatesThatDoNotExist)
{
    ScopedTimeZone tz("UTC");
    EXPECT_EQ(ParseDayText("2026-12-06"), LocalTime(2026, 12, 6, 0, 0, 0));
    for (const char* bad : {"2026-02-30", "2026-13-01", "26-12-06", "2026-12-06x", ""})
        EXPECT_EQ(ParseDayText(bad), -1) << bad;
}

TEST(ArchiveNames, TimelapseIsDueOnceForTheDayBefore)
{
    ScopedTimeZone tz("Europe/Berlin");
    const std::time_t day6 = LocalTime(2026, 12, 6, 0, 0, 0);
    std::time_t day = 0;
    EXPECT_FALSE(TimelapseDue(LocalTime(2026, 12, 7, 0, 4, 59), 300, 0, &day));
    ASSERT_TRUE(TimelapseDue(LocalTime(2026, 12, 7, 0, 5, 0), 300, 0, &day));
    EXPECT_EQ(day, day6);
    EXPECT_FALSE(TimelapseDue(LocalTime(2026, 12, 7, 18, 0, 0), 300, day6, &day));
    // The night the clocks go forward has 23 hours.
    ASSERT_TRUE(TimelapseDue(LocalTime(2027, 3, 29, 1, 0, 0), 300, day6, &day));
    EXPECT_EQ(day, LocalTime(2027, 3, 28, 0, 0, 0));
}

TEST_F(ArchiveStore, SameFileSystemLinksOtherwiseCopies)
{
    StoreResult linked = StorePicture(picture, layout, PictureRelPath(layout, noon));
    ASSERT_TRUE(linked.ok) << linked.error.toStdString();
    EXPECT_TRUE(linked.linked);
    EXPECT_EQ(Inode(linked.path), Inode(picture));

    ScopedFileOps ops;
    OwnFiles().link = [](const char*, const char*) {
        errno = EXDEV;
        return false;
    };
    StoreResult copied = StorePicture(picture, layout, PictureRelPath(layout, noon + 1));
    ASSERT_TRUE(copied.ok) << copied.error.toStdString();
    EXPECT_FALSE(copied.linked);
    EXPECT_NE(Inode(copied.path), Inode(picture));
    EXPECT_EQ(ReadAll(copied.path), QByteArray(5000, 'p'));
    EXPECT_EQ(FilesBelow(layout.root),
              QStringList({"2026-12-06/120005.jpg", "2026-12-06/120006.jpg"}));
}

TEST_F(ArchiveStore, CollisionsGetSuffixesAndNothingIsOverwritten)
{
    ASSERT_TRUE(WriteFile(layout.root + "/2026-12-06/120005.jpg", "earlier"));
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(StorePicture(picture, layout, PictureRelPath(layout, noon)).ok);
    EXPECT_EQ(FilesBelow(layout.root),
              QStringList(
                  {"2026-12-06/120005-1.jpg", "2026-12-06/120005-2.jpg", "2026-12-06/120005.jpg"}));
    EXPECT_EQ(ReadAll(layout.root + "/2026-12-06/120005.jpg"), "earlier");
}

TEST_F(ArchiveStore, FullDiskLeavesNothingHalfWritten)
{
    ScopedFileOps ops;
    OwnFiles().link = [](const char*, const char*) {
        errno = EXDEV;
        return false;
    };
    // The first block goes in, then the disk is full.
    int calls = 0;
    OwnFiles().write = [&calls](int fd, const void* data, size_t size) -> ssize_t {
        if (calls++ == 0)
            return ::write(fd, data, size < 1000 ? size : 1000);
        errno = ENOSPC;
        return -1;
    };
    const StoreResult r = StorePicture(picture, layout, PictureRelPath(layout, noon));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(QString::fromLocal8Bit(strerror(ENOSPC))))
        << r.error.toStdString();
    EXPECT_EQ(FilesBelow(layout.root), QStringList());
}

TEST_F(ArchiveStore, KeepHonoursMinSecondsForFramesAndReportsUnwritableFolders)
{
    QStringList kept;
    for (int offset : {0, 30, 59, 60, 61, 130, 100 /* clock set back */})
        if (archive.Keep(picture, noon + offset, true))
            kept << QString::number(offset);
    EXPECT_EQ(kept, QStringList({"0", "60", "130", "100"}));
    // A single shot is always kept.
    EXPECT_TRUE(archive.Keep(picture, noon + 101, false));
    EXPECT_EQ(FilesBelow(dir.filePath("archive")).size(), 5);

    // Failures are the archive's own state, said once per change.
    ASSERT_TRUE(WriteFile(dir.filePath("blocked"), "a file where a folder should be"));
    const QString folder = archive.m_settings.strFolder;
    archive.m_settings.strFolder = dir.filePath("blocked/%Y-%m-%d");
    EXPECT_FALSE(archive.Keep(picture, noon, false));
    EXPECT_FALSE(archive.Keep(picture, noon, false));
    ASSERT_FALSE(ports.lines.isEmpty());
    EXPECT_TRUE(ports.lines.last().startsWith("Archive folder "))
        << ports.lines.last().toStdString();
    EXPECT_TRUE(QFile::exists(picture));

    archive.m_settings.strName = "fixed.jpg";
    EXPECT_FALSE(archive.Keep(picture, noon, false));
    EXPECT_TRUE(ports.lines.last().startsWith("Archive settings unusable: "));
    archive.m_settings.strFolder = folder;
    archive.m_settings.strName = "%H%M%S.jpg";
    EXPECT_TRUE(archive.Keep(picture, noon + 200, false));
    ASSERT_EQ(ports.states.size(), 3);
    EXPECT_TRUE(ports.states[0].startsWith("failing: Archive folder "));
    EXPECT_TRUE(ports.states[1].startsWith("failing: Archive settings unusable: "));
    EXPECT_EQ(ports.states[2], "ok");
}

TEST_F(ArchiveStore, ALongStreamIsCleanedUpOnceAMinuteAndEachPassSaysWhat)
{
    // 100 kB frames every second, 1 MB allowed: about ten fit.
    ASSERT_TRUE(WriteFile(picture, QByteArray(100000, 'p')));
    archive.m_settings.nMinSecs = 0;
    archive.m_settings.nMaxMB = 1;
    long long mostBytes = 0;
    for (int s = 0; s < 300; ++s) {
        ASSERT_TRUE(archive.Keep(picture, noon + s, true));
        long long bytes = 0;
        for (const QString& f : FilesBelow(dir.filePath("archive")))
            bytes += QFileInfo(dir.filePath("archive/" + f)).size();
        mostBytes = qMax(mostBytes, bytes);
    }
    // Never more than a minute's frames beyond the limit.
    EXPECT_LE(mostBytes, 1048576 + 61 * 100000);
    const QStringList passes = ports.lines.filter("Archive clean-up removed");
    ASSERT_EQ(passes.size(), 4); // at 60, 120, 180 and 240 s
    EXPECT_EQ(passes[0], "Archive clean-up removed 51 files (4.9 MB): archive over 1 MB");
}

TEST_F(ArchiveStore, FoldersOfTheUsersFilesAreSaidOnceAndLeftAlone)
{
    const QString user = dir.filePath("archive/2026-10-01/120000.jpg");
    ASSERT_TRUE(WriteFile(user, "the user's"));
    ASSERT_TRUE(SetModified(user, noon - 60 * 86400));
    archive.m_settings.nKeepDays = 7;
    EXPECT_TRUE(archive.ForeignNotice().isEmpty());
    ASSERT_TRUE(archive.Keep(picture, noon, false));
    archive.Tidy(noon + 120);
    EXPECT_TRUE(QFile::exists(user));
    EXPECT_EQ(ports.lines,
              QStringList({"Archive clean-up leaves alone the files it has no record of writing "
                           "in 1 folder(s): " +
                           dir.filePath("archive/2026-10-01")}));
    EXPECT_EQ(archive.ForeignNotice(),
              "Left alone (not written by Vizo): " + dir.filePath("archive/2026-10-01"));
}

TEST_F(ArchiveStore, ALowDiskPausesTheArchiveWhichResumesByItself)
{
    const QString mount = dir.filePath("small");
    ASSERT_TRUE(QDir().mkpath(mount));
    QProcess m;
    m.start("mount", {"-t", "tmpfs", "-o", "size=8m", "tmpfs", mount});
    if (!m.waitForFinished(10000) || m.exitCode() != 0)
        GTEST_SKIP() << "a small file system needs root to mount";
    struct Unmount {
        QString at;
        ~Unmount() { QProcess::execute("umount", {at}); }
    } unmount{mount};
    archive.m_settings.strFolder = mount + "/cam/%Y-%m-%d";
    archive.m_settings.nMinFreeMB = 4;
    archive.m_settings.nKeepDays = 7;
    ASSERT_TRUE(archive.Keep(picture, noon, false));
    const QString old = mount + "/cam/2026-11-20/120000.jpg";
    ASSERT_TRUE(WriteRecorded(old, QByteArray(100000, 'o'), noon - 10 * 86400));
    ASSERT_TRUE(WriteFile(mount + "/ballast", QByteArray(5 << 20, 'b')));
    ports.lines.clear();

    EXPECT_FALSE(archive.Keep(picture, noon + 10, false));
    EXPECT_FALSE(archive.Keep(picture, noon + 20, false));
    ASSERT_EQ(ports.lines.size(), 2) << ports.lines.join("\n").toStdString();
    EXPECT_TRUE(ports.lines[0].startsWith("Archive paused: 2 MB free on its disk, below 4 MB"))
        << ports.lines[0].toStdString();
    EXPECT_TRUE(ports.lines[1].startsWith("Archive clean-up removed 1 files"));
    EXPECT_FALSE(QFile::exists(old));
    EXPECT_EQ(ports.states, QStringList({"failing: " + ports.lines[0]}));

    ASSERT_TRUE(QFile::remove(mount + "/ballast"));
    EXPECT_TRUE(archive.Keep(picture, noon + 30, false));
    EXPECT_TRUE(ports.lines.last().startsWith("Archive resumes: "))
        << ports.lines.last().toStdString();
    EXPECT_EQ(ports.states.last(), "ok");
    EXPECT_EQ(FilesBelow(mount + "/cam").size(), 2);
}

TEST(ArchiveSettingsStore, DefaultsLeaveTheArchiveOffAndChangesAreWrittenAlone)
{
    ScopedConfigHome home;
    Profile store(home.path() + "/vizo.conf");
    ArchiveSettings s = LoadArchiveSettings(&store);
    EXPECT_EQ(s, LoadArchiveSettings(nullptr));
    EXPECT_EQ(s.bUseArchive, 0);
    EXPECT_EQ(s.bTimelapse, 0);
    EXPECT_EQ(s.strName, "%H%M%S.jpg");
    EXPECT_EQ(s.strTimelapseRemote, "timelapse/%Y-%m-%d.mp4");
    EXPECT_TRUE(EffectiveFolder(s).endsWith("/Vizo/%Y-%m-%d"));

    ArchiveSettings edited = s;
    edited.bUseArchive = 1;
    edited.nKeepDays = 7;
    SaveArchiveSettings(s, edited, store);
    EXPECT_EQ(store.writeLog(), QStringList({"Archive/Use Archive", "Archive/Keep Days"}));
    EXPECT_EQ(LoadArchiveSettings(&store), edited);
}
