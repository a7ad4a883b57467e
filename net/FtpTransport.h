// How the upload engine reaches the server: protocol, transfer mode and the
// keys of the secure transports. The defaults are plain FTP with the mode
// chosen from the proxy setting, as before these settings existed.
#pragma once

#include "platform/inet/wininet.h"

#include <QByteArray>
#include <QString>

struct FtpTransportSettings {
    int nProtocol = 0;     // VizoProtocol
    int nTransferMode = 0; // FtpTransferMode
    QString strServerKey;  // TLS pin "sha256//..." or SSH host-key fingerprint
    QString strPrivateKey; // SFTP private-key file
    QString strRegion;     // S3: the region signed for; empty: us-east-1
    QString strFormField = QStringLiteral("file"); // HTTP POST: the file's form field
};

// One place a picture is published to: the server, the account, the remote
// name and how to reach it. The [FTP] section with [Path] Remote is the first.
struct FtpDestination {
    QString strServer;
    QString strUsername;
    QString strPassword;
    QString strRemotePath;
    int bSafeFtp = 0;
    FtpTransportSettings transport;
    int bUse = 0;
    // 0: the picture as taken; otherwise a copy at most this wide.
    int nMaxWidth = 0;
};

enum FtpTransferMode { kTransferAutomatic = 0, kTransferPassive = 1, kTransferActive = 2 };

// Names of the protocols, in the order of their stored numbers.
QString ProtocolName(int protocol);
constexpr int kProtocolCount = 7;

// Whether uploads go straight to the final name, with no temporary and rename:
// the protocol's own store makes the replacement whole (and an HTTP form has
// nothing to rename).
bool PublishesInPlace(int protocol);

// What is wrong with the settings for a connection, or empty. Checked before
// connecting, so a hand-edited value never picks another protocol by itself.
QString TransportProblem(const FtpTransportSettings& t);
// What is wrong with the Server of an HTTP destination (a URL), or empty;
// always empty for the FTP family.
QString ServerUrlProblem(int protocol, const QString& server);
// The server as status lines show it: a password typed into a URL as ***.
QString ServerForDisplay(const QString& server);
// A server key that cannot be right for the protocol, or empty.
QString ServerKeyProblem(int protocol, const QString& key);

// INTERNET_FLAG_PASSIVE or 0: the automatic mode keeps the proxy rule for FTP.
DWORD TransferModeFlag(int protocol, int transferMode, DWORD automaticFlag);

// The transport record InternetConnectA reads through its context argument;
// it points into the byte arrays kept here.
class TransportArgument
{
public:
    explicit TransportArgument(const FtpTransportSettings& t);
    DWORD_PTR Context() const { return reinterpret_cast<DWORD_PTR>(&m_record); }

private:
    QByteArray m_key, m_privateKey, m_region, m_formField;
    VIZO_TRANSPORT m_record{};
};
