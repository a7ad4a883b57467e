// A real S3-compatible store for tests: s3rver (from the npm registry) on
// 127.0.0.1 with one bucket, keeping its objects in a temporary directory.
// It knows the access key S3RVER; it does not check signatures.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class S3TestServer
{
public:
    S3TestServer() = default;
    ~S3TestServer();
    S3TestServer(const S3TestServer&) = delete;
    S3TestServer& operator=(const S3TestServer&) = delete;

    // Starts the server and waits until it listens; false with ErrorText() otherwise.
    bool Start();
    QString ErrorText() const { return m_error; }

    QString Url() const; // "http://127.0.0.1:port/cams": path style, bucket "cams"
    QString Key() const { return QStringLiteral("S3RVER"); }
    QString Secret() const { return QStringLiteral("S3RVER"); }

    QByteArray ReadObject(const QString& key) const;
    QByteArray ReadMetadata(const QString& key) const; // as the store keeps it (JSON)
    QStringList ListObjects() const;                   // every key in the bucket, sorted

private:
    QString PathOf(const QString& key) const;

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};

// The s3rver program: VIZO_S3RVER, or where scripts/install-deps.sh puts it.
QString S3rverProgram();
