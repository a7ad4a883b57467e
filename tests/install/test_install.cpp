// The installed layout: installed into a scratch prefix, the program must start
// with the libraries and the manual of that prefix, not of the build folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>
#include <set>

namespace
{

QString ReadText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QString Canonical(const QString& path)
{
    return QFileInfo(path).canonicalFilePath();
}

class InstallTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_prefix = std::make_unique<QTemporaryDir>();
        QProcess install;
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(QStringLiteral(VIZO_CMAKE_COMMAND),
                      {"--install", VIZO_BUILD_DIR, "--prefix", s_prefix->path()});
        install.waitForFinished(60000);
        s_installLog = QString::fromLocal8Bit(install.readAll());
        s_installed = install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0;
    }
    static void TearDownTestSuite() { s_prefix.reset(); }

    void SetUp() override { ASSERT_TRUE(s_installed) << s_installLog.toStdString(); }

    static QString Installed(const QString& relative) { return s_prefix->path() + "/" + relative; }

    static std::unique_ptr<QTemporaryDir> s_prefix;
    static QString s_installLog;
    static bool s_installed;
};

std::unique_ptr<QTemporaryDir> InstallTest::s_prefix;
QString InstallTest::s_installLog;
bool InstallTest::s_installed = false;

TEST_F(InstallTest, ProgramLibrariesAndManualLieWhereTheProgramLooks)
{
    const QString privateDir = Canonical(Installed("lib/vizo"));
    ASSERT_FALSE(privateDir.isEmpty());
    EXPECT_TRUE(QFileInfo(Installed("lib/vizo/vizo")).isExecutable());
    for (const char* lib : {"libvizowin.so", "libvizoinet.so", "libvizoras.so"})
        EXPECT_TRUE(QFileInfo::exists(Installed("lib/vizo/") + lib)) << lib;

    // The program takes its folder from its real file, so the command on PATH
    // must be a link to it rather than a copy.
    const QFileInfo command(Installed("bin/vizo"));
    EXPECT_TRUE(command.isSymLink());
    EXPECT_EQ(command.canonicalFilePath(), privateDir + "/vizo");

    const QFileInfo manual(Installed("lib/vizo/Manual/Manual.htm"));
    EXPECT_TRUE(manual.isFile());
    EXPECT_TRUE(manual.canonicalFilePath().startsWith(Canonical(Installed("share/vizo/Manual"))));
}

TEST_F(InstallTest, DesktopEntryNamesTheInstalledCommandAndIcons)
{
    const QString entry = ReadText(Installed("share/applications/vizo.desktop"));
    ASSERT_FALSE(entry.isEmpty());
    const auto value = [&entry](const char* key) {
        const QRegularExpression re(QStringLiteral("^%1=(.*)$").arg(QLatin1String(key)),
                                    QRegularExpression::MultilineOption);
        return re.match(entry).captured(1).trimmed();
    };
    EXPECT_EQ(value("Type"), "Application");
    EXPECT_TRUE(QFileInfo(Installed("bin/") + value("Exec").section(' ', 0, 0)).isExecutable());

    const QString icon = value("Icon");
    ASSERT_FALSE(icon.isEmpty());
    for (int size : {32, 48, 64, 128, 256}) {
        const QString path =
            Installed(QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(icon));
        const QImage image(path);
        EXPECT_EQ(image.size(), QSize(size, size)) << path.toStdString();
    }
    EXPECT_TRUE(QFileInfo::exists(Installed("share/icons/hicolor/scalable/apps/") + icon + ".svg"));
}

// Every in-page link has its target and every file the manual shows is beside
// it, in the build folder (Help from a build) and in the installed layout.
TEST_F(InstallTest, ManualLinksResolveInBuildAndInstall)
{
    for (const QString& dir :
         {QStringLiteral(VIZO_BUILD_DIR "/Manual"), Installed("lib/vizo/Manual")}) {
        const QString html = ReadText(dir + "/Manual.htm");
        ASSERT_FALSE(html.isEmpty()) << dir.toStdString();
        std::set<QString> ids;
        for (const auto& m : QRegularExpression(R"re(\bid="([^"]+)")re").globalMatch(html))
            ids.insert(m.captured(1));
        int links = 0;
        for (const auto& m :
             QRegularExpression(R"re(\b(?:href|src)="([^"]+)")re").globalMatch(html)) {
            const QString target = m.captured(1);
            if (target.startsWith("https://"))
                continue;
            ++links;
            if (target.startsWith('#'))
                EXPECT_TRUE(ids.count(target.mid(1))) << target.toStdString();
            else
                EXPECT_TRUE(QFileInfo::exists(dir + "/" + target))
                    << (dir + "/" + target).toStdString();
        }
        EXPECT_GT(links, 10);
    }
}

// Settings that skip the greeting: a named dial-up connection needs the dial-up
// library, so its absence would show up as a message.
void WriteSettings(const QString& configHome, const QString& localPicture)
{
    QSettings s(configHome + "/Brindlecote/vizo.conf", QSettings::IniFormat);
    s.setValue("Dialup/Use Dialup", 1);
    s.setValue("Dialup/Connection", "Mobile");
    s.setValue("FTP/Server", "192.0.2.1");
    s.setValue("FTP/Username", "webcam");
    s.setValue("FTP/Password", "secret");
    s.setValue("Path/Local", localPicture);
}

// The main window has initialised once it shows "Idle"; without a camera it
// first asks about it in a box, which waits for a click this test cannot give.
bool MainWindowReached(const QString& line, QString* failure)
{
    static const char* const kCameraMessages[] = {"Your system does not have a",
                                                  "Vizo could not connect to capture device"};
    if (line.contains(" status: Idle"))
        return true;
    const int at = line.indexOf(" message: ");
    if (at < 0)
        return false;
    const QString text = line.mid(at + 10);
    for (const char* expected : kCameraMessages)
        if (text.startsWith(QLatin1String(expected)))
            return true;
    *failure = "start-up stopped at: " + text;
    return true;
}

std::set<QString> MappedVizoLibraries(qint64 pid)
{
    std::set<QString> paths;
    const QString maps = ReadText(QStringLiteral("/proc/%1/maps").arg(pid));
    for (const QString& line : maps.split('\n')) {
        const int slash = line.indexOf('/');
        if (slash >= 0 && line.contains("/libvizo"))
            paths.insert(line.mid(slash));
    }
    return paths;
}

TEST_F(InstallTest, InstalledProgramStartsWithItsOwnLibraries)
{
    QTemporaryDir scratch;
    WriteSettings(scratch.path() + "/config", scratch.path() + "/vizo.jpg");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", scratch.path() + "/config");
    env.insert("VIZO_VIDEO_SOURCES", "Test pattern=lavfi:testsrc2=size=160x120:rate=5");
    env.remove("LD_LIBRARY_PATH");

    QProcess vizo;
    vizo.setProcessEnvironment(env);
    vizo.setWorkingDirectory(scratch.path());
    vizo.setProcessChannelMode(QProcess::SeparateChannels);
    vizo.setReadChannel(QProcess::StandardError);
    vizo.start(Installed("bin/vizo"), {});
    ASSERT_TRUE(vizo.waitForStarted(5000));

    QString log;
    QString failure;
    bool reached = false;
    QByteArray pending;
    while (!reached && vizo.state() == QProcess::Running && vizo.waitForReadyRead(15000)) {
        pending += vizo.readAllStandardError();
        int nl;
        while (!reached && (nl = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(pending.left(nl));
            pending.remove(0, nl + 1);
            log += line + '\n';
            reached = MainWindowReached(line, &failure);
        }
    }
    const std::set<QString> mapped = MappedVizoLibraries(vizo.processId());
    const QString exe =
        QFileInfo(QStringLiteral("/proc/%1/exe").arg(vizo.processId())).symLinkTarget();
    vizo.kill();
    vizo.waitForFinished(5000);
    log += QString::fromUtf8(pending + vizo.readAllStandardError());

    ASSERT_TRUE(reached) << "no main window; log:\n" << log.toStdString();
    ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();
    const QString privateDir = Canonical(Installed("lib/vizo"));
    EXPECT_EQ(exe, privateDir + "/vizo");
    const std::set<QString> expected{privateDir + "/libvizoinet.so", privateDir + "/libvizoras.so",
                                     privateDir + "/libvizowin.so"};
    EXPECT_EQ(mapped, expected);
    // Help > Contents looks in the program's real folder.
    EXPECT_TRUE(QFileInfo(QFileInfo(exe).path() + "/Manual/Manual.htm").isFile());
}

} // namespace

// The user units must start the program of this prefix, in service mode.
TEST_F(InstallTest, UserUnitAndManualPageComeWithTheProgram)
{
    const QString unit = ReadText(Installed("lib/systemd/user/vizo.service"));
    EXPECT_TRUE(unit.contains("\nExecStart=" + s_prefix->path() + "/bin/vizo -service\n"))
        << unit.toStdString();
    // One more per camera: vizo@door runs the profile door.
    const QString perCamera = ReadText(Installed("lib/systemd/user/vizo@.service"));
    EXPECT_TRUE(
        perCamera.contains("\nExecStart=" + s_prefix->path() + "/bin/vizo -service -profile %i\n"))
        << perCamera.toStdString();
    EXPECT_TRUE(QFileInfo(Installed("share/man/man1/vizo.1.gz")).size() > 0);
    EXPECT_TRUE(QFileInfo(Installed("share/doc/vizo/copyright")).size() > 0);
}
