// A real SSH server for tests: OpenSSH's sshd in the foreground on 127.0.0.1,
// on a free port, with a throw-away host key and client key made at start,
// key authentication only, and its SFTP subsystem rooted in a temporary folder.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class SshTestServer
{
public:
    SshTestServer();
    ~SshTestServer();
    SshTestServer(const SshTestServer&) = delete;
    SshTestServer& operator=(const SshTestServer&) = delete;

    // False with ErrorText() when sshd or ssh-keygen is missing or fails.
    bool Start();
    void Stop();
    QString ErrorText() const { return m_error; }

    QString Address() const; // "127.0.0.1:port"
    QString User() const;    // the user running the tests
    QString ClientKey() const { return m_dir.filePath(QStringLiteral("client")); }
    QString HostFingerprint() const { return m_fingerprint; } // "SHA256:..."
    // A known_hosts line naming this server's key, or another key for it.
    QByteArray KnownHostsLine(bool otherKey = false) const;

    // The server's view, relative to the SFTP root.
    QString RootDir() const { return m_dir.filePath(QStringLiteral("root")); }
    QByteArray ReadFile(const QString& name) const;
    bool WriteFile(const QString& name, const QByteArray& bytes) const;
    QStringList ListFiles() const;
    // The SFTP requests logged so far (open, rename, remove ...).
    QStringList Log() const;

private:
    bool Run(const QStringList& args, QByteArray* out = nullptr);
    bool MakeKeys();

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_fingerprint;
    QString m_error;
};
