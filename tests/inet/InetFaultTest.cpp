// Servers that lie, hang or get names they must not reinterpret: the layer
// never publishes a short file, never mixes up two paths, and lets go at once.
#include "InetApi.h"
#include "platform/win/lasterror.h"

#include <QElapsedTimer>
#include <QTimer>

namespace
{

QString FailureText(const InetApi& inet)
{
    char text[512] = {};
    DWORD size = sizeof text;
    if (!inet.Query(nullptr, INTERNET_OPTION_VIZO_FAILURE_TEXT, text, &size))
        return QStringLiteral("<no text>");
    return QString::fromUtf8(text);
}

} // namespace

TEST_F(InetTest, DotSegmentNamesNameTheSameFileInEveryCommand)
{
    // The login directory is below the root, so ".." leads somewhere real.
    ASSERT_TRUE(server.MakeDir("home/a"));
    server.SetLoginDir("home");
    HINTERNET session = Login();
    ASSERT_NE(session, nullptr);
    QByteArray bytes = RandomBytes(3000);
    QByteArray path = LocalFile("x.bin", bytes).toUtf8();
    struct Case {
        const char* name;
        const char* landsAt;
    } cases[] = {
        {"../up.jpg", "up.jpg"}, {"a/../here.jpg", "home/here.jpg"}, {"./dot.jpg", "home/dot.jpg"}};
    for (const Case& c : cases) {
        QByteArray temporary = QByteArray(c.name) + ".t00";
        ASSERT_TRUE(inet.Put(session, path, temporary, FTP_TRANSFER_TYPE_BINARY, 0)) << c.name;
        ASSERT_TRUE(inet.Rename(session, temporary, c.name)) << c.name;
        EXPECT_EQ(server.CountCommands("STOR " + temporary), 1) << "sent as written";
        EXPECT_EQ(server.ReadFile(c.landsAt), bytes) << c.name;
    }
    EXPECT_EQ(server.ListFiles(), QStringList({"home/dot.jpg", "home/here.jpg", "up.jpg"}));
    inet.Close(session);
}

TEST_F(InetTest, ShortUploadIsNeverLeftForTheRename)
{
    HINTERNET session = Login();
    ASSERT_NE(session, nullptr);
    QByteArray path = LocalFile("x.bin", RandomBytes(7640)).toUtf8();
    server.TruncateAfter(1000); // stores a head and still answers 226
    SetLastError(0);
    EXPECT_FALSE(inet.Put(session, path, "cam.jpg.t00", FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_VIZO_SHORT_TRANSFER));
    EXPECT_EQ(FailureText(inet), "only 1000 of 7640 bytes arrived");
    EXPECT_EQ(server.ListFiles(), QStringList()) << "the short temporary is deleted";

    // A server without SIZE cannot be checked; the upload still goes through.
    server.ClearFaults();
    server.Refuse("SIZE", -1, QString(), 502);
    EXPECT_TRUE(inet.Put(session, path, "cam.jpg.t01", FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_TRUE(server.HasFile("cam.jpg.t01"));
    inet.Close(session);
}

TEST_F(InetTest, OverLongLoginTextsAreNamed)
{
    const QString lng(2000, QLatin1Char('a'));
    struct Case {
        QString server, user, password, text;
    } cases[] = {
        {QString(300, QLatin1Char('h')), "user", "secret", "Server name too long"},
        {server.Address(), lng, "secret", "Username too long"},
        {server.Address(), "user", lng, "Password too long"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LoginTo(c.server, c.user, c.password), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_VIZO_TEXT_TOO_LONG));
        EXPECT_EQ(FailureText(inet), c.text);
    }
    EXPECT_EQ(server.CountCommands("CONNECT"), 0) << "refused before any connection";
}

// Abort closes the innermost handle from inside the wait; the call returns
// within a second while timers keep running, whatever the server holds back.
TEST_F(InetTest, ClosingTheHandleCutsEveryWaitAndTheLoopRuns)
{
    ScopedEnv longTimeout(VIZO_INET_TIMEOUT_ENV, "30");
    int ticks = 0;
    QTimer clock;
    QObject::connect(&clock, &QTimer::timeout, [&] { ++ticks; });
    clock.start(50);
    auto closeSoon = [&](HINTERNET handle) {
        QTimer::singleShot(500, [this, handle] { inet.Close(handle); });
    };
    QElapsedTimer elapsed;

    HINTERNET session = Login();
    ASSERT_NE(session, nullptr);
    QByteArray path = LocalFile("x.bin", RandomBytes(20000)).toUtf8();
    server.Withhold({"226"}); // the data arrives, the final reply never does
    closeSoon(session);
    elapsed.start();
    EXPECT_FALSE(inet.Put(session, path, "cam.jpg.t00", FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_LT(elapsed.elapsed(), 1500);
    EXPECT_GE(ticks, 6) << "the event loop ran during the wait";

    server.ClearFaults();
    server.SetSilent(true); // a login that is never answered
    closeSoon(internet);    // the parent: the session is not known yet
    ticks = 0;
    elapsed.start();
    EXPECT_EQ(Login(), nullptr);
    EXPECT_LT(elapsed.elapsed(), 1500);
    EXPECT_GE(ticks, 6);
    internet = nullptr;
}
