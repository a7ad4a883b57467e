// A real WebDAV server for tests: Apache httpd with mod_dav and basic
// authentication on 127.0.0.1, run in the foreground from a configuration of
// its own, serving a fresh temporary directory below /dav/.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class DavTestServer
{
public:
    DavTestServer() = default;
    ~DavTestServer();
    DavTestServer(const DavTestServer&) = delete;
    DavTestServer& operator=(const DavTestServer&) = delete;

    // Starts the server and waits until it listens; false with ErrorText()
    // otherwise. With tls, over HTTPS with a throw-away certificate for 127.0.0.1.
    bool Start(bool tls = false);
    // Stops it as an administrator would, cutting the transfers under way.
    void Stop();
    QString ErrorText() const { return m_error; }
    qint64 ProcessId() const { return m_process.processId(); }

    QString Url() const; // "http://127.0.0.1:port/dav", as a user would type it
    // HTTPS servers: the certificate (also a CA bundle) and its key's pin.
    QString CertificatePath() const;
    QString Pin() const { return m_pin; }
    QString User() const { return QStringLiteral("cam"); }
    QString Password() const { return QStringLiteral("s3cret pass"); }

    // The server's view. Names are relative to the served directory.
    QString RootDir() const;
    QByteArray ReadFile(const QString& name) const;
    QStringList ListFiles() const; // every file below the root, sorted

private:
    bool WriteConfiguration(quint16 port);
    bool MakeCertificate();

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    bool m_tls = false;
    QString m_pin;
    QString m_error;
};
