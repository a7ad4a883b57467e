#include "FrameSwap.h"

#include "platform/jpeg/jpegwriter.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr int kAttempts = 5;

bool Attempt(const std::function<bool()>& op)
{
    for (int i = 0; i < kAttempts; ++i) {
        if (op())
            return true;
    }
    return false;
}

bool Exists(const char* path)
{
    struct stat st;
    return ::lstat(path, &st) == 0;
}

} // namespace

SwapNames MakeSwapNames(const QByteArray& destination, unsigned index)
{
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "%02u", index % 100);
    return {destination + ".t" + suffix, destination + ".d" + suffix};
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

FrameFileOps& FrameFiles()
{
    static FrameFileOps ops{RenameNoReplace, DeleteLocalFile, jpeg_write_file};
    return ops;
}

bool DeleteWithRetries(const QByteArray& path)
{
    return Attempt([&] { return FrameFiles().remove(path.constData()); });
}

bool SwapIntoPlace(const QByteArray& destination, const SwapNames& names)
{
    FrameFileOps& ops = FrameFiles();
    const char* d = destination.constData();
    const char* t = names.temporary.constData();
    const char* p = names.parked.constData();
    // Parking fails harmlessly when there is no previous picture yet.
    const bool parked = Attempt([&] { return ops.rename(d, p); });
    const bool installed = Attempt([&] { return ops.rename(t, d); });
    if (installed) {
        if (parked)
            DeleteWithRetries(names.parked);
        return true;
    }
    DeleteWithRetries(names.temporary);
    // Leaving the destination empty would be worse than keeping the old one.
    if (parked)
        Attempt([&] { return ops.rename(p, d); });
    return false;
}
