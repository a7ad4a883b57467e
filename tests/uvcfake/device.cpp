#include "device.h"

#include "controls.h"
#include "frames.h"

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

using Clock = std::chrono::steady_clock;

struct Mode {
    std::uint32_t fourcc;
    std::uint32_t width, height;
    std::uint32_t fps[2]; // fastest first, the default; 0 ends the list
};

constexpr Mode kModes[] = {
    {V4L2_PIX_FMT_YUYV, 640, 480, {30, 15}},
    {V4L2_PIX_FMT_YUYV, 1920, 1080, {5, 0}},
    {V4L2_PIX_FMT_MJPEG, 640, 480, {30, 15}},
    {V4L2_PIX_FMT_MJPEG, 1920, 1080, {30, 15}},
};
constexpr std::uint32_t kFormats[] = {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_MJPEG};
constexpr std::uint32_t kMaxBuffers = 32; // the UVC driver's limit
constexpr auto kUnplugCheck = std::chrono::milliseconds(20);

struct Buffer {
    bool queued = false, done = false, mapped = false;
    std::uint32_t bytesused = 0, sequence = 0;
    timeval timestamp{};
};

struct Device {
    std::string path;
    ino_t inode = 0;
    int handles = 0;
    const Mode* mode = &kModes[0];
    std::uint32_t fps = 30;
    ControlValues controls{};
    int owner = -1; // the handle that set the format or holds the buffers
    int memfd = -1;
    std::uint8_t* base = nullptr;
    std::size_t slot = 0; // bytes per buffer in the shared memory, page-aligned
    std::vector<Buffer> buffers;
    std::deque<std::uint32_t> queued, done;
    bool streaming = false;
    std::uint64_t sequence = 0;
    Clock::time_point due;
};

std::mutex g_mutex;
std::atomic<int> g_handleCount{0};

std::map<std::string, Device*>& Devices()
{
    static auto* devices = new std::map<std::string, Device*>; // outlives exit-time closes
    return *devices;
}

std::map<int, Device*>& Handles()
{
    static auto* handles = new std::map<int, Device*>;
    return *handles;
}

std::uint32_t SizeImage(const Mode& m)
{
    return m.width * m.height * 2; // MJPEG too: a UVC camera's largest frame
}

bool Plugged(const Device& d)
{
    struct stat st {
    };
    return ::stat(d.path.c_str(), &st) == 0 && st.st_ino == d.inode;
}

std::string Canonical(const char* path)
{
    char* real = ::realpath(path, nullptr);
    std::string out = real ? real : "";
    std::free(real);
    return out;
}

void FreeBuffers(Device& d)
{
    if (d.base)
        ::munmap(d.base, d.slot * d.buffers.size());
    if (d.memfd >= 0)
        RealClose(d.memfd);
    d.base = nullptr;
    d.memfd = -1;
    d.buffers.clear();
    d.queued.clear();
    d.done.clear();
    d.streaming = false;
}

void StopStreaming(Device& d)
{
    d.streaming = false;
    d.queued.clear();
    d.done.clear();
    for (Buffer& b : d.buffers)
        b.queued = b.done = false;
}

Clock::duration Interval(const Device& d)
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)) / d.fps;
}

// Frames come at the interval in effect whether or not anyone takes them; a
// frame finding no queued buffer is dropped, as a driver drops it.
void Advance(Device& d, Clock::time_point now)
{
    const Clock::duration interval = Interval(d);
    while (d.streaming && now >= d.due) {
        if (d.queued.empty()) {
            const auto missed = (now - d.due) / interval + 1;
            d.sequence += std::uint64_t(missed);
            d.due += missed * interval;
            return;
        }
        const std::uint32_t index = d.queued.front();
        d.queued.pop_front();
        Buffer& b = d.buffers[index];
        std::uint8_t* data = d.base + index * d.slot;
        const Mode& m = *d.mode;
        if (m.fourcc == V4L2_PIX_FMT_YUYV) {
            DrawYuyv(data, int(m.width), int(m.height), d.sequence);
            b.bytesused = SizeImage(m);
        } else {
            const std::vector<std::uint8_t>& jpeg =
                JpegFrame(int(m.width), int(m.height), d.sequence);
            b.bytesused = std::uint32_t(std::min<std::size_t>(jpeg.size(), SizeImage(m)));
            std::memcpy(data, jpeg.data(), b.bytesused);
        }
        const auto us =
            std::chrono::duration_cast<std::chrono::microseconds>(d.due.time_since_epoch()).count();
        b.timestamp = {time_t(us / 1000000), suseconds_t(us % 1000000)};
        b.sequence = std::uint32_t(d.sequence++);
        b.queued = false;
        b.done = true;
        d.done.push_back(index);
        d.due += interval;
    }
}

// The nearest size of the format, measured as the UVC driver measures it.
const Mode* Nearest(std::uint32_t fourcc, std::uint32_t width, std::uint32_t height)
{
    if (std::find(std::begin(kFormats), std::end(kFormats), fourcc) == std::end(kFormats))
        fourcc = kFormats[0];
    const Mode* best = nullptr;
    std::uint64_t bestD = ~0ull;
    for (const Mode& m : kModes) {
        if (m.fourcc != fourcc)
            continue;
        const std::uint64_t common =
            std::uint64_t(std::min(m.width, width)) * std::min(m.height, height);
        const std::uint64_t dist =
            std::uint64_t(m.width) * m.height + std::uint64_t(width) * height - 2 * common;
        if (dist < bestD) {
            bestD = dist;
            best = &m;
        }
    }
    return best;
}

void FillFormat(const Mode& m, v4l2_format* f)
{
    std::memset(&f->fmt, 0, sizeof f->fmt);
    v4l2_pix_format& p = f->fmt.pix;
    p.width = m.width;
    p.height = m.height;
    p.pixelformat = m.fourcc;
    p.field = V4L2_FIELD_NONE;
    p.bytesperline = m.fourcc == V4L2_PIX_FMT_YUYV ? m.width * 2 : 0;
    p.sizeimage = SizeImage(m);
    p.colorspace = V4L2_COLORSPACE_SRGB;
    p.priv = V4L2_PIX_FMT_PRIV_MAGIC;
}

int Busy(const Device& d, int fd)
{
    return d.owner >= 0 && d.owner != fd ? EBUSY : 0;
}

int QueryCap(v4l2_capability* cap)
{
    std::memset(cap, 0, sizeof *cap);
    const char* card = std::getenv("UVCFAKE_CARD");
    std::strncpy(reinterpret_cast<char*>(cap->driver), "uvcvideo", sizeof cap->driver - 1);
    std::strncpy(reinterpret_cast<char*>(cap->card), card && *card ? card : "Fake UVC Camera",
                 sizeof cap->card - 1);
    std::strncpy(reinterpret_cast<char*>(cap->bus_info), "usb-0000:00:14.0-1",
                 sizeof cap->bus_info - 1);
    cap->version = (6u << 16) | (1u << 8);
    cap->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_EXT_PIX_FORMAT;
    cap->capabilities = cap->device_caps | V4L2_CAP_META_CAPTURE | V4L2_CAP_DEVICE_CAPS;
    return 0;
}

int EnumFormat(v4l2_fmtdesc* f)
{
    if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || f->index >= std::size(kFormats))
        return EINVAL;
    const std::uint32_t index = f->index;
    std::memset(f, 0, sizeof *f);
    f->index = index;
    f->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    f->pixelformat = kFormats[index];
    const bool jpeg = f->pixelformat == V4L2_PIX_FMT_MJPEG;
    f->flags = jpeg ? V4L2_FMT_FLAG_COMPRESSED : 0;
    std::strncpy(reinterpret_cast<char*>(f->description), jpeg ? "Motion-JPEG" : "YUYV 4:2:2",
                 sizeof f->description - 1);
    return 0;
}

int EnumSize(v4l2_frmsizeenum* s)
{
    std::uint32_t n = 0;
    for (const Mode& m : kModes) {
        if (m.fourcc == s->pixel_format && n++ == s->index) {
            s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
            s->discrete = {m.width, m.height};
            return 0;
        }
    }
    return EINVAL;
}

int EnumInterval(v4l2_frmivalenum* i)
{
    for (const Mode& m : kModes) {
        if (m.fourcc != i->pixel_format || m.width != i->width || m.height != i->height)
            continue;
        if (i->index >= 2 || !m.fps[i->index])
            return EINVAL;
        i->type = V4L2_FRMIVAL_TYPE_DISCRETE;
        i->discrete = {1, m.fps[i->index]};
        return 0;
    }
    return EINVAL;
}

int SetFormat(Device& d, int fd, v4l2_format* f, bool apply)
{
    if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
        return EINVAL;
    const Mode* m = Nearest(f->fmt.pix.pixelformat, f->fmt.pix.width, f->fmt.pix.height);
    if (apply) {
        if (int busy = Busy(d, fd))
            return busy;
        if (!d.buffers.empty())
            return EBUSY;
        d.owner = fd;
        d.mode = m;
        d.fps = m->fps[0];
    }
    FillFormat(*m, f);
    return 0;
}

int Parm(Device& d, int fd, v4l2_streamparm* p, bool apply)
{
    if (p->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
        return EINVAL;
    v4l2_captureparm& c = p->parm.capture;
    if (apply) {
        if (int busy = Busy(d, fd))
            return busy;
        if (d.streaming)
            return EBUSY;
        d.owner = fd;
        const v4l2_fract asked = c.timeperframe;
        const double want =
            asked.numerator && asked.denominator ? double(asked.numerator) / asked.denominator : 0;
        std::uint32_t best = d.mode->fps[0];
        for (std::uint32_t fps : d.mode->fps)
            if (fps && std::abs(1.0 / fps - want) < std::abs(1.0 / best - want))
                best = fps;
        d.fps = best;
    }
    std::memset(&p->parm, 0, sizeof p->parm);
    c.capability = V4L2_CAP_TIMEPERFRAME;
    c.timeperframe = {1, d.fps};
    return 0;
}

int RequestBuffers(Device& d, int fd, v4l2_requestbuffers* r)
{
    if (r->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || r->memory != V4L2_MEMORY_MMAP)
        return EINVAL;
    if (int busy = Busy(d, fd))
        return busy;
    if (d.streaming)
        return EBUSY;
    FreeBuffers(d);
    r->capabilities = V4L2_BUF_CAP_SUPPORTS_MMAP;
    if (r->count == 0)
        return 0;
    d.owner = fd;
    const std::uint32_t count = std::min(r->count, kMaxBuffers);
    const std::size_t page = std::size_t(::sysconf(_SC_PAGESIZE));
    d.slot = (SizeImage(*d.mode) + page - 1) / page * page;
    d.memfd = ::memfd_create("uvcfake", MFD_CLOEXEC);
    if (d.memfd < 0 || ::ftruncate(d.memfd, off_t(d.slot * count)) < 0)
        return FreeBuffers(d), ENOMEM;
    void* base = RealMmap(nullptr, d.slot * count, PROT_READ | PROT_WRITE, MAP_SHARED, d.memfd, 0);
    if (base == MAP_FAILED)
        return FreeBuffers(d), ENOMEM;
    d.base = static_cast<std::uint8_t*>(base);
    d.buffers.resize(count);
    r->count = count;
    return 0;
}

int DescribeBuffer(const Device& d, v4l2_buffer* b)
{
    if (b->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || b->index >= d.buffers.size())
        return EINVAL;
    const Buffer& s = d.buffers[b->index];
    const std::uint32_t index = b->index;
    std::memset(b, 0, sizeof *b);
    b->index = index;
    b->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    b->memory = V4L2_MEMORY_MMAP;
    b->m.offset = std::uint32_t(index * d.slot);
    b->length = SizeImage(*d.mode);
    b->bytesused = s.done || !s.queued ? s.bytesused : 0;
    b->field = V4L2_FIELD_NONE;
    b->sequence = s.sequence;
    b->timestamp = s.timestamp;
    b->flags = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | V4L2_BUF_FLAG_TSTAMP_SRC_SOE |
               (s.mapped ? V4L2_BUF_FLAG_MAPPED : 0) | (s.queued ? V4L2_BUF_FLAG_QUEUED : 0) |
               (s.done ? V4L2_BUF_FLAG_DONE : 0);
    return 0;
}

int Queue(Device& d, int fd, v4l2_buffer* b)
{
    if (int busy = Busy(d, fd))
        return busy;
    if (b->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || b->memory != V4L2_MEMORY_MMAP ||
        b->index >= d.buffers.size())
        return EINVAL;
    Buffer& s = d.buffers[b->index];
    if (s.queued || s.done)
        return EINVAL;
    s.queued = true;
    d.queued.push_back(b->index);
    return DescribeBuffer(d, b);
}

bool NonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_NONBLOCK);
}

// Waits outside the lock; the handle may be closed meanwhile.
int Dequeue(std::unique_lock<std::mutex>& lock, int fd, v4l2_buffer* b)
{
    if (b->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || b->memory != V4L2_MEMORY_MMAP)
        return EINVAL;
    for (;;) {
        auto it = Handles().find(fd);
        if (it == Handles().end())
            return EBADF;
        Device& d = *it->second;
        if (!Plugged(d))
            return ENODEV;
        if (int busy = Busy(d, fd))
            return busy;
        if (!d.streaming)
            return EINVAL;
        const Clock::time_point now = Clock::now();
        Advance(d, now);
        if (!d.done.empty()) {
            const std::uint32_t index = d.done.front();
            d.done.pop_front();
            d.buffers[index].done = false;
            b->index = index;
            DescribeBuffer(d, b);
            return 0;
        }
        if (NonBlocking(fd))
            return EAGAIN;
        const auto wait = std::min<Clock::duration>(d.due - now, kUnplugCheck);
        lock.unlock();
        std::this_thread::sleep_for(wait);
        lock.lock();
    }
}

int Stream(Device& d, int fd, const int* type, bool on)
{
    if (*type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
        return EINVAL;
    if (int busy = Busy(d, fd))
        return busy;
    if (!on) {
        StopStreaming(d);
        return 0;
    }
    if (d.buffers.empty())
        return EINVAL;
    if (d.streaming)
        return 0;
    if (d.mode->fourcc == V4L2_PIX_FMT_MJPEG)
        JpegFrame(int(d.mode->width), int(d.mode->height), 0); // encodes the cycle now
    d.owner = fd;
    d.streaming = true;
    d.sequence = 0;
    d.due = Clock::now() + Interval(d);
    return 0;
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
        return ENOTTY; // no TV standards, no extended controls: as UVC
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
