// The layer over TLS (explicit and implicit) and SFTP against real servers
// with throw-away keys: uploads as over FTP, and every trust failure refused
// with a reason of its own.
#include "InetApi.h"
#include "SshTestServer.h"
#include "platform/win/lasterror.h"

#include <QDir>
#include <curl/curl.h>

namespace
{

QString FailureText(const InetApi& inet)
{
    char text[512] = {};
    DWORD size = sizeof text;
    return inet.Query(nullptr, INTERNET_OPTION_VIZO_FAILURE_TEXT, text, &size)
               ? QString::fromUtf8(text)
               : QString();
}

struct Endpoint {
    QString address, user, password;
    DWORD protocol;
    QByteArray key, privateKey;
};

HINTERNET ConnectTo(const InetApi& inet, HINTERNET internet, const Endpoint& e,
                    DWORD flags = INTERNET_FLAG_PASSIVE)
{
    VIZO_TRANSPORT t{sizeof t, e.protocol, e.key.constData(), e.privateKey.constData(),
                     nullptr,  nullptr};
    return inet.Connect(internet, e.address.toUtf8(), 0, e.user.toUtf8(), e.password.toUtf8(),
                        INTERNET_SERVICE_FTP, flags | INTERNET_FLAG_VIZO_TRANSPORT,
                        reinterpret_cast<DWORD_PTR>(&t));
}

// Upload to a temporary, rename over an existing picture, delete a file.
template <typename Server>
void PublishTwice(const InetApi& inet, HINTERNET session, const Server& server, QString local)
{
    QByteArray first = RandomBytes(120000, 1), second = RandomBytes(90000, 2);
    for (const QByteArray& bytes : {first, second}) {
        ASSERT_TRUE(WriteLocalFile(local, bytes));
        ASSERT_TRUE(inet.Put(session, local.toUtf8(), "cam.jpg.t00", FTP_TRANSFER_TYPE_BINARY, 0))
            << GetLastError() << " " << FailureText(inet).toStdString();
        ASSERT_TRUE(inet.Rename(session, "cam.jpg.t00", "cam.jpg"))
            << GetLastError() << " " << FailureText(inet).toStdString();
        EXPECT_EQ(server.ReadFile("cam.jpg"), bytes);
    }
    // A failed rename leaves the old picture and nothing else.
    EXPECT_FALSE(inet.Rename(session, "missing.t00", "cam.jpg"));
    EXPECT_EQ(server.ListFiles(), QStringList{"cam.jpg"});
    EXPECT_EQ(server.ReadFile("cam.jpg"), second);
    ASSERT_TRUE(inet.Delete(session, "cam.jpg"));
    EXPECT_EQ(server.ListFiles(), QStringList());
}

class InetTlsTest : public ::testing::TestWithParam<const char*>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(inet.Loaded());
        options.tls = QString::fromLatin1(GetParam());
        internet = inet.Open("Vizo", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    }
    void TearDown() override { inet.Close(internet); }
    bool Start(FtpTestServer& s)
    {
        if (!s.Start())
            ADD_FAILURE() << s.ErrorText().toStdString();
        return !s.Pin().isEmpty();
    }
    Endpoint Pinned(const FtpTestServer& s) const
    {
        DWORD protocol = options.tls == "implicit" ? VIZO_PROTOCOL_FTPS_IMPLICIT
                                                   : VIZO_PROTOCOL_FTP_EXPLICIT_TLS;
        return {s.Address(), s.User(), s.Password(), protocol, s.Pin().toUtf8(), ""};
    }

    InetApi inet;
    HINTERNET internet = nullptr;
    FtpTestServer::Options options;
    QTemporaryDir local;
    ScopedEnv timeout{VIZO_INET_TIMEOUT_ENV, "3"};
};

} // namespace

TEST_P(InetTlsTest, PinnedServerTakesUploadsPassively)
{
    FtpTestServer server(options);
    ASSERT_TRUE(Start(server));
    HINTERNET session = ConnectTo(inet, internet, Pinned(server));
    ASSERT_NE(session, nullptr) << GetLastError() << FailureText(inet).toStdString();
    PublishTwice(inet, session, server, local.filePath("x.jpg"));
    inet.Close(session);
    // One connection, encrypted before the login, data included; the refused
    // rename did not cost a new login.
    EXPECT_EQ(server.CountCommands("CONNECT"), 1);
    EXPECT_EQ(server.CountCommands("PROT P"), 1);
    EXPECT_EQ(server.CountCommands("AUTH TLS"), options.tls == "explicit" ? 1 : 0);
    EXPECT_GT(server.CountCommands("EPSV"), 0);
    EXPECT_EQ(server.CountCommands("EPRT") + server.CountCommands("PORT"), 0);

    // This libcurl sends active-mode TLS data in clear: refused up front.
    if (curl_version_info(CURLVERSION_NOW)->version_num < 0x080000) {
        EXPECT_EQ(ConnectTo(inet, internet, Pinned(server), 0), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_VIZO_UNSUPPORTED));
        EXPECT_TRUE(FailureText(inet).startsWith("Active mode over TLS does not work"));
    }
}

TEST_P(InetTlsTest, UntrustedCertificatesAreRefusedWithTheirReason)
{
    options.certName = QStringLiteral("elsewhere.example");
    FtpTestServer server(options);
    ASSERT_TRUE(Start(server));
    Endpoint e = Pinned(server);
    const QByteArray otherPin = "sha256//" + QByteArray(43, 'A') + "=";
    struct Case {
        QByteArray pin;
        const char* caFile;
        const char* says;
    } cases[] = {
        {"", nullptr, "self-signed"},             // no pin, only the system's CAs
        {otherPin, nullptr, "pinned public key"}, // a pin that does not match
        {"", "ca", "subject name"},               // trusted CA, wrong host name
    };
    for (const Case& c : cases) {
        ScopedEnv ca("VIZO_INET_CA_FILE", c.caFile ? server.CertificatePath().toUtf8() : "");
        e.key = c.pin;
        EXPECT_EQ(ConnectTo(inet, internet, e), nullptr) << c.says;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_INVALID_CA)) << c.says;
        QString text = FailureText(inet);
        EXPECT_TRUE(text.startsWith("Server certificate not trusted (")) << text.toStdString();
        EXPECT_TRUE(text.contains(c.says)) << text.toStdString();
    }
    EXPECT_EQ(server.CountCommands("USER"), 0) << "no password sent to an untrusted server";
}

TEST_P(InetTlsTest, WrongPasswordAndDroppedSessionFailCleanly)
{
    FtpTestServer server(options);
    ASSERT_TRUE(Start(server));
    Endpoint e = Pinned(server);
    e.password = "wrong";
    EXPECT_EQ(ConnectTo(inet, internet, e), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_INCORRECT_PASSWORD));

    HINTERNET session = ConnectTo(inet, internet, Pinned(server));
    ASSERT_NE(session, nullptr);
    ASSERT_TRUE(WriteLocalFile(local.filePath("x.jpg"), RandomBytes(400000)));
    server.DropAfter(100000);
    EXPECT_FALSE(inet.Put(session, local.filePath("x.jpg").toUtf8(), "cam.jpg.t00",
                          FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_NE(GetLastError(), DWORD(0));
    EXPECT_FALSE(server.HasFile("cam.jpg"));
    inet.Close(session);
}

INSTANTIATE_TEST_SUITE_P(Tls, InetTlsTest, ::testing::Values("explicit", "implicit"));

TEST_F(InetTest, PlainFtpToATlsOnlyServerSaysTlsIsRequired)
{
    FtpTestServer::Options o;
    o.tlsRequired = true;
    FtpTestServer strict(o);
    ASSERT_TRUE(strict.Start());
    EXPECT_EQ(LoginTo(strict.Address(), strict.User(), strict.Password()), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_VIZO_TLS_REQUIRED));
    EXPECT_EQ(FailureText(inet),
              "Server requires TLS (550 SSL/TLS required on the control channel.)");
}

class InetSftpTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(inet.Loaded());
        ASSERT_TRUE(server.Start()) << server.ErrorText().toStdString();
        internet = inet.Open("Vizo", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        QDir(home.path()).mkpath(".ssh");
    }
    void TearDown() override { inet.Close(internet); }
    void KnownHosts(const QByteArray& lines)
    {
        ASSERT_TRUE(WriteLocalFile(home.filePath(".ssh/known_hosts"), lines));
    }
    Endpoint Account(const QByteArray& fingerprint = QByteArray()) const
    {
        return {server.Address(),   server.User(), "",
                VIZO_PROTOCOL_SFTP, fingerprint,   server.ClientKey().toUtf8()};
    }

    InetApi inet;
    SshTestServer server;
    HINTERNET internet = nullptr;
    QTemporaryDir home, local;
    ScopedEnv homeEnv{"HOME", home.path().toUtf8()};
    ScopedEnv timeout{VIZO_INET_TIMEOUT_ENV, "5"};
};

TEST_F(InetSftpTest, KnownOrPinnedHostTakesUploadsAndReplacements)
{
    KnownHosts(server.KnownHostsLine());
    for (const QByteArray& pin : {QByteArray(), server.HostFingerprint().toUtf8()}) {
        HINTERNET session = ConnectTo(inet, internet, Account(pin));
        ASSERT_NE(session, nullptr) << GetLastError() << FailureText(inet).toStdString();
        PublishTwice(inet, session, server, local.filePath("x.jpg"));
        inet.Close(session);
    }
}

TEST_F(InetSftpTest, UnknownChangedOrUnpinnedHostKeysAreRefusedShowingTheirFingerprint)
{
    const QString fp = server.HostFingerprint();
    struct Case {
        QByteArray knownHosts, pin;
        QString why;
    } cases[] = {
        {"", "", "not in known_hosts"},
        {server.KnownHostsLine(true), "", "differs from the key in known_hosts"},
        {server.KnownHostsLine(), "SHA256:" + QByteArray(43, 'A'), "does not match the Server key"},
        // A fingerprint cut short still names no key: the layer refuses it
        // whoever checked its length before.
        {server.KnownHostsLine(), fp.chopped(1).toUtf8(), "does not match the Server key"},
        {server.KnownHostsLine(), fp.left(15).toUtf8(), "does not match the Server key"},
        {server.KnownHostsLine(), fp.mid(7, 20).toUtf8(), "does not match the Server key"},
    };
    for (const Case& c : cases) {
        KnownHosts(c.knownHosts);
        EXPECT_EQ(ConnectTo(inet, internet, Account(c.pin)), nullptr) << c.why.toStdString();
        EXPECT_EQ(GetLastError(), DWORD(ERROR_VIZO_HOST_KEY));
        EXPECT_EQ(FailureText(inet), "Server host key unknown: " + fp + " (" + c.why + ")");
    }
    EXPECT_EQ(server.ListFiles(), QStringList());
}

TEST_F(InetSftpTest, MissingOrRefusedPrivateKeyFailsWithItsReason)
{
    KnownHosts(server.KnownHostsLine());
    Endpoint e = Account();
    e.privateKey = local.filePath("no-such-key").toUtf8();
    EXPECT_EQ(ConnectTo(inet, internet, e), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_VIZO_PRIVATE_KEY));
    EXPECT_TRUE(FailureText(inet).startsWith("Private key file missing or unreadable ("));
    e.privateKey = local.path().toUtf8(); // a folder
    EXPECT_EQ(ConnectTo(inet, internet, e), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_VIZO_PRIVATE_KEY));
    e.privateKey = QFileInfo(server.ClientKey()).path().toUtf8() + "/other"; // not authorized
    EXPECT_EQ(ConnectTo(inet, internet, e), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_INCORRECT_PASSWORD));
}

// Replacing moves the old picture aside first: a rename that then fails puts
// it back, and nothing else is left.
TEST_F(InetSftpTest, FailedReplaceKeepsTheOldPicture)
{
    KnownHosts(server.KnownHostsLine());
    HINTERNET session = ConnectTo(inet, internet, Account());
    ASSERT_NE(session, nullptr) << GetLastError() << FailureText(inet).toStdString();
    ASSERT_TRUE(server.WriteFile("cam.jpg", "old picture"));
    EXPECT_FALSE(inet.Rename(session, "missing.jpg.t00", "cam.jpg"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_EXTENDED_ERROR));
    EXPECT_EQ(server.ListFiles(), QStringList{"cam.jpg"});
    EXPECT_EQ(server.ReadFile("cam.jpg"), "old picture");
    inet.Close(session);
}
