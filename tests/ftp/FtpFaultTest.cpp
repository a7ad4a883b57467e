// The engine over servers that lie or hang: what the user sees and what the
// server is left holding.
#include "FtpTestBase.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

TEST_F(FtpTest, ShortUploadFailsWithItsSizesAndReplacesNothing)
{
    ASSERT_TRUE(server.WriteFile("vizo.jpg", "old picture"));
    server.TruncateAfter(1000);
    EXPECT_FALSE(upload().UploadFile());
    EXPECT_TRUE(status.lines.contains(
        QStringLiteral("FTP transfer failed (only 1000 of %1 bytes arrived)").arg(picture.size())))
        << status.lines.join('\n').toStdString();
    EXPECT_EQ(server.ListFiles(), QStringList({"vizo.jpg"}));
    EXPECT_EQ(server.ReadFile("vizo.jpg"), "old picture");
    EXPECT_EQ(server.CountCommands("RNFR"), 0);
}

// 550 to SIZE after a 226: the temporary is gone, whatever the transfer said.
TEST_F(FtpTest, SizeOf550AfterSuccessFailsAsShortInBothModes)
{
    for (int safe : {0, 1}) {
        ASSERT_TRUE(server.WriteFile("vizo.jpg", "old picture"));
        server.Refuse("SIZE");
        upload().m_bSafeFtp = safe;
        status.clear();
        EXPECT_FALSE(upload().UploadFile()) << safe;
        EXPECT_TRUE(status.lines.contains(
            QStringLiteral("FTP transfer failed (only 0 of %1 bytes arrived)").arg(picture.size())))
            << status.lines.join('\n').toStdString();
        EXPECT_EQ(server.ListFiles(), QStringList({"vizo.jpg"})) << safe;
        EXPECT_EQ(server.ReadFile("vizo.jpg"), "old picture") << safe;
        EXPECT_EQ(server.CountCommands("RNFR"), 0) << safe;
        server.ClearFaults();
    }
}

// A server that died mid-transfer kept the partial temporary; the next success
// of that name removes it, and nothing that this process did not leave.
TEST_F(FtpTest, TemporaryLeftByADeadServerGoesWithTheNextSuccessOfItsName)
{
    ASSERT_TRUE(server.WriteFile("vizo.jpg.t50", "not left by us"));
    server.DieAfter(4096);
    EXPECT_FALSE(upload().UploadFile());
    ASSERT_TRUE(server.WaitForExit(5000));
    server.ClearFaults();
    ASSERT_TRUE(server.Restart()) << server.ErrorText().toStdString();
    ASSERT_TRUE(server.HasFile("vizo.jpg.t00"));
    upload().m_strRemotePath = "other.jpg";
    EXPECT_TRUE(upload().UploadFile());
    EXPECT_TRUE(server.HasFile("vizo.jpg.t00")) << "another name's success leaves it";
    upload().m_strRemotePath = "vizo.jpg";
    EXPECT_TRUE(upload().UploadFile());
    EXPECT_EQ(server.ListFiles(), QStringList({"other.jpg", "vizo.jpg", "vizo.jpg.t50"}));
    EXPECT_EQ(server.ReadFile("vizo.jpg"), picture);
    EXPECT_EQ(server.CountCommands("DELE vizo.jpg.t00"), 1);
}

TEST_F(FtpTest, OverLongPasswordGetsAReadableReason)
{
    upload().m_strFtpPassword = QString(5000, QLatin1Char('p'));
    EXPECT_FALSE(upload().UploadFile());
    EXPECT_TRUE(status.lines.contains("FTP session failed (Password too long)"))
        << status.lines.join('\n').toStdString();
}

// The Abort button and Alt+A reach the engine while the server holds back the
// reply to an upload; a click on another button inside the wait runs nothing.
TEST_F(FtpTest, AbortButtonAndAltACutAHeldBackReply)
{
    ScopedEnv longTimeout(VIZO_INET_TIMEOUT_ENV, "30");
    QPushButton* abortButton = nullptr;
    QPushButton* uploadButton = nullptr;
    for (QPushButton* b : dlg.findChildren<QPushButton*>()) {
        if (b->text() == "&Abort...")
            abortButton = b;
        if (b->text() == "&Upload now")
            uploadButton = b;
    }
    ASSERT_TRUE(abortButton && uploadButton);
    abortButton->setEnabled(true);
    dlg.show();
    dlg.activateWindow();
    QApplication::setActiveWindow(&dlg);
    server.Withhold({"226"});
    for (int way = 0; way < 2; ++way) {
        QTimer::singleShot(300, [&] { QTest::mouseClick(uploadButton, Qt::LeftButton); });
        QTimer::singleShot(600, [&] {
            if (way == 0)
                QTest::mouseClick(abortButton, Qt::LeftButton);
            else
                QTest::keyClick(&dlg, Qt::Key_A, Qt::AltModifier);
        });
        QElapsedTimer elapsed;
        elapsed.start();
        EXPECT_FALSE(upload().UploadFile()) << way;
        EXPECT_LT(elapsed.elapsed(), 1600) << way;
        EXPECT_EQ(upload().m_bAbort, 1) << way;
        upload().m_bAbort = 0;
        EXPECT_EQ(server.CountCommands("RNFR"), 0) << "nothing renamed after an abort";
    }
    EXPECT_EQ(server.CountCommands("STOR"), 2) << "the Upload now click started nothing";
}

// Closing the window inside a held-back reply waits for the call to return.
TEST_F(FtpTest, CloseDuringABlockedCallWaitsForTheCall)
{
    dlg.show();
    server.Withhold({"226"});
    bool closedDuringCall = false;
    QTimer::singleShot(300, [&] {
        dlg.close();
        closedDuringCall = !dlg.isVisible();
    });
    QTimer::singleShot(600, [&] { upload().Abort(); });
    EXPECT_FALSE(upload().UploadFile());
    EXPECT_FALSE(closedDuringCall);
    QElapsedTimer clock;
    clock.start();
    while (dlg.isVisible() && clock.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_FALSE(dlg.isVisible()) << "the close arrives once the call is over";
}
