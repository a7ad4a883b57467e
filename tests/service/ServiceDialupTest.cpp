// SIGTERM while the service dials through NetworkManager (its mock on a
// private system bus, which the program inherits).
#include "FtpTestServer.h"
#include "ServiceRun.h"
#include "config/SettingsKeys.h"
#include "dialup/mockbus.h"
#include "testsupport.h"

#include <QRegularExpression>
#include <gtest/gtest.h>
#include <signal.h>

TEST(ServiceDialup, TerminateDuringDialEndsAndHangsUp)
{
    NetworkManagerMock mock;
    ASSERT_TRUE(mock.running());
    mock.AddProfile("Mobile", "gsm", R"({"gsm": {"apn": "internet", "username": "web"}})",
                    R"({"gsm": {"password": "s3cret"}})");
    mock.SetPlan("Mobile", {"ok:2500"});
    FtpTestServer ftp;
    ASSERT_TRUE(ftp.Start());
    ServiceRun run;
    run.Configure(ftp, 600);
    run.Store().WriteInt(Keys::UseDialup.section, Keys::UseDialup.entry, 1);
    run.Store().WriteString(Keys::DialupConnection.section, Keys::DialupConnection.entry, "Mobile");
    run.Start();
    ASSERT_TRUE(run.WaitForLog("status: Idle", 1, 10000)) << run.Log().toStdString();
    run.Signal(SIGUSR1);
    ASSERT_TRUE(run.WaitForLog("Establishing dialup connection 'Mobile'"))
        << run.Log().toStdString();
    ASSERT_TRUE(
        WaitFor([&] { return mock.CallLog().contains("ActivateConnection Mobile"); }, 5000));
    run.Signal(SIGTERM);
    EXPECT_EQ(run.Exit(5000), 0) << run.Log().toStdString();
    // The dial itself cannot be cut short: it runs until the connection is up,
    // which is then hung up with nothing sent.
    EXPECT_TRUE(WaitFor([&] { return mock.ActiveIds().isEmpty(); }, 5000))
        << mock.CallLog().join('\n').toStdString();
    EXPECT_TRUE(mock.CallLog().contains("DeactivateConnection Mobile"));
    EXPECT_EQ(ftp.CountCommands("STOR"), 0) << ftp.Commands().join('\n').toStdString();
    EXPECT_TRUE(ftp.ListFiles().filter(QRegularExpression("\\.[td]\\d\\d$")).isEmpty());
    EXPECT_TRUE(run.TemporaryFiles().isEmpty());
}
