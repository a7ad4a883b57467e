// Direct questions to V4L2 capture nodes that FFmpeg does not answer.
#pragma once

#include <QList>
#include <QSize>
#include <QString>

struct V4l2DeviceInfo {
    QString card;
    QString version; // the driver's, "major.minor.patch"
};

// False when the node is not a V4L2 device that can capture video.
bool QueryCaptureDevice(const QString& path, V4l2DeviceInfo* info);
// The discrete frame sizes of every pixel format, smallest first; empty when
// the device lists none.
QList<QSize> DeviceFrameSizes(const QString& path);

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
    QList<QPair<int, QString>> menu; // value and text of each menu entry
};

// The writable integer, boolean and menu controls; empty when none or no device.
QList<V4l2Control> DeviceControls(const QString& path);
bool SetDeviceControl(const QString& path, unsigned id, int value);
