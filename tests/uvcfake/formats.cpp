#include "camera.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace uvcfake
{

static const Mode* Nearest(std::uint32_t fourcc, std::uint32_t width, std::uint32_t height)
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

} // namespace uvcfake
