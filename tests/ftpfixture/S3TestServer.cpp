#include "S3TestServer.h"

#include "FtpTestUtil.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

namespace
{
const char kObjectSuffix[] = "._S3rver_object";
} // namespace

QString S3rverProgram()
{
    const QString program = qEnvironmentVariable("VIZO_S3RVER");
    return program.isEmpty() ? QStringLiteral("/opt/vizo/npm/node_modules/.bin/s3rver") : program;
}

S3TestServer::~S3TestServer()
{
    StopServerProcess(m_process);
}

bool S3TestServer::Start()
{
    const QString data = m_dir.filePath(QStringLiteral("data"));
    const QString log = m_dir.filePath(QStringLiteral("s3rver.log"));
    if (!m_dir.isValid() || !QDir().mkpath(data)) {
        m_error = QStringLiteral("cannot prepare the server's directory");
        return false;
    }
    // A file, not a pipe: nobody reads its request log, which must never fill.
    m_process.setStandardOutputFile(log);
    m_process.setStandardErrorFile(log, QIODevice::Append);
    m_process.start(S3rverProgram(),
                    {QStringLiteral("-d"), data, QStringLiteral("-a"), QStringLiteral("127.0.0.1"),
                     QStringLiteral("-p"), QStringLiteral("0"),
                     QStringLiteral("--configure-bucket"), QStringLiteral("cams")});
    if (!m_process.waitForStarted(5000)) {
        m_error = S3rverProgram() + QStringLiteral(" does not start (scripts/install-deps.sh)");
        return false;
    }
    static const QRegularExpression listening(QStringLiteral("listening on [0-9.]+:(\\d+)"));
    for (int wait = 0; wait < 300; ++wait) {
        QFile file(log);
        if (file.open(QIODevice::ReadOnly)) {
            const auto match = listening.match(QString::fromUtf8(file.readAll()));
            if (match.hasMatch()) {
                m_port = quint16(match.captured(1).toUInt());
                return true;
            }
        }
        if (m_process.waitForFinished(50))
            break;
    }
    m_error = QStringLiteral("s3rver did not listen; see ") + log;
    m_dir.setAutoRemove(false);
    return false;
}

QString S3TestServer::Url() const
{
    return QStringLiteral("http://127.0.0.1:%1/cams").arg(m_port);
}

QString S3TestServer::PathOf(const QString& key) const
{
    return m_dir.filePath(QStringLiteral("data/cams/")) + key;
}

QByteArray S3TestServer::ReadObject(const QString& key) const
{
    QFile file(PathOf(key) + kObjectSuffix);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray S3TestServer::ReadMetadata(const QString& key) const
{
    QFile file(PathOf(key) + "._S3rver_metadata.json");
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList S3TestServer::ListObjects() const
{
    const QDir bucket(PathOf(QString()));
    QStringList keys;
    QDirIterator it(bucket.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = bucket.relativeFilePath(it.next());
        if (path.endsWith(kObjectSuffix))
            keys << path.chopped(int(sizeof kObjectSuffix) - 1);
    }
    keys.sort();
    return keys;
}
