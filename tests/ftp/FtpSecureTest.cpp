// The upload engine over every secure protocol: the same names, renames,
// Safe mode and one connection per series as over plain FTP.
#include "FtpTestBase.h"
#include "SshTestServer.h"

#include <QDir>
#include <QTimer>
#include <memory>

namespace
{

class FtpSecureTest : public FtpTest
{
protected:
    // Starts the server for the protocol and points the settings at it; plain
    // FTP keeps the fixture's server.
    void Use(int protocol)
    {
        FtpTransportSettings& t = upload().m_ftpTransport;
        t = FtpTransportSettings();
        t.nProtocol = protocol;
        tls.reset();
        ssh.reset();
        if (protocol == VIZO_PROTOCOL_FTP)
            return UseServer(upload(), server);
        if (protocol == VIZO_PROTOCOL_SFTP) {
            ssh = std::make_unique<SshTestServer>();
            ASSERT_TRUE(ssh->Start()) << ssh->ErrorText().toStdString();
            t.strServerKey = ssh->HostFingerprint();
            t.strPrivateKey = ssh->ClientKey();
            upload().m_strFtpServer = ssh->Address();
            upload().m_strFtpUsername = ssh->User();
            return;
        }
        FtpTestServer::Options o;
        o.tls = protocol == VIZO_PROTOCOL_FTPS_IMPLICIT ? "implicit" : "explicit";
        tls = std::make_unique<FtpTestServer>(o);
        ASSERT_TRUE(tls->Start()) << tls->ErrorText().toStdString();
        t.strServerKey = tls->Pin();
        upload().m_strFtpServer = tls->Address();
    }
    const FtpTestServer& Ftp() const { return tls ? *tls : server; }
    QStringList Files() const { return ssh ? ssh->ListFiles() : Ftp().ListFiles(); }
    QByteArray Read(const QString& name) const
    {
        return ssh ? ssh->ReadFile(name) : Ftp().ReadFile(name);
    }
    bool Write(const QString& name, const QByteArray& bytes) const
    {
        return ssh ? ssh->WriteFile(name, bytes) : Ftp().WriteFile(name, bytes);
    }

    int Logins() const
    {
        return ssh ? ssh->Log().filter("Accepted publickey").size() : tls->CountCommands("USER");
    }

    std::unique_ptr<FtpTestServer> tls;
    std::unique_ptr<SshTestServer> ssh;
};

} // namespace

TEST_F(FtpSecureTest, EachProtocolReplacesInBothModesAndSendsASeriesOverOneLogin)
{
    for (int protocol :
         {VIZO_PROTOCOL_FTP_EXPLICIT_TLS, VIZO_PROTOCOL_FTPS_IMPLICIT, VIZO_PROTOCOL_SFTP}) {
        SCOPED_TRACE(ProtocolName(protocol).toStdString());
        Use(protocol);
        ASSERT_TRUE(Write("vizo.jpg", "old picture"));
        for (int safe : {0, 1}) {
            upload().m_bSafeFtp = safe;
            QByteArray bytes = RandomBytes(100000 + safe, safe);
            ASSERT_TRUE(WriteLocalFile(upload().m_strLocalPath, bytes));
            EXPECT_TRUE(upload().UploadFile()) << status.lines.join('\n').toStdString();
            EXPECT_EQ(Files(), QStringList{"vizo.jpg"}) << "safe " << safe;
            EXPECT_EQ(Read("vizo.jpg"), bytes);
        }
        const int before = Logins();
        upload().m_bSafeFtp = 0;
        upload().m_bQuietTransfer = 1;
        ASSERT_TRUE(upload().Connect());
        for (int i = 1; i <= 12; ++i)
            EXPECT_TRUE(
                upload().Transfer(upload().m_strLocalPath, QString::asprintf("cam%03d.jpg", i), 2));
        EXPECT_TRUE(upload().Transfer(LocalFile("cam.lst", "cam001.jpg 0\r\n"), "cam.lst", 1));
        upload().Disconnect();
        upload().m_bQuietTransfer = 0;
        EXPECT_EQ(Logins() - before, 1);
        EXPECT_EQ(Files().size(), 14);
        EXPECT_EQ(Read("cam012.jpg"), Read("vizo.jpg"));
        EXPECT_EQ(Read("cam.lst"), "cam001.jpg 0\n");
        tls.reset();
        ssh.reset();
    }
}

TEST_F(FtpSecureTest, FailedRenameOverTlsLeavesTheOldPictureAlone)
{
    Use(VIZO_PROTOCOL_FTP_EXPLICIT_TLS);
    ASSERT_TRUE(tls->WriteFile("vizo.jpg", "old picture"));
    tls->Refuse("RNTO", -1, "vizo.jpg");
    EXPECT_FALSE(upload().UploadFile());
    EXPECT_TRUE(status.lines.contains("FTP rename failed (Invalid path (FTP error))"))
        << status.lines.join('\n').toStdString();
    EXPECT_EQ(tls->ListFiles(), QStringList{"vizo.jpg"});
    EXPECT_EQ(tls->ReadFile("vizo.jpg"), "old picture");
}

TEST_F(FtpSecureTest, TrustFailuresReachTheStatusLine)
{
    Use(VIZO_PROTOCOL_FTP_EXPLICIT_TLS);
    upload().m_ftpTransport.strServerKey.clear();
    EXPECT_FALSE(upload().UploadFile());
    EXPECT_TRUE(status.lines.contains("FTP session failed (Server certificate not trusted (SSL "
                                      "certificate problem: self-signed certificate))"))
        << status.lines.join('\n').toStdString();

    status.clear();
    ScopedEnv home("HOME", local.path().toUtf8()); // no known_hosts there
    Use(VIZO_PROTOCOL_SFTP);
    upload().m_ftpTransport.strServerKey.clear();
    EXPECT_FALSE(upload().UploadFile());
    EXPECT_TRUE(status.lines.contains("FTP session failed (Server host key unknown: " +
                                      ssh->HostFingerprint() + " (not in known_hosts))"))
        << status.lines.join('\n').toStdString();
}

TEST_F(FtpTest, TransferModeChoosesPassiveOrActiveWhateverTheProxy)
{
    for (int mode : {kTransferPassive, kTransferActive}) {
        server.ClearCommands();
        upload().m_ftpTransport.nTransferMode = mode;
        EXPECT_TRUE(upload().UploadFile());
        const bool passive = mode == kTransferPassive;
        EXPECT_EQ(server.CountCommands("EPSV") > 0, passive);
        EXPECT_EQ(server.CountCommands("EPRT") > 0, !passive);
    }
    upload().m_ftpTransport.nTransferMode = 7; // a hand-edited value
    status.clear();
    EXPECT_FALSE(upload().UploadFile());
    EXPECT_TRUE(
        status.lines.contains("FTP session failed (unknown Transfer Mode 7 in the settings)"));
}

// The clean-up after an Abort logs in as the upload did: a TLS-only server
// refuses a plain login, and the partial temporary would stay.
TEST_F(FtpSecureTest, AbortOverTlsLeavesNothingBehind)
{
    Use(VIZO_PROTOCOL_FTP_EXPLICIT_TLS);
    upload().m_strLocalPath = LocalFile("big.jpg", RandomBytes(100000, 7));
    tls->Withhold({"226"}); // the data arrives, its reply never does: Abort cuts the wait
    QTimer::singleShot(700, [&] { upload().Abort(); });
    EXPECT_FALSE(upload().UploadFile());
    EXPECT_TRUE(upload().m_bAbort);
    EXPECT_EQ(tls->CountCommands("DELE"), 1) << tls->Commands().join('\n').toStdString();
    EXPECT_EQ(Files(), QStringList()) << Files().join(' ').toStdString();
}

// A series' frames and a single shot into folders that do not exist yet: made
// level by level once per session, said once; a folder that exists is fine.
TEST_F(FtpSecureTest, MissingRemoteFoldersAreMadeOncePerSessionAndSaidOnce)
{
    for (int protocol : {VIZO_PROTOCOL_FTP, VIZO_PROTOCOL_SFTP}) {
        SCOPED_TRACE(ProtocolName(protocol).toStdString());
        Use(protocol);
        status.clear();
        ASSERT_TRUE(upload().Connect());
        for (const char* name : {"cams/door/f1.jpg", "cams/door/f2.jpg"})
            EXPECT_TRUE(upload().Transfer(upload().m_strLocalPath, name, 2))
                << status.lines.join('\n').toStdString();
        upload().Disconnect();
        // sshd does not log SFTP requests where we can read them.
        const int made = ssh ? 2 : Ftp().CountCommands("MKD");
        EXPECT_EQ(made, 2) << "each level, once per session";
        upload().m_strRemotePath = "cams/door/vizo.jpg";
        EXPECT_TRUE(upload().UploadFile()) << status.lines.join('\n').toStdString();
        EXPECT_EQ(ssh ? 4 : Ftp().CountCommands("MKD"), 4);
        EXPECT_EQ(status.lines.count("Created remote folder cams/door"), 1)
            << status.lines.join('\n').toStdString();
        EXPECT_EQ(Files(),
                  QStringList({"cams/door/f1.jpg", "cams/door/f2.jpg", "cams/door/vizo.jpg"}));
        EXPECT_EQ(Read("cams/door/vizo.jpg"), picture);
        EXPECT_EQ(Read("cams/door/f2.jpg"), picture);
    }
}

// A file where a folder should be: the upload fails naming the folder and
// the server's reason.
// The folder was there all along ("550 File exists."): the refused upload
// gives its own reason, not the folder's.
TEST_F(FtpSecureTest, AnUploadRefusedInAFolderThatExistsSaysWhy)
{
    Use(VIZO_PROTOCOL_FTP);
    ASSERT_TRUE(server.MakeDir("timelapse"));
    server.Refuse("STOR", -1, QString(), 553);
    upload().m_strRemotePath = "timelapse/vizo.jpg";
    EXPECT_FALSE(upload().UploadFile());
    const QStringList failed = status.lines.filter("FTP transfer failed");
    ASSERT_EQ(failed.size(), 1) << status.lines.join('\n').toStdString();
    EXPECT_FALSE(failed[0].contains("Cannot create remote folder")) << failed[0].toStdString();
}

TEST_F(FtpSecureTest, AFolderThatCannotBeMadeFailsTheUploadWithTheReason)
{
    for (int protocol : {VIZO_PROTOCOL_FTP, VIZO_PROTOCOL_SFTP}) {
        SCOPED_TRACE(ProtocolName(protocol).toStdString());
        Use(protocol);
        status.clear();
        ASSERT_TRUE(Write("cams", "not a folder"));
        upload().m_strRemotePath = "cams/door/vizo.jpg";
        EXPECT_FALSE(upload().UploadFile());
        const QStringList failed = status.lines.filter("FTP transfer failed");
        ASSERT_EQ(failed.size(), 1) << status.lines.join('\n').toStdString();
        EXPECT_TRUE(failed[0].startsWith("FTP transfer failed (Cannot create remote folder "
                                         "cams/door (") &&
                    failed[0].size() > 60)
            << failed[0].toStdString();
        EXPECT_EQ(Files(), QStringList({"cams"}));
    }
}
