#include "devicesetup.h"

#include "log.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <linux/videodev2.h>
#include <mutex>

namespace
{

std::mutex g_mutex;

QHash<QString, QList<ControlSetting>>& Stored()
{
    static QHash<QString, QList<ControlSetting>> controls;
    return controls;
}

// A camera keeps refusing at every reopen; one line says it.
QSet<QString>& Reported()
{
    static QSet<QString> reported;
    return reported;
}

QByteArray FfmpegEncoding(std::uint32_t encoding)
{
    switch (encoding) {
    case V4L2_PIX_FMT_MJPEG:
    case V4L2_PIX_FMT_JPEG:
        return "mjpeg";
    case V4L2_PIX_FMT_YUYV:
        return "yuyv422";
    case V4L2_PIX_FMT_H264:
        return "h264";
    default:
        return {};
    }
}

} // namespace

std::optional<V4l2Mode> FastestMode(const QList<V4l2Mode>& modes, QSize size)
{
    std::optional<V4l2Mode> best;
    for (const V4l2Mode& m : modes)
        if (m.size == size && !FfmpegEncoding(m.encoding).isEmpty() && (!best || m.fps > best->fps))
            best = m;
    return best;
}

QList<QPair<QByteArray, QByteArray>> DeviceInputOptions(const QList<V4l2Mode>& modes, QSize current,
                                                        const FrameFormat& wanted)
{
    QList<QPair<QByteArray, QByteArray>> options;
    const QSize size =
        wanted.width > 0 && wanted.height > 0 ? QSize(wanted.width, wanted.height) : current;
    if (wanted.width > 0 && wanted.height > 0)
        options.append({"video_size", QByteArray::number(size.width()) + 'x' +
                                          QByteArray::number(size.height())});
    std::uint32_t encoding = wanted.encoding;
    int fps = wanted.fps;
    if (!encoding) {
        const std::optional<V4l2Mode> fastest = FastestMode(modes, size);
        if (!fastest)
            return options; // the driver's own choice, as before modes were known
        encoding = fastest->encoding;
        fps = fastest->fps;
    } else if (fps <= 0) {
        for (const V4l2Mode& m : modes)
            if (m.size == size && m.encoding == encoding)
                fps = m.fps;
    }
    const QByteArray name = FfmpegEncoding(encoding);
    if (!name.isEmpty())
        options.append({"input_format", name});
    if (fps > 0)
        options.append({"framerate", QByteArray::number(fps)});
    return options;
}

QList<QPair<QByteArray, QByteArray>> DeviceInputOptions(const CaptureDriver& driver,
                                                        const FrameFormat& wanted)
{
    const bool sized = wanted.width > 0 && wanted.height > 0;
    return DeviceInputOptions(DeviceModes(driver.input),
                              sized ? QSize() : DeviceCurrentSize(driver.input), wanted);
}

void SetSourceControls(const QString& source, const QList<ControlSetting>& controls)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Stored().insert(source, controls);
}

QList<ControlSetting> SourceControls(const QString& source)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return Stored().value(source);
}

QList<ControlSetting> MergedControls(QList<ControlSetting> stored,
                                     const QList<ControlSetting>& newer)
{
    for (const ControlSetting& n : newer) {
        auto it = std::find_if(stored.begin(), stored.end(),
                               [&](const ControlSetting& s) { return s.id == n.id; });
        if (it != stored.end())
            it->value = n.value;
        else
            stored << n;
    }
    return stored;
}

QList<ControlSetting> ApplyingOrder(QList<ControlSetting> controls)
{
    std::stable_partition(controls.begin(), controls.end(),
                          [](const ControlSetting& c) { return IsAutoControl(c.id); });
    return controls;
}

namespace
{

void ReportRefusal(const CaptureDriver& driver, const ControlSetting& c)
{
    const QString key = QStringLiteral("%1\n%2=%3").arg(driver.name).arg(c.id).arg(c.value);
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (Reported().contains(key))
            return;
        Reported().insert(key);
    }
    QString name = QString::number(c.id);
    for (const V4l2Control& known : DeviceControls(driver.input))
        if (known.id == c.id)
            name = QStringLiteral("'%1' (%2)").arg(known.name).arg(c.id);
    LogLine("capture",
            QStringLiteral("Video source '%1' refused the value %2 of control %3; it is skipped.")
                .arg(driver.name)
                .arg(c.value)
                .arg(name));
}

} // namespace

// A manual value stored before its auto control was turned back on is
// inactive now: it would be refused, and means nothing while auto runs.
void ApplySourceControls(const CaptureDriver& driver)
{
    // A camera not there refuses nothing; the open that follows says why.
    V4l2DeviceInfo present;
    if (!QueryCaptureDevice(driver.input, &present))
        return;
    QSet<unsigned> inactive;
    bool autosDone = false;
    for (const ControlSetting& c : ApplyingOrder(SourceControls(driver.name))) {
        if (!autosDone && !IsAutoControl(c.id)) {
            autosDone = true;
            for (const V4l2Control& known : DeviceControls(driver.input))
                if (known.inactive)
                    inactive.insert(known.id);
        }
        if (!inactive.contains(c.id) && !SetDeviceControl(driver.input, c.id, c.value))
            ReportRefusal(driver, c);
    }
}
