#include "FtpTestUtil.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <random>

NoProxyEnvironment::NoProxyEnvironment()
    : m_vars{{"ftp_proxy", nullptr}, {"FTP_PROXY", nullptr},  {"all_proxy", nullptr},
             {"ALL_PROXY", nullptr}, {"http_proxy", nullptr}, {"HTTP_PROXY", nullptr},
             {"no_proxy", nullptr},  {"NO_PROXY", nullptr}}
{
}

QByteArray RandomBytes(int size, unsigned seed)
{
    std::mt19937 generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& c : bytes)
        c = char(generator() & 0xff);
    return bytes;
}

QStringList SortedFilesBelow(const QString& root)
{
    QStringList names;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        names << QDir(root).relativeFilePath(it.next());
    names.sort();
    return names;
}

bool WriteLocalFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

void StopServerProcess(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}
