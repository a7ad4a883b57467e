#include "app/Browser.h"
#include "app/CAboutBox.h"
#include "app/CCameraApp.h"
#include "res/resource.h"
#include "session/CCameraDlg.h"
#include "testsupport.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <gtest/gtest.h>

namespace
{

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// A stand-in browser registered for HTML in a scratch XDG tree; it writes the
// arguments it was started with into a file.
class StandInBrowser
{
public:
    StandInBrowser()
    {
        const QString root = dir.path();
        output = root + "/args.txt";
        const QString script = root + "/browser.sh";
        WriteFile(script, "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > \"" +
                              output.toLocal8Bit() + ".tmp\"\nmv \"" + output.toLocal8Bit() +
                              ".tmp\" \"" + output.toLocal8Bit() + "\"\n");
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        WriteFile(root + "/data/applications/standin.desktop",
                  "[Desktop Entry]\nType=Application\nName=Stand-in\nExec=" + script.toLocal8Bit() +
                      " --new-window %u\n");
        WriteFile(root + "/config/mimeapps.list",
                  "[Default Applications]\ntext/html=standin.desktop;other.desktop\n");
    }
    // The arguments the browser was started with; empty when it was not started.
    QStringList Arguments(int waitMs = 5000)
    {
        WaitFor([this] { return QFile::exists(output); }, waitMs);
        QFile f(output);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    QTemporaryDir dir;
    QString output;
    ScopedEnv dataHome{"XDG_DATA_HOME", (dir.path() + "/data").toLocal8Bit()};
    ScopedEnv configHome{"XDG_CONFIG_HOME", (dir.path() + "/config").toLocal8Bit()};
    ScopedEnv dataDirs{"XDG_DATA_DIRS", (dir.path() + "/none").toLocal8Bit()};
    ScopedEnv configDirs{"XDG_CONFIG_DIRS", (dir.path() + "/none").toLocal8Bit()};
};

class CommandsTest : public ::testing::Test
{
protected:
    ScopedConfigHome home;
    FixedClock clock{1700000000};
    MessageBoxRecorder boxes;
    CCameraApp app;
    CCameraDlg wnd;
    void SetUp() override
    {
        app.m_pMainWnd = &wnd;
        app.m_timeNextUpload = clock.now + 600;
    }
    void Trigger(int id) { wnd.MenuItem(id)->trigger(); }
};

TEST_F(CommandsTest, ExitEndsTheMainWindowWithOne)
{
    int result = -1;
    ModalAnswer modal([&](QDialog& d) {
        d.show();
        Trigger(ID_APP_EXIT);
        result = d.result();
        return result;
    });
    EXPECT_EQ(wnd.DoModal(), 1);
    EXPECT_EQ(result, 1);
}

TEST_F(CommandsTest, AboutHoldsTheScheduleWhileOpen)
{
    int modalDuring = -1;
    QString title;
    QStringList texts;
    ModalAnswer modal([&](QDialog& d) {
        modalDuring = app.m_bModalOpen;
        title = d.windowTitle();
        // A tick due now starts nothing while the box is open.
        app.m_timeNextUpload = clock.now;
        app.OnScheduleTick(clock.now);
        for (QLabel* l : d.findChildren<QLabel*>())
            texts << l->text();
        return IDOK;
    });
    Trigger(ID_APP_ABOUT);
    EXPECT_EQ(modalDuring, 1);
    EXPECT_EQ(app.m_bModalOpen, 0);
    EXPECT_EQ(title, QStringLiteral("About Vizo"));
    EXPECT_TRUE(texts.contains(QStringLiteral("Vizo Version 1.12")));
    EXPECT_EQ(app.m_timeLastStart, 0); // no session ran
}

TEST_F(CommandsTest, UploadNowAndAbortReachTheirTargets)
{
    wnd.ShowNextUpload(app.m_timeNextUpload);
    const QString label = wnd.GetDlgItem(IDC_NEXT_UPLOAD)->property("text").toString();
    wnd.EnableMenuItem(ID_SESSION_UPLOADNOW, true);
    Trigger(ID_SESSION_UPLOADNOW);
    EXPECT_EQ(app.m_timeNextUpload, clock.now + 1);
    EXPECT_EQ(wnd.GetDlgItem(IDC_NEXT_UPLOAD)->property("text").toString(), label);
    wnd.EnableMenuItem(ID_SESSION_ABORT, true);
    Trigger(ID_SESSION_ABORT);
    EXPECT_EQ(app.m_upload.m_bAbort, 1);
}

TEST_F(CommandsTest, HelpOpensTheLocalManualInTheRegisteredBrowser)
{
    StandInBrowser browser;
    QTemporaryDir programDir;
    const auto savedPath = CCameraApp::s_programPath;
    const QString exe = programDir.path() + "/vizo";
    CCameraApp::s_programPath = [exe] { return exe; };
    WriteFile(programDir.path() + "/Manual/Manual.htm", "<html></html>");
    Trigger(ID_HELP_FINDER);
    EXPECT_EQ(browser.Arguments(),
              (QStringList{"--new-window", "file://" + programDir.path() + "/Manual/Manual.htm"}));
    CCameraApp::s_programPath = savedPath;
}

TEST_F(CommandsTest, HelpWithoutManualOpensTheOnlineOneAndHomePageToo)
{
    QStringList started;
    const auto savedStart = CCameraApp::s_startProcess;
    CCameraApp::s_startProcess = [&](const QString& p, const QStringList& a, bool) {
        started << p << a;
        return true;
    };
    StandInBrowser browser;
    QTemporaryDir programDir;
    const auto savedPath = CCameraApp::s_programPath;
    const QString exe = programDir.path() + "/vizo";
    CCameraApp::s_programPath = [exe] { return exe; };
    Trigger(ID_HELP_FINDER);
    Trigger(ID_HELP_HOMEPAGE);
    EXPECT_EQ(started.mid(1), (QStringList{"--new-window", CCameraApp::s_szOnlineManual,
                                           browser.dir.path() + "/browser.sh", "--new-window",
                                           CCameraApp::s_szHomePage}));
    CCameraApp::s_programPath = savedPath;
    CCameraApp::s_startProcess = savedStart;
}

// A stock desktop: nobody chose, the first choice is not installed, and the
// handler is known only from the desktop's lists or the MIME cache.
TEST(BrowserLookup, FallsThroughToWhatTheDesktopWouldOpen)
{
    StandInBrowser browser;
    const QString root = browser.dir.path();
    const QString apps = root + "/data/applications/";
    const QString standIn = root.toUtf8() + "/browser.sh --new-window %u";
    ScopedEnv path("PATH", (root + "/empty").toLocal8Bit());
    WriteFile(root + "/config/mimeapps.list", "[Default Applications]\ntext/html=gone.desktop\n");
    EXPECT_EQ(RegisteredHtmlCommand(), QString()) << "no opener on PATH either";

    WriteFile(apps + "mimeinfo.cache", "[MIME Cache]\ntext/html=gone.desktop;standin.desktop;\n");
    EXPECT_EQ(RegisteredHtmlCommand(), standIn);

    WriteFile(apps + "added.desktop", "[Desktop Entry]\nExec=added %u\n");
    WriteFile(root + "/config/mimeapps.list", "[Default Applications]\ntext/html=gone.desktop\n"
                                              "[Added Associations]\ntext/html=added.desktop\n");
    EXPECT_EQ(RegisteredHtmlCommand(), "added %u");

    WriteFile(root + "/config/mimeapps.list", "[Default Applications]\ntext/html=gone.desktop\n");
    WriteFile(apps + "other.desktop", "[Desktop Entry]\nExec=other %u\n");
    WriteFile(apps + "defaults.list", "[Default Applications]\ntext/html=other.desktop\n");
    EXPECT_EQ(RegisteredHtmlCommand(), "other %u");

    ScopedEnv desktop("XDG_CURRENT_DESKTOP", "X-Cinnamon:GNOME");
    WriteFile(root + "/config/gnome-mimeapps.list",
              "[Default Applications]\ntext/html=standin.desktop\n");
    EXPECT_EQ(RegisteredHtmlCommand(), standIn);

    // A hidden entry counts as not installed.
    WriteFile(apps + "standin.desktop", "[Desktop Entry]\nHidden=true\nExec=x\n");
    EXPECT_EQ(RegisteredHtmlCommand(), "other %u");
}

TEST_F(CommandsTest, WithoutAnyHandlerTheDesktopsOpenerGetsTheUrl)
{
    StandInBrowser browser;
    QFile::remove(browser.dir.path() + "/config/mimeapps.list");
    const QString bin = browser.dir.path() + "/bin";
    ASSERT_TRUE(QDir().mkpath(bin));
    ASSERT_TRUE(QFile::copy(browser.dir.path() + "/browser.sh", bin + "/xdg-open"));
    ScopedEnv path("PATH", (bin + ":/usr/bin:/bin").toLocal8Bit());
    Trigger(ID_HELP_HOMEPAGE);
    EXPECT_EQ(browser.Arguments(), QStringList{CCameraApp::s_szHomePage});
    EXPECT_TRUE(boxes.texts.isEmpty());
}

TEST_F(CommandsTest, NoHandlerAndNoOpenerStartsNothingAndSaysNothing)
{
    StandInBrowser browser;
    QFile::remove(browser.dir.path() + "/config/mimeapps.list");
    ScopedEnv path("PATH", (browser.dir.path() + "/empty").toLocal8Bit());
    Trigger(ID_HELP_HOMEPAGE);
    EXPECT_TRUE(browser.Arguments(300).isEmpty());
    EXPECT_TRUE(boxes.texts.isEmpty());
}

TEST(BrowserCommand, FieldCodesAreDroppedAndTheUrlAppended)
{
    EXPECT_EQ(BrowserCommandLine("firefox %u", "file:///a b.htm"),
              (QStringList{"firefox", "file:///a b.htm"}));
    EXPECT_EQ(BrowserCommandLine("\"/opt/my browser/run\" --x=100%% %U", "u"),
              (QStringList{"/opt/my browser/run", "--x=100%", "u"}));
    EXPECT_TRUE(BrowserCommandLine("", "u").isEmpty());
}

} // namespace
