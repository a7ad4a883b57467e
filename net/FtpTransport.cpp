#include "FtpTransport.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

QString ProtocolName(int protocol)
{
    switch (protocol) {
    case VIZO_PROTOCOL_FTP:
        return QStringLiteral("FTP");
    case VIZO_PROTOCOL_FTP_EXPLICIT_TLS:
        return QStringLiteral("FTP with explicit TLS");
    case VIZO_PROTOCOL_FTPS_IMPLICIT:
        return QStringLiteral("FTPS (implicit TLS)");
    case VIZO_PROTOCOL_SFTP:
        return QStringLiteral("SFTP (SSH)");
    case VIZO_PROTOCOL_WEBDAV:
        return QStringLiteral("WebDAV (HTTP/HTTPS)");
    case VIZO_PROTOCOL_S3:
        return QStringLiteral("S3-compatible storage");
    case VIZO_PROTOCOL_HTTP_POST:
        return QStringLiteral("HTTP POST (form upload)");
    default:
        return QString();
    }
}

QString ServerKeyProblem(int protocol, const QString& key)
{
    const QString k = key.trimmed();
    if (k.isEmpty() || protocol == VIZO_PROTOCOL_FTP)
        return QString();
    if (protocol == VIZO_PROTOCOL_SFTP) {
        static const QRegularExpression fingerprint(
            QStringLiteral("^(SHA256:)?[A-Za-z0-9+/]{43}=?$"),
            QRegularExpression::CaseInsensitiveOption);
        return fingerprint.match(k).hasMatch()
                   ? QString()
                   : QStringLiteral("The server key for SFTP is the host key's SHA256 "
                                    "fingerprint (SHA256: and 43 characters).");
    }
    static const QRegularExpression pins(
        QStringLiteral("^sha256//[A-Za-z0-9+/]{43}=(;sha256//[A-Za-z0-9+/]{43}=)*$"));
    return pins.match(k).hasMatch() ? QString()
                                    : QStringLiteral("The server key for TLS is a public-key pin "
                                                     "(sha256// and 44 characters).");
}

QString TransportProblem(const FtpTransportSettings& t)
{
    if (ProtocolName(t.nProtocol).isEmpty())
        return QStringLiteral("unknown Protocol %1 in the settings").arg(t.nProtocol);
    if (t.nTransferMode < kTransferAutomatic || t.nTransferMode > kTransferActive)
        return QStringLiteral("unknown Transfer Mode %1 in the settings").arg(t.nTransferMode);
    if (t.nProtocol == VIZO_PROTOCOL_S3 && !t.strRegion.trimmed().isEmpty() &&
        !QRegularExpression(QStringLiteral("^[a-z0-9-]{1,64}$"))
             .match(t.strRegion.trimmed())
             .hasMatch())
        return QStringLiteral("Region \"%1\" is not a region name (such as us-east-1)")
            .arg(t.strRegion.trimmed());
    if (t.nProtocol == VIZO_PROTOCOL_HTTP_POST &&
        t.strFormField.contains(QRegularExpression(QStringLiteral("[\"\\r\\n]"))))
        return QStringLiteral("The form field name cannot hold quotes or line breaks");
    QString key = ServerKeyProblem(t.nProtocol, t.strServerKey);
    if (!key.isEmpty())
        return key;
    return QString();
}

QString ServerUrlProblem(int protocol, const QString& server)
{
    // An unknown protocol is TransportProblem's to name.
    if (protocol < int(VIZO_PROTOCOL_WEBDAV) || protocol >= kProtocolCount)
        return QString();
    const QUrl url(server.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    const bool ok =
        url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
        !url.host().isEmpty() && url.userInfo().isEmpty() && !url.hasQuery() && !url.hasFragment();
    return ok ? QString()
              : QStringLiteral("The server for %1 is an address such as "
                               "https://host/folder (no password or query in it).")
                    .arg(ProtocolName(protocol));
}

QString ServerForDisplay(const QString& server)
{
    static const QRegularExpression password(QStringLiteral("^([A-Za-z]+://[^/@:]*):[^/@]*@"));
    QString shown = server;
    return shown.replace(password, QStringLiteral("\\1:***@"));
}

bool PublishesInPlace(int protocol)
{
    // WebDAV servers write a PUT through a temporary of their own (measured on
    // Apache: a reader saw no gap), while MOVE removes the old file first.
    return protocol >= int(VIZO_PROTOCOL_WEBDAV);
}

DWORD TransferModeFlag(int protocol, int transferMode, DWORD automaticFlag)
{
    // A router cannot read an encrypted PORT command to open the way back,
    // so TLS goes passive unless the user insists.
    if (transferMode == kTransferAutomatic &&
        (protocol == VIZO_PROTOCOL_FTP_EXPLICIT_TLS || protocol == VIZO_PROTOCOL_FTPS_IMPLICIT))
        return INTERNET_FLAG_PASSIVE;
    switch (transferMode) {
    case kTransferPassive:
        return INTERNET_FLAG_PASSIVE;
    case kTransferActive:
        return 0;
    default:
        return automaticFlag;
    }
}

TransportArgument::TransportArgument(const FtpTransportSettings& t)
    : m_key(t.strServerKey.trimmed().toUtf8()), m_privateKey(t.strPrivateKey.toUtf8()),
      m_region(t.strRegion.trimmed().toUtf8()), m_formField(t.strFormField.trimmed().toUtf8())
{
    m_record.cbSize = sizeof m_record;
    m_record.dwProtocol = DWORD(t.nProtocol);
    m_record.lpszServerKey = m_key.constData();
    m_record.lpszPrivateKey = m_privateKey.constData();
    m_record.lpszRegion = m_region.constData();
    m_record.lpszFormField = m_formField.constData();
}
