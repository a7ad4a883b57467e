#include "camera.h"
#include "device.h"
#include "frames.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace uvcfake
{

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

static void StopStreaming(Device& d)
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

int Busy(const Device& d, int fd)
{
    return d.owner >= 0 && d.owner != fd ? EBUSY : 0;
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

static bool NonBlocking(int fd)
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

} // namespace uvcfake
