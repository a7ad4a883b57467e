// The state of one fake camera and the answers about its formats and its
// stream, shared by the parts of the library. All of it is guarded by the
// library's one lock.
#pragma once

#include "controls.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <linux/videodev2.h>
#include <map>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace uvcfake
{

using Clock = std::chrono::steady_clock;

struct Mode {
    std::uint32_t fourcc;
    std::uint32_t width, height;
    std::uint32_t fps[2]; // fastest first, the default; 0 ends the list
};

inline constexpr Mode kModes[] = {
    {V4L2_PIX_FMT_YUYV, 640, 480, {30, 15}},
    {V4L2_PIX_FMT_YUYV, 1920, 1080, {5, 0}},
    {V4L2_PIX_FMT_MJPEG, 640, 480, {30, 15}},
    {V4L2_PIX_FMT_MJPEG, 1920, 1080, {30, 15}},
};
inline constexpr std::uint32_t kFormats[] = {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_MJPEG};
inline constexpr std::uint32_t kMaxBuffers = 32; // the UVC driver's limit
inline constexpr auto kUnplugCheck = std::chrono::milliseconds(20);

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

// Open handles by descriptor.
std::map<int, Device*>& Handles();

std::uint32_t SizeImage(const Mode& m);
// False once the node file is gone or made anew.
bool Plugged(const Device& d);
Clock::duration Interval(const Device& d);
// EBUSY when another handle owns the stream.
int Busy(const Device& d, int fd);
void FreeBuffers(Device& d);
void Advance(Device& d, Clock::time_point now);

// Each returns 0 or the errno a UVC driver gives.
int QueryCap(v4l2_capability* cap);
int EnumFormat(v4l2_fmtdesc* f);
int EnumSize(v4l2_frmsizeenum* s);
int EnumInterval(v4l2_frmivalenum* i);
void FillFormat(const Mode& m, v4l2_format* f);
int SetFormat(Device& d, int fd, v4l2_format* f, bool apply);
int Parm(Device& d, int fd, v4l2_streamparm* p, bool apply);
int RequestBuffers(Device& d, int fd, v4l2_requestbuffers* r);
int DescribeBuffer(const Device& d, v4l2_buffer* b);
int Queue(Device& d, int fd, v4l2_buffer* b);
// Blocks, unless the handle is non-blocking, with the lock released.
int Dequeue(std::unique_lock<std::mutex>& lock, int fd, v4l2_buffer* b);
int Stream(Device& d, int fd, const int* type, bool on);

} // namespace uvcfake
