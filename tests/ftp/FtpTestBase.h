// The upload engine with the real Internet layer bound, a main window to show
// status lines, and a real FTP server.
#pragma once

#include "FtpTestServer.h"
#include "FtpTestUtil.h"
#include "app/CCameraApp.h"
#include "net/Ftp.h"
#include "platform/win/lasterror.h"
#include "session/CCameraDlg.h"
#include "support/testsupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <ostream>

// Readable failures: strings as text rather than as arrays of code units.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

class FtpTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    CUpload& upload() { return app.m_upload; }
    QString LocalFile(const QString& name, const QByteArray& bytes);
    // The lines of a successful OpenFtpSession.
    QStringList OpenLines() const;
    // The names of every STOR the server received, in order.
    QStringList StoredNames() const;

    ScopedEnv timeout{VIZO_INET_TIMEOUT_ENV, "2"};
    NoProxyEnvironment noProxy;
    ScopedConfigHome config;
    CCameraApp app;
    CCameraDlg dlg;
    FtpTestServer server;
    QTemporaryDir local;
    QByteArray picture = RandomBytes(150000, 7);
    StatusRecorder status;
};
