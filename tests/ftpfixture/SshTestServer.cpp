#include "SshTestServer.h"
#include "FtpTestUtil.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <pwd.h>
#include <unistd.h>

namespace
{

quint16 FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool CanConnect(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

} // namespace

SshTestServer::SshTestServer()
{
    QDir(m_dir.path()).mkpath(QStringLiteral("root"));
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("sshd.log")));
}

SshTestServer::~SshTestServer()
{
    Stop();
}

bool SshTestServer::Run(const QStringList& args, QByteArray* out)
{
    QProcess p;
    p.start(args.first(), args.mid(1));
    if (!p.waitForFinished(20000) || p.exitCode() != 0) {
        m_error = args.join(' ') + ": " + p.readAllStandardError() + p.errorString();
        return false;
    }
    if (out)
        *out = p.readAllStandardOutput();
    return true;
}

bool SshTestServer::MakeKeys()
{
    for (const char* name : {"host", "client", "other"})
        if (!Run({"ssh-keygen", "-q", "-t", "ecdsa", "-m", "PEM", "-N", "", "-C", "vizo-test", "-f",
                  m_dir.filePath(QString::fromLatin1(name))}))
            return false;
    QByteArray out;
    if (!Run({"ssh-keygen", "-l", "-E", "sha256", "-f", m_dir.filePath("host.pub")}, &out))
        return false;
    m_fingerprint = QString::fromLatin1(out.split(' ').value(1));
    return QFile::copy(m_dir.filePath("client.pub"), m_dir.filePath("authorized_keys"));
}

bool SshTestServer::Start()
{
    if (!m_dir.isValid() || !MakeKeys())
        return false;
    // As root, sshd insists on its privilege-separation folder.
    if (::geteuid() == 0)
        QDir().mkpath(QStringLiteral("/run/sshd"));
    m_port = FreePort();
    const QString config = m_dir.filePath(QStringLiteral("sshd_config"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QStringLiteral("ListenAddress 127.0.0.1\nPort %1\nHostKey %2\nPidFile none\n"
                              "AuthorizedKeysFile %3\nStrictModes no\nUsePAM no\n"
                              "PasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                              "PermitRootLogin prohibit-password\n"
                              "Subsystem sftp internal-sftp -d %4 -l INFO\nLogLevel INFO\n")
                   .arg(m_port)
                   .arg(m_dir.filePath("host"), m_dir.filePath("authorized_keys"), RootDir())
                   .toUtf8());
    file.close();
    m_process.start(QStringLiteral("/usr/sbin/sshd"),
                    {QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"), config});
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        if (m_process.state() == QProcess::NotRunning)
            break;
        if (CanConnect(m_port))
            return true;
        QThread::msleep(50);
    }
    QFile log(m_dir.filePath(QStringLiteral("sshd.log")));
    log.open(QIODevice::ReadOnly);
    m_error = QStringLiteral("sshd did not start: ") + log.readAll();
    Stop();
    return false;
}

void SshTestServer::Stop()
{
    StopServerProcess(m_process);
}

QString SshTestServer::Address() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

QString SshTestServer::User() const
{
    const passwd* pw = ::getpwuid(::geteuid());
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QString();
}

QByteArray SshTestServer::KnownHostsLine(bool otherKey) const
{
    QFile pub(m_dir.filePath(otherKey ? "other.pub" : "host.pub"));
    pub.open(QIODevice::ReadOnly);
    QList<QByteArray> parts = pub.readAll().split(' ');
    return QStringLiteral("[127.0.0.1]:%1 ").arg(m_port).toLatin1() + parts.value(0) + ' ' +
           parts.value(1) + '\n';
}

QByteArray SshTestServer::ReadFile(const QString& name) const
{
    QFile file(RootDir() + '/' + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool SshTestServer::WriteFile(const QString& name, const QByteArray& bytes) const
{
    QFile file(RootDir() + '/' + name);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList SshTestServer::ListFiles() const
{
    return SortedFilesBelow(RootDir());
}

QStringList SshTestServer::Log() const
{
    QFile log(m_dir.filePath(QStringLiteral("sshd.log")));
    log.open(QIODevice::ReadOnly);
    return QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
}
