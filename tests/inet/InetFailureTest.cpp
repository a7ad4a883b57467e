// The layer's failures: each leaves the platform code the program's reason
// table knows, and none hangs.
#include "InetApi.h"
#include "platform/win/lasterror.h"

#include <QElapsedTimer>
#include <QThread>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

// A port on 127.0.0.1 that refuses connections: bound, never listening.
class ClosedPort
{
public:
    ClosedPort()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), len);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
    }
    ~ClosedPort() { ::close(m_fd); }
    QString Address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

private:
    int m_fd = -1;
    int m_port = 0;
};

} // namespace

TEST_F(InetTest, LoginFailsAtConnectTimeWithItsReason)
{
    struct Case {
        QString server, user, password;
        DWORD code;
    } cases[] = {
        {server.Address(), "user", "wrong", ERROR_INTERNET_INCORRECT_PASSWORD},
        {server.Address(), "nobody", "secret", ERROR_INTERNET_INCORRECT_PASSWORD},
        {ClosedPort().Address(), "user", "secret", ERROR_INTERNET_CANNOT_CONNECT},
        {"nosuchhost.invalid", "user", "secret", ERROR_INTERNET_NAME_NOT_RESOLVED},
        {"bad host:21", "user", "secret", ERROR_INTERNET_NAME_NOT_RESOLVED},
        {server.Address() + "\r\n", "user", "secret", ERROR_INTERNET_NAME_NOT_RESOLVED},
        {server.Address(), "user\r\nDELE x", "secret", ERROR_INTERNET_INCORRECT_PASSWORD},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(LoginTo(c.server, c.user, c.password), nullptr) << c.server.toStdString();
        EXPECT_EQ(GetLastError(), c.code) << c.server.toStdString() << " " << c.user.toStdString();
    }
    EXPECT_EQ(server.CountCommands("DELE"), 0);
    EXPECT_EQ(inet.Connect(internet, "127.0.0.1", server.Port(), "user", "secret", 3, 0, 0),
              nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST_F(InetTest, RefusedOperationsGiveInvalidPath)
{
    HINTERNET session = Login();
    ASSERT_NE(session, nullptr);
    QByteArray path = LocalFile("x.bin", RandomBytes(100)).toUtf8();
    SetLastError(0);
    EXPECT_FALSE(inet.Rename(session, "missing.jpg", "cam.jpg"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_EXTENDED_ERROR));
    SetLastError(0);
    server.Refuse("STOR", 1);
    EXPECT_FALSE(inet.Put(session, path, "cam.jpg", FTP_TRANSFER_TYPE_BINARY, 666));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_EXTENDED_ERROR));
    ASSERT_TRUE(server.WriteFile("file", "not a folder"));
    SetLastError(0);
    // A folder level refused as "exists" leaves the upload's own refusal to
    // say why; one that cannot be made is named.
    EXPECT_FALSE(inet.Put(session, path, "file/cam.jpg", FTP_TRANSFER_TYPE_BINARY, 666));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_EXTENDED_ERROR));
    SetLastError(0);
    EXPECT_FALSE(inet.Put(session, path, "file/sub/cam.jpg", FTP_TRANSFER_TYPE_BINARY, 666));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_VIZO_REMOTE_FOLDER));
    SetLastError(0);
    EXPECT_FALSE(inet.Delete(session, "missing.jpg"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_EXTENDED_ERROR));

    // Line breaks would smuggle in commands: refused before anything is sent.
    server.ClearCommands();
    EXPECT_FALSE(inet.Put(session, path, "a.jpg\r\nDELE b", FTP_TRANSFER_TYPE_BINARY, 666));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_EXTENDED_ERROR));
    EXPECT_FALSE(inet.Rename(session, "a.jpg", "b.jpg\nDELE c"));
    EXPECT_FALSE(inet.Delete(session, "\n"));
    EXPECT_FALSE(inet.Put(session, path, "", FTP_TRANSFER_TYPE_BINARY, 666));
    EXPECT_TRUE(server.Commands().isEmpty()) << server.Commands().join(", ").toStdString();

    EXPECT_FALSE(inet.Put(session, "/nonexistent/x.jpg", "x.jpg", FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(inet.Put(session, local.path().toUtf8(), "x.jpg", FTP_TRANSFER_TYPE_BINARY, 0))
        << "a directory is not a file to send";

    // The session is still good after all of that.
    EXPECT_TRUE(inet.Put(session, path, "ok.bin", FTP_TRANSFER_TYPE_BINARY, 666));
    EXPECT_EQ(server.ReadFile("ok.bin").size(), 100);
    inet.Close(session);
}

TEST_F(InetTest, SilentServerTimesOut)
{
    server.SetSilent(true);
    QElapsedTimer clock;
    clock.start();
    SetLastError(0);
    EXPECT_EQ(Login(), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_TIMEOUT));
    EXPECT_GE(clock.elapsed(), 1500);
    EXPECT_LT(clock.elapsed(), 6000);

    // A server that stops answering after the login.
    server.SetSilent(false);
    HINTERNET session = Login();
    ASSERT_NE(session, nullptr);
    server.SetSilent(true);
    clock.restart();
    QByteArray path = LocalFile("x.bin", RandomBytes(1000)).toUtf8();
    EXPECT_FALSE(inet.Put(session, path, "x.bin", FTP_TRANSFER_TYPE_BINARY, 666));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_TIMEOUT));
    EXPECT_LT(clock.elapsed(), 6000);
    clock.restart();
    EXPECT_TRUE(inet.Close(session));
    EXPECT_LT(clock.elapsed(), 1000) << "closing does not wait for the silent server again";

    // Nor does closing a session whose server fell silent while it was idle.
    server.SetSilent(false);
    session = Login();
    ASSERT_NE(session, nullptr);
    server.SetSilent(true);
    clock.restart();
    EXPECT_TRUE(inet.Close(session));
    EXPECT_LT(clock.elapsed(), 1000);
}

TEST_F(InetTest, ServerKilledMidTransferFailsAndRecovers)
{
    QByteArray bytes = RandomBytes(8 * 1024 * 1024);
    QByteArray path = LocalFile("big.bin", bytes).toUtf8();
    HINTERNET session = Login();
    ASSERT_NE(session, nullptr);
    server.DieAfter(256 * 1024);
    QElapsedTimer clock;
    clock.start();
    SetLastError(0);
    EXPECT_FALSE(inet.Put(session, path, "big.bin", FTP_TRANSFER_TYPE_BINARY, 666));
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_CONNECTION_RESET));
    ASSERT_TRUE(server.WaitForExit(5000));
    inet.Close(session);

    server.ClearFaults();
    ASSERT_TRUE(server.Restart()) << server.ErrorText().toStdString();
    session = Login();
    ASSERT_NE(session, nullptr) << GetLastError();
    EXPECT_TRUE(inet.Put(session, path, "big.bin", FTP_TRANSFER_TYPE_BINARY, 666));
    EXPECT_EQ(server.ReadFile("big.bin"), bytes);
    inet.Close(session);
}

TEST_F(InetTest, DroppedConnectionFailsThenTheSessionLogsInAgain)
{
    QByteArray bytes = RandomBytes(4 * 1024 * 1024);
    QByteArray path = LocalFile("big.bin", bytes).toUtf8();
    HINTERNET session = Login();
    ASSERT_NE(session, nullptr);
    server.DropAfter(128 * 1024);
    SetLastError(0);
    EXPECT_FALSE(inet.Put(session, path, "big.bin", FTP_TRANSFER_TYPE_BINARY, 666));
    DWORD code = GetLastError();
    EXPECT_TRUE(code == ERROR_INTERNET_CONNECTION_RESET || code == ERROR_FTP_DROPPED) << code;

    server.ClearFaults();
    EXPECT_TRUE(inet.Put(session, path, "big.bin", FTP_TRANSFER_TYPE_BINARY, 666))
        << GetLastError();
    EXPECT_EQ(server.ReadFile("big.bin"), bytes);
    EXPECT_EQ(server.CountCommands("USER"), 2);
    inet.Close(session);
}

TEST_F(InetTest, ClosingReply421IsRetriedOnce)
{
    QByteArray bytes = RandomBytes(5000);
    QByteArray path = LocalFile("x.bin", bytes).toUtf8();
    HINTERNET session = Login();
    ASSERT_NE(session, nullptr);
    server.Reply421("STOR", 1);
    EXPECT_TRUE(inet.Put(session, path, "x.bin", FTP_TRANSFER_TYPE_BINARY, 666)) << GetLastError();
    EXPECT_EQ(server.ReadFile("x.bin"), bytes);
    EXPECT_EQ(server.CountCommands("USER"), 2);
    // The same for a rename: the retry's outcome counts, not the first 421.
    server.Reply421("RNFR", 1);
    EXPECT_TRUE(inet.Rename(session, "x.bin", "z.bin")) << GetLastError();
    EXPECT_TRUE(inet.Rename(session, "z.bin", "x.bin")) << GetLastError();

    // A server that keeps answering 421 is not asked a third time.
    server.Reply421("RNFR", -1);
    server.ClearCommands();
    EXPECT_FALSE(inet.Rename(session, "x.bin", "y.bin"));
    // Servers answer 421 when they time a connection out.
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_TIMEOUT));
    EXPECT_EQ(server.CountCommands("RNFR"), 2);
    inet.Close(session);
}

TEST_F(InetTest, IdleConnectionDroppedByTheServerIsReplaced)
{
    FtpTestServer::Options options;
    options.idleTimeoutSecs = 0.5;
    FtpTestServer strict(options);
    ASSERT_TRUE(strict.Start());
    HINTERNET session = LoginTo(strict.Address(), strict.User(), strict.Password());
    ASSERT_NE(session, nullptr);
    QThread::msleep(1200);
    QByteArray bytes = RandomBytes(5000);
    EXPECT_TRUE(inet.Put(session, LocalFile("x.bin", bytes).toUtf8(), "x.bin",
                         FTP_TRANSFER_TYPE_BINARY, 666))
        << GetLastError();
    EXPECT_EQ(strict.ReadFile("x.bin"), bytes);
    EXPECT_EQ(strict.CountCommands("USER"), 2) << strict.Commands().join(", ").toStdString();
    inet.Close(session);
}

TEST_F(InetTest, ProxyListOfOption38)
{
    NoProxyEnvironment clean;
    ScopedEnv ftp("ftp_proxy", "http://fw.example:8021/");
    ScopedEnv http("http_proxy", "web.example:3128");
    ScopedEnv noProxy("no_proxy", "localhost");
    HINTERNET preconfigured = inet.Open("Vizo", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    ASSERT_NE(preconfigured, nullptr);

    DWORD size = 4;
    EXPECT_FALSE(inet.Query(preconfigured, INTERNET_OPTION_PROXY, nullptr, &size));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_GT(size, sizeof(INTERNET_PROXY_INFO));
    std::vector<char> buffer(size);
    DWORD small = size - 1;
    EXPECT_FALSE(inet.Query(preconfigured, INTERNET_OPTION_PROXY, buffer.data(), &small));
    EXPECT_EQ(small, size);
    ASSERT_TRUE(inet.Query(preconfigured, INTERNET_OPTION_PROXY, buffer.data(), &size));
    auto* info = reinterpret_cast<INTERNET_PROXY_INFO*>(buffer.data());
    EXPECT_EQ(info->dwAccessType, DWORD(INTERNET_OPEN_TYPE_PROXY));
    EXPECT_STREQ(info->lpszProxy, "ftp=fw.example:8021 http=web.example:3128");
    EXPECT_STREQ(info->lpszProxyBypass, "localhost");

    // The proxies only inform the caller: the connection itself goes direct.
    HINTERNET session = inet.Connect(preconfigured, server.Address().toUtf8(), 0, "user", "secret",
                                     INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
    ASSERT_NE(session, nullptr) << GetLastError();
    size = DWORD(buffer.size());
    EXPECT_FALSE(inet.Query(session, 77, buffer.data(), &size));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_INVALID_OPTION));
    inet.Close(preconfigured);

    // Without proxies the list is absent; a handle keeps the view it opened with.
    ScopedEnv noFtp("ftp_proxy", nullptr);
    ScopedEnv noHttp("http_proxy", nullptr);
    HINTERNET direct = inet.Open("Vizo", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    size = DWORD(buffer.size());
    ASSERT_TRUE(inet.Query(direct, INTERNET_OPTION_PROXY, buffer.data(), &size));
    EXPECT_EQ(info->dwAccessType, DWORD(INTERNET_OPEN_TYPE_DIRECT));
    EXPECT_EQ(info->lpszProxy, nullptr);
    EXPECT_EQ(size, DWORD(sizeof(INTERNET_PROXY_INFO) + strlen("localhost") + 1));
    inet.Close(direct);
}
