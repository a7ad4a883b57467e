// A USB camera for tests, loaded into a program with LD_PRELOAD.
//
// Files named video<N> in the folder VIZO_VIDEO_DEVICE_DIR names (empty
// regular files will do) open as a UVC camera node: the program's own V4L2
// questions and FFmpeg's v4l2 input get the answers a UVC driver gives.
// The camera offers YUYV 640x480 at 30 and 15 fps and 1920x1080 at 5 fps,
// MJPEG 640x480 and 1920x1080 at 30 and 15 fps (real JPEG frames), paced by
// the frame interval in effect. tests/uvcfake/pattern.h describes the
// picture and reads its frame counter back.
//
//   UVCFAKE_CARD         the card name (default "Fake UVC Camera")
//   UVCFAKE_CONTROL_LOG  a file that gets "ID=VALUE RESULT" per S_CTRL call,
//                        RESULT being ok, EACCES (an inactive control) or EINVAL
//
// Unplugging is removing the node file: from then on every ioctl on handles
// of it, DQBUF included, fails with ENODEV. Plugging in under another number
// is creating another file; a new file gives a camera with default controls.
// The first stream of an MJPEG size encodes its frames (about a second at
// 1920x1080 here); VIDIOC_G/S_EXT_CTRLS and select() are not faked.
// The first handle that sets the format, the frame rate or buffers owns
// the stream until it closes; the others get EBUSY for those, as with UVC.
//
//   VIZO_VIDEO_DEVICE_DIR=$dir LD_PRELOAD=build/libuvcfake.so build/vizo
// UVCFAKE_TRACE=1 also writes every ioctl request and its result to standard error.
#include "device.h"

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace
{

template <typename F> F Next(const char* name)
{
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

using OpenFn = int (*)(const char*, int, ...);
using OpenAtFn = int (*)(int, const char*, int, ...);
using Open2Fn = int (*)(const char*, int);
using OpenAt2Fn = int (*)(int, const char*, int);
using MmapFn = void* (*)(void*, std::size_t, int, int, int, off_t);

bool NeedsMode(int flags)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE;
}

mode_t ModeArg(int flags, va_list args)
{
    return NeedsMode(flags) ? mode_t(va_arg(args, int)) : 0;
}

int Opened(int fd, int dirfd, const char* path)
{
    if (fd >= 0 && path && (path[0] == '/' || dirfd == AT_FDCWD) && uvcfake::IsNodePath(path))
        uvcfake::Attach(fd, path);
    return fd;
}

int Fail(int error)
{
    errno = error;
    return -1;
}

} // namespace

namespace uvcfake
{

int RealOpen(const char* path, int flags, mode_t mode)
{
    static const auto real = Next<OpenFn>("open");
    return real(path, flags, mode);
}

int RealClose(int fd)
{
    static const auto real = Next<int (*)(int)>("close");
    return real(fd);
}

void* RealMmap(void* addr, std::size_t length, int prot, int flags, int fd, off_t offset)
{
    static const auto real = Next<MmapFn>("mmap");
    return real(addr, length, prot, flags, fd, offset);
}

} // namespace uvcfake

extern "C" {

int open(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArg(flags, args);
    va_end(args);
    static const auto real = Next<OpenFn>("open");
    return Opened(real(path, flags, mode), AT_FDCWD, path);
}

int open64(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArg(flags, args);
    va_end(args);
    static const auto real = Next<OpenFn>("open64");
    return Opened(real(path, flags, mode), AT_FDCWD, path);
}

int openat(int dirfd, const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArg(flags, args);
    va_end(args);
    static const auto real = Next<OpenAtFn>("openat");
    return Opened(real(dirfd, path, flags, mode), dirfd, path);
}

int openat64(int dirfd, const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArg(flags, args);
    va_end(args);
    static const auto real = Next<OpenAtFn>("openat64");
    return Opened(real(dirfd, path, flags, mode), dirfd, path);
}

// The checked variants that fortified callers reach.
int __open_2(const char* path, int flags)
{
    static const auto real = Next<Open2Fn>("__open_2");
    return Opened(real(path, flags), AT_FDCWD, path);
}

int __open64_2(const char* path, int flags)
{
    static const auto real = Next<Open2Fn>("__open64_2");
    return Opened(real(path, flags), AT_FDCWD, path);
}

int __openat_2(int dirfd, const char* path, int flags)
{
    static const auto real = Next<OpenAt2Fn>("__openat_2");
    return Opened(real(dirfd, path, flags), dirfd, path);
}

int __openat64_2(int dirfd, const char* path, int flags)
{
    static const auto real = Next<OpenAt2Fn>("__openat64_2");
    return Opened(real(dirfd, path, flags), dirfd, path);
}

// Forgotten before the descriptor is closed: once closed, another thread may
// get the same number for a file of its own.
int close(int fd)
{
    if (uvcfake::MaybeFake(fd))
        uvcfake::Detach(fd);
    return uvcfake::RealClose(fd);
}

int ioctl(int fd, unsigned long request, ...) __THROW
{
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (uvcfake::IsFake(fd))
        return uvcfake::Ioctl(fd, request, arg);
    static const auto real = Next<int (*)(int, unsigned long, ...)>("ioctl");
    return real(fd, request, arg);
}

void* mmap(void* addr, std::size_t length, int prot, int flags, int fd, off_t offset) __THROW
{
    if (uvcfake::IsFake(fd))
        return uvcfake::Mmap(addr, length, prot, flags, fd, offset);
    return uvcfake::RealMmap(addr, length, prot, flags, fd, offset);
}

void* mmap64(void* addr, std::size_t length, int prot, int flags, int fd, off_t offset) __THROW
{
    return mmap(addr, length, prot, flags, fd, offset);
}

// UVC has no read() I/O.
ssize_t read(int fd, void* buffer, std::size_t size)
{
    static const auto real = Next<ssize_t (*)(int, void*, std::size_t)>("read");
    return uvcfake::IsFake(fd) ? Fail(EINVAL) : real(fd, buffer, size);
}

// Fake handles are asked in slices, so the real ones are waited on in the
// same call and an unplug is noticed within a slice.
int poll(pollfd* fds, nfds_t count, int timeout)
{
    static const auto real = Next<int (*)(pollfd*, nfds_t, int)>("poll");
    bool any = false;
    for (nfds_t i = 0; i < count && !any; ++i)
        any = uvcfake::IsFake(fds[i].fd);
    if (!any)
        return real(fds, count, timeout);
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout);
    std::vector<pollfd> others(fds, fds + count);
    for (;;) {
        int ready = 0;
        long long waitNs = 1000000000;
        for (nfds_t i = 0; i < count; ++i) {
            fds[i].revents = 0;
            if (!uvcfake::IsFake(fds[i].fd))
                continue;
            others[i].fd = -1;
            long long ns = 0;
            fds[i].revents = uvcfake::PollEvents(fds[i].fd, fds[i].events, &ns);
            ready += fds[i].revents != 0;
            waitNs = std::min(waitNs, ns);
        }
        const long long leftNs =
            timeout < 0 ? waitNs : std::chrono::nanoseconds(deadline - Clock::now()).count();
        const int sliceMs = ready ? 0 : int(std::max(0LL, std::min(waitNs, leftNs) / 1000000) + 1);
        const int r = real(others.data(), count, timeout == 0 ? 0 : sliceMs);
        if (r < 0)
            return r;
        for (nfds_t i = 0; i < count; ++i)
            if (others[i].fd >= 0)
                fds[i].revents = others[i].revents;
        ready += r;
        if (ready || timeout == 0 || (timeout > 0 && Clock::now() >= deadline))
            return ready;
    }
}

} // extern "C"
