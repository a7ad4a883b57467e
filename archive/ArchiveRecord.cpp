#include "ArchiveRecord.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
constexpr char kRecordName[] = ".vizo-archive";
// A record beyond this is not ours to trust (and not worth the memory).
constexpr qint64 kMaxRecordBytes = 256LL << 20;
} // namespace

bool IsBookkeepingName(const QString& name)
{
    return name == QLatin1String(kRecordName) ||
           (name.startsWith(QLatin1String(".timelapse-")) && name.endsWith(QLatin1String(".lock")));
}

bool RecordWritten(const QString& path, const QString& asName)
{
    const QFileInfo info(path);
    const QByteArray name = QFile::encodeName(asName.isEmpty() ? info.fileName() : asName);
    if (name.contains('\n')) {
        errno = EINVAL;
        return false;
    }
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    const QByteArray line = QByteArray::number(qint64(st.st_size)) + ' ' + name + '\n';
    const QByteArray record = QFile::encodeName(info.path()) + '/' + kRecordName;
    const int fd =
        ::open(record.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    ssize_t n;
    do
        n = ::write(fd, line.constData(), size_t(line.size()));
    while (n < 0 && errno == EINTR);
    const int saved = errno;
    ::close(fd);
    if (n == ssize_t(line.size()))
        return true;
    errno = n < 0 ? saved : ENOSPC;
    return false;
}

QHash<QString, long long> ReadRecord(int dirFd)
{
    QHash<QString, long long> out;
    const int fd = ::openat(dirFd, kRecordName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return out;
    struct stat st;
    QByteArray data;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxRecordBytes) {
        data.resize(qsizetype(st.st_size));
        qsizetype got = 0;
        while (got < data.size()) {
            const ssize_t n = ::read(fd, data.data() + got, size_t(data.size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += n;
        }
        data.truncate(got);
    }
    ::close(fd);
    qsizetype at = 0;
    for (qsizetype end; (end = data.indexOf('\n', at)) >= 0; at = end + 1) {
        const QByteArray line = data.mid(at, end - at);
        const qsizetype space = line.indexOf(' ');
        bool ok = false;
        const long long size = space > 0 ? line.left(space).toLongLong(&ok) : -1;
        if (ok && size >= 0 && space + 1 < line.size())
            out.insert(QFile::decodeName(line.mid(space + 1)), size);
    }
    return out;
}

void RemoveLoneRecord(int dirFd)
{
    const int fd = ::dup(dirFd);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
    bool lone = true, seen = false;
    while (const dirent* d = ::readdir(dir)) {
        if (!std::strcmp(d->d_name, ".") || !std::strcmp(d->d_name, ".."))
            continue;
        if (std::strcmp(d->d_name, kRecordName) != 0) {
            lone = false;
            break;
        }
        seen = true;
    }
    ::closedir(dir);
    struct stat st;
    if (lone && seen && ::fstatat(dirFd, kRecordName, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(st.st_mode))
        ::unlinkat(dirFd, kRecordName, 0);
}
