// A real FTP server for tests: pyftpdlib on 127.0.0.1, on a free port, serving
// a fresh temporary directory, logging every command it receives and able to
// misbehave on demand.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class FtpTestServer
{
public:
    struct Options {
        QString user = QStringLiteral("user");
        QString password = QStringLiteral("secret");
        double idleTimeoutSecs = 0; // the server drops idle logins after this (0: its default)
        QString tls;                // "explicit" or "implicit": TLS required, self-signed
        QString certName = QStringLiteral("localhost"); // the certificate's host name
        bool tlsRequired = false; // plain server that refuses logins without TLS
    };

    FtpTestServer();
    explicit FtpTestServer(const Options& options);
    ~FtpTestServer();
    FtpTestServer(const FtpTestServer&) = delete;
    FtpTestServer& operator=(const FtpTestServer&) = delete;

    // Starts the server and waits until it listens; false with ErrorText() otherwise.
    bool Start();
    // Starts it again on the same port and directory, after Stop or a death.
    bool Restart();
    void Stop();
    // True once the server process has ended (it may end itself: DieAfter).
    bool WaitForExit(int timeoutMs);
    QString ErrorText() const { return m_error; }

    quint16 Port() const { return m_port; }
    QString Host() const { return QStringLiteral("127.0.0.1"); }
    QString Address() const; // "127.0.0.1:port", as a user would type it
    QString User() const { return m_options.user; }
    QString Password() const { return m_options.password; }
    // TLS servers: the certificate (PEM, also a CA bundle) and its key's pin.
    QString CertificatePath() const;
    QString Pin() const { return m_pin; }

    // The server's view. Names are relative to the root directory.
    QString RootDir() const;
    QByteArray ReadFile(const QString& name) const;
    bool HasFile(const QString& name) const;
    QStringList ListFiles() const; // every file below the root, sorted
    bool WriteFile(const QString& name, const QByteArray& bytes) const;
    bool MakeDir(const QString& name) const;

    // Every command line received, in order ("PASS ***"; "CONNECT" marks each
    // new control connection).
    QStringList Commands() const;
    int CountCommands(const QString& verb) const; // lines equal to verb or starting "verb "
    // For commands a client sends without waiting for the reply (QUIT).
    bool WaitForCommand(const QString& verb, int timeoutMs) const;
    void ClearCommands();

    // Misbehaviour, from the next command on.
    void Refuse(const QString& verb, int times = -1, const QString& argument = QString(),
                int code = 550);
    void Reply421(const QString& verb, int times = 1);
    void SetSilent(bool silent);
    void DropAfter(qint64 bytes); // closes the connections mid-transfer
    void DieAfter(qint64 bytes);  // the server process exits mid-transfer
    void LimitRate(qint64 bytesPerSecond);
    void TruncateAfter(qint64 bytes); // keeps only this much of an upload, answers 226 anyway
    void Withhold(const QStringList& replyCodes); // never sends these replies
    void SetLoginDir(const QString& dir);         // below the root, which stays reachable
    void ClearFaults();

private:
    bool Launch(quint16 port);
    void AddRule(const char* kind, QJsonObject rule);
    void SetFault(const char* name, const QJsonValue& value);
    void WriteControl();
    QString PathOf(const QString& name) const;

    Options m_options;
    QTemporaryDir m_dir;
    QProcess m_process;
    QJsonObject m_faults;
    quint16 m_port = 0;
    QString m_pin;
    QString m_error;
};

// Points an upload engine's server, user and password at a test server.
template <typename Engine> void UseServer(Engine& u, const FtpTestServer& server)
{
    u.m_strFtpServer = server.Address();
    u.m_strFtpUsername = server.User();
    u.m_strFtpPassword = server.Password();
}
