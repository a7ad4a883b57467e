#include "PostTestServer.h"

#include "FtpTestUtil.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

PostTestServer::~PostTestServer()
{
    StopServerProcess(m_process);
}

bool PostTestServer::Start(const QString& authorization)
{
    if (!m_dir.isValid() || !QDir(m_dir.path()).mkpath(QStringLiteral("store"))) {
        m_error = QStringLiteral("cannot prepare the receiver's directory");
        return false;
    }
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral(VIZO_POST_RECEIVER_SCRIPT),
                     m_dir.filePath(QStringLiteral("store")), authorization});
    if (!m_process.waitForStarted(5000) || !m_process.waitForReadyRead(10000)) {
        m_error = QStringLiteral("the POST receiver did not start");
        return false;
    }
    const QByteArray line = m_process.readLine().trimmed();
    m_port = line.startsWith("PORT ") ? quint16(line.mid(5).toUInt()) : 0;
    m_error = m_port ? QString() : QStringLiteral("the POST receiver said: ") + line;
    return m_port != 0;
}

QString PostTestServer::Url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}

QByteArray PostTestServer::ReadFile(const QString& name) const
{
    QFile file(m_dir.filePath(QStringLiteral("store/")) + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<QJsonObject> PostTestServer::Requests() const
{
    QList<QJsonObject> requests;
    QFile file(m_dir.filePath(QStringLiteral("requests.log")));
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& line : file.readAll().split('\n'))
            if (!line.isEmpty())
                requests << QJsonDocument::fromJson(line).object();
    return requests;
}
