#include "SessionTestBase.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace
{

TEST_F(SessionTest, SingleShotPublishesThePicture)
{
    RunSession();
    const QByteArray picture = ReadLocal(QStringLiteral("cam.jpg"));
    ASSERT_TRUE(IsJpeg(picture));
    EXPECT_EQ(server.ListFiles(), QStringList{QStringLiteral("cam.jpg")});
    EXPECT_EQ(server.ReadFile(QStringLiteral("cam.jpg")), picture);
    const QString host = server.Address();
    EXPECT_EQ(SessionLines(),
              (QStringList{"Starting capture...", "Opening FTP session to " + host + "...",
                           "FTP session to " + host + " opened.",
                           "Starting FTP transfer of cam.jpg.t00...", "Renaming file to cam.jpg...",
                           "FTP transfer completed.", "Closing FTP session...",
                           "FTP session closed.", "Succesful upload at " + StartText()}));
    EXPECT_EQ(app.m_bSessionActive, 0);
    EXPECT_TRUE(wnd.GetDlgItem(1001)->isEnabled());
    EXPECT_FALSE(wnd.GetDlgItem(1002)->isEnabled());
    EXPECT_EQ(app.m_timeNextUpload, app.m_timeLastStart + 900);
}

TEST_F(SessionTest, SingleShotWithoutFtpOnlyWritesTheLocalPicture)
{
    u.m_bUseFtp = 0;
    RunSession();
    EXPECT_TRUE(IsJpeg(ReadLocal(QStringLiteral("cam.jpg"))));
    EXPECT_EQ(SessionLines(),
              (QStringList{"Starting capture...", "Succesful capture at " + StartText()}));
    EXPECT_TRUE(server.ListFiles().isEmpty());
    EXPECT_EQ(server.CountCommands(QStringLiteral("USER")), 0);
}

TEST_F(SessionTest, SingleShotLoginFailureLeavesTheReasonShowing)
{
    u.m_strFtpPassword = QStringLiteral("wrong");
    RunSession();
    EXPECT_EQ(SessionLines().last(),
              QStringLiteral("FTP session failed (Invalid username/password (FTP error))"));
    EXPECT_TRUE(server.ListFiles().isEmpty());
    EXPECT_TRUE(IsJpeg(ReadLocal(QStringLiteral("cam.jpg"))));
}

TEST_F(SessionTest, UnknownModeOnlyOpensAndCloses)
{
    u.m_nUploadMode = 3;
    RunSession();
    EXPECT_EQ(SessionLines(), QStringList{QStringLiteral("Starting capture...")});
    EXPECT_EQ(app.m_timeNextUpload, app.m_timeLastStart + 900);
    EXPECT_FALSE(QFile::exists(Local(QStringLiteral("cam.jpg"))));
}

// A click made while a network call pumps without input must not wait for the
// next click to arrive: the session's next pump delivers it.
TEST_F(SessionTest, ClickHeldDuringABlockedCallArrivesAtTheNextPump)
{
    ModalAnswer modal([this](QDialog& d) {
        d.show();
        QCoreApplication::processEvents();
        wnd.GetDlgItem(1002)->setEnabled(true);
        PostClick(1002);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        EXPECT_EQ(u.m_bAbort, 0);
        PumpMessages();
        EXPECT_EQ(u.m_bAbort, 1);
        return IDCANCEL;
    });
    wnd.DoModal();
}

} // namespace
