// Retention removes the old files the archive recorded writing, and nothing
// else.
#include "ArchiveTestSupport.h"
#include "archive/ArchiveFiles.h"

#include <QDir>
#include <QFile>

namespace
{
class Retention : public ArchiveTest
{
protected:
    std::time_t now = LocalTime(2026, 12, 10, 12, 0, 0);

    void Make(const QString& rel, int bytes, std::time_t t)
    {
        ASSERT_TRUE(WriteRecorded(layout.root + "/" + rel, QByteArray(bytes, 'x'), t));
    }
    void MakeForeign(const QString& rel, int bytes, std::time_t t)
    {
        const QString path = layout.root + "/" + rel;
        ASSERT_TRUE(WriteFile(path, QByteArray(bytes, 'u')));
        ASSERT_TRUE(SetModified(path, t));
    }
};
} // namespace

TEST_F(Retention, OldFilesGoThenOldestBeyondTheLimitAndEmptiedFoldersWithThem)
{
    Make("2026-12-01/120000.jpg", 1000, LocalTime(2026, 12, 1, 12, 0, 0));
    Make("2026-12-01/timelapse-2026-12-01.mp4", 1000, LocalTime(2026, 12, 2, 0, 5, 0));
    Make("2026-12-08/120000.jpg", 1000, LocalTime(2026, 12, 8, 12, 0, 0));
    Make("2026-12-09/120000.jpg", 1000, LocalTime(2026, 12, 9, 12, 0, 0));
    Make("2026-12-09/120000-1.jpg", 1000, LocalTime(2026, 12, 9, 12, 0, 1));
    Make("2026-12-10/110000.jpg", 1000, LocalTime(2026, 12, 10, 11, 0, 0));

    RetentionResult r = ApplyRetention(layout, now, 7, 0);
    EXPECT_EQ(r.removed, 2);
    EXPECT_EQ(r.foldersRemoved, 1);
    EXPECT_FALSE(QDir(layout.root + "/2026-12-01").exists());

    // 4000 bytes left, 2500 allowed: the two oldest go.
    r = ApplyRetention(layout, now, 7, 2500);
    EXPECT_EQ(r.removed, 2);
    EXPECT_EQ(FilesBelow(layout.root),
              QStringList({"2026-12-09/120000-1.jpg", "2026-12-10/110000.jpg"}));
    EXPECT_TRUE(r.errors.isEmpty());

    // 0 keeps for ever.
    EXPECT_EQ(ApplyRetention(layout, now + 400 * 86400, 0, 0).removed, 0);
}

TEST_F(Retention, PlantedLinksForeignFilesAndOtherFoldersSurvive)
{
    const std::time_t old = LocalTime(2026, 1, 1, 12, 0, 0);
    QTemporaryDir outside;
    const QString victim = outside.filePath("120000.jpg");
    ASSERT_TRUE(WriteFile(victim, "precious"));
    ASSERT_TRUE(SetModified(victim, old));
    ASSERT_TRUE(WriteFile(outside.filePath("2026-01-01/120000.jpg"), "also precious"));
    ASSERT_TRUE(SetModified(outside.filePath("2026-01-01/120000.jpg"), old));

    Make("2026-01-01/120000.jpg", 10, old);
    // Recorded, but not named as the archive names its files.
    Make("2026-01-01/notes.txt", 10, old);
    Make("2026-01-01/120000.jpg.bak", 10, old);
    Make("holiday/120000.jpg", 10, old);
    Make("120000.jpg", 10, old);
    ASSERT_TRUE(QDir().mkpath(layout.root + "/2026-01-02"));
    // A link named like a picture, and a dated folder that is a link.
    ASSERT_TRUE(QFile::link(victim, layout.root + "/2026-01-02/120001.jpg"));
    ASSERT_TRUE(QFile::link(outside.filePath("2026-01-01"), layout.root + "/2026-01-03"));

    const RetentionResult r = ApplyRetention(layout, now, 1, 1);
    EXPECT_EQ(r.removed, 1);
    EXPECT_EQ(FilesBelow(layout.root),
              QStringList({"120000.jpg", "2026-01-01/120000.jpg.bak", "2026-01-01/notes.txt",
                           "2026-01-02/120001.jpg", "holiday/120000.jpg"}));
    EXPECT_TRUE(QFileInfo(layout.root + "/2026-01-03").isSymLink());
    EXPECT_TRUE(QFile::exists(victim));
    EXPECT_TRUE(QFile::exists(outside.filePath("2026-01-01/120000.jpg")));
    // Folders that still hold something stay.
    EXPECT_TRUE(QDir(layout.root + "/2026-01-01").exists());
    EXPECT_TRUE(QDir(layout.root + "/2026-01-02").exists());
}

TEST_F(Retention, AMissingRootIsNotAnError)
{
    const RetentionResult r = ApplyRetention(LayoutIn(dir.filePath("never-made")), now, 1, 1);
    EXPECT_EQ(r.removed, 0);
    EXPECT_TRUE(r.errors.isEmpty());
}

TEST_F(Retention, FilesWithoutARecordAreNeverRemovedAndTheirFoldersAreNamed)
{
    // The user's own pictures, named as ours, two months old, in a folder the
    // archive also wrote to and in one it never did.
    const std::time_t old = LocalTime(2026, 10, 10, 12, 0, 0);
    for (const char* name : {"120000.jpg", "235959.jpg", "120000-1.jpg", "120000.jpg.t07"})
        MakeForeign(QString("2026-10-10/") + name, 100, old);
    MakeForeign("2026-10-11/120000.jpg", 100, old);
    Make("2026-10-10/130000.jpg", 100, old);
    // Recorded, then replaced by the user with something else.
    Make("2026-10-10/140000.jpg", 100, old);
    MakeForeign("2026-10-10/140000.jpg", 200, old);
    Make("2026-12-10/110000.jpg", 100, now - 3600);

    const RetentionResult r = ApplyRetention(layout, now, 7, 0);
    EXPECT_EQ(r.removed, 1);
    EXPECT_EQ(
        FilesBelow(layout.root),
        QStringList({"2026-10-10/120000-1.jpg", "2026-10-10/120000.jpg",
                     "2026-10-10/120000.jpg.t07", "2026-10-10/140000.jpg", "2026-10-10/235959.jpg",
                     "2026-10-11/120000.jpg", "2026-12-10/110000.jpg"}));
    QStringList foreign = r.foreignFolders;
    foreign.sort();
    EXPECT_EQ(foreign, QStringList({layout.root + "/2026-10-10", layout.root + "/2026-10-11"}));
}

TEST_F(Retention, AgesCountFromTheNewestPictureToTheSecond)
{
    const std::time_t newest = now - 3 * 86400;
    Make("2026-12-07/120000.jpg", 10, newest);
    Make("2026-12-01/000000.jpg", 10, newest - 6 * 86400 - 43200);
    Make("2026-11-30/120000.jpg", 10, newest - 7 * 86400);
    Make("2026-11-30/115959.jpg", 10, newest - 7 * 86400 - 1);

    // A clock far ahead or far back ages nothing by itself.
    EXPECT_EQ(ApplyRetention(layout, now + 400 * 86400, 7, 0).removed, 1);
    EXPECT_EQ(
        FilesBelow(layout.root),
        QStringList({"2026-11-30/120000.jpg", "2026-12-01/000000.jpg", "2026-12-07/120000.jpg"}));
    EXPECT_EQ(ApplyRetention(layout, now - 400 * 86400, 7, 0).removed, 0);
    EXPECT_EQ(FilesBelow(layout.root).size(), 3);
}

TEST_F(Retention, ATornLastLineOfTheRecordVouchesForNothing)
{
    const std::time_t old = LocalTime(2026, 10, 10, 12, 0, 0);
    Make("2026-10-10/120000.jpg", 10, old);
    MakeForeign("2026-10-10/130000.jpg", 10, old);
    QFile record(layout.root + "/2026-10-10/.vizo-archive");
    ASSERT_TRUE(record.open(QIODevice::Append));
    record.write("10 130000.jpg"); // a crash before the line ended
    record.close();
    Make("2026-12-10/110000.jpg", 10, now - 3600);
    EXPECT_EQ(ApplyRetention(layout, now, 7, 0).removed, 1);
    EXPECT_EQ(FilesBelow(layout.root),
              QStringList({"2026-10-10/130000.jpg", "2026-12-10/110000.jpg"}));
}
