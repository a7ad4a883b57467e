// The transport settings' rules, without a server: what is refused before a
// connection is made, and which mode each choice gives.
#include "net/FtpTransport.h"

#include <gtest/gtest.h>

TEST(FtpTransportRules, ServerKeysMustFitTheProtocol)
{
    const QString pin = "sha256//" + QString(43, 'A') + "=";
    const QString fingerprint = "SHA256:" + QString(43, 'b');
    struct Case {
        int protocol;
        QString key;
        bool ok;
    } cases[] = {
        {VIZO_PROTOCOL_FTP_EXPLICIT_TLS, "", true},
        {VIZO_PROTOCOL_FTP_EXPLICIT_TLS, " " + pin + " ", true},
        {VIZO_PROTOCOL_FTPS_IMPLICIT, pin + ";" + pin, true},
        {VIZO_PROTOCOL_FTPS_IMPLICIT, fingerprint, false}, // an SSH key for TLS
        {VIZO_PROTOCOL_FTP_EXPLICIT_TLS, "sha256//short=", false},
        {VIZO_PROTOCOL_SFTP, fingerprint, true},
        {VIZO_PROTOCOL_SFTP, fingerprint.mid(7), true}, // without the prefix
        {VIZO_PROTOCOL_SFTP, pin, false},               // a TLS pin for SSH
        {VIZO_PROTOCOL_SFTP, "MD5:16:27:ac:a5", false},
        {VIZO_PROTOCOL_FTP, "anything", true}, // plain FTP has no key to check
    };
    for (const Case& c : cases)
        EXPECT_EQ(ServerKeyProblem(c.protocol, c.key).isEmpty(), c.ok)
            << c.protocol << " " << c.key.toStdString();
}

TEST(FtpTransportRules, HandEditedValuesAreRefusedNotGuessed)
{
    FtpTransportSettings t;
    EXPECT_TRUE(TransportProblem(t).isEmpty()) << "the defaults are plain FTP";
    t.nProtocol = kProtocolCount; // the first number without a protocol
    EXPECT_EQ(TransportProblem(t), "unknown Protocol 7 in the settings");
    // Named once, by the transport's rule, not as a URL of a kind without a name.
    EXPECT_EQ(ServerUrlProblem(kProtocolCount, "ftp.example.net"), "");
    t.nProtocol = -1;
    EXPECT_FALSE(TransportProblem(t).isEmpty());
    t.nProtocol = VIZO_PROTOCOL_SFTP;
    t.nTransferMode = 3;
    EXPECT_EQ(TransportProblem(t), "unknown Transfer Mode 3 in the settings");
}

TEST(FtpTransportRules, AutomaticModeKeepsTheProxyRuleForFtpAndIsPassiveForTls)
{
    for (DWORD proxyRule : {DWORD(0), DWORD(INTERNET_FLAG_PASSIVE)}) {
        EXPECT_EQ(TransferModeFlag(VIZO_PROTOCOL_FTP, kTransferAutomatic, proxyRule), proxyRule);
        EXPECT_EQ(TransferModeFlag(VIZO_PROTOCOL_FTP_EXPLICIT_TLS, kTransferAutomatic, proxyRule),
                  DWORD(INTERNET_FLAG_PASSIVE));
        EXPECT_EQ(TransferModeFlag(VIZO_PROTOCOL_FTP, kTransferActive, proxyRule), DWORD(0));
        EXPECT_EQ(TransferModeFlag(VIZO_PROTOCOL_FTPS_IMPLICIT, kTransferPassive, proxyRule),
                  DWORD(INTERNET_FLAG_PASSIVE));
    }
}
