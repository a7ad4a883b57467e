// Dialling: which connection is used, attempts and their pauses, and Abort.
#include "dialuptest.h"

using namespace dialuptest;

namespace
{

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

} // namespace
