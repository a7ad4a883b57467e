// Dial-up failures: hang-ups that take long, names, reasons and answers of
// the wrong shape, and no NetworkManager at all.
#include "dialuptest.h"

using namespace dialuptest;

namespace
{

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
