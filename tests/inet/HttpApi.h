// The layer reached the way the program reaches an HTTP destination: a URL as
// the server, the protocol and its keys in the transport record.
#pragma once

#include "InetApi.h"

#include <string>

class HttpDestinationTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // A session to server as protocol, or null with the code and text kept.
    HINTERNET Connect(DWORD protocol, const QString& server, const QString& user,
                      const QString& password, const char* region = "", const char* formField = "",
                      const char* serverKey = "");
    QString LocalFile(const QString& name, const QByteArray& bytes);
    QString FailureText() const;

    InetApi inet;
    QTemporaryDir local;
    HINTERNET internet = nullptr;
    NoProxyEnvironment noProxy;
    ScopedEnv timeout{VIZO_INET_TIMEOUT_ENV, "3"};
};
