// Upload sessions end to end: a test-pattern camera, real JPEG files, a real FTP
// server on 127.0.0.1, the real Internet layer, LAN networking. The main window
// is initialised and shown; the test runs inside its modal run.
#pragma once

#include "FtpTestServer.h"
#include "FtpTestUtil.h"
#include "app/CCameraApp.h"
#include "session/CCameraDlg.h"
#include "support/testsupport.h"

#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

class SessionTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs one session inside the initialised main window.
    void RunSession();
    // Presses a main-window button the way a user's click arrives: queued as
    // input, delivered where the session dispatches events.
    void PostClick(int buttonId);
    // Calls the action the first time a status line starting with prefix is shown.
    void OnStatus(const QString& prefix, std::function<void()> action);

    QString Local(const QString& name) const { return local.filePath(name); }
    QByteArray ReadLocal(const QString& name) const;
    // Status lines from "Starting capture..." on.
    QStringList SessionLines() const;
    QString StartText() const;
    static bool IsJpeg(const QByteArray& bytes);

    ScopedEnv timeout{"VIZO_INET_TIMEOUT", "3"};
    ScopedEnv everyFrame{"VIZO_LOG_EVERY_FRAME", "1"}; // the tests count frames in the log
    NoProxyEnvironment noProxy;
    ScopedConfigHome config;
    ScopedTimeZone tz{"UTC0"};
    MessageBoxRecorder boxes;
    StatusRecorder status;
    QTemporaryDir local;
    QTemporaryDir noDevices;
    FtpTestServer server;
    CCameraApp app;
    CCameraDlg wnd;
    CUpload& u = app.m_upload;

private:
    struct Trigger {
        QString prefix;
        std::function<void()> action;
        bool done;
    };
    std::vector<Trigger> m_triggers;
    std::function<void(const char*, const QString&)> m_previousObserver;
};
