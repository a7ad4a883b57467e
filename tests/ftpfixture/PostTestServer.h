// A form-upload receiver for tests (postreceiver.py) on 127.0.0.1: it keeps
// what is posted, answers 201, and 401 to anyone without the expected
// Authorization header.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

class PostTestServer
{
public:
    PostTestServer() = default;
    ~PostTestServer();
    PostTestServer(const PostTestServer&) = delete;
    PostTestServer& operator=(const PostTestServer&) = delete;

    // authorization: the header value a request must carry ("Basic ...", "Bearer ...").
    bool Start(const QString& authorization);
    QString ErrorText() const { return m_error; }
    QString Url(const QString& path = QStringLiteral("/upload")) const;

    QByteArray ReadFile(const QString& name) const;
    QList<QJsonObject> Requests() const; // the accepted ones: path, cache, fields

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};
