// Small helpers for tests that talk to the FTP test server.
#pragma once

#include <QByteArray>
#include <QString>

// Sets an environment variable for the scope (null value: unset).
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    QByteArray m_name;
    QByteArray m_old;
    bool m_had;
};

// Clears every proxy variable the Internet layer reads, for the scope.
class NoProxyEnvironment
{
public:
    NoProxyEnvironment();

private:
    ScopedEnv m_vars[8];
};

// Reproducible bytes that no encoding or line-end conversion leaves alone.
QByteArray RandomBytes(int size, unsigned seed = 1);

// Writes a local file; false when it could not be written whole.
bool WriteLocalFile(const QString& path, const QByteArray& bytes);
