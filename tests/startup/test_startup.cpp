#include "app/CCameraApp.h"
#include "app/CColorWarningDlg.h"
#include "app/CommandLine.h"
#include "config/Profile.h"
#include "platform/afx/log.h"
#include "session/CCameraDlg.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace
{

const QString kInternetMissing = QStringLiteral(
    "Failed to load Internet extensions.\n\nPlease reinstall Vizo, and make sure you "
    "choose\nto install the Internet System Extensions");
const QString kDialupMissing =
    QStringLiteral("Failed to load dial-up networking.\n\nVizo will be limited to using "
                   "LAN\nnetworking (if available).");
const QString kNoDevice = QStringLiteral(
    "Your system does not have a\nvideo capture device installed.\nVizo will run, but will "
    "not be able\nto grab and upload any images.");

// Runs start-up in a scratch program directory and settings store, with every
// seam recorded: message boxes, modal dialogs, processes, display depth.
class StartupTest : public ::testing::Test
{
protected:
    ScopedConfigHome home;
    QTemporaryDir programDir;
    MessageBoxRecorder boxes;
    FixedClock clock{1700000000};
    QList<QPair<QString, bool>> started;
    int depth = 24;
    int mainWindowRuns = 0;
    std::function<int(QDialog&)> onColourWarning = [](QDialog&) { return IDOK; };
    std::function<void(CCameraApp&)> onMainWindow = [](CCameraApp&) {};

    decltype(CCameraApp::s_programPath) savedPath = CCameraApp::s_programPath;
    decltype(CCameraApp::s_startProcess) savedStart = CCameraApp::s_startProcess;
    decltype(CCameraApp::s_displayBitsPerPixel) savedDepth = CCameraApp::s_displayBitsPerPixel;
    const char* savedInet = CUpload::s_szInternetLibrary;
    const char* savedRas = CUpload::s_szDialupLibrary;

    void SetUp() override
    {
        const QString exe = programDir.path() + QStringLiteral("/vizo");
        CCameraApp::s_programPath = [exe] { return exe; };
        CCameraApp::s_startProcess = [this](const QString& p, const QStringList&, bool wait) {
            started << qMakePair(p, wait);
            return true;
        };
        CCameraApp::s_displayBitsPerPixel = [this] { return depth; };
    }

    void TearDown() override
    {
        CCameraApp::s_programPath = savedPath;
        CCameraApp::s_startProcess = savedStart;
        CCameraApp::s_displayBitsPerPixel = savedDepth;
        CUpload::s_szInternetLibrary = savedInet;
        CUpload::s_szDialupLibrary = savedRas;
    }

    // Answers the colour warning with its box ticked and that button clicked.
    static std::function<int(QDialog&)> TickAndClick(const QString& button)
    {
        return [button](QDialog& d) {
            auto& w = static_cast<CColorWarningDlg&>(d);
            w.checkBox()->setChecked(true);
            for (QPushButton* b : w.findChildren<QPushButton*>())
                if (b->text() == button)
                    b->click();
            return w.result();
        };
    }

    Profile Store() { return Profile(QStringLiteral("Brindlecote"), QStringLiteral("vizo")); }

    // Settings that raise no greeting (blanks are not empty).
    void StoreCompleteLanSettings(const QString& value = QStringLiteral("x"))
    {
        Profile store = Store();
        store.WriteInt("Dialup", "Use Dialup", 0);
        for (const char* e : {"Server", "Username", "Password"})
            store.WriteString("FTP", e, value);
    }

    bool Run(const QStringList& args = {})
    {
        ModalAnswer modal([this](QDialog& d) {
            if (auto* w = qobject_cast<CColorWarningDlg*>(&d))
                return onColourWarning(*w);
            if (qobject_cast<CCameraDlg*>(&d)) {
                ++mainWindowRuns;
                onMainWindow(*AfxGetApp());
                return IDCANCEL;
            }
            return 0;
        });
        CCameraApp app;
        const bool result = app.InitInstance(ParseCommandLine(args));
        lastAppDir = app.m_strAppDir;
        lastCmdShow = app.m_nCmdShow;
        lastExitCode = app.m_nExitCode;
        lastLocalPath = app.m_upload.m_strLocalPath;
        inetBoundAfter = app.m_upload.m_hWinINet != nullptr;
        rasBoundAfter = app.m_upload.m_hRasApi != nullptr;
        return result;
    }

    QString lastAppDir;
    int lastExitCode = -1;
    int lastCmdShow = 0;
    QString lastLocalPath;
    bool inetBoundAfter = true;
    bool rasBoundAfter = true;
};

TEST_F(StartupTest, CommandLineArgumentsAreCheckedInOrder)
{
    CUpload::s_szInternetLibrary = "libvizo-no-such-layer.so"; // end right after
    Run({"-min", "/minimal", "-MIN", "/x", "cam"});
    EXPECT_EQ(boxes.texts, (QStringList{"Unknown command line option '-MIN'.",
                                        "Unknown command line option '-x'.",
                                        "Unknown command line argument 'cam'.", kInternetMissing}));
    EXPECT_EQ(lastCmdShow, 2);
}

TEST_F(StartupTest, OnlyTheFirstInstallerRunsAndAllAreRemoved)
{
    CUpload::s_szInternetLibrary = "libvizo-no-such-layer.so";
    for (const char* name : {"Dewint.exe", "Wintdist.exe"}) {
        QFile f(programDir.filePath(QLatin1String(name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    Run();
    ASSERT_EQ(started.size(), 1);
    EXPECT_EQ(started[0].first, programDir.filePath(QStringLiteral("Dewint.exe")));
    EXPECT_TRUE(started[0].second); // waited for
    EXPECT_FALSE(QFile::exists(programDir.filePath(QStringLiteral("Dewint.exe"))));
    EXPECT_FALSE(QFile::exists(programDir.filePath(QStringLiteral("Wintdist.exe"))));
    EXPECT_EQ(lastAppDir, programDir.path() + QLatin1Char('/'));
}

bool WriteProgram(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() &&
           file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

double ProcessorSeconds()
{
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return use.ru_utime.tv_sec + use.ru_stime.tv_sec +
           (use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

TEST_F(StartupTest, WaitForARealInstallerEndsWithoutSpinning)
{
    CUpload::s_szInternetLibrary = "libvizo-no-such-layer.so";
    CCameraApp::s_startProcess = savedStart;
    const QString installer = programDir.filePath(QStringLiteral("Dewint.exe"));
    ASSERT_TRUE(WriteProgram(installer, "#!/bin/sh\nsleep 0.5\n"));
    // Busy in the pump while the installer ends, so the pump sees the exit.
    QTimer::singleShot(0, [] {
        QThread::msleep(1000);
        QCoreApplication::processEvents();
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] {
        std::fprintf(stderr, "installer wait did not end\n");
        std::_Exit(1);
    });
    watchdog.start(20000);
    QElapsedTimer wall;
    wall.start();
    const double cpu = ProcessorSeconds();
    Run();
    watchdog.stop();
    EXPECT_LT(wall.elapsed(), 5000);
    EXPECT_LT(ProcessorSeconds() - cpu, 0.5);
    EXPECT_FALSE(QFile::exists(installer));
    EXPECT_EQ(boxes.texts, QStringList{kInternetMissing});
}

TEST_F(StartupTest, MissingInternetLayerEndsBeforeSettingsAreTouched)
{
    CUpload::s_szInternetLibrary = "libvizo-no-such-layer.so";
    EXPECT_FALSE(Run());
    EXPECT_EQ(boxes.texts, QStringList{kInternetMissing});
    EXPECT_EQ(lastExitCode, CCameraApp::kExitUnavailable); // a service manager sees it
    EXPECT_EQ(mainWindowRuns, 0);
    EXPECT_FALSE(rasBoundAfter);
    EXPECT_FALSE(QDir(home.path() + QStringLiteral("/Brindlecote")).exists());
}

TEST_F(StartupTest, IncompleteInternetLayerEndsStartUpToo)
{
    CUpload::s_szInternetLibrary = "libvizoinet_broken.so";
    EXPECT_FALSE(Run());
    EXPECT_EQ(boxes.texts, QStringList{kInternetMissing});
    EXPECT_EQ(mainWindowRuns, 0);
}

TEST_F(StartupTest, DialupMessageOnlyWhenStoredOn)
{
    CUpload::s_szDialupLibrary = "libvizoras_broken.so";
    StoreCompleteLanSettings();
    Run();
    EXPECT_FALSE(boxes.texts.contains(kDialupMissing));
    EXPECT_EQ(mainWindowRuns, 1);

    Store().WriteInt("Dialup", "Use Dialup", 1);
    boxes.texts.clear();
    Run();
    // Use Dialup is off in memory, so the empty connection raises no greeting.
    EXPECT_EQ(boxes.texts, (QStringList{kDialupMissing, kNoDevice}));
    EXPECT_EQ(Store().ReadInt("Dialup", "Use Dialup", 0), 1);
}

TEST_F(StartupTest, GreetingWhenConnectionSettingsAreEmpty)
{
    Run();
    ASSERT_FALSE(boxes.texts.isEmpty());
    EXPECT_TRUE(boxes.texts[0].startsWith(QStringLiteral("Welcome to Vizo!\nPlease choose")));

    StoreCompleteLanSettings(QStringLiteral(" "));
    boxes.texts.clear();
    Run();
    EXPECT_EQ(boxes.texts, QStringList{kNoDevice});
}

TEST_F(StartupTest, ColourWarningOnlyBelowSixteenBits)
{
    StoreCompleteLanSettings();
    int warnings = 0;
    onColourWarning = [&warnings](QDialog&) {
        ++warnings;
        return IDOK;
    };
    depth = 16;
    Run();
    EXPECT_EQ(warnings, 0);
    depth = 8;
    Run();
    EXPECT_EQ(warnings, 1);
    EXPECT_EQ(mainWindowRuns, 2);
    // Not ticked: nothing stored, so it comes back.
    EXPECT_EQ(Store().ReadInt("General", "No Color Warning", -1), -1);
}

TEST_F(StartupTest, ColourWarningTickedAndNoIsStoredAndRunsOn)
{
    StoreCompleteLanSettings();
    depth = 8;
    onColourWarning = TickAndClick(QStringLiteral("&No"));
    Run();
    EXPECT_EQ(mainWindowRuns, 1);
    EXPECT_EQ(Store().ReadInt("General", "No Color Warning", 0), 1);
    Run();
    EXPECT_EQ(mainWindowRuns, 2);
}

TEST_F(StartupTest, ColourWarningYesWithTheBoxTickedStoresItAndEnds)
{
    StoreCompleteLanSettings();
    depth = 8;
    QTemporaryDir tools;
    const QString tool = tools.filePath(QStringLiteral("arandr"));
    ASSERT_TRUE(WriteProgram(tool, ""));
    ScopedEnv path("PATH", tools.path().toLocal8Bit());
    onColourWarning = TickAndClick(QStringLiteral("&Yes"));
    EXPECT_FALSE(Run());
    EXPECT_EQ(mainWindowRuns, 0);
    EXPECT_EQ(started, (QList<QPair<QString, bool>>{{tool, false}}))
        << "display settings, not waited";
    EXPECT_FALSE(inetBoundAfter);
    EXPECT_FALSE(rasBoundAfter);
    EXPECT_EQ(Store().ReadInt("General", "No Color Warning", 0), 1);
    // Not asked again: the next start runs.
    started.clear();
    Run();
    EXPECT_EQ(mainWindowRuns, 1);
    EXPECT_TRUE(started.isEmpty());
}

TEST_F(StartupTest, StoredMinimizedStartsTheWindowMinimized)
{
    StoreCompleteLanSettings();
    bool minimized = true;
    onMainWindow = [&](CCameraApp& app) { minimized = app.m_pMainWnd->isMinimized(); };
    Run();
    EXPECT_FALSE(minimized);
    Store().WriteInt("General", "Minimized", 1);
    Run();
    EXPECT_TRUE(minimized);
}

TEST_F(StartupTest, ColourWarningEscapeEndsTheProgram)
{
    StoreCompleteLanSettings();
    depth = 8;
    onColourWarning = [](QDialog& d) {
        d.reject(); // Esc and the close box answer like "Yes"
        return d.result();
    };
    EXPECT_FALSE(Run());
    EXPECT_EQ(mainWindowRuns, 0);
    EXPECT_FALSE(inetBoundAfter);
    EXPECT_FALSE(rasBoundAfter);
    EXPECT_EQ(Store().ReadInt("General", "No Color Warning", -1), -1);
}

TEST_F(StartupTest, FirstUploadIsDueOneMinuteAfterStart)
{
    StoreCompleteLanSettings();
    Store().WriteInt("General", "Minimized", 1);
    std::time_t next = 0, last = 0;
    int startMinimized = -1;
    onMainWindow = [&](CCameraApp& app) {
        next = app.m_timeNextUpload;
        last = app.m_timeLastStart;
        startMinimized = app.m_pMainWnd->m_bStartMinimized;
    };
    Run();
    EXPECT_EQ(last, clock.now);
    EXPECT_EQ(next, clock.now + 60);
    EXPECT_EQ(startMinimized, 1);
    // Both layers are released when the main window has ended.
    EXPECT_FALSE(inetBoundAfter);
    EXPECT_FALSE(rasBoundAfter);
}

TEST_F(StartupTest, PictureLeftParkedByAnInterruptedGrabIsPutBack)
{
    StoreCompleteLanSettings();
    const QString picture = programDir.filePath(QStringLiteral("vizo.jpg"));
    QFile parked(picture + QStringLiteral(".d03"));
    ASSERT_TRUE(parked.open(QIODevice::WriteOnly) && parked.write("picture") == 7);
    parked.close();
    bool presentWhileRunning = false;
    onMainWindow = [&](CCameraApp&) { presentWhileRunning = QFile::exists(picture); };
    Run();
    EXPECT_TRUE(presentWhileRunning);
    QFile restored(picture);
    ASSERT_TRUE(restored.open(QIODevice::ReadOnly));
    EXPECT_EQ(restored.readAll(), QByteArray("picture"));
    EXPECT_FALSE(parked.exists());
}

TEST_F(StartupTest, SettingsFileThatCannotBeReadIsReported)
{
    // A folder in the file's place cannot be read, not even by root.
    const QString path = Store().filePath();
    ASSERT_TRUE(QDir().mkpath(path));
    QStringList logged;
    const LogObserver previous = SetLogObserver(
        [&](const char* kind, const QString& text) { logged << kind + (": " + text); });
    Run();
    SetLogObserver(previous);
    const QString text = "The settings in " + path +
                         " could not be read (a folder has the file's name).\n\nVizo starts "
                         "with default settings.";
    ASSERT_FALSE(boxes.texts.isEmpty());
    EXPECT_EQ(boxes.texts[0], text);
    EXPECT_TRUE(logged.contains("message: " + text));
    EXPECT_EQ(mainWindowRuns, 1) << "start-up goes on with defaults";
}

TEST_F(StartupTest, DefaultPictureGoesBesideTheProgramOrToTheUsersDataFolder)
{
    StoreCompleteLanSettings();
    Run();
    EXPECT_EQ(lastLocalPath, programDir.path() + QStringLiteral("/vizo.jpg"));

    // A program folder the user cannot write to (an installed program).
    QTemporaryDir data;
    ScopedEnv dataHome("XDG_DATA_HOME", data.path().toLocal8Bit());
    CCameraApp::s_programPath = [] { return QStringLiteral("/nonexistent-vizo-dir/vizo"); };
    Run();
    EXPECT_EQ(lastLocalPath, data.path() + QStringLiteral("/vizo/vizo.jpg"));
    EXPECT_TRUE(QDir(data.path() + QStringLiteral("/vizo")).exists());
}

} // namespace
