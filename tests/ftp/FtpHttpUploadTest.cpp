// The upload engine publishing to an HTTP destination: the same status lines
// as over FTP, the picture put straight under its final name.
#include "DavTestServer.h"
#include "FtpTestBase.h"

namespace
{

class FtpDavTest : public FtpTest
{
protected:
    void SetUp() override
    {
        FtpTest::SetUp();
        ASSERT_TRUE(dav.Start()) << dav.ErrorText().toStdString();
        upload().m_ftpTransport.nProtocol = VIZO_PROTOCOL_WEBDAV;
        upload().m_strFtpServer = dav.Url();
        upload().m_strFtpUsername = dav.User();
        upload().m_strFtpPassword = dav.Password();
    }
    QStringList Opening() const
    {
        return {"Opening FTP session to " + dav.Url() + "...",
                "FTP session to " + dav.Url() + " opened."};
    }
    DavTestServer dav;
};

} // namespace

TEST_F(FtpDavTest, PublishesUnderTheFinalNameInAMadeFolder)
{
    upload().m_strRemotePath = QStringLiteral("cams/vizo.jpg");
    upload().m_bSafeFtp = 1; // nothing to move aside: the server swaps whole files
    EXPECT_TRUE(upload().UploadFile());
    EXPECT_EQ(status.lines,
              Opening() + QStringList({"Starting FTP transfer of cams/vizo.jpg...",
                                       "Created remote folder cams", "FTP transfer completed.",
                                       "Closing FTP session...", "FTP session closed."}));
    EXPECT_EQ(dav.ListFiles(), QStringList({"cams/vizo.jpg"}));
    EXPECT_EQ(dav.ReadFile("cams/vizo.jpg"), picture);
    EXPECT_EQ(s_nFtpSwapIndex, 0) << "no temporary name used";
}

TEST_F(FtpDavTest, RefusalsKeepTheStatusTextsAndNameTheHttpStatus)
{
    upload().m_strFtpPassword = QStringLiteral("wrong");
    EXPECT_FALSE(upload().UploadFile());
    EXPECT_EQ(status.lines.last(), "FTP session failed (HTTP 401 Unauthorized)");

    upload().m_strFtpPassword = dav.Password();
    upload().m_strFtpServer = QStringLiteral("dav.example/cams");
    EXPECT_FALSE(upload().UploadFile());
    EXPECT_EQ(status.lines.last(),
              "FTP session failed (Server is not an http:// or https:// address)");

    // A password typed into the address never reaches a status line or the log.
    status.clear();
    upload().m_strFtpServer = dav.Url().replace("http://", "http://cam:hunter2@");
    EXPECT_FALSE(upload().UploadFile());
    EXPECT_EQ(status.lines.first(),
              "Opening FTP session to " + dav.Url().replace("http://", "http://cam:***@") + "...");
    EXPECT_FALSE(status.lines.join("\n").contains("hunter2"))
        << status.lines.join("\n").toStdString();
    EXPECT_EQ(dav.ListFiles(), QStringList());
}
