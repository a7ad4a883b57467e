#include "FtpTestServer.h"
#include "FtpTestUtil.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QThread>

namespace
{

QString Python()
{
    // Debian's modules (pyftpdlib) belong to this interpreter, not to whatever
    // python3 comes first on PATH.
    return QFileInfo::exists(QStringLiteral("/usr/bin/python3"))
               ? QStringLiteral("/usr/bin/python3")
               : QStringLiteral("python3");
}

} // namespace

FtpTestServer::FtpTestServer() : FtpTestServer(Options()) {}

FtpTestServer::FtpTestServer(const Options& options) : m_options(options)
{
    QDir(m_dir.path()).mkpath(QStringLiteral("root"));
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

FtpTestServer::~FtpTestServer()
{
    Stop();
}

bool FtpTestServer::Start()
{
    WriteControl();
    return Launch(0);
}

bool FtpTestServer::Restart()
{
    Stop();
    return Launch(m_port);
}

bool FtpTestServer::Launch(quint16 port)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory");
        return false;
    }
    QStringList args{QStringLiteral(VIZO_FTP_SERVER_SCRIPT),
                     QStringLiteral("--root"),
                     RootDir(),
                     QStringLiteral("--port"),
                     QString::number(port),
                     QStringLiteral("--control"),
                     m_dir.filePath(QStringLiteral("control.json")),
                     QStringLiteral("--log"),
                     m_dir.filePath(QStringLiteral("commands.log")),
                     QStringLiteral("--user"),
                     m_options.user,
                     QStringLiteral("--password"),
                     m_options.password,
                     QStringLiteral("--idle-timeout"),
                     QString::number(m_options.idleTimeoutSecs),
                     QStringLiteral("--cert-name"),
                     m_options.certName};
    if (!m_options.tls.isEmpty())
        args << QStringLiteral("--tls") << m_options.tls;
    if (m_options.tlsRequired)
        args << QStringLiteral("--tls-required");
    m_process.start(Python(), args);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 15000) {
        if (m_process.canReadLine()) {
            QByteArray line = m_process.readLine().trimmed();
            if (line.startsWith("PIN "))
                m_pin = QString::fromLatin1(line.mid(4));
            if (line.startsWith("PORT ")) {
                m_port = quint16(line.mid(5).toUInt());
                return m_port != 0;
            }
        } else if (!m_process.waitForReadyRead(200) && m_process.state() == QProcess::NotRunning) {
            break;
        }
    }
    m_error = QStringLiteral("FTP test server did not start: ") + m_process.errorString();
    Stop();
    return false;
}

void FtpTestServer::Stop()
{
    StopServerProcess(m_process);
}

bool FtpTestServer::WaitForExit(int timeoutMs)
{
    return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(timeoutMs);
}

QString FtpTestServer::Address() const
{
    return Host() + QLatin1Char(':') + QString::number(m_port);
}

QString FtpTestServer::RootDir() const
{
    return m_dir.filePath(QStringLiteral("root"));
}

QString FtpTestServer::PathOf(const QString& name) const
{
    return RootDir() + QLatin1Char('/') + name;
}

QByteArray FtpTestServer::ReadFile(const QString& name) const
{
    QFile file(PathOf(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool FtpTestServer::HasFile(const QString& name) const
{
    return QFileInfo(PathOf(name)).isFile();
}

QStringList FtpTestServer::ListFiles() const
{
    return SortedFilesBelow(RootDir());
}

bool FtpTestServer::WriteFile(const QString& name, const QByteArray& bytes) const
{
    QFile file(PathOf(name));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

bool FtpTestServer::MakeDir(const QString& name) const
{
    return QDir(RootDir()).mkpath(name);
}

QStringList FtpTestServer::Commands() const
{
    QFile file(m_dir.filePath(QStringLiteral("commands.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

int FtpTestServer::CountCommands(const QString& verb) const
{
    int count = 0;
    for (const QString& line : Commands())
        if (line == verb || line.startsWith(verb + QLatin1Char(' ')))
            ++count;
    return count;
}

bool FtpTestServer::WaitForCommand(const QString& verb, int timeoutMs) const
{
    QElapsedTimer clock;
    clock.start();
    while (CountCommands(verb) == 0) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QThread::msleep(10);
    }
    return true;
}

void FtpTestServer::ClearCommands()
{
    QFile::resize(m_dir.filePath(QStringLiteral("commands.log")), 0);
}

void FtpTestServer::Refuse(const QString& verb, int times, const QString& argument, int code)
{
    QJsonObject rule{{"cmd", verb}, {"times", times}, {"code", code}};
    if (!argument.isNull())
        rule.insert("arg", argument);
    AddRule("refuse", rule);
}

void FtpTestServer::Reply421(const QString& verb, int times)
{
    AddRule("reply421", QJsonObject{{"cmd", verb}, {"times", times}});
}

void FtpTestServer::SetSilent(bool silent)
{
    SetFault("silent", silent);
}
void FtpTestServer::DropAfter(qint64 bytes)
{
    SetFault("drop_after", bytes);
}
void FtpTestServer::DieAfter(qint64 bytes)
{
    SetFault("die_after", bytes);
}
void FtpTestServer::LimitRate(qint64 bytesPerSecond)
{
    SetFault("read_limit", bytesPerSecond);
}

void FtpTestServer::TruncateAfter(qint64 bytes)
{
    SetFault("truncate_after", bytes);
}
void FtpTestServer::Withhold(const QStringList& replyCodes)
{
    SetFault("withhold", QJsonArray::fromStringList(replyCodes));
}
void FtpTestServer::SetLoginDir(const QString& dir)
{
    SetFault("login_dir", dir);
}

QString FtpTestServer::CertificatePath() const
{
    return m_dir.filePath(QStringLiteral("cert.pem"));
}

void FtpTestServer::ClearFaults()
{
    m_faults = QJsonObject();
    WriteControl();
}

void FtpTestServer::AddRule(const char* kind, QJsonObject rule)
{
    // A serial number makes every change a new text, so the server restarts
    // its counts even when the same rule is set twice.
    static int serial = 0;
    rule.insert("serial", ++serial);
    QJsonArray rules = m_faults.value(QLatin1String(kind)).toArray();
    rules.append(rule);
    SetFault(kind, rules);
}

void FtpTestServer::SetFault(const char* name, const QJsonValue& value)
{
    m_faults.insert(QLatin1String(name), value);
    WriteControl();
}

void FtpTestServer::WriteControl()
{
    // Replaced in one step: the server reads it before every command.
    QSaveFile file(m_dir.filePath(QStringLiteral("control.json")));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(m_faults).toJson(QJsonDocument::Compact));
        file.commit();
    }
}
