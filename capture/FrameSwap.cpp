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

// The file system cannot exchange (some network and FUSE ones, old kernels),
// or there is nothing at the destination to exchange with.
bool ExchangeUnavailable(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == ENOENT;
}

// Why exchange: a rename over the old picture makes ext4 write the new one out at once.
// True when exchanged.
bool Exchange(const char* temporary, const char* destination)
{
    int error = 0;
    Attempt([&] {
        error = OwnFiles().exchange(temporary, destination);
        return error == 0 || ExchangeUnavailable(error);
    });
    return error == 0;
}

// The way without exchange: the old picture parked under a second link while
// the new one is renamed over it.
bool ParkAndInstall(const QByteArray& destination, const SwapNames& names)
{
    OwnFileOps& ops = OwnFiles();
    const char* d = destination.constData();
    const char* t = names.temporary.constData();
    const char* p = names.parked.constData();
    // Parking fails harmlessly when there is no previous picture yet, or the
    // file system has no links: the rename below replaces in one step anyway.
    const bool parked = Attempt([&] { return ops.link(d, p); });
    const bool installed = Attempt([&] { return ops.renameOver(t, d); });
    if (installed) {
        if (parked)
            DeleteWithRetries(names.parked);
        return true;
    }
    DeleteWithRetries(names.temporary);
    if (parked) {
        // Leaving the destination empty would be worse than keeping the old one.
        if (Exists(d))
            DeleteWithRetries(names.parked);
        else
            Attempt([&] { return ops.renameNoReplace(p, d); });
    }
    return false;
}

} // namespace

SwapNames MakeSwapNames(const QByteArray& destination, unsigned index)
{
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "%02u", index % 100);
    return {destination + ".t" + suffix, destination + ".d" + suffix};
}

SwapNames ClaimSwapNames(const QByteArray& destination)
{
    const SwapNames previous = MakeSwapNames(destination, s_nSwapIndex + 99);
    const SwapNames names = MakeSwapNames(destination, s_nSwapIndex);
    s_nSwapIndex = (s_nSwapIndex + 1) % 100;
    RestoreParkedPicture(destination);
    for (const QByteArray& name :
         {previous.temporary, previous.parked, names.temporary, names.parked}) {
        if (Exists(name.constData()))
            DeleteWithRetries(name);
    }
    return names;
}

bool RestoreParkedPicture(const QByteArray& destination)
{
    struct stat st;
    if (::lstat(destination.constData(), &st) == 0 || errno != ENOENT)
        return false;
    QByteArray newest;
    struct timespec newestTime = {};
    for (unsigned i = 0; i < 100; ++i) {
        const QByteArray parked = MakeSwapNames(destination, i).parked;
        // Only what we parked: a single-linked regular file of our own. A
        // link planted here must not be published under the picture's name.
        if (::lstat(parked.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
            st.st_uid != ::geteuid())
            continue;
        const timespec& t = st.st_mtim;
        if (newest.isEmpty() || t.tv_sec > newestTime.tv_sec ||
            (t.tv_sec == newestTime.tv_sec && t.tv_nsec > newestTime.tv_nsec)) {
            newest = parked;
            newestTime = t;
        }
    }
    return !newest.isEmpty() &&
           OwnFiles().renameNoReplace(newest.constData(), destination.constData());
}

FrameFileOps& FrameFiles()
{
    static FrameFileOps ops{jpeg_write_file};
    return ops;
}

bool DeleteWithRetries(const QByteArray& path)
{
    return Attempt([&] { return OwnFiles().remove(path.constData()); });
}

bool SwapIntoPlace(const QByteArray& destination, const SwapNames& names)
{
    if (!Exchange(names.temporary.constData(), destination.constData()))
        return ParkAndInstall(destination, names);
    // A delete that fails leaves the old picture for the next grab to clear.
    DeleteWithRetries(names.temporary);
    return true;
}
