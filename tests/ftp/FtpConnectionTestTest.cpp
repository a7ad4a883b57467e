// The connection test behind the FTP page's Test button, against real servers:
// it touches only its own file, names the step that fails and stops when told.
#include "DavTestServer.h"
#include "FtpTestBase.h"
#include "PostTestServer.h"
#include "SshTestServer.h"
#include "net/ConnectionTest.h"
#include "settings/CConnectionTestDlg.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>

namespace
{

class ConnectionTestTest : public FtpTest
{
protected:
    FtpDestination Destination(const QString& remote)
    {
        upload().m_strRemotePath = remote;
        return upload().FirstDestination();
    }
    std::vector<ConnectionStep> Run(const FtpDestination& d, QString* testName = nullptr)
    {
        ConnectionTest test(upload().m_inet, d);
        test.Start();
        test.Wait();
        EXPECT_TRUE(test.Finished());
        if (testName)
            *testName = test.TestFileName();
        return test.Steps();
    }
    // Every command that named a file other than the test's own.
    QStringList ForeignCommands(const QString& testName) const
    {
        QStringList foreign;
        for (const QString& line : server.Commands())
            for (const char* verb : {"STOR ", "RNFR ", "RNTO ", "DELE "})
                if (line.startsWith(verb) && !line.mid(5).startsWith(testName))
                    foreign << line;
        return foreign;
    }
};

// "Name=outcome" for each step: one readable comparison for the whole run.
QString Outcomes(const std::vector<ConnectionStep>& steps)
{
    static const char* const names[] = {"ok", "failed", "skipped"};
    QStringList parts;
    for (const ConnectionStep& s : steps)
        parts << s.name + "=" + names[s.outcome];
    return parts.join(' ');
}

QString Transcript(const std::vector<ConnectionStep>& steps)
{
    QStringList lines;
    for (const ConnectionStep& s : steps)
        lines << s.name + ": " + s.detail;
    return lines.join('\n');
}

const QString kAllOk = "Settings=ok Log in=ok Remote folder=ok Upload=ok Rename=ok Delete=ok";

} // namespace

// The user's picture sits at the remote name; the test file comes and goes
// beside it, in a folder that is there and in one it makes.
TEST_F(ConnectionTestTest, AGoodServerPassesEveryStepAndKeepsOnlyTheUsersFiles)
{
    ASSERT_TRUE(server.MakeDir("cams/door"));
    ASSERT_TRUE(server.WriteFile("cams/door/vizo.jpg", picture));
    for (const QString remote : {"cams/door/vizo.jpg", "new/level/vizo.jpg"}) {
        SCOPED_TRACE(remote.toStdString());
        server.ClearCommands();
        QString name;
        const auto steps = Run(Destination(remote), &name);
        EXPECT_EQ(Outcomes(steps), kAllOk) << Transcript(steps).toStdString();
        EXPECT_TRUE(name.startsWith(remote.left(remote.lastIndexOf('/') + 1) + "vizo-test-"));
        EXPECT_EQ(ForeignCommands(name), QStringList());
        const QStringList traffic = server.Commands().filter(QRegularExpression("^(STOR|RN|DELE)"));
        EXPECT_EQ(traffic, QStringList({"STOR " + name + ".t00", "RNFR " + name + ".t00",
                                        "RNTO " + name, "DELE " + name}));
        EXPECT_EQ(ConnectionSummary(steps, true), "Every step succeeded.");
    }
    EXPECT_EQ(server.ListFiles(), QStringList({"cams/door/vizo.jpg"}));
    EXPECT_EQ(server.ReadFile("cams/door/vizo.jpg"), picture);
    EXPECT_TRUE(QDir(server.RootDir() + "/new/level").exists());
}

TEST_F(ConnectionTestTest, OverSftpTheTestFileComesAndGoesToo)
{
    SshTestServer ssh;
    ASSERT_TRUE(ssh.Start()) << ssh.ErrorText().toStdString();
    ASSERT_TRUE(ssh.WriteFile("vizo.jpg", picture));
    FtpDestination d = Destination("vizo.jpg");
    d.transport.nProtocol = VIZO_PROTOCOL_SFTP;
    d.transport.strServerKey = ssh.HostFingerprint();
    d.transport.strPrivateKey = ssh.ClientKey();
    d.strServer = ssh.Address();
    d.strUsername = ssh.User();
    const auto steps = Run(d);
    EXPECT_EQ(Outcomes(steps),
              "Settings=ok Log in=ok Remote folder=skipped Upload=ok Rename=ok Delete=ok")
        << Transcript(steps).toStdString();
    EXPECT_EQ(ssh.ListFiles(), QStringList({"vizo.jpg"}));
    EXPECT_EQ(ssh.ReadFile("vizo.jpg"), picture);
}

// Written in place: no temporary, no rename, and still nothing left behind.
TEST_F(ConnectionTestTest, AnInPlaceServerSkipsOnlyTheRename)
{
    DavTestServer dav;
    ASSERT_TRUE(dav.Start()) << dav.ErrorText().toStdString();
    FtpDestination d = Destination("cams/vizo.jpg");
    d.transport.nProtocol = VIZO_PROTOCOL_WEBDAV;
    d.strServer = dav.Url();
    d.strUsername = dav.User();
    d.strPassword = dav.Password();
    const auto steps = Run(d);
    EXPECT_EQ(Outcomes(steps),
              "Settings=ok Log in=ok Remote folder=ok Upload=ok Rename=skipped Delete=ok")
        << Transcript(steps).toStdString();
    EXPECT_EQ(steps[2].detail, "Created remote folder cams");
    EXPECT_EQ(dav.ListFiles(), QStringList());
    EXPECT_EQ(ConnectionSummary(steps, true), "Every step that applies succeeded.");
}

// A form cannot delete: the box says the receiving script keeps the file.
TEST_F(ConnectionTestTest, AFormUploadSaysTheScriptKeepsTheTestPicture)
{
    PostTestServer receiver;
    ASSERT_TRUE(receiver.Start("Bearer tok3n")) << receiver.ErrorText().toStdString();
    FtpDestination d = Destination("door/vizo.jpg");
    d.transport.nProtocol = VIZO_PROTOCOL_HTTP_POST;
    d.strServer = receiver.Url();
    d.strUsername.clear();
    d.strPassword = "tok3n";
    QString name;
    const auto steps = Run(d, &name);
    EXPECT_EQ(Outcomes(steps), "Settings=ok Log in=skipped Remote folder=skipped Upload=ok "
                               "Rename=skipped Delete=skipped")
        << Transcript(steps).toStdString();
    EXPECT_EQ(steps[5].detail, "A form cannot delete: the receiving script keeps " + name);
    EXPECT_EQ(receiver.Requests().size(), 1);
    EXPECT_FALSE(receiver.ReadFile(name).isEmpty());
}

TEST_F(ConnectionTestTest, AWrongPasswordFailsTheLoginAndSendsNothing)
{
    FtpDestination d = Destination("vizo.jpg");
    d.strPassword = "not the password";
    const auto steps = Run(d);
    EXPECT_EQ(Outcomes(steps), "Settings=ok Log in=failed Remote folder=skipped Upload=skipped "
                               "Rename=skipped Delete=skipped");
    EXPECT_EQ(steps[1].detail, "Invalid username/password (FTP error)");
    EXPECT_EQ(ConnectionSummary(steps, true),
              "\"Log in\" failed: Invalid username/password (FTP error)");
    EXPECT_EQ(server.CountCommands("PASS"), 1);
    EXPECT_EQ(server.Commands().filter(QRegularExpression("^(STOR|MKD|DELE)")), QStringList());
}

// A folder that cannot be made (a file has its name), and one that is there
// but refuses uploads: the failing step is named, and nothing but the test's
// own name is touched.
TEST_F(ConnectionTestTest, AFolderThatCannotBeWrittenNamesTheStep)
{
    ASSERT_TRUE(server.WriteFile("cams", "a file, not a folder"));
    QString name;
    auto steps = Run(Destination("cams/door/vizo.jpg"), &name);
    EXPECT_EQ(Outcomes(steps), "Settings=ok Log in=ok Remote folder=failed Upload=skipped "
                               "Rename=skipped Delete=skipped");
    EXPECT_TRUE(steps[2].detail.startsWith("Cannot create remote folder cams/door (5"))
        << steps[2].detail.toStdString();
    EXPECT_EQ(ForeignCommands(name), QStringList());

    // Root may write anywhere, so the refusal is the server's, as a read-only
    // account would have it.
    ASSERT_TRUE(server.MakeDir("ro"));
    ASSERT_TRUE(server.WriteFile("ro/vizo.jpg", picture));
    server.Refuse("STOR", -1, QString(), 553);
    server.ClearCommands();
    steps = Run(Destination("ro/vizo.jpg"), &name);
    EXPECT_EQ(Outcomes(steps), "Settings=ok Log in=ok Remote folder=ok Upload=failed "
                               "Rename=skipped Delete=skipped")
        << Transcript(steps).toStdString();
    EXPECT_EQ(steps[3].detail, "Invalid path (FTP error)");
    EXPECT_EQ(ConnectionSummary(steps, true), "\"Upload\" failed: Invalid path (FTP error)");
    EXPECT_EQ(ForeignCommands(name), QStringList());
    EXPECT_EQ(server.ListFiles(), QStringList({"cams", "ro/vizo.jpg"}));
    EXPECT_EQ(server.ReadFile("ro/vizo.jpg"), picture);
}

// What is wrong before connecting is said without connecting.
TEST_F(ConnectionTestTest, SettingsThatCannotWorkFailWithoutConnecting)
{
    struct Case {
        const char* what;
        std::function<void(FtpDestination&)> spoil;
        QString problem;
    } cases[] = {
        {"no server", [](FtpDestination& d) { d.strServer = "  "; }, "No server is given."},
        {"SFTP without user",
         [](FtpDestination& d) {
             d.transport.nProtocol = VIZO_PROTOCOL_SFTP;
             d.strUsername.clear();
         },
         "SFTP (SSH) needs a user name."},
        {"no extension", [](FtpDestination& d) { d.strRemotePath = "cams/picture"; },
         "Invalid remote filename 'cams/picture' (must have file extension)"},
        {"stored protocol unknown", [](FtpDestination& d) { d.transport.nProtocol = 42; },
         "unknown Protocol 42 in the settings"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FtpDestination d = Destination("vizo.jpg");
        c.spoil(d);
        const auto steps = Run(d);
        ASSERT_FALSE(steps.empty());
        EXPECT_EQ(steps[0].outcome, ConnectionStep::kFailed);
        EXPECT_EQ(steps[0].detail, c.problem);
        EXPECT_EQ(ConnectionSummary(steps, true), "\"Settings\" failed: " + c.problem);
    }
    EXPECT_EQ(server.CountCommands("CONNECT"), 0);
}

// A server that stopped answering: Cancel ends the test at once.
TEST_F(ConnectionTestTest, CancelEndsATestStalledOnASilentServer)
{
    ScopedEnv patient(VIZO_INET_TIMEOUT_ENV, "30");
    server.SetSilent(true);
    ConnectionTest test(upload().m_inet, Destination("vizo.jpg"));
    test.Start();
    ASSERT_TRUE(server.WaitForCommand("CONNECT", 5000));
    QElapsedTimer clock;
    clock.start();
    test.Cancel();
    test.Wait();
    EXPECT_LT(clock.elapsed(), 3000);
    const auto steps = test.Steps();
    ASSERT_GE(steps.size(), 2u) << Transcript(steps).toStdString();
    EXPECT_EQ(steps[1].name, "Log in");
    EXPECT_EQ(steps[1].detail, "Cancelled");
    EXPECT_EQ(ConnectionSummary(steps, true), "Cancelled during \"Log in\".");
}

// The box shows each step as it ends and names the failing one; Cancel turns
// into Close. VIZO_SHOT_DIR keeps pictures of the box for looking at.
TEST_F(ConnectionTestTest, TheBoxShowsTheStepsAndNamesTheFailingOne)
{
    const QString shots = qEnvironmentVariable("VIZO_SHOT_DIR");
    for (const char* password : {"secret", "wrong"}) {
        SCOPED_TRACE(password);
        FtpDestination d = Destination("cams/vizo.jpg");
        d.strPassword = password;
        QStringList lines;
        QString summary;
        ModalAnswer answer([&](QDialog& dialog) {
            auto& box = dynamic_cast<CConnectionTestDlg&>(dialog);
            box.show();
            EXPECT_EQ(box.Button()->text(), "Cancel");
            EXPECT_TRUE(WaitFor([&] { return !box.IsRunning(); }, 20000));
            lines = box.StepLines();
            summary = box.Summary();
            EXPECT_EQ(box.Button()->text(), "Close");
            if (!shots.isEmpty())
                box.grab().save(shots + "/connection-test-" + password + ".png");
            QTest::mouseClick(box.Button(), Qt::LeftButton);
            return box.result();
        });
        RunConnectionTestDialog(upload().m_inet, d, nullptr);
        EXPECT_EQ(answer.count, 1);
        ASSERT_EQ(lines.size(), 6) << lines.join('\n').toStdString();
        if (QString(password) == "secret") {
            EXPECT_TRUE(lines[2].startsWith("Remote folder: OK: Created remote folder cams"));
            EXPECT_EQ(summary, "Every step succeeded.");
        } else {
            EXPECT_EQ(lines[1], "Log in: Failed: Invalid username/password (FTP error)");
            EXPECT_EQ(summary, "\"Log in\" failed: Invalid username/password (FTP error)");
        }
    }
}
