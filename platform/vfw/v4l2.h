// Direct questions to V4L2 capture nodes that FFmpeg does not answer.
#pragma once

#include <QList>
#include <QSize>
#include <QString>
#include <cstdint>

struct V4l2DeviceInfo {
    QString card;
    QString version; // the driver's, "major.minor.patch"
};

// False when the node is not a V4L2 device that can capture video.
bool QueryCaptureDevice(const QString& path, V4l2DeviceInfo* info);
// The discrete frame sizes of every pixel format, smallest first; empty when
// the device lists none.
QList<QSize> DeviceFrameSizes(const QString& path);

// One size in one encoding (a V4L2 pixel format) and its highest frame rate;
// fps 0 when the camera states none.
struct V4l2Mode {
    QSize size;
    std::uint32_t encoding = 0;
    int fps = 0;
    bool operator==(const V4l2Mode& o) const
    {
        return size == o.size && encoding == o.encoding && fps == o.fps;
    }
};
// Every discrete size of every encoding, in the order the device lists them.
QList<V4l2Mode> DeviceModes(const QString& path);
// The size the device is set to now; empty when it cannot say.
QSize DeviceCurrentSize(const QString& path);
// "MJPEG", "YUYV", "H.264", else the four characters of the code.
QString EncodingLabel(std::uint32_t encoding);

// A user control of a device (brightness, contrast, ...).
struct V4l2Control {
    enum Kind { Integer, Boolean, Menu };
    unsigned id = 0;
    QString name;
    Kind kind = Integer;
    int minimum = 0;
    int maximum = 0;
    int step = 1;
    int value = 0;
    // Governed by an auto control that is on: setting it has no effect or is
    // refused.
    bool inactive = false;
    QList<QPair<int, QString>> menu; // value and text of each menu entry
};

// The writable integer, boolean and menu controls; empty when none or no device.
QList<V4l2Control> DeviceControls(const QString& path);
bool SetDeviceControl(const QString& path, unsigned id, int value);

// A value to give a control, as stored for a source.
struct ControlSetting {
    unsigned id = 0;
    int value = 0;
    bool operator==(const ControlSetting& o) const { return id == o.id && value == o.value; }
};
// Auto exposure, white balance, focus, gain...: they decide whether the
// manual controls they govern take a value at all.
bool IsAutoControl(unsigned id);
