#include "DavTestServer.h"

#include "FtpTestUtil.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <pwd.h>
#include <unistd.h>

namespace
{

const char* const kModules[] = {"mpm_event",  "authn_core", "authz_core", "authn_file",
                                "auth_basic", "authz_user", "dav",        "dav_fs"};

quint16 FreePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

// httpd refuses to serve as root; its workers then run as the web user, who
// must own what they write.
bool GiveToWebUser(const QString& dir)
{
    if (::geteuid() != 0)
        return true;
    const passwd* web = ::getpwnam("www-data");
    if (!web)
        return false;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    bool ok = ::chown(QFile::encodeName(dir).constData(), web->pw_uid, web->pw_gid) == 0;
    while (it.hasNext())
        ok = ::chown(QFile::encodeName(it.next()).constData(), web->pw_uid, web->pw_gid) == 0 && ok;
    return ok;
}

} // namespace

DavTestServer::~DavTestServer()
{
    StopServerProcess(m_process);
}

QString DavTestServer::Url() const
{
    return QStringLiteral("%1://127.0.0.1:%2/dav")
        .arg(m_tls ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(m_port);
}

QString DavTestServer::CertificatePath() const
{
    return m_dir.filePath(QStringLiteral("cert.pem"));
}

bool DavTestServer::MakeCertificate()
{
    const QString key = m_dir.filePath(QStringLiteral("key.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                   "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1", "-addext",
                   "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", CertificatePath()});
    if (!openssl.waitForFinished(20000) || openssl.exitCode() != 0)
        return false;
    // The pin: SHA-256 of the public key's DER form, as libcurl takes it.
    openssl.start(QStringLiteral("openssl"), {"pkey", "-in", key, "-pubout", "-outform", "DER"});
    if (!openssl.waitForFinished(20000) || openssl.exitCode() != 0)
        return false;
    m_pin = QStringLiteral("sha256//") +
            QString::fromLatin1(QCryptographicHash::hash(openssl.readAllStandardOutput(),
                                                         QCryptographicHash::Sha256)
                                    .toBase64());
    return true;
}

QString DavTestServer::RootDir() const
{
    return m_dir.filePath(QStringLiteral("www/dav"));
}

bool DavTestServer::WriteConfiguration(quint16 port)
{
    const QString d = m_dir.path();
    QString conf = QStringLiteral("ServerName 127.0.0.1\nListen 127.0.0.1:%1\n").arg(port);
    for (const char* module : kModules)
        conf += QStringLiteral("LoadModule %1_module /usr/lib/apache2/modules/mod_%1.so\n")
                    .arg(QLatin1String(module));
    if (::geteuid() == 0)
        conf += QStringLiteral("User www-data\nGroup www-data\n");
    if (m_tls)
        conf += QStringLiteral("LoadModule ssl_module /usr/lib/apache2/modules/mod_ssl.so\n"
                               "SSLEngine on\nSSLCertificateFile %1\nSSLCertificateKeyFile %2\n")
                    .arg(CertificatePath(), m_dir.filePath(QStringLiteral("key.pem")));
    conf += QStringLiteral("PidFile %1/httpd.pid\nErrorLog %1/error.log\nLogLevel warn\n"
                           "DefaultRuntimeDir %1\nDavLockDB %1/lock/DavLock\n"
                           "StartServers 1\nServerLimit 1\nThreadsPerChild 8\n"
                           "MaxRequestWorkers 8\nDocumentRoot %1/www\n"
                           "<Directory %1/www/dav>\n  Dav On\n"
                           "  AuthType Basic\n  AuthName dav\n  AuthUserFile %1/users\n"
                           "  Require valid-user\n</Directory>\n")
                .arg(d);
    const QByteArray digest =
        QCryptographicHash::hash(Password().toUtf8(), QCryptographicHash::Sha1).toBase64();
    return QDir(d).mkpath(QStringLiteral("www/dav")) && QDir(d).mkpath(QStringLiteral("lock")) &&
           WriteLocalFile(m_dir.filePath(QStringLiteral("users")),
                          User().toUtf8() + ":{SHA}" + digest + "\n") &&
           WriteLocalFile(m_dir.filePath(QStringLiteral("httpd.conf")), conf.toUtf8()) &&
           GiveToWebUser(d);
}

bool DavTestServer::Start(bool tls)
{
    m_tls = tls;
    if (tls && !MakeCertificate()) {
        m_error = QStringLiteral("openssl cannot make a certificate");
        return false;
    }
    // The port is free when asked but may be taken before httpd binds it.
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = FreePort();
        if (!m_dir.isValid() || !m_port || !WriteConfiguration(m_port)) {
            m_error = QStringLiteral("cannot prepare the server's directory");
            return false;
        }
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("/usr/sbin/apache2"),
                        {QStringLiteral("-f"), m_dir.filePath(QStringLiteral("httpd.conf")),
                         QStringLiteral("-DFOREGROUND")});
        if (!m_process.waitForStarted(5000)) {
            m_error = QStringLiteral("apache2 does not start (package apache2 installed?)");
            return false;
        }
        for (int wait = 0; wait < 100 && m_process.state() == QProcess::Running; ++wait) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, m_port);
            if (probe.waitForConnected(100))
                return true;
            m_process.waitForFinished(50);
        }
        StopServerProcess(m_process);
    }
    m_error = QStringLiteral("apache2 did not listen; see %1/error.log").arg(m_dir.path());
    m_dir.setAutoRemove(false);
    return false;
}

void DavTestServer::Stop()
{
    StopServerProcess(m_process);
}

QByteArray DavTestServer::ReadFile(const QString& name) const
{
    QFile file(RootDir() + QLatin1Char('/') + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList DavTestServer::ListFiles() const
{
    return SortedFilesBelow(RootDir());
}
