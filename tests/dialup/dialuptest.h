// The dial-up tests' fixture: the NetworkManager mock on the private bus, the
// dial-up layer loaded, and status lines with the time each was shown.
#pragma once

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

namespace dialuptest
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

inline QString Establishing(const QString& name, int attempt = 1, int of = 3)
{
    if (attempt == 1)
        return QStringLiteral("Establishing dialup connection '%1'...").arg(name);
    return QStringLiteral("Establishing dialup connection '%1' (attempt #%2/%3)...")
        .arg(name, QString::number(attempt), QString::number(of));
}

} // namespace dialuptest
