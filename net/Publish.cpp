#include "Publish.h"

#include "Ftp.h"

#include <QDir>
#include <QImageReader>
#include <QImageWriter>

QVector<NumberedDestination> EnabledDestinations(const CUpload& u)
{
    QVector<NumberedDestination> list;
    if (u.m_bUseFtp)
        list.push_back({1, u.FirstDestination()});
    for (int i = 0; i < CUpload::kExtraDestinations; ++i)
        if (u.m_destinations[i].bUse)
            list.push_back({i + 2, u.m_destinations[i]});
    return list;
}

QString SmallerCopy::Make(const QString& picture, int maxWidth, int quality, QString* error)
{
    QImageReader reader(picture);
    const QSize size = reader.size();
    if (size.isValid() && size.width() <= maxWidth)
        return picture;
    QImage image;
    if (!reader.read(&image)) {
        *error = reader.errorString();
        return QString();
    }
    if (image.width() <= maxWidth)
        return picture;
    const QImage smaller = image.scaledToWidth(maxWidth, Qt::SmoothTransformation);
    m_file.setFileTemplate(QDir::tempPath() + QStringLiteral("/vizo-copy-XXXXXX.jpg"));
    if (!m_file.open()) {
        *error = m_file.errorString();
        return QString();
    }
    QImageWriter writer(&m_file, "jpeg");
    writer.setQuality(quality);
    if (!writer.write(smaller) || !m_file.flush()) {
        *error = writer.errorString();
        return QString();
    }
    return m_file.fileName();
}

namespace
{
bool PublishOne(CUpload& u, const NumberedDestination& target)
{
    const FtpDestination& d = target.d;
    SmallerCopy copy;
    QString path = u.m_strLocalPath;
    if (d.nMaxWidth > 0) {
        QString error;
        path = copy.Make(u.m_strLocalPath, d.nMaxWidth, u.m_nQuality, &error);
        if (path.isEmpty()) {
            u.ShowStatus(QStringLiteral("Cannot make the smaller picture for %1 (%2)")
                             .arg(ServerForDisplay(d.strServer), error));
            return false;
        }
    }
    u.m_pPublishing = &d;
    bool ok = false;
    u.m_hFtpSession = u.OpenFtpSession(u.m_hInternet);
    if (u.m_hFtpSession) {
        ok = u.PutFile(u.m_hFtpSession, path, d.strRemotePath, FTP_TRANSFER_TYPE_BINARY);
        u.CloseFtpSession(u.m_hFtpSession);
        u.m_hFtpSession = nullptr;
    }
    u.m_pPublishing = nullptr;
    return ok;
}

DestinationOutcome OutcomeOf(const NumberedDestination& target, bool ok, const QString& reason)
{
    return {target.number, ServerForDisplay(target.d.strServer), ok, ok ? QString() : reason};
}
} // namespace

QVector<DestinationOutcome> PublishToAll(CUpload& u)
{
    const QVector<NumberedDestination> targets = EnabledDestinations(u);
    QVector<DestinationOutcome> outcomes;
    u.m_hRasConn = nullptr;
    u.m_hInternet = nullptr;
    u.m_hFtpSession = nullptr;
    u.m_hRasConn = u.Dial();
    if (!u.m_hRasConn || u.HangUpIfAborted()) {
        for (const NumberedDestination& t : targets)
            outcomes.push_back(OutcomeOf(t, false, u.m_strLastStatus));
        return outcomes;
    }
    u.m_hInternet = u.OpenInternet();
    const QString noInternet = u.m_strLastStatus;
    for (const NumberedDestination& t : targets) {
        if (u.m_bAbort)
            break;
        if (!u.m_hInternet) {
            outcomes.push_back(OutcomeOf(t, false, noInternet));
            continue;
        }
        // A failure before silenced the closing lines; this destination has its own.
        s_bCloseMessages = true;
        const bool ok = PublishOne(u, t);
        outcomes.push_back(OutcomeOf(t, ok, u.m_strLastStatus));
    }
    u.CloseInternet(u.m_hInternet);
    u.m_hInternet = nullptr;
    u.HangUp(u.m_hRasConn);
    u.m_hRasConn = nullptr;
    return outcomes;
}

QString FailedUploadLine(const QVector<DestinationOutcome>& outcomes, const QString& started)
{
    QStringList failures;
    for (const DestinationOutcome& o : outcomes)
        if (!o.ok)
            failures
                << QStringLiteral("destination %1 %2: %3").arg(o.number).arg(o.server, o.reason);
    return QStringLiteral("Failed upload at %1: %2")
        .arg(started, failures.join(QStringLiteral("; ")));
}
