#include "SessionTestBase.h"
#include "res/resource.h"
#include "session/SeriesNames.h"

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>

namespace
{

QStringList ListLines(const QByteArray& list)
{
    return QString::fromLatin1(list).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Elapsed seconds of each timing-list line.
QList<double> ListTimes(const QByteArray& list)
{
    QList<double> times;
    for (const QString& line : ListLines(list))
        times << line.section(QLatin1Char(' '), 0, 0).toDouble();
    return times;
}

class SeriesTest : public SessionTest
{
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        u.m_nUploadMode = 1;
    }
    QStringList Frames(const QString& base, int n, int width, const QString& ext = "jpg")
    {
        QStringList names;
        for (int k = 0; k < n; ++k)
            names << QStringLiteral("%1.%2.%3")
                         .arg(base)
                         .arg(k, width, 10, QLatin1Char('0'))
                         .arg(ext);
        return names;
    }
};

TEST(SeriesNameRules, WidthSplitAndFrameNames)
{
    const std::pair<unsigned, int> widths[] = {{1, 0},   {2, 1},   {10, 1},  {11, 2},
                                               {100, 2}, {101, 3}, {1000, 3}};
    for (const auto& [n, w] : widths)
        EXPECT_EQ(SeriesIndexWidth(n), w) << n;

    SplitName name;
    ASSERT_TRUE(SplitAtLastDot("/pics/cam.x.jpg", &name));
    EXPECT_EQ(name.base, "/pics/cam.x");
    EXPECT_EQ(name.extension, "jpg");
    EXPECT_EQ(SeriesFrameName(name, 2, 7), "/pics/cam.x.07.jpg");
    EXPECT_EQ(SeriesFrameName(name, 0, 0), "/pics/cam.x.0.jpg");
    EXPECT_EQ(SeriesListName(name), "/pics/cam.x.lst");
    // The only dot in a folder name splits there.
    ASSERT_TRUE(SplitAtLastDot("/cam.d/image", &name));
    EXPECT_EQ(SeriesFrameName(name, 1, 3), "/cam.3.d/image");
    EXPECT_FALSE(SplitAtLastDot("/cam/image", &name));

    // Placeholders in the user's names are text, not slots for the index.
    ASSERT_TRUE(SplitAtLastDot("/w/%1%2F%3A.j%1", &name));
    EXPECT_EQ(SeriesFrameName(name, 3, 42), "/w/%1%2F%3A.042.j%1");
}

TEST_F(SeriesTest, OneFrameHasNoIndexWidth)
{
    u.m_nNumSeries = 1;
    RunSession();
    EXPECT_TRUE(IsJpeg(ReadLocal("cam.0.jpg")));
    EXPECT_EQ(ReadLocal("cam.lst"), QByteArray("0.00 0\n"));
    EXPECT_EQ(server.ListFiles(), (QStringList{"cam.0.jpg", "cam.lst"}));
    EXPECT_EQ(server.ReadFile("cam.0.jpg"), ReadLocal("cam.0.jpg"));
    EXPECT_EQ(server.ReadFile("cam.lst"), QByteArray("0.00 0\n"));
    const QStringList lines = SessionLines();
    EXPECT_TRUE(lines.contains("Sending frame 1/1..."));
    EXPECT_TRUE(lines.contains("Sending timing list file..."));
    EXPECT_EQ(lines.last(), "Uploaded series at " + StartText());
    // Quiet transfers: no per-file progress lines.
    EXPECT_FALSE(lines.filter("Starting FTP transfer").size());
}

TEST_F(SeriesTest, TwelveFramesAtFourPerSecond)
{
    u.m_nNumSeries = 12;
    u.m_fMaxFps = 4;
    RunSession();
    QStringList expected = Frames("cam", 12, 2);
    EXPECT_EQ(server.ListFiles(), expected << "cam.lst");
    const QByteArray list = ReadLocal("cam.lst");
    ASSERT_EQ(ListLines(list).size(), 12);
    EXPECT_TRUE(ListLines(list)[11].endsWith(" 11"));
    const QList<double> t = ListTimes(list);
    EXPECT_EQ(t[0], 0.0);
    for (int k = 1; k < t.size(); ++k)
        EXPECT_NEAR(t[k] - t[k - 1], 0.25, 0.06) << k;
    const QString last = SessionLines().filter("Capturing frames 12/12... (").value(0);
    const double rate = last.section('(', 1).section(' ', 0, 0).toDouble();
    EXPECT_NEAR(rate, 4.0, 0.3) << last.toStdString();
    // No temporary or aside names were left behind.
    EXPECT_EQ(server.ListFiles().filter(QRegularExpression("\\.[td]\\d\\d$")).size(), 0);
}

TEST_F(SeriesTest, HundredFramesUseTwoDigits)
{
    u.m_nNumSeries = 100;
    u.m_fMaxFps = 30;
    RunSession();
    QStringList expected = Frames("cam", 100, 2);
    EXPECT_EQ(server.ListFiles(), expected << "cam.lst");
    EXPECT_EQ(server.ReadFile("cam.57.jpg"), ReadLocal("cam.57.jpg"));
    EXPECT_TRUE(ListLines(ReadLocal("cam.lst"))[99].endsWith(" 99"));
    EXPECT_EQ(server.CountCommands("USER"), 1); // one connection for the whole series
    EXPECT_EQ(SessionLines().last(), "Uploaded series at " + StartText());
}

TEST_F(SeriesTest, NoFramesStillSendsTheEmptyList)
{
    u.m_nNumSeries = 0;
    RunSession();
    EXPECT_EQ(ReadLocal("cam.lst"), QByteArray());
    EXPECT_EQ(server.ListFiles(), QStringList{"cam.lst"});
    const QString host = server.Address();
    EXPECT_EQ(SessionLines(),
              (QStringList{"Starting capture...", "Opening FTP session to " + host + "...",
                           "FTP session to " + host + " opened.", "Sending timing list file...",
                           "Closing FTP session...", "FTP session closed.",
                           "Uploaded series at " + StartText()}));
}

TEST_F(SeriesTest, WithoutFtpOnlyLocalFiles)
{
    u.m_bUseFtp = 0;
    u.m_nNumSeries = 3;
    RunSession();
    for (const QString& f : Frames("cam", 3, 1))
        EXPECT_TRUE(IsJpeg(ReadLocal(f))) << f.toStdString();
    EXPECT_EQ(ListLines(ReadLocal("cam.lst")).size(), 3);
    EXPECT_TRUE(server.ListFiles().isEmpty());
    EXPECT_TRUE(SessionLines().filter("Sending").isEmpty());
    EXPECT_EQ(SessionLines().last(), "Uploaded series at " + StartText());
}

TEST_F(SeriesTest, ListIsNeverWrittenThroughAPlantedLink)
{
    QTemporaryDir outside;
    const QString victim = outside.filePath("victim");
    QFile v(victim);
    ASSERT_TRUE(v.open(QIODevice::WriteOnly) && v.write("not yours") == 9);
    v.close();
    ASSERT_TRUE(QFile::link(victim, Local("cam.lst")));
    u.m_bUseFtp = 0;
    u.m_nNumSeries = 2;
    RunSession();
    QFile check(victim);
    ASSERT_TRUE(check.open(QIODevice::ReadOnly));
    EXPECT_EQ(check.readAll(), QByteArray("not yours"));
    EXPECT_FALSE(QFileInfo(Local("cam.lst")).isSymLink());
    EXPECT_EQ(ListLines(ReadLocal("cam.lst")).size(), 2);
}

TEST_F(SeriesTest, NamesWithoutExtensionAreRefused)
{
    u.m_strLocalPath = Local("nodot");
    RunSession();
    EXPECT_EQ(SessionLines(),
              (QStringList{"Starting capture...", "Invalid local pathname '" + Local("nodot") +
                                                      "' (does not contain file extension)"}));
    u.m_strLocalPath = Local("cam.jpg");
    u.m_strRemotePath = "pub/cam";
    RunSession();
    EXPECT_EQ(
        SessionLines().last(),
        QStringLiteral("Invalid remote pathname 'pub/cam' (does not contain file extension)"));
    EXPECT_TRUE(server.ListFiles().isEmpty());
}

TEST_F(SeriesTest, AbortWhileCapturingSendsNothing)
{
    u.m_nNumSeries = 10;
    u.m_fMaxFps = 5;
    OnStatus("Capturing frames 3/10", [this] { PostClick(1002); });
    RunSession();
    EXPECT_TRUE(server.ListFiles().isEmpty());
    EXPECT_EQ(server.CountCommands("USER"), 0);
    EXPECT_LT(ListLines(ReadLocal("cam.lst")).size(), 10);
    EXPECT_EQ(SessionLines().last(), "Aborted series at " + StartText());
    EXPECT_EQ(wnd.m_bPaused, 0);
}

// Upload now is greyed while a session runs and Abort enabled, menu and
// buttons alike; the Abort menu item stops the series; both revert at the end.
TEST_F(SeriesTest, SessionMenuItemsDuringAndAfter)
{
    u.m_nNumSeries = 10;
    u.m_fMaxFps = 5;
    bool uploadNow = true, abortItem = false, uploadButton = true, abortButton = false;
    std::time_t nextDuring = 0;
    OnStatus("Capturing frames 2/10", [&] {
        uploadNow = wnd.MenuItem(ID_SESSION_UPLOADNOW)->isEnabled();
        abortItem = wnd.MenuItem(ID_SESSION_ABORT)->isEnabled();
        uploadButton = wnd.GetDlgItem(1001)->isEnabled();
        abortButton = wnd.GetDlgItem(1002)->isEnabled();
        nextDuring = app.m_timeNextUpload;
        wnd.MenuItem(ID_SESSION_UPLOADNOW)->trigger(); // greyed: no effect
        EXPECT_EQ(app.m_timeNextUpload, nextDuring);
        wnd.MenuItem(ID_SESSION_ABORT)->trigger();
    });
    RunSession();
    EXPECT_FALSE(uploadNow);
    EXPECT_TRUE(abortItem);
    EXPECT_FALSE(uploadButton);
    EXPECT_TRUE(abortButton);
    EXPECT_EQ(SessionLines().last(), "Aborted series at " + StartText());
    EXPECT_LT(ListLines(ReadLocal("cam.lst")).size(), 10);
    EXPECT_TRUE(wnd.MenuItem(ID_SESSION_UPLOADNOW)->isEnabled());
    EXPECT_FALSE(wnd.MenuItem(ID_SESSION_ABORT)->isEnabled());
    EXPECT_TRUE(wnd.GetDlgItem(1001)->isEnabled());
    EXPECT_FALSE(wnd.GetDlgItem(1002)->isEnabled());
    // After the session Upload now works again and Abort does nothing to the next one.
    u.m_bAbort = 0;
    wnd.MenuItem(ID_SESSION_UPLOADNOW)->trigger();
    EXPECT_EQ(app.m_timeNextUpload, CCameraApp::Now() + 1);
}

// Closing the window mid-series: the series runs to its end in the real modal
// loop, and only then does the window end and let the camera go.
TEST_F(SeriesTest, ClosingTheWindowWaitsForTheSeries)
{
    u.m_nNumSeries = 5;
    u.m_fMaxFps = 5;
    QStringList order;
    OnStatus("Capturing frames 2/5", [&] {
        order << "close";
        QTimer::singleShot(0, &wnd, [this] { wnd.close(); });
    });
    ModalAnswer modal([&](QDialog& d) {
        wnd.m_bPaused = 0;
        QTimer::singleShot(0, &d, [&] {
            app.RunUploadSession();
            order << "session returned";
        });
        return d.exec();
    });
    app.m_timeNextUpload = CCameraApp::Now() + 3600;
    EXPECT_EQ(wnd.DoModal(), IDCANCEL);
    order << "window ended";
    EXPECT_EQ(order, (QStringList{"close", "session returned", "window ended"}));
    EXPECT_EQ(SessionLines().last(), "Uploaded series at " + StartText());
    EXPECT_EQ(server.ListFiles(), (Frames("cam", 5, 1) << "cam.lst"));
}

TEST_F(SeriesTest, AbortWhileSendingStillTriesTheList)
{
    u.m_nNumSeries = 10;
    u.m_fMaxFps = 30;
    OnStatus("Sending frame 3/10", [this] { PostClick(1002); });
    RunSession();
    const QStringList sent = server.ListFiles();
    EXPECT_GE(sent.size(), 2);
    EXPECT_LT(sent.size(), 10);
    EXPECT_FALSE(sent.contains("cam.lst")); // its connection was closed by the abort
    const QStringList lines = SessionLines();
    EXPECT_TRUE(lines.contains("Sending timing list file..."));
    EXPECT_TRUE(lines.last().startsWith("Aborted series at ")) << lines.last().toStdString();
}

TEST_F(SeriesTest, GrabFailingHalfWayStillSendsWhatWasCaptured)
{
    qputenv("VIZO_VIDEO_SOURCES", "Short=lavfi:testsrc2=size=160x120:rate=10:duration=0.5");
    u.m_nNumSeries = 10;
    u.m_fMaxFps = 5;
    RunSession();
    const int captured = ListLines(ReadLocal("cam.lst")).size();
    EXPECT_GE(captured, 1);
    EXPECT_LT(captured, 10);
    const QStringList lines = SessionLines();
    EXPECT_TRUE(lines.contains("Could not grab frame..."));
    // Frames never written fail to send; the list still goes.
    EXPECT_TRUE(lines.contains("FTP session failed"));
    EXPECT_TRUE(server.HasFile("cam.lst"));
    EXPECT_EQ(server.ListFiles().filter(".jpg").size(), captured);
    EXPECT_TRUE(lines.last().startsWith("Failed series at ")) << lines.last().toStdString();
}

TEST_F(SeriesTest, PauseIsLeftOutOfTimesAndRate)
{
    u.m_bUseFtp = 0;
    u.m_nNumSeries = 6;
    u.m_fMaxFps = 4;
    OnStatus("Capturing frames 2/6", [this] {
        PostClick(1054);
        QTimer::singleShot(2000, [this] { PostClick(1054); });
    });
    RunSession();
    const QList<double> t = ListTimes(ReadLocal("cam.lst"));
    ASSERT_EQ(t.size(), 6);
    for (int k = 1; k < 6; ++k)
        EXPECT_NEAR(t[k] - t[k - 1], 0.25, 0.08) << k;
    const QString last = SessionLines().filter("Capturing frames 6/6... (").value(0);
    EXPECT_NEAR(last.section('(', 1).section(' ', 0, 0).toDouble(), 4.0, 0.4);
    EXPECT_EQ(wnd.m_bPaused, 0);
}

} // namespace
