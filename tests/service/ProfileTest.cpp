// Several cameras from one install: profile names on the command line, and
// profiles run side by side as services on one user's folders.
#include "ServiceRun.h"
#include "app/CommandLine.h"

#include <QImage>
#include <QStandardPaths>
#include <utility>

namespace
{
QSize PictureSize(const QByteArray& jpeg)
{
    return QImage::fromData(jpeg, "JPEG").size();
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

TEST(ProfileName, OnlyPortableFileNameWordsAreTaken)
{
    for (const QString& name : QStringList{"door", "Cam_2", "front-door.v2", "x", QString(64, 'x')})
        EXPECT_EQ(ProfileNameProblem(name), "") << name.toStdString();
    for (const QString& name :
         QStringList{"", ".", "..", ".hidden", "-service", "../door", "a/b", "a b",
                     QString::fromUtf8("d\xc3\xb6r"), "a\\x2fb", "a@b", "a\nb", QString(65, 'x')})
        EXPECT_NE(ProfileNameProblem(name), "") << name.toStdString();
    // What is refused is shown, but cannot steer a terminal or flood a journal.
    const QString said = ProfileNameProblem("a\x1b[2Jb");
    EXPECT_TRUE(said.contains("'a\\x1b[2Jb'")) << said.toStdString();
    EXPECT_LT(ProfileNameProblem(QString(100000, 'x')).size(), 300);
}

TEST(ProfileName, CommandLine)
{
    const CommandLine status = ParseCommandLine({"-status", "-profile", "door"});
    EXPECT_TRUE(status.status);
    EXPECT_EQ(status.profile, "door");
    EXPECT_EQ(status.profileError, "");
    EXPECT_TRUE(status.messages.isEmpty());

    // A refused name is never kept: nothing may build a path from it.
    const CommandLine bad = ParseCommandLine({"-service", "-profile", "../door"});
    EXPECT_TRUE(bad.service);
    EXPECT_EQ(bad.profile, "");
    EXPECT_TRUE(bad.profileError.contains("'../door'")) << bad.profileError.toStdString();
    EXPECT_NE(ParseCommandLine({"-service", "-profile"}).profileError, "");
    const CommandLine twice = ParseCommandLine({"-profile", "door", "-profile", "yard"});
    EXPECT_EQ(twice.profile, "");
    EXPECT_NE(twice.profileError, "");

    CommandLine framework = ParseCommandLine({"-style", "fusion", "cam", "-min"});
    ForgetArguments(framework, {0, 1});
    EXPECT_EQ(framework.messages, QStringList{"Unknown command line argument 'cam'."});
    EXPECT_TRUE(framework.minimized);
}

// The real program: a refused name ends it before any file is made; the
// framework's own options are not refused as ours.
TEST(ProfileName, RefusedByTheProgramBeforeAnyFileIsMade)
{
    ServiceRun run;
    QString out;
    EXPECT_EQ(run.Another({"-service", "-profile", "../door"}, &out), 64) << out.toStdString();
    EXPECT_TRUE(out.contains("message: The profile name '../door' is not allowed"))
        << out.toStdString();
    EXPECT_EQ(run.Another({"-status", "-profile", ".door"}, &out), 64) << out.toStdString();
    EXPECT_TRUE(out.contains("The profile name '.door' is not allowed")) << out.toStdString();
    EXPECT_EQ(QDir(run.Config()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    EXPECT_FALSE(QFileInfo::exists(run.Dir() + "/state"));

    EXPECT_EQ(run.Another({"-service", "-style", "fusion", "-x"}, &out), 78) << out.toStdString();
    EXPECT_TRUE(out.contains("Unknown command line option '-x'.")) << out.toStdString();
    EXPECT_FALSE(out.contains("'-style'")) << out.toStdString();
    EXPECT_FALSE(out.contains("'fusion'")) << out.toStdString();
}

// Two cameras on one FTP server, each under its own remote name: each
// publishes its own picture and keeps its own state; the same profile twice is
// refused, naming the holder.
TEST(Profiles, TwoCamerasRunSideBySide)
{
    FtpTestServer ftp;
    ASSERT_TRUE(ftp.Start()) << ftp.ErrorText().toStdString();
    ServiceRun door("Door=lavfi:testsrc2=size=320x240:rate=15", "door");
    ServiceRun yard("Yard=lavfi:testsrc2=size=160x120:rate=15", "yard", door.Home());
    for (const auto& [run, remote] : {std::pair(&door, "door.jpg"), std::pair(&yard, "yard.jpg")}) {
        run->Configure(ftp, 600);
        run->Store().WriteString(Keys::RemotePath.section, Keys::RemotePath.entry, remote);
        run->Start();
    }
    for (ServiceRun* run : {&door, &yard})
        ASSERT_TRUE(run->WaitForLog("status: Idle", 1, 15000)) << run->Log().toStdString();
    // Upload now rather than a minute from now; one after the other, as the
    // test server now and then stalls a second login that arrives at once.
    for (ServiceRun* run : {&door, &yard}) {
        run->Signal(SIGUSR1);
        ASSERT_TRUE(run->WaitForLog("Succesful upload at")) << run->Log().toStdString();
    }

    EXPECT_EQ(ftp.ListFiles(), (QStringList{"door.jpg", "yard.jpg"}));
    EXPECT_EQ(PictureSize(ftp.ReadFile("door.jpg")), QSize(320, 240));
    EXPECT_EQ(PictureSize(ftp.ReadFile("yard.jpg")), QSize(160, 120));
    EXPECT_NE(door.Picture(), yard.Picture());
    EXPECT_EQ(PictureSize(ReadAll(door.Picture())), QSize(320, 240))
        << door.Picture().toStdString();
    EXPECT_EQ(PictureSize(ReadAll(yard.Picture())), QSize(160, 120))
        << yard.Picture().toStdString();

    EXPECT_EQ(door.Status().value("camera").toString(), "Door");
    EXPECT_EQ(yard.Status().value("camera").toString(), "Yard");
    for (ServiceRun* run : {&door, &yard}) {
        EXPECT_FALSE(run->Status().value("last_success").isNull());
        const QStringList locks = QDir(run->StateDir()).entryList({"instance-*.lock"});
        EXPECT_EQ(locks.size(), 1) << run->StateDir().toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(door.Dir() + "/state/vizo/status.json"));

    QString out;
    EXPECT_EQ(door.StatusCommand(&out), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("Camera: Door (ok)")) << out.toStdString();
    EXPECT_FALSE(out.contains("Yard")) << out.toStdString();

    EXPECT_EQ(door.Another({"-service"}, &out), 75) << out.toStdString();
    EXPECT_TRUE(out.contains(QString("message: Vizo is already running for the profile 'door' "
                                     "with the settings file %1 (process %2)")
                                 .arg(door.SettingsFile())
                                 .arg(door.Pid())))
        << out.toStdString();

    for (ServiceRun* run : {&door, &yard}) {
        run->Signal(SIGTERM);
        EXPECT_EQ(run->Exit(10000), 0) << run->Log().toStdString();
    }
}

// One service per camera: vizo@door runs the profile door, watched like the
// single unit.
TEST(Profiles, TemplateUnitIsValidForTheManager)
{
    if (QStandardPaths::findExecutable("systemd-analyze").isEmpty())
        GTEST_SKIP() << "systemd-analyze is not installed";
    QString unit;
    EXPECT_EQ(VerifyUnit("vizo@.service.in", "vizo@door.service", &unit), "");
    EXPECT_TRUE(unit.contains("\nExecStart=" VIZO_BUILD_DIR "/vizo -service -profile %i\n"));
    EXPECT_TRUE(unit.contains("\nType=notify\n"));
    EXPECT_TRUE(unit.contains("\nWatchdogSec=120"));
}
