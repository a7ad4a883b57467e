// Small helpers for tests that talk to the FTP test server.
#pragma once

#include "../support/scopedenv.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

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

// Asks a test server to end, then makes it; returns once it has.
void StopServerProcess(QProcess& process);

// Every file below root (hidden ones too) relative to it, sorted: a server's view.
QStringList SortedFilesBelow(const QString& root);

// Writes a local file; false when it could not be written whole.
bool WriteLocalFile(const QString& path, const QByteArray& bytes);
