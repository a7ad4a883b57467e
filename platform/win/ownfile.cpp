#include "ownfile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int CreateOwnFile(const char* path)
{
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(path, flags, 0666);
    if (fd < 0 && errno == EEXIST && ::unlink(path) == 0)
        fd = ::open(path, flags, 0666);
    return fd;
}

namespace
{
bool Exists(const char* path)
{
    struct stat st;
    return ::lstat(path, &st) == 0;
}
} // namespace

bool LinkNoReplace(const char* from, const char* to)
{
    return ::link(from, to) == 0;
}

bool RenameOver(const char* from, const char* to)
{
    return ::rename(from, to) == 0;
}

bool RenameNoReplace(const char* from, const char* to)
{
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return false;
    // The file system cannot refuse to replace: a hard link can, and where
    // there are no links either, a check just before the rename narrows the
    // gap to a moment.
    if (::link(from, to) == 0) {
        ::unlink(from);
        return true;
    }
    if (errno == EEXIST || Exists(to))
        return false;
    return ::rename(from, to) == 0;
}

bool DeleteLocalFile(const char* path)
{
    return ::unlink(path) == 0;
}

int ExchangeFiles(const char* a, const char* b)
{
    return ::renameat2(AT_FDCWD, a, AT_FDCWD, b, RENAME_EXCHANGE) == 0 ? 0 : errno;
}

OwnFileOps& OwnFiles()
{
    static OwnFileOps ops;
    return ops;
}
