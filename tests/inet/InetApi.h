// The Internet layer as the program sees it: loaded at run time from the build
// directory, every entry point looked up by name.
#pragma once

#include "FtpTestServer.h"
#include "FtpTestUtil.h"
#include "platform/inet/wininet.h"

#include <QByteArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

struct InetApi {
    InetApi();
    ~InetApi();
    bool Loaded() const;

    void* module = nullptr;
    PFN_InternetOpenA Open = nullptr;
    PFN_InternetConnectA Connect = nullptr;
    PFN_InternetCloseHandle Close = nullptr;
    PFN_FtpPutFileA Put = nullptr;
    PFN_FtpRenameFileA Rename = nullptr;
    PFN_FtpDeleteFileA Delete = nullptr;
    PFN_InternetQueryOptionA Query = nullptr;
};

// A server, the layer, an Internet handle and a scratch directory for local files.
class InetTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    HINTERNET Login(DWORD flags = INTERNET_FLAG_PASSIVE);
    HINTERNET LoginTo(const QString& server, const QString& user, const QString& password,
                      DWORD flags = INTERNET_FLAG_PASSIVE);
    QString LocalFile(const QString& name, const QByteArray& bytes);

    InetApi inet;
    FtpTestServer server;
    QTemporaryDir local;
    HINTERNET internet = nullptr;
    ScopedEnv timeout{VIZO_INET_TIMEOUT_ENV, "2"};
};
