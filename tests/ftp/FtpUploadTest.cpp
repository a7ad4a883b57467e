// One upload at a time: what the server holds afterwards and what the status
// line said on the way.
#include "FtpTestBase.h"

namespace
{
const QStringList kTransferLines{"Starting FTP transfer of vizo.jpg.t00...",
                                 "Renaming file to vizo.jpg...", "FTP transfer completed."};
const QStringList kCloseLines{"Closing FTP session...", "FTP session closed."};
} // namespace

TEST_F(FtpTest, UploadStoresUnderTemporaryNameThenRenames)
{
    EXPECT_TRUE(upload().UploadFile());
    EXPECT_EQ(status.lines, OpenLines() + kTransferLines + kCloseLines);
    EXPECT_EQ(server.ListFiles(), QStringList({"vizo.jpg"}));
    EXPECT_EQ(server.ReadFile("vizo.jpg"), picture);
    EXPECT_EQ(StoredNames(), QStringList({"vizo.jpg.t00"}));
    EXPECT_EQ(s_nFtpSwapIndex, 1);
    EXPECT_EQ(upload().m_hFtpSession, nullptr);
    EXPECT_EQ(upload().m_hInternet, nullptr);
    EXPECT_EQ(upload().m_hRasConn, nullptr);
}

TEST_F(FtpTest, UploadReplacesAnExistingFile)
{
    ASSERT_TRUE(server.WriteFile("vizo.jpg", "old picture"));
    EXPECT_TRUE(upload().UploadFile());
    EXPECT_EQ(server.ListFiles(), QStringList({"vizo.jpg"}));
    EXPECT_EQ(server.ReadFile("vizo.jpg"), picture);
    EXPECT_EQ(server.CountCommands("RNFR vizo.jpg"), 0) << "nothing moved aside";
    EXPECT_EQ(server.CountCommands("DELE"), 0);
}

TEST_F(FtpTest, SafeFtpMovesTheOldFileAsideAndDeletesIt)
{
    upload().m_bSafeFtp = 1;
    s_nFtpSwapIndex = 7;
    ASSERT_TRUE(server.WriteFile("vizo.jpg", "old picture"));
    EXPECT_TRUE(upload().UploadFile());
    // The temporary's size is checked before anything is renamed.
    QStringList expected{"STOR vizo.jpg.t07", "SIZE vizo.jpg.t07", "RNFR vizo.jpg",
                         "RNTO vizo.jpg.d07", "RNFR vizo.jpg.t07", "RNTO vizo.jpg",
                         "DELE vizo.jpg.d07"};
    QStringList commands = server.Commands();
    int start = commands.indexOf("STOR vizo.jpg.t07");
    ASSERT_GE(start, 0);
    EXPECT_EQ(commands.mid(start, expected.size()), expected);
    EXPECT_EQ(server.ListFiles(), QStringList({"vizo.jpg"}));
    EXPECT_EQ(server.ReadFile("vizo.jpg"), picture);
}

TEST_F(FtpTest, SafeFtpWithoutRemoteFileYet)
{
    upload().m_bSafeFtp = 1;
    EXPECT_TRUE(upload().UploadFile());
    EXPECT_EQ(server.CountCommands("RNFR vizo.jpg"), 5) << "the move aside is tried 5 times";
    EXPECT_EQ(server.CountCommands("USER"), 1) << "refusals do not cost a new login";
    EXPECT_EQ(server.CountCommands("DELE"), 0);
    EXPECT_EQ(status.lines, OpenLines() + kTransferLines + kCloseLines);
    EXPECT_EQ(server.ListFiles(), QStringList({"vizo.jpg"}));
    EXPECT_EQ(server.ReadFile("vizo.jpg"), picture);
}

TEST_F(FtpTest, RefusedRenameRestoresTheOldFileAndDeletesTheTemporary)
{
    upload().m_bSafeFtp = 1;
    ASSERT_TRUE(server.WriteFile("vizo.jpg", "old picture"));
    server.Refuse("RNTO", 5, "vizo.jpg");
    EXPECT_FALSE(upload().UploadFile());
    EXPECT_EQ(status.lines,
              OpenLines() + QStringList({"Starting FTP transfer of vizo.jpg.t00...",
                                         "Renaming file to vizo.jpg...",
                                         "FTP rename failed (Invalid path (FTP error))"}));
    EXPECT_EQ(server.CountCommands("RNFR vizo.jpg.t00"), 5);
    EXPECT_EQ(server.CountCommands("RNFR vizo.jpg.d00"), 1) << "put back at the first attempt";
    EXPECT_EQ(server.CountCommands("DELE vizo.jpg.t00"), 1);
    EXPECT_EQ(server.ListFiles(), QStringList({"vizo.jpg"}));
    EXPECT_EQ(server.ReadFile("vizo.jpg"), QByteArray("old picture"));
    EXPECT_FALSE(s_bCloseMessages);
}

TEST_F(FtpTest, RefusedRenameWithoutSafeFtpKeepsTheOldFile)
{
    ASSERT_TRUE(server.WriteFile("vizo.jpg", "old picture"));
    server.Refuse("RNTO", -1, "vizo.jpg");
    EXPECT_FALSE(upload().UploadFile());
    EXPECT_EQ(status.lines.last(), "FTP rename failed (Invalid path (FTP error))");
    EXPECT_EQ(server.ListFiles(), QStringList({"vizo.jpg"}));
    EXPECT_EQ(server.ReadFile("vizo.jpg"), QByteArray("old picture"));
}

TEST_F(FtpTest, LoginFailureShowsOneLineAndClosesSilently)
{
    upload().m_strFtpPassword = "wrong";
    EXPECT_FALSE(upload().UploadFile());
    EXPECT_EQ(status.lines,
              QStringList({OpenLines().first(),
                           "FTP session failed (Invalid username/password (FTP error))"}));
    EXPECT_FALSE(s_bCloseMessages);
    EXPECT_EQ(upload().m_hInternet, nullptr);
}

TEST_F(FtpTest, UnresolvableHost)
{
    upload().m_strFtpServer = "nosuchhost.invalid";
    EXPECT_FALSE(upload().UploadFile());
    EXPECT_EQ(status.lines, QStringList({"Opening FTP session to nosuchhost.invalid...",
                                         "FTP session failed (Can't resolve name (DNS error))"}));
}

TEST_F(FtpTest, RemoteNameWithoutDotIsRefusedAfterLogin)
{
    upload().m_strRemotePath = "pub/cam";
    s_nFtpSwapIndex = 42;
    EXPECT_FALSE(upload().UploadFile());
    EXPECT_EQ(status.lines,
              OpenLines() +
                  QStringList({"Invalid remote filename 'pub/cam' (must have file extension)"}));
    EXPECT_EQ(s_nFtpSwapIndex, 42);
    EXPECT_EQ(server.CountCommands("STOR"), 0);
    EXPECT_TRUE(server.ListFiles().isEmpty());
}

TEST_F(FtpTest, DotInADirectoryIsEnough)
{
    ASSERT_TRUE(server.MakeDir("pub.d"));
    upload().m_strRemotePath = "pub.d/cam";
    EXPECT_TRUE(upload().UploadFile());
    EXPECT_EQ(status.lines,
              OpenLines() +
                  QStringList({"Starting FTP transfer of pub.d/cam.t00...",
                               "Renaming file to pub.d/cam...", "FTP transfer completed."}) +
                  kCloseLines);
    EXPECT_EQ(server.ListFiles(), QStringList({"pub.d/cam"}));
    EXPECT_EQ(server.ReadFile("pub.d/cam"), picture);
}

TEST_F(FtpTest, RemoteNamesTooLongForTheNameBuffersAreRefused)
{
    QString longest = QString(kMaxRemoteNameBytes - 4, 'n') + ".jpg";
    upload().m_strRemotePath = longest;
    EXPECT_TRUE(upload().UploadFile());
    EXPECT_EQ(server.ReadFile(longest), picture);

    status.clear();
    upload().m_strRemotePath = "x" + longest;
    EXPECT_FALSE(upload().UploadFile());
    EXPECT_EQ(status.lines.last(), "Invalid remote filename (longer than 198 bytes)");
    EXPECT_EQ(s_nFtpSwapIndex, 1);
    EXPECT_EQ(server.CountCommands("STOR"), 1);
    // 100 two-byte letters do not fit.
    status.clear();
    upload().m_strRemotePath = QString(100, QChar(0xe9)) + ".jpg";
    EXPECT_FALSE(upload().UploadFile());
    EXPECT_EQ(status.lines.last(), "Invalid remote filename (longer than 198 bytes)");
}

TEST_F(FtpTest, MissingLocalFileAndUnknownCodes)
{
    upload().m_strLocalPath = local.filePath("missing.jpg");
    EXPECT_FALSE(upload().UploadFile());
    EXPECT_EQ(status.lines.last(), "FTP transfer failed (error code 2)");
    EXPECT_EQ(server.CountCommands("STOR"), 0);

    s_bCloseMessages = true;
    SetLastError(12015);
    upload().ReportFailure("Something failed");
    EXPECT_EQ(status.lines.last(), "Something failed (error code 12015)");
    EXPECT_FALSE(s_bCloseMessages);
}
