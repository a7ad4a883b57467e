#include "v4l2.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace
{

class Node
{
public:
    explicit Node(const QString& path)
        : m_fd(::open(path.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC))
    {
    }
    ~Node()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    bool ok() const { return m_fd >= 0; }
    template <typename T> bool ioctl(unsigned long request, T* arg) const
    {
        int r;
        do
            r = ::ioctl(m_fd, request, arg);
        while (r < 0 && errno == EINTR);
        return r == 0;
    }

private:
    int m_fd;
};

QString CString(const __u8* text, std::size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(text),
                             int(strnlen(reinterpret_cast<const char*>(text), size)));
}

} // namespace

bool QueryCaptureDevice(const QString& path, V4l2DeviceInfo* info)
{
    Node node(path);
    v4l2_capability cap{};
    if (!node.ok() || !node.ioctl(VIDIOC_QUERYCAP, &cap))
        return false;
    const __u32 caps =
        (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    if (!(caps & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE)))
        return false;
    info->card = CString(cap.card, sizeof cap.card);
    info->version = QStringLiteral("%1.%2.%3")
                        .arg((cap.version >> 16) & 0xff)
                        .arg((cap.version >> 8) & 0xff)
                        .arg(cap.version & 0xff);
    return true;
}

// Every size the camera offers in any encoding, smallest first.
QList<QSize> DeviceFrameSizes(const QString& path)
{
    QList<QSize> sizes;
    for (const V4l2Mode& mode : DeviceModes(path))
        if (!sizes.contains(mode.size))
            sizes << mode.size;
    std::sort(sizes.begin(), sizes.end(), [](const QSize& a, const QSize& b) {
        return qint64(a.width()) * a.height() < qint64(b.width()) * b.height();
    });
    return sizes;
}

namespace
{

// The shortest interval is the highest rate; a range states its shortest.
int HighestRate(const Node& node, std::uint32_t encoding, QSize size)
{
    v4l2_frmivalenum ival{};
    ival.pixel_format = encoding;
    ival.width = __u32(size.width());
    ival.height = __u32(size.height());
    double best = 0;
    for (ival.index = 0; node.ioctl(VIDIOC_ENUM_FRAMEINTERVALS, &ival); ++ival.index) {
        const v4l2_fract f =
            ival.type == V4L2_FRMIVAL_TYPE_DISCRETE ? ival.discrete : ival.stepwise.min;
        if (f.numerator > 0)
            best = std::max(best, double(f.denominator) / f.numerator);
        if (ival.type != V4L2_FRMIVAL_TYPE_DISCRETE)
            break;
    }
    return int(best + 0.5);
}

} // namespace

QList<V4l2Mode> DeviceModes(const QString& path)
{
    Node node(path);
    QList<V4l2Mode> modes;
    if (!node.ok())
        return modes;
    v4l2_fmtdesc fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (fmt.index = 0; node.ioctl(VIDIOC_ENUM_FMT, &fmt); ++fmt.index) {
        v4l2_frmsizeenum size{};
        size.pixel_format = fmt.pixelformat;
        for (size.index = 0; node.ioctl(VIDIOC_ENUM_FRAMESIZES, &size); ++size.index) {
            if (size.type != V4L2_FRMSIZE_TYPE_DISCRETE)
                break;
            const QSize s(int(size.discrete.width), int(size.discrete.height));
            modes << V4l2Mode{s, fmt.pixelformat, HighestRate(node, fmt.pixelformat, s)};
        }
    }
    return modes;
}

QSize DeviceCurrentSize(const QString& path)
{
    Node node(path);
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (!node.ok() || !node.ioctl(VIDIOC_G_FMT, &format))
        return {};
    return QSize(int(format.fmt.pix.width), int(format.fmt.pix.height));
}

QString EncodingLabel(std::uint32_t encoding)
{
    switch (encoding) {
    case V4L2_PIX_FMT_MJPEG:
    case V4L2_PIX_FMT_JPEG:
        return QStringLiteral("MJPEG");
    case V4L2_PIX_FMT_YUYV:
        return QStringLiteral("YUYV");
    case V4L2_PIX_FMT_H264:
        return QStringLiteral("H.264");
    default:
        break;
    }
    QString text;
    for (int shift = 0; shift < 32; shift += 8) {
        const char c = char((encoding >> shift) & 0xff);
        text += (c > ' ' && c <= '~') ? QLatin1Char(c) : QLatin1Char('?');
    }
    return text;
}

bool IsAutoControl(unsigned id)
{
    switch (id) {
    case V4L2_CID_EXPOSURE_AUTO:
    case V4L2_CID_AUTO_WHITE_BALANCE:
    case V4L2_CID_FOCUS_AUTO:
    case V4L2_CID_AUTOGAIN:
    case V4L2_CID_HUE_AUTO:
    case V4L2_CID_AUTOBRIGHTNESS:
    case V4L2_CID_AUTO_N_PRESET_WHITE_BALANCE:
        return true;
    default:
        return false;
    }
}

namespace
{

QList<QPair<int, QString>> MenuEntries(const Node& node, const v4l2_queryctrl& q)
{
    QList<QPair<int, QString>> entries;
    for (int i = q.minimum; i <= q.maximum; ++i) {
        v4l2_querymenu item{};
        item.id = q.id;
        item.index = __u32(i);
        if (node.ioctl(VIDIOC_QUERYMENU, &item))
            entries << qMakePair(i, CString(item.name, sizeof item.name));
    }
    return entries;
}

} // namespace

QList<V4l2Control> DeviceControls(const QString& path)
{
    QList<V4l2Control> controls;
    Node node(path);
    if (!node.ok())
        return controls;
    v4l2_queryctrl q{};
    q.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    for (; node.ioctl(VIDIOC_QUERYCTRL, &q); q.id |= V4L2_CTRL_FLAG_NEXT_CTRL) {
        if (q.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_READ_ONLY))
            continue;
        V4l2Control c;
        if (q.type == V4L2_CTRL_TYPE_INTEGER)
            c.kind = V4l2Control::Integer;
        else if (q.type == V4L2_CTRL_TYPE_BOOLEAN)
            c.kind = V4l2Control::Boolean;
        else if (q.type == V4L2_CTRL_TYPE_MENU)
            c.kind = V4l2Control::Menu;
        else
            continue;
        v4l2_control current{};
        current.id = q.id;
        if (!node.ioctl(VIDIOC_G_CTRL, &current))
            continue;
        c.id = q.id;
        c.name = CString(q.name, sizeof q.name);
        c.minimum = q.minimum;
        c.maximum = q.maximum;
        c.step = q.step > 0 ? q.step : 1;
        c.value = current.value;
        c.inactive = (q.flags & V4L2_CTRL_FLAG_INACTIVE) != 0;
        if (c.kind == V4l2Control::Menu)
            c.menu = MenuEntries(node, q);
        controls << c;
    }
    return controls;
}

bool SetDeviceControl(const QString& path, unsigned id, int value)
{
    Node node(path);
    v4l2_control control{};
    control.id = id;
    control.value = value;
    return node.ok() && node.ioctl(VIDIOC_S_CTRL, &control);
}
