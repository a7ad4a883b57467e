#include "app/CCameraApp.h"
#include "mockbus.h"
#include "platform/afx/log.h"
#include "platform/win/module.h"
#include "session/CCameraDlg.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTimer>
#include <gtest/gtest.h>

extern int g_nHangUpLimitMs;

namespace
{

// Status lines with the time each was shown, to measure the pauses.
class TimedStatus
{
public:
    TimedStatus()
    {
        m_clock.start();
        m_previous = SetLogObserver([this](const char* kind, const QString& text) {
            if (qstrcmp(kind, "status") == 0) {
                lines << text;
                times << m_clock.elapsed();
            }
        });
    }
    ~TimedStatus() { SetLogObserver(m_previous); }
    qint64 Gap(int from, int to) const { return times.value(to) - times.value(from); }

    QStringList lines;
    QList<qint64> times;

private:
    QElapsedTimer m_clock;
    LogObserver m_previous;
};

const QString kMobile = QStringLiteral("Mobile");
const QString kLogin = QStringLiteral(R"({"gsm": {"apn": "internet", "username": "web"}})");
const QString kPassword = QStringLiteral(R"({"gsm": {"password": "s3cret"}})");

class DialupTest : public ::testing::Test
{
protected:
    ScopedConfigHome home;
    NetworkManagerMock mock;
    MessageBoxRecorder boxes;
    TimedStatus status;
    CCameraApp app;
    CCameraDlg wnd;
    CUpload& up = app.m_upload;

    void SetUp() override
    {
        ASSERT_TRUE(mock.running());
        app.m_pMainWnd = &wnd;
        ASSERT_EQ(up.LoadDialupLibrary(), 0);
        SetLimits(15000, 150000);
        up.m_bUseDialup = 1;
        up.m_strDialupConnection = kMobile;
        up.m_nDialupRetries = 3;
        up.m_bAbort = 0;
        g_nHangUpLimitMs = 60000;
    }
    void TearDown() override { up.FreeDialupLibrary(); }

    void SetLimits(int callMs, int dialMs)
    {
        auto set = reinterpret_cast<PFN_VizoRasSetTimeLimits>(
            GetProcAddress(up.m_hRasApi, "VizoRasSetTimeLimits"));
        ASSERT_NE(set, nullptr);
        set(callMs, dialMs);
    }

    QString Reason(DWORD code)
    {
        char text[150] = {};
        EXPECT_EQ(up.m_ras.RasGetErrorStringA(code, text, sizeof text), 0u);
        return QString::fromUtf8(text);
    }

    DWORD Status(HRASCONN h, RASCONNSTATUSA* s)
    {
        *s = {};
        s->dwSize = sizeof *s;
        return up.m_ras.RasGetConnectStatusA(h, s);
    }
};

QString Establishing(const QString& name, int attempt = 1, int of = 3)
{
    if (attempt == 1)
        return QStringLiteral("Establishing dialup connection '%1'...").arg(name);
    return QStringLiteral("Establishing dialup connection '%1' (attempt #%2/%3)...")
        .arg(name, QString::number(attempt), QString::number(of));
}

TEST_F(DialupTest, LanDialsNothingAndShowsNothing)
{
    mock.AddProfile(kMobile, "gsm");
    up.m_bUseDialup = 0;
    EXPECT_EQ(up.Dial(), AllBitsSetConnection());
    up.HangUp(AllBitsSetConnection());
    up.HangUp(nullptr);
    EXPECT_TRUE(status.lines.isEmpty());
    EXPECT_TRUE(boxes.texts.isEmpty());
    EXPECT_TRUE(mock.CallLog().isEmpty());
}

TEST_F(DialupTest, WorkingConnectionOfAnyEntryIsUsedAndStaysUp)
{
    mock.AddProfile(kMobile, "gsm");
    mock.AddProfile("Office DSL", "pppoe", R"({"pppoe": {"username": "me"}})");
    mock.AddActive("Office DSL", kActivated);
    const HRASCONN h = up.Dial();
    EXPECT_EQ(h, AllBitsSetConnection());
    up.HangUp(h);
    EXPECT_TRUE(status.lines.isEmpty());
    EXPECT_TRUE(mock.CallLog().isEmpty());
    EXPECT_EQ(mock.ActiveIds(), QStringList{"Office DSL"});
}

TEST_F(DialupTest, ConnectionStillWithoutIpIsNotUsed)
{
    mock.AddProfile(kMobile, "gsm");
    mock.AddActive(kMobile, kActivating);
    const HRASCONN h = up.Dial();
    EXPECT_NE(h, AllBitsSetConnection());
    EXPECT_NE(h, nullptr);
    EXPECT_EQ(mock.CallLog(), QStringList{"ActivateConnection Mobile"});
}

TEST_F(DialupTest, EntryMissingFromThePhoneBook)
{
    // A profile of a kind that is not dialled does not count.
    mock.AddProfile(kMobile, "802-3-ethernet");
    EXPECT_EQ(up.Dial(), nullptr);
    EXPECT_EQ(boxes.texts, QStringList{"Dial-up connection \"Mobile\" does not exist."});
    EXPECT_EQ(status.lines, QStringList{"Invalid dial-up connection."});
    EXPECT_TRUE(mock.CallLog().isEmpty());
}

TEST_F(DialupTest, EntryWithoutSavedPassword)
{
    mock.AddProfile(kMobile, "gsm", kLogin);
    EXPECT_EQ(up.Dial(), nullptr);
    EXPECT_EQ(boxes.texts, QStringList{"Dial-up connection \"Mobile\" has no valid\n"
                                       "username/password combination."});
    EXPECT_EQ(status.lines, QStringList{"Invalid dial-up connection."});
    EXPECT_TRUE(mock.CallLog().isEmpty());
}

TEST_F(DialupTest, WhichKindsNeedWhichCredentials)
{
    struct Case {
        const char* id;
        const char* type;
        const char* settings;
        const char* secrets;
        const char* user; // nullptr: no valid login
    } cases[] = {
        {"gsm plain", "gsm", "{}", "{}", "*"},
        {"gsm login", "gsm", R"({"gsm": {"username": "web"}})", R"({"gsm": {"password": "pw"}})",
         "web"},
        {"gsm no password", "gsm", R"({"gsm": {"username": "web"}})", "{}", nullptr},
        {"gsm not required", "gsm", R"({"gsm": {"username": "web", "password-flags": 4}})", "{}",
         "web"},
        {"gsm always asked", "gsm", R"({"gsm": {"username": "web", "password-flags": 2}})",
         R"({"gsm": {"password": "pw"}})", nullptr},
        {"cdma login", "cdma", R"({"cdma": {"username": "u"}})", R"({"cdma": {"password": "pw"}})",
         "u"},
        {"dsl no user", "pppoe", "{}", "{}", nullptr},
        {"dsl", "pppoe", R"({"pppoe": {"username": "me"}})", R"({"pppoe": {"password": "pw"}})",
         "me"},
        {"phone dun", "bluetooth", R"({"bluetooth": {"type": "dun"}, "gsm": {"username": "x"}})",
         "{}", nullptr},
        {"phone pan", "bluetooth", R"({"bluetooth": {"type": "panu"}})", "{}", "*"},
        {"vpn", "vpn", R"({"vpn": {"user-name": "alice"}})", "{}", "alice"},
    };
    for (const Case& c : cases)
        mock.AddProfile(c.id, c.type, c.settings, c.secrets);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        RASDIALPARAMSA params = {};
        params.dwSize = sizeof params;
        qstrcpy(params.szEntryName, c.id);
        BOOL saved = TRUE;
        ASSERT_EQ(up.m_ras.RasGetEntryDialParamsA(nullptr, &params, &saved), 0u);
        const bool valid = params.szUserName[0] && params.szPassword[0];
        EXPECT_EQ(valid, c.user != nullptr);
        EXPECT_EQ(bool(saved), c.user != nullptr);
        if (c.user) {
            EXPECT_STREQ(params.szUserName, c.user);
        }
        // The real password stays with NetworkManager.
        EXPECT_STRNE(params.szPassword, "pw");
    }
}

TEST_F(DialupTest, ThreeFailingAttemptsWithPausesBetween)
{
    mock.AddProfile(kMobile, "gsm");
    mock.SetPlan(kMobile, {"fail:10:50", "fail:9:50", "fail:3:50"});
    EXPECT_EQ(up.Dial(), nullptr);
    const QString third = "The modem or device lost its connection";
    EXPECT_EQ(
        status.lines,
        (QStringList{Establishing(kMobile),
                     "Attempt #1/3 failed (Login to the provider failed: user name or password "
                     "refused)",
                     Establishing(kMobile, 2),
                     "Attempt #2/3 failed (NetworkManager had no password or secrets for the "
                     "connection)",
                     Establishing(kMobile, 3), "Attempt #3/3 failed (" + third + ")",
                     "Last connect failed (" + third + ")"}));
    for (int failed : {1, 3}) {
        EXPECT_GE(status.Gap(failed, failed + 1), 2900);
        EXPECT_LE(status.Gap(failed, failed + 1), 4300);
    }
    EXPECT_LT(status.Gap(5, 6), 500);
    EXPECT_EQ(mock.CallLog(), QStringList(3, "ActivateConnection Mobile"));
    EXPECT_TRUE(mock.ActiveIds().isEmpty());
}

TEST_F(DialupTest, SecondAttemptConnects)
{
    // A '%' in the name must not take the attempt numbers.
    const QString name = QStringLiteral("Mobile %1");
    mock.AddProfile(name, "gsm");
    mock.SetPlan(name, {"fail:10:50", "ok:50"});
    up.m_strDialupConnection = name;
    const HRASCONN h = up.Dial();
    ASSERT_NE(h, nullptr);
    EXPECT_NE(h, AllBitsSetConnection());
    EXPECT_EQ(status.lines.mid(2), (QStringList{Establishing(name, 2), "Connected."}));
    RASCONNSTATUSA s;
    EXPECT_EQ(Status(h, &s), 0u);
    EXPECT_EQ(s.rasconnstate, DWORD(RASCS_Connected));
    EXPECT_EQ(mock.ActiveIds(), QStringList{name});
}

TEST_F(DialupTest, RetryCountsAboveTheCounterAreLimited)
{
    mock.AddProfile(kMobile, "gsm");
    mock.SetPlan(kMobile, {"fail:10:50", "ok:50"});
    up.m_nDialupRetries = 70000;
    EXPECT_NE(up.Dial(), nullptr);
    EXPECT_TRUE(status.lines.value(1).startsWith("Attempt #1/65535 failed"));
    EXPECT_EQ(status.lines.value(2), Establishing(kMobile, 2, 65535));
}

TEST_F(DialupTest, AbortDuringThePauseStopsDialling)
{
    mock.AddProfile(kMobile, "gsm");
    mock.SetPlan(kMobile, {"fail:10:50", "ok:50"});
    QTimer::singleShot(1500, [this] { up.Abort(); });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(up.Dial(), nullptr);
    EXPECT_LT(clock.elapsed(), 2500);
    EXPECT_EQ(status.lines.size(), 3);
    EXPECT_EQ(status.lines.value(2), "Last connect failed (user abort)");
    EXPECT_EQ(mock.CallLog(), QStringList{"ActivateConnection Mobile"});
}

TEST_F(DialupTest, NoAttemptWithZeroRetriesOrAnEarlierAbort)
{
    mock.AddProfile(kMobile, "gsm");
    up.m_nDialupRetries = 0;
    EXPECT_EQ(up.Dial(), nullptr);
    up.m_nDialupRetries = 3;
    up.m_bAbort = 1;
    EXPECT_EQ(up.Dial(), nullptr);
    EXPECT_EQ(status.lines, QStringList(2, "Last connect failed ()"));
    EXPECT_TRUE(mock.CallLog().isEmpty());
}

// A dial cannot be cut short: an Abort pressed meanwhile is honoured once it
// has connected, before any FTP session opens, and the line is hung up.
TEST_F(DialupTest, AbortDuringTheDialSendsNothingAndHangsUp)
{
    ASSERT_EQ(up.LoadInternetLibrary(), 0);
    mock.AddProfile(kMobile, "gsm", kLogin, kPassword);
    for (bool heldOpen : {false, true}) {
        SCOPED_TRACE(heldOpen ? "Connect" : "UploadFile");
        mock.SetPlan(kMobile, {"ok:800"});
        up.m_bAbort = 0;
        status.lines.clear();
        QTimer::singleShot(300, [this] { up.Abort(); });
        EXPECT_FALSE(heldOpen ? up.Connect() : up.UploadFile());
        EXPECT_EQ(status.lines,
                  (QStringList{Establishing(kMobile), "Connected.", "Disconnecting..."}));
        EXPECT_EQ(up.m_hRasConn, nullptr);
        EXPECT_EQ(up.m_hInternet, nullptr);
        EXPECT_TRUE(mock.ActiveIds().isEmpty());
    }
    up.Disconnect();
    EXPECT_EQ(mock.CallLog().count("DeactivateConnection Mobile"), 2);
    up.FreeInternetLibrary();
}

TEST_F(DialupTest, MobileRoundTripWaitsUntilTheLineIsGone)
{
    mock.AddProfile(kMobile, "gsm", kLogin, kPassword);
    mock.SetHangUpDelay(600);
    const HRASCONN h = up.Dial();
    ASSERT_NE(h, nullptr);
    QElapsedTimer clock;
    clock.start();
    up.HangUp(h);
    EXPECT_GE(clock.elapsed(), 550);
    EXPECT_EQ(status.lines, (QStringList{Establishing(kMobile), "Connected.", "Disconnecting..."}));
    EXPECT_EQ(mock.CallLog(),
              (QStringList{"ActivateConnection Mobile", "DeactivateConnection Mobile"}));
    EXPECT_TRUE(mock.ActiveIds().isEmpty());
    RASCONNSTATUSA s;
    EXPECT_EQ(Status(h, &s), DWORD(ERROR_INVALID_HANDLE));
}

TEST_F(DialupTest, HangUpThatNeverCompletesEndsAtItsLimit)
{
    mock.AddProfile(kMobile, "gsm");
    mock.SetHangUpDelay(-1);
    const HRASCONN h = up.Dial();
    ASSERT_NE(h, nullptr);
    g_nHangUpLimitMs = 1000;
    s_bCloseMessages = false;
    wnd.SetStatus(QStringLiteral("FTP session failed"));
    QElapsedTimer clock;
    clock.start();
    up.HangUp(h);
    EXPECT_GE(clock.elapsed(), 950);
    EXPECT_LT(clock.elapsed(), 3000);
    // Closing lines suppressed: logged only, the failure reason stays on screen.
    const QString late = "The dial-up connection did not report hanging up within 1 s.";
    EXPECT_EQ(status.lines.last(), late);
    EXPECT_TRUE(wnd.StatusText().startsWith("FTP session failed\t"))
        << wnd.StatusText().toStdString();
    EXPECT_FALSE(status.lines.contains("Disconnecting..."));

    const HRASCONN again = up.Dial();
    ASSERT_NE(again, nullptr);
    s_bCloseMessages = true;
    up.HangUp(again);
    EXPECT_TRUE(wnd.StatusText().startsWith(late + "\t")) << wnd.StatusText().toStdString();
}

TEST_F(DialupTest, NamesOfAnyLengthAreNeverCut)
{
    const QString longest = QString(256, 'x');
    mock.AddProfile(longest, "gsm");
    up.m_strDialupConnection = longest;
    const HRASCONN h = up.Dial();
    EXPECT_NE(h, nullptr);
    EXPECT_EQ(status.lines, (QStringList{Establishing(longest), "Connected."}));
    up.HangUp(h);

    status.lines.clear();
    up.m_strDialupConnection = longest + "y";
    EXPECT_EQ(up.Dial(), nullptr);
    EXPECT_EQ(status.lines,
              QStringList{"Invalid dial-up connection: the name is longer than 256 bytes."});
    EXPECT_TRUE(boxes.texts.isEmpty());
    EXPECT_EQ(mock.CallLog().size(), 2);
}

TEST_F(DialupTest, FailuresCarryReadableReasons)
{
    mock.AddProfile(kMobile, "gsm");
    mock.SetPlan(kMobile, {"hang", "deny", "nodevice"});
    up.m_nDialupRetries = 1;
    SetLimits(15000, 800);
    for (const char* reason : {"The connection did not come up within the time limit",
                               "NetworkManager does not allow this user to do that",
                               "No device (modem) can carry this connection now"}) {
        status.lines.clear();
        EXPECT_EQ(up.Dial(), nullptr);
        EXPECT_EQ(status.lines.value(1), QStringLiteral("Attempt #1/1 failed (%1)").arg(reason));
    }
    // The activation that timed out was taken down again.
    EXPECT_EQ(mock.CallLog(),
              (QStringList{"ActivateConnection Mobile", "DeactivateConnection Mobile",
                           "ActivateConnection Mobile", "ActivateConnection Mobile"}));
    EXPECT_TRUE(mock.ActiveIds().isEmpty());
}

TEST_F(DialupTest, PhoneBookListsDialupKindsThatFit)
{
    mock.AddProfile(kMobile, "gsm");
    mock.AddProfile("Office LAN", "802-3-ethernet");
    mock.AddProfile("DSL", "pppoe");
    mock.AddProfile(QString(257, 'z'), "gsm");
    mock.AddProfile("Work", "vpn");
    RASENTRYNAMEA names[20] = {};
    names[0].dwSize = sizeof(RASENTRYNAMEA);
    DWORD bytes = sizeof names, count = 0;
    ASSERT_EQ(up.m_ras.RasEnumEntriesA(nullptr, nullptr, names, &bytes, &count), 0u);
    ASSERT_EQ(count, 3u);
    EXPECT_STREQ(names[0].szEntryName, "Mobile");
    EXPECT_STREQ(names[1].szEntryName, "DSL");
    EXPECT_STREQ(names[2].szEntryName, "Work");
    bytes = sizeof(RASENTRYNAMEA);
    EXPECT_EQ(up.m_ras.RasEnumEntriesA(nullptr, nullptr, names, &bytes, &count),
              DWORD(ERROR_BUFFER_TOO_SMALL));
    EXPECT_EQ(bytes, 3 * sizeof(RASENTRYNAMEA));
    names[0].dwSize = 264 + 1;
    bytes = sizeof names;
    EXPECT_EQ(up.m_ras.RasEnumEntriesA(nullptr, nullptr, names, &bytes, &count),
              DWORD(ERROR_INVALID_SIZE));
}

TEST_F(DialupTest, AnswersOfTheWrongShapeAreRefused)
{
    mock.AddProfile(kMobile, "gsm");
    mock.Override("/org/freedesktop/NetworkManager/Settings", "ListConnections", "s",
                  "ret = 'garbage'");
    RASENTRYNAMEA names[20] = {};
    names[0].dwSize = sizeof(RASENTRYNAMEA);
    DWORD bytes = sizeof names, count = 0;
    const DWORD rc = up.m_ras.RasEnumEntriesA(nullptr, nullptr, names, &bytes, &count);
    EXPECT_EQ(rc, DWORD(VIZO_NM_BAD_REPLY));
    EXPECT_EQ(Reason(rc), "NetworkManager gave an answer that could not be read");
    EXPECT_EQ(up.Dial(), nullptr);
    EXPECT_EQ(status.lines, QStringList{"Invalid dial-up connection."});
}

// The private bus without NetworkManager on it.
TEST(NoNetworkManager, EveryCallFailsAtOnceWithAClearText)
{
    ScopedConfigHome home;
    MessageBoxRecorder boxes;
    TimedStatus status;
    CCameraApp app;
    CCameraDlg wnd;
    app.m_pMainWnd = &wnd;
    CUpload& up = app.m_upload;
    ASSERT_EQ(up.LoadDialupLibrary(), 0);
    const CUpload::DialupTable& ras = up.m_ras;
    QElapsedTimer clock;
    clock.start();

    RASCONNA conns[10] = {};
    conns[0].dwSize = sizeof(RASCONNA);
    RASENTRYNAMEA names[20] = {};
    names[0].dwSize = sizeof(RASENTRYNAMEA);
    RASDIALPARAMSA params = {};
    params.dwSize = sizeof params;
    qstrcpy(params.szEntryName, "Mobile");
    DWORD bytes = sizeof conns, count = 0;
    EXPECT_EQ(ras.RasEnumConnectionsA(conns, &bytes, &count), DWORD(VIZO_NM_NOT_RUNNING));
    bytes = sizeof names;
    EXPECT_EQ(ras.RasEnumEntriesA(nullptr, nullptr, names, &bytes, &count),
              DWORD(VIZO_NM_NOT_RUNNING));
    EXPECT_EQ(ras.RasGetEntryDialParamsA(nullptr, &params, nullptr), DWORD(VIZO_NM_NOT_RUNNING));
    HRASCONN h = nullptr;
    EXPECT_EQ(ras.RasDialA(nullptr, nullptr, &params, 0, nullptr, &h), DWORD(VIZO_NM_NOT_RUNNING));
    EXPECT_EQ(h, nullptr);

    up.m_bUseDialup = 1;
    up.m_nDialupRetries = 3;
    up.m_strDialupConnection = "Mobile";
    EXPECT_EQ(up.Dial(), nullptr);
    EXPECT_EQ(boxes.texts, QStringList{"Dial-up connection \"Mobile\" does not exist."});
    EXPECT_EQ(status.lines, QStringList{"Invalid dial-up connection."});
    EXPECT_LT(clock.elapsed(), 3000);

    char text[150];
    EXPECT_EQ(ras.RasGetErrorStringA(VIZO_NM_NOT_RUNNING, text, sizeof text), 0u);
    EXPECT_STREQ(text, "NetworkManager is not running (not found on the system bus)");
    up.FreeDialupLibrary();
}

TEST(DialupErrorText, EveryCodeOfTheLayerReadsAsEnglish)
{
    CUpload up;
    ASSERT_EQ(up.LoadDialupLibrary(), 0);
    QList<UINT> codes = {
        ERROR_INVALID_HANDLE,          ERROR_INVALID_PARAMETER,           ERROR_BUFFER_TOO_SMALL,
        ERROR_CANNOT_OPEN_PHONEBOOK,   ERROR_CANNOT_FIND_PHONEBOOK_ENTRY, ERROR_INVALID_SIZE,
        ERROR_PROJECTION_NOT_COMPLETE, ERROR_PROTOCOL_NOT_CONFIGURED};
    for (UINT c = VIZO_NM_REASON_BASE; c < VIZO_NM_REASON_BASE + 100; ++c)
        codes << c;
    for (UINT c = VIZO_NM_NOT_RUNNING; c <= VIZO_NM_DIAL_TIMEOUT; ++c)
        codes << c;
    QStringList texts;
    for (UINT code : codes) {
        char text[150] = {};
        ASSERT_EQ(up.m_ras.RasGetErrorStringA(code, text, sizeof text), 0u) << code;
        EXPECT_FALSE(QByteArray(text).startsWith("Unknown")) << code;
        texts << text;
    }
    // Distinct texts for the named codes; later reasons only number themselves.
    EXPECT_EQ(QSet<QString>(texts.begin(), texts.end()).size(), texts.size());
    char small[8];
    EXPECT_EQ(up.m_ras.RasGetErrorStringA(VIZO_NM_NOT_RUNNING, small, sizeof small),
              DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_STREQ(small, "");
    up.FreeDialupLibrary();
}

} // namespace
