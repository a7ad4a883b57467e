// Retention removes the archive's own old files and nothing else.
#include "ArchiveTestSupport.h"
#include "archive/ArchiveFiles.h"

#include <QDir>
#include <QFile>

namespace
{
class Retention : public ::testing::Test
{
protected:
    ScopedTimeZone tz{"UTC"};
    QTemporaryDir dir;
    ArchiveLayout layout = LayoutIn(dir.filePath("archive"));
    std::time_t now = LocalTime(2026, 12, 10, 12, 0, 0);

    void Make(const QString& rel, int bytes, std::time_t t)
    {
        const QString path = layout.root + "/" + rel;
        ASSERT_TRUE(WriteFile(path, QByteArray(bytes, 'x')));
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
