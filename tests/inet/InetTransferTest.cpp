// The layer against a real server: what the server ends up holding.
#include "InetApi.h"
#include "platform/win/lasterror.h"

#include <QElapsedTimer>
#include <QTimer>

TEST_F(InetTest, OneLoginServesManyPutsRenamesAndDeletes)
{
    HINTERNET session = Login();
    ASSERT_NE(session, nullptr) << GetLastError();
    for (int i = 0; i < 10; ++i) {
        QByteArray bytes = RandomBytes(50000 + i, i);
        QString path = LocalFile(QStringLiteral("f%1.bin").arg(i), bytes);
        QByteArray tmp = QStringLiteral("cam%1.jpg.t00").arg(i).toUtf8();
        QByteArray final = QStringLiteral("cam%1.jpg").arg(i).toUtf8();
        ASSERT_TRUE(inet.Put(session, path.toUtf8(), tmp, FTP_TRANSFER_TYPE_BINARY, 666));
        ASSERT_TRUE(inet.Rename(session, tmp, final));
        EXPECT_EQ(server.ReadFile(final), bytes);
    }
    for (int i = 0; i < 9; ++i)
        ASSERT_TRUE(inet.Delete(session, QStringLiteral("cam%1.jpg").arg(i).toUtf8()));
    EXPECT_EQ(server.ListFiles(), QStringList{"cam9.jpg"});
    EXPECT_EQ(server.CountCommands("USER"), 1);
    EXPECT_EQ(server.CountCommands("CONNECT"), 1);
    EXPECT_TRUE(inet.Close(session));
    EXPECT_TRUE(server.WaitForCommand("QUIT", 2000)) << "a polite goodbye";
}

TEST_F(InetTest, NamesReachTheServerUnchanged)
{
    ASSERT_TRUE(server.MakeDir("pub.d/sub"));
    HINTERNET session = Login();
    ASSERT_NE(session, nullptr);
    QByteArray bytes = RandomBytes(1000);
    QString path = LocalFile("with space %.jpg", bytes);
    const char* names[] = {"pub.d/sub/cam.jpg", "a b;type=a#1%41.jpg", "caf\xc3\xa9.jpg"};
    for (const char* name : names) {
        ASSERT_TRUE(inet.Put(session, path.toUtf8(), name, FTP_TRANSFER_TYPE_BINARY, 666)) << name;
        EXPECT_EQ(server.ReadFile(QString::fromUtf8(name)), bytes) << name;
    }
    // A leading slash is the server's root, not the login directory's child.
    ASSERT_TRUE(inet.Put(session, path.toUtf8(), "/pub.d/abs.jpg", FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_TRUE(server.HasFile("pub.d/abs.jpg"));
    ASSERT_TRUE(inet.Rename(session, "pub.d/abs.jpg", "/pub.d/sub/moved.jpg"));
    EXPECT_TRUE(server.HasFile("pub.d/sub/moved.jpg"));
    inet.Close(session);
}

TEST_F(InetTest, AsciiSendsTextLinesBinarySendsBytes)
{
    HINTERNET session = Login();
    ASSERT_NE(session, nullptr);
    // The first CR LF straddles the layer's read chunks.
    QByteArray text = QByteArray(32767, 'x') + "\r\nfirst\nsec\rond\r\nthird\n";
    QString path = LocalFile("list.lst", text);
    ASSERT_TRUE(inet.Put(session, path.toUtf8(), "list.lst", FTP_TRANSFER_TYPE_ASCII, 666));
    // The server keeps text with its own (LF) line ends, whatever came in.
    QByteArray stored = server.ReadFile("list.lst");
    EXPECT_EQ(stored.left(32767), QByteArray(32767, 'x'));
    EXPECT_EQ(stored.mid(32767), QByteArray("\nfirst\nsec\rond\nthird\n"));
    ASSERT_TRUE(inet.Put(session, path.toUtf8(), "list.bin", FTP_TRANSFER_TYPE_BINARY, 666));
    EXPECT_EQ(server.ReadFile("list.bin"), text);
    QStringList commands = server.Commands();
    EXPECT_LT(commands.indexOf("TYPE A"), commands.indexOf("STOR list.lst"));
    EXPECT_LT(commands.indexOf("TYPE I"), commands.indexOf("STOR list.bin"));
    inet.Close(session);
}

TEST_F(InetTest, ActiveModeUnlessPassiveIsAsked)
{
    QByteArray bytes = RandomBytes(200000);
    QString path = LocalFile("a.bin", bytes);
    HINTERNET active = Login(0);
    ASSERT_NE(active, nullptr);
    ASSERT_TRUE(inet.Put(active, path.toUtf8(), "active.bin", FTP_TRANSFER_TYPE_BINARY, 666));
    inet.Close(active);
    int dataCommands = server.CountCommands("EPRT") + server.CountCommands("PORT");
    EXPECT_EQ(dataCommands, 1);
    EXPECT_EQ(server.CountCommands("EPSV") + server.CountCommands("PASV"), 0);

    server.ClearCommands();
    HINTERNET passive = Login(INTERNET_FLAG_PASSIVE);
    ASSERT_NE(passive, nullptr);
    ASSERT_TRUE(inet.Put(passive, path.toUtf8(), "passive.bin", FTP_TRANSFER_TYPE_BINARY, 666));
    inet.Close(passive);
    EXPECT_EQ(server.CountCommands("EPSV") + server.CountCommands("PASV"), 1);
    EXPECT_EQ(server.CountCommands("EPRT") + server.CountCommands("PORT"), 0);
    EXPECT_EQ(server.ReadFile("active.bin"), bytes);
    EXPECT_EQ(server.ReadFile("passive.bin"), bytes);
}

TEST_F(InetTest, ServerGivenWithPortOrPortArgument)
{
    HINTERNET viaText = LoginTo(server.Address(), server.User(), server.Password());
    EXPECT_NE(viaText, nullptr) << GetLastError();
    HINTERNET viaArgument =
        inet.Connect(internet, "127.0.0.1", server.Port(), "user", "secret", 1, 0, 666);
    EXPECT_NE(viaArgument, nullptr) << GetLastError();
    EXPECT_EQ(server.CountCommands("USER"), 2);
    inet.Close(viaText);
    inet.Close(viaArgument);
}

TEST_F(InetTest, ClosedHandlesFailAtOnceAndCloseTwiceHarmlessly)
{
    QString path = LocalFile("x.bin", RandomBytes(10));
    HINTERNET session = Login();
    ASSERT_NE(session, nullptr);
    EXPECT_TRUE(inet.Close(session));
    int before = server.Commands().size();
    SetLastError(0);
    EXPECT_FALSE(inet.Put(session, path.toUtf8(), "x.bin", FTP_TRANSFER_TYPE_BINARY, 666));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(inet.Rename(session, "a", "b"));
    EXPECT_FALSE(inet.Delete(session, "a"));
    EXPECT_FALSE(inet.Close(session));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(inet.Close(nullptr));
    // Only the QUIT of the closed session may arrive after it.
    QStringList after = server.Commands().mid(before);
    after.removeAll("QUIT");
    EXPECT_TRUE(after.isEmpty()) << after.join(", ").toStdString();

    // Closing the Internet handle closes the sessions opened under it.
    HINTERNET child = Login();
    ASSERT_NE(child, nullptr);
    EXPECT_TRUE(inet.Close(internet));
    EXPECT_FALSE(inet.Put(child, path.toUtf8(), "x.bin", FTP_TRANSFER_TYPE_BINARY, 666));
    EXPECT_FALSE(inet.Close(child));
    EXPECT_EQ(inet.Connect(internet, server.Address().toUtf8(), 0, "user", "secret", 1, 0, 0),
              nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    internet = nullptr;
}

TEST_F(InetTest, LongTransferKeepsEventsFlowingAndCloseCancelsIt)
{
    server.LimitRate(256 * 1024);
    QString path = LocalFile("big.bin", RandomBytes(4 * 1024 * 1024));
    HINTERNET session = Login();
    ASSERT_NE(session, nullptr);
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    QTimer::singleShot(600, [&] { EXPECT_TRUE(inet.Close(session)); });
    QElapsedTimer clock;
    clock.start();
    SetLastError(0);
    EXPECT_FALSE(inet.Put(session, path.toUtf8(), "big.bin", FTP_TRANSFER_TYPE_BINARY, 666));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FTP_DROPPED));
    // 4 MB at 256 KB/s would take 16 s; the close ends it.
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_GE(ticks, 10) << "the GUI thread's events ran during the transfer";
    EXPECT_LT(server.ReadFile("big.bin").size(), 4 * 1024 * 1024);
    EXPECT_FALSE(inet.Close(session));
}

TEST_F(InetTest, EventsKeepFlowingToTheEndOfASlowUpload)
{
    server.LimitRate(1024 * 1024);
    QByteArray bytes = RandomBytes(3 * 1024 * 1024);
    QString path = LocalFile("big.bin", bytes);
    HINTERNET session = Login(0);
    ASSERT_NE(session, nullptr);
    QElapsedTimer clock;
    qint64 last = 0, longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, clock.elapsed() - last);
        last = clock.elapsed();
    });
    ticker.start(20);
    clock.start();
    EXPECT_TRUE(inet.Put(session, path.toUtf8(), "big.bin", FTP_TRANSFER_TYPE_BINARY, 666));
    longestGap = std::max(longestGap, clock.elapsed() - last);
    EXPECT_GE(clock.elapsed(), 2000) << "the server took its time";
    // Including libcurl's own wait for the server's final reply.
    EXPECT_LT(longestGap, 600) << clock.elapsed();
    EXPECT_EQ(server.ReadFile("big.bin"), bytes);
    inet.Close(session);
}
