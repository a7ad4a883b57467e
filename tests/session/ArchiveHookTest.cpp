// The archive as sessions use it: kept pictures are the published ones, at
// most one per Min Seconds in a stream, and a broken archive never stops the
// upload.
#include "SessionTestBase.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTimer>

namespace
{
class ArchiveHookTest : public SessionTest
{
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        ArchiveSettings& s = app.m_archive.m_settings;
        s.bUseArchive = 1;
        s.strFolder = Local("archive/%Y-%m-%d");
        s.strName = "%H%M%S.jpg";
        s.nKeepDays = 0;
    }
    QStringList Archived() const
    {
        QStringList out;
        QDirIterator it(Local("archive"), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            out << QDir(Local("archive")).relativeFilePath(it.next());
        out.sort();
        return out;
    }
    int FrameLines() const
    {
        return SessionLines().filter(QRegularExpression("^Succesful upload at .* fps\\)$")).size();
    }
    void RunStreamFor(int ms)
    {
        u.m_nUploadMode = 2;
        u.m_fMaxFps = 10;
        OnStatus("Succesful upload at",
                 [this, ms] { QTimer::singleShot(ms, [this] { PostClick(1002); }); });
        RunSession();
    }
};

TEST_F(ArchiveHookTest, SingleShotKeepsThePublishedPicture)
{
    FixedClock clock(LocalTime(2026, 1, 14, 12, 0, 0));
    RunSession();
    ASSERT_EQ(Archived(), QStringList{"2026-01-14/120000.jpg"});
    QFile kept(Local("archive/2026-01-14/120000.jpg"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), server.ReadFile("cam.jpg"));
}

TEST_F(ArchiveHookTest, StreamKeepsOnePicturePerMinSeconds)
{
    FixedClock clock(LocalTime(2026, 1, 14, 12, 0, 0));
    app.m_archive.m_settings.nMinSecs = 60;
    RunStreamFor(500);
    EXPECT_GE(FrameLines(), 3);
    EXPECT_EQ(Archived(), QStringList{"2026-01-14/120000.jpg"});
}

TEST_F(ArchiveHookTest, StreamWithoutALimitKeepsEveryFrameUnderItsOwnName)
{
    FixedClock clock(LocalTime(2026, 1, 14, 12, 0, 0));
    app.m_archive.m_settings.nMinSecs = 0;
    RunStreamFor(300);
    const QStringList kept = Archived();
    EXPECT_EQ(kept.size(), FrameLines());
    EXPECT_TRUE(kept.contains("2026-01-14/120000-1.jpg")) << kept.join(" ").toStdString();
}

TEST_F(ArchiveHookTest, UnwritableArchiveIsReportedAndTheUploadStands)
{
    QFile blocker(Local("archive"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    RunSession();
    const QStringList lines = SessionLines();
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines.last().startsWith("Archive folder ")) << lines.last().toStdString();
    EXPECT_EQ(lines[lines.size() - 2], "Succesful upload at " + StartText());
    EXPECT_EQ(server.ListFiles(), QStringList{"cam.jpg"});
}
} // namespace
