// One connection held open for many transfers, its failures and aborts.
#include "FtpTestBase.h"

#include <QElapsedTimer>
#include <QTimer>

namespace
{

HRASCONN g_hungUp = nullptr;
DWORD FakeRasHangUp(HRASCONN connection)
{
    g_hungUp = connection;
    return 0;
}

} // namespace

TEST_F(FtpTest, SuffixesRunFrom00To99ThenWrapAndRejectedNamesUseNone)
{
    upload().m_bQuietTransfer = 1;
    ASSERT_TRUE(upload().Connect());
    status.clear();
    for (int i = 0; i < 101; ++i)
        ASSERT_TRUE(upload().Transfer(upload().m_strLocalPath, "cam.jpg", 2)) << i;
    EXPECT_TRUE(status.lines.isEmpty()) << "quiet transfers show nothing";
    QStringList expected;
    for (int i = 0; i < 101; ++i)
        expected << QString::asprintf("cam.jpg.t%02d", i % 100);
    EXPECT_EQ(StoredNames(), expected);
    EXPECT_EQ(server.CountCommands("USER"), 1) << "one login for every transfer";

    s_nFtpSwapIndex = 5;
    EXPECT_FALSE(upload().Transfer(upload().m_strLocalPath, "nodot", 2));
    EXPECT_EQ(status.lines,
              QStringList({"Invalid remote filename 'nodot' (must have file extension)"}));
    EXPECT_TRUE(upload().Transfer(upload().m_strLocalPath, "cam.jpg", 2));
    EXPECT_EQ(StoredNames().last(), "cam.jpg.t05");
    upload().Disconnect();
    EXPECT_EQ(server.ListFiles(), QStringList({"cam.jpg"}));
    EXPECT_EQ(server.ReadFile("cam.jpg"), picture);
}

TEST_F(FtpTest, SeriesSendsFramesAndTimingListOverOneConnection)
{
    upload().m_bQuietTransfer = 1;
    ASSERT_TRUE(upload().Connect());
    QByteArray frame2 = RandomBytes(90000, 2);
    EXPECT_TRUE(upload().Transfer(upload().m_strLocalPath, "cam001.jpg", 2));
    EXPECT_TRUE(upload().Transfer(LocalFile("f2.jpg", frame2), "cam002.jpg", 2));
    EXPECT_TRUE(upload().Transfer(LocalFile("cam.lst", "cam001.jpg 0\r\n"), "cam.lst", 1));
    upload().Disconnect();
    EXPECT_EQ(status.lines,
              OpenLines() + QStringList({"Closing FTP session...", "FTP session closed."}));
    EXPECT_EQ(server.ListFiles(), QStringList({"cam.lst", "cam001.jpg", "cam002.jpg"}));
    EXPECT_EQ(server.ReadFile("cam002.jpg"), frame2);
    EXPECT_EQ(server.ReadFile("cam.lst"), QByteArray("cam001.jpg 0\n"));
    EXPECT_EQ(server.CountCommands("TYPE A"), 1);
}

TEST_F(FtpTest, ConnectFailingHalfWayLeavesDisconnectToClose)
{
    upload().m_strFtpPassword = "wrong";
    EXPECT_FALSE(upload().Connect());
    HINTERNET internet = upload().m_hInternet;
    EXPECT_NE(internet, nullptr) << "the Internet handle stays recorded";
    EXPECT_EQ(upload().m_hFtpSession, nullptr);
    EXPECT_EQ(upload().m_hRasConn, AllBitsSetConnection());

    status.clear();
    EXPECT_FALSE(upload().Transfer(upload().m_strLocalPath, "vizo.jpg", 2));
    EXPECT_EQ(status.lines, QStringList({"Starting FTP transfer of vizo.jpg.t00...",
                                         "FTP transfer failed (error code 6)"}));

    status.clear();
    upload().Disconnect();
    EXPECT_TRUE(status.lines.isEmpty()) << "closing stays silent after a failure";
    EXPECT_EQ(upload().m_hInternet, nullptr);
    EXPECT_EQ(upload().m_hRasConn, nullptr);
    EXPECT_FALSE(upload().m_inet.InternetCloseHandle(internet)) << "Disconnect closed it";
    EXPECT_EQ(server.CountCommands("STOR"), 0);
}

TEST_F(FtpTest, TransferWithoutAnyConnection)
{
    upload().m_bQuietTransfer = 1;
    EXPECT_FALSE(upload().Transfer(upload().m_strLocalPath, "vizo.jpg", 2));
    EXPECT_EQ(status.lines, QStringList({"FTP transfer failed (error code 6)"}));
    EXPECT_EQ(s_nFtpSwapIndex, 1) << "the name check passed, so the suffix was used";
}

TEST_F(FtpTest, AbortClosesTheFtpSessionFirst)
{
    ASSERT_TRUE(upload().Connect());
    HINTERNET session = upload().m_hFtpSession;
    HINTERNET internet = upload().m_hInternet;
    upload().Abort();
    EXPECT_TRUE(upload().m_bAbort);
    EXPECT_EQ(upload().m_hFtpSession, session) << "handles stay recorded";
    EXPECT_FALSE(upload().m_inet.FtpDeleteFileA(session, "x.jpg")) << "the session is closed";
    HINTERNET another = upload().m_inet.InternetConnectA(
        internet, server.Address().toUtf8(), 0, "user", "secret", INTERNET_SERVICE_FTP, 0, 0);
    EXPECT_NE(another, nullptr) << "the Internet handle is still open";
    upload().m_inet.InternetCloseHandle(another);

    status.clear();
    upload().Disconnect();
    EXPECT_EQ(status.lines, QStringList({"Closing FTP session...", "FTP session closed."}));
    EXPECT_EQ(upload().m_hFtpSession, nullptr);
    EXPECT_FALSE(upload().m_inet.InternetCloseHandle(internet));
}

TEST_F(FtpTest, AbortClosesTheInternetHandleWhenNoSessionIsOpen)
{
    upload().m_hInternet = upload().OpenInternet();
    ASSERT_NE(upload().m_hInternet, nullptr);
    upload().Abort();
    EXPECT_EQ(upload().m_inet.InternetConnectA(upload().m_hInternet, server.Address().toUtf8(), 0,
                                               "user", "secret", INTERNET_SERVICE_FTP, 0, 0),
              nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    upload().Disconnect();
    EXPECT_EQ(upload().m_hInternet, nullptr);
}

TEST_F(FtpTest, AbortHangsUpOnlyARealDialupConnection)
{
    upload().m_hRasApi = reinterpret_cast<HMODULE>(&g_hungUp); // any non-null stand-in
    upload().m_ras.RasHangUpA = FakeRasHangUp;
    g_hungUp = nullptr;
    upload().m_hRasConn = AllBitsSetConnection();
    upload().Abort();
    EXPECT_EQ(g_hungUp, nullptr) << "a LAN connection is not ours to hang up";
    HRASCONN dialled = reinterpret_cast<HRASCONN>(UINT_PTR(0x1234));
    upload().m_hRasConn = dialled;
    upload().Abort();
    EXPECT_EQ(g_hungUp, dialled);
    EXPECT_TRUE(upload().m_bAbort);
    upload().m_hRasConn = nullptr;
    upload().m_hRasApi = nullptr;
}

TEST_F(FtpTest, PassiveModeFollowsTheProxyList)
{
    struct Case {
        const char* variable;
        const char* value;
        bool passive;
    } cases[] = {{"ftp_proxy", "fw.example:21", true},
                 {"all_proxy", "proxy.example:3128", true},
                 {"http_proxy", "web.example:3128", false},
                 {nullptr, nullptr, false}};
    for (const Case& c : cases) {
        ScopedEnv proxy(c.variable ? c.variable : "VIZO_UNUSED", c.value);
        server.ClearCommands();
        EXPECT_TRUE(upload().UploadFile()) << (c.variable ? c.variable : "none");
        int passive = server.CountCommands("EPSV") + server.CountCommands("PASV");
        int active = server.CountCommands("EPRT") + server.CountCommands("PORT");
        EXPECT_EQ(passive, c.passive ? 1 : 0) << (c.variable ? c.variable : "none");
        EXPECT_EQ(active, c.passive ? 0 : 1) << (c.variable ? c.variable : "none");
    }
    EXPECT_EQ(server.ReadFile("vizo.jpg"), picture);
}

TEST_F(FtpTest, ServerKilledMidTransferThenTheNextUploadSucceeds)
{
    QByteArray big = RandomBytes(8 * 1024 * 1024, 3);
    upload().m_strLocalPath = LocalFile("big.jpg", big);
    server.DieAfter(256 * 1024);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(upload().UploadFile());
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(status.lines,
              OpenLines() + QStringList({"Starting FTP transfer of vizo.jpg.t00...",
                                         "FTP transfer failed (Session reset (FTP error))"}));
    ASSERT_TRUE(server.WaitForExit(5000));
    server.ClearFaults();
    ASSERT_TRUE(server.Restart()) << server.ErrorText().toStdString();
    EXPECT_TRUE(upload().UploadFile());
    EXPECT_EQ(server.ReadFile("vizo.jpg"), big);
    EXPECT_FALSE(server.HasFile("vizo.jpg.t01"));
}

TEST_F(FtpTest, ServerThatStopsAnsweringTimesOutThenTheNextUploadSucceeds)
{
    ASSERT_TRUE(upload().Connect());
    server.SetSilent(true);
    status.clear();
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(upload().Transfer(upload().m_strLocalPath, "vizo.jpg", 2));
    EXPECT_LT(clock.elapsed(), 6000);
    EXPECT_EQ(status.lines, QStringList({"Starting FTP transfer of vizo.jpg.t00...",
                                         "FTP transfer failed (Request timeout (FTP error))"}));
    clock.restart();
    upload().Disconnect();
    EXPECT_LT(clock.elapsed(), 1000);

    server.SetSilent(false);
    EXPECT_TRUE(upload().UploadFile());
    EXPECT_EQ(server.ReadFile("vizo.jpg"), picture);
}

TEST_F(FtpTest, LongTransferKeepsTheWindowAliveAndAbortEndsIt)
{
    server.LimitRate(512 * 1024);
    QString big = LocalFile("big.jpg", RandomBytes(2 * 1024 * 1024, 4));
    upload().m_bQuietTransfer = 1;
    ASSERT_TRUE(upload().Connect());
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    QTimer::singleShot(500, [&] { upload().Abort(); });
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(upload().Transfer(big, "vizo.jpg", 2));
    EXPECT_LT(clock.elapsed(), 2500) << "2 MB at 512 KB/s would take 4 s";
    EXPECT_GE(ticks, 10) << "events kept flowing while the transfer ran";
    EXPECT_TRUE(upload().m_bAbort);
    EXPECT_FALSE(upload().Transfer(big, "vizo.jpg", 2)) << "the closed session fails at once";
    upload().Disconnect();
    EXPECT_FALSE(server.HasFile("vizo.jpg"));
}
