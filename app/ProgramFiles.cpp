#include "ProgramFiles.h"

#include <QFile>

QString DirectoryOf(const QString& path)
{
    int sep = path.lastIndexOf(QLatin1Char('\\'));
    if (sep < 0)
        sep = path.lastIndexOf(QLatin1Char('/'));
    return sep < 0 ? QString() : path.left(sep + 1);
}

bool CanOpenForReading(const QString& path)
{
    QFile probe(path);
    return probe.open(QIODevice::ReadOnly);
}
