#include "device.h"

#include "camera.h"
#include "controls.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace uvcfake
{

namespace
{

std::mutex g_mutex;
std::atomic<int> g_handleCount{0};
// A child forked while another thread held the lock would hang at its first
// close(); the fork waits for the lock instead.
const int g_atFork =
    pthread_atfork([] { g_mutex.lock(); }, [] { g_mutex.unlock(); }, [] { g_mutex.unlock(); });

std::map<std::string, Device*>& Devices()
{
    static auto* devices = new std::map<std::string, Device*>; // outlives exit-time closes
    return *devices;
}

} // namespace

std::map<int, Device*>& Handles()
{
    static auto* handles = new std::map<int, Device*>;
    return *handles;
}

namespace
{

std::string Canonical(const char* path)
{
    char* real = ::realpath(path, nullptr);
    std::string out = real ? real : "";
    std::free(real);
    return out;
}

int Dispatch(std::unique_lock<std::mutex>& lock, Device& d, int fd, unsigned long request,
             void* arg)
{
    switch (request) {
    case VIDIOC_QUERYCAP:
        return QueryCap(static_cast<v4l2_capability*>(arg));
    case VIDIOC_ENUM_FMT:
        return EnumFormat(static_cast<v4l2_fmtdesc*>(arg));
    case VIDIOC_ENUM_FRAMESIZES:
        return EnumSize(static_cast<v4l2_frmsizeenum*>(arg));
    case VIDIOC_ENUM_FRAMEINTERVALS:
        return EnumInterval(static_cast<v4l2_frmivalenum*>(arg));
    case VIDIOC_G_FMT: {
        auto* f = static_cast<v4l2_format*>(arg);
        if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return EINVAL;
        FillFormat(*d.mode, f);
        return 0;
    }
    case VIDIOC_TRY_FMT:
        return SetFormat(d, fd, static_cast<v4l2_format*>(arg), false);
    case VIDIOC_S_FMT:
        return SetFormat(d, fd, static_cast<v4l2_format*>(arg), true);
    case VIDIOC_G_PARM:
        return Parm(d, fd, static_cast<v4l2_streamparm*>(arg), false);
    case VIDIOC_S_PARM:
        return Parm(d, fd, static_cast<v4l2_streamparm*>(arg), true);
    case VIDIOC_G_INPUT:
        *static_cast<int*>(arg) = 0;
        return 0;
    case VIDIOC_S_INPUT:
        return *static_cast<int*>(arg) == 0 ? 0 : EINVAL;
    case VIDIOC_ENUMINPUT: {
        auto* in = static_cast<v4l2_input*>(arg);
        if (in->index != 0)
            return EINVAL;
        std::memset(in, 0, sizeof *in);
        std::strncpy(reinterpret_cast<char*>(in->name), "Camera 1", sizeof in->name - 1);
        in->type = V4L2_INPUT_TYPE_CAMERA;
        return 0;
    }
    case VIDIOC_QUERYCTRL:
        return QueryControl(d.controls, static_cast<v4l2_queryctrl*>(arg));
    case VIDIOC_QUERYMENU:
        return QueryMenu(static_cast<v4l2_querymenu*>(arg));
    case VIDIOC_G_CTRL:
        return GetControl(d.controls, static_cast<v4l2_control*>(arg));
    case VIDIOC_S_CTRL:
        return SetControl(&d.controls, static_cast<v4l2_control*>(arg));
    case VIDIOC_REQBUFS:
        return RequestBuffers(d, fd, static_cast<v4l2_requestbuffers*>(arg));
    case VIDIOC_QUERYBUF:
        return DescribeBuffer(d, static_cast<v4l2_buffer*>(arg));
    case VIDIOC_QBUF:
        return Queue(d, fd, static_cast<v4l2_buffer*>(arg));
    case VIDIOC_DQBUF:
        return Dequeue(lock, fd, static_cast<v4l2_buffer*>(arg));
    case VIDIOC_STREAMON:
        return Stream(d, fd, static_cast<int*>(arg), true);
    case VIDIOC_STREAMOFF:
        return Stream(d, fd, static_cast<int*>(arg), false);
    default:
        return ENOTTY; // UVC has no TV standards; extended controls are not faked
    }
}

const char* RequestName(unsigned long request)
{
    switch (request) {
    case VIDIOC_QUERYCAP:
        return "QUERYCAP";
    case VIDIOC_ENUM_FMT:
        return "ENUM_FMT";
    case VIDIOC_ENUM_FRAMESIZES:
        return "ENUM_FRAMESIZES";
    case VIDIOC_ENUM_FRAMEINTERVALS:
        return "ENUM_FRAMEINTERVALS";
    case VIDIOC_G_FMT:
        return "G_FMT";
    case VIDIOC_TRY_FMT:
        return "TRY_FMT";
    case VIDIOC_S_FMT:
        return "S_FMT";
    case VIDIOC_G_PARM:
        return "G_PARM";
    case VIDIOC_S_PARM:
        return "S_PARM";
    case VIDIOC_G_INPUT:
        return "G_INPUT";
    case VIDIOC_S_INPUT:
        return "S_INPUT";
    case VIDIOC_ENUMINPUT:
        return "ENUMINPUT";
    case VIDIOC_QUERYCTRL:
        return "QUERYCTRL";
    case VIDIOC_QUERYMENU:
        return "QUERYMENU";
    case VIDIOC_G_CTRL:
        return "G_CTRL";
    case VIDIOC_S_CTRL:
        return "S_CTRL";
    case VIDIOC_REQBUFS:
        return "REQBUFS";
    case VIDIOC_QUERYBUF:
        return "QUERYBUF";
    case VIDIOC_QBUF:
        return "QBUF";
    case VIDIOC_DQBUF:
        return "DQBUF";
    case VIDIOC_STREAMON:
        return "STREAMON";
    case VIDIOC_STREAMOFF:
        return "STREAMOFF";
    case VIDIOC_G_STD:
        return "G_STD";
    case VIDIOC_S_STD:
        return "S_STD";
    case VIDIOC_ENUMSTD:
        return "ENUMSTD";
    case VIDIOC_QUERYSTD:
        return "QUERYSTD";
    default:
        return nullptr;
    }
}

// UVCFAKE_TRACE=1 writes every request to standard error: what a caller asks.
void Trace(int fd, unsigned long request, int error)
{
    static const bool on = std::getenv("UVCFAKE_TRACE") != nullptr;
    if (!on)
        return;
    const char* name = RequestName(request);
    if (name)
        std::fprintf(stderr, "uvcfake: fd %d %s %s\n", fd, name,
                     error ? std::strerror(error) : "ok");
    else
        std::fprintf(stderr, "uvcfake: fd %d ioctl 0x%lx %s\n", fd, request,
                     error ? std::strerror(error) : "ok");
}

} // namespace

bool IsNodePath(const char* path)
{
    const char* dir = std::getenv("VIZO_VIDEO_DEVICE_DIR");
    if (!path || !dir || !*dir)
        return false;
    const char* slash = std::strrchr(path, '/');
    const char* name = slash ? slash + 1 : path;
    if (std::strncmp(name, "video", 5) != 0 || !name[5] ||
        std::strspn(name + 5, "0123456789") != std::strlen(name + 5))
        return false;
    const std::string folder = slash ? std::string(path, std::size_t(slash - path)) : ".";
    const std::string canonical = Canonical(folder.empty() ? "/" : folder.c_str());
    return !canonical.empty() && canonical == Canonical(dir);
}

void Attach(int fd, const char* path)
{
    struct stat st {
    };
    if (::fstat(fd, &st) != 0)
        return;
    const std::string key = Canonical(path);
    std::lock_guard<std::mutex> lock(g_mutex);
    Device*& d = Devices()[key];
    // A node file made anew is a camera plugged in anew: default state.
    if (d && d->handles == 0 && d->inode != st.st_ino) {
        FreeBuffers(*d);
        delete d;
        d = nullptr;
    }
    if (!d) {
        d = new Device;
        d->path = key;
        d->inode = st.st_ino;
        DefaultControls(&d->controls);
    }
    ++d->handles;
    Handles()[fd] = d;
    ++g_handleCount;
}

void Detach(int fd)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = Handles().find(fd);
    if (it == Handles().end())
        return;
    Device& d = *it->second;
    Handles().erase(it);
    --g_handleCount;
    --d.handles;
    if (d.owner == fd) {
        FreeBuffers(d);
        d.owner = -1;
    }
}

bool MaybeFake(int fd)
{
    return fd >= 0 && g_handleCount.load(std::memory_order_relaxed) > 0;
}

bool IsFake(int fd)
{
    if (!MaybeFake(fd))
        return false;
    std::lock_guard<std::mutex> lock(g_mutex);
    return Handles().count(fd) != 0;
}

int Ioctl(int fd, unsigned long request, void* arg)
{
    std::unique_lock<std::mutex> lock(g_mutex);
    auto it = Handles().find(fd);
    int error = EBADF;
    if (it != Handles().end())
        error = !arg                    ? EFAULT
                : !Plugged(*it->second) ? ENODEV
                                        : Dispatch(lock, *it->second, fd, request, arg);
    Trace(fd, request, error);
    if (error == 0)
        return 0;
    errno = error;
    return -1;
}

void* Mmap(void* addr, std::size_t length, int prot, int flags, int fd, off_t offset)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = Handles().find(fd);
    int error = EINVAL;
    if (it != Handles().end() && (flags & MAP_SHARED) && it->second->slot) {
        Device& d = *it->second;
        const std::size_t index = std::size_t(offset) / d.slot;
        if (!Plugged(d)) {
            error = ENODEV;
        } else if (std::size_t(offset) % d.slot == 0 && index < d.buffers.size() &&
                   length <= d.slot) {
            void* p = RealMmap(addr, length, prot, flags, d.memfd, offset);
            if (p != MAP_FAILED)
                d.buffers[index].mapped = true;
            return p;
        }
    }
    errno = error;
    return MAP_FAILED;
}

short PollEvents(int fd, short wanted, long long* waitNs)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    *waitNs = std::chrono::nanoseconds(kUnplugCheck).count();
    auto it = Handles().find(fd);
    if (it == Handles().end())
        return POLLNVAL;
    Device& d = *it->second;
    if (!Plugged(d))
        return POLLERR | POLLHUP;
    if (!d.streaming || d.owner != fd)
        return POLLERR;
    const Clock::time_point now = Clock::now();
    Advance(d, now);
    if (!d.done.empty())
        return short(wanted & (POLLIN | POLLRDNORM));
    *waitNs = std::min<long long>(*waitNs, std::chrono::nanoseconds(d.due - now).count());
    return 0;
}

} // namespace uvcfake