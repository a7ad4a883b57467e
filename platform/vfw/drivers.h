// The capture drivers in index order: the V4L2 capture devices, then the
// sources of the settings file, then those named in VIZO_VIDEO_SOURCES
// ("NAME=FORMAT:INPUT;...", for tests and scripts).
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

inline constexpr int kMaxCaptureDrivers = 10;
// Driver names travel in 80-byte buffers with their terminator.
inline constexpr int kMaxDriverNameBytes = 79;
// The format of a command source: its input is a command line whose standard
// output carries the video.
inline constexpr const char* kCommandFormat = "exec";

struct CaptureDriver {
    QString name; // empty: no driver at this index
    QString version;
    QString format; // FFmpeg input format; empty for auto-detection
    QString input;
    bool isDevice = false; // a V4L2 node: it lists its sizes and has controls
};

// Filter graphs and recorded files: they deliver as fast as they are read, so
// they are paced by their time stamps, and they have no exposure to settle.
bool IsSyntheticSource(const CaptureDriver& driver);

// Capture-capable /dev/video* nodes of the directory, by node number.
QVector<CaptureDriver> ScanVideoDevices(const QString& directory);
// A source of the settings file: its name and "FORMAT:INPUT".
struct VideoSourceEntry {
    QString name;
    QString value;
    bool operator==(const VideoSourceEntry& o) const { return name == o.name && value == o.value; }
};
// One source checked: null, with the reason, when it cannot be used.
std::optional<CaptureDriver> ParseVideoSource(const QString& name, const QString& value,
                                              QString* reason);
// The sources of the settings file, listed after the devices (sorted by name)
// from the next RefreshCaptureDrivers on. The capture layer never reads the
// settings file itself.
void SetSettingsVideoSources(QVector<VideoSourceEntry> entries);
// The entries of a VIZO_VIDEO_SOURCES value; each skipped entry adds a line
// to problems saying why.
QVector<CaptureDriver> ParseVideoSources(const QString& value, QStringList* problems);
// Devices first, then sources, at most kMaxCaptureDrivers slots, as taken by
// the last RefreshCaptureDrivers (the first use takes it). Indexes stay bound
// to the sources they named then, however devices come and go since.
QVector<CaptureDriver> ListCaptureDrivers();
// Scans again and keeps the result. Problems are logged once each.
QVector<CaptureDriver> RefreshCaptureDrivers();
// The node that now carries a device of that name: a camera plugged back in
// may come back under another node. Null when none does.
std::optional<CaptureDriver> FindVideoDevice(const QString& name);
// A driver as the Video menu, the start-up check and the health report name
// it: what capGetDriverDescriptionA reads into its 80-byte buffers.
struct DriverDescription {
    int index;
    QString name;
    QString version;
};
// The described drivers in index order; an index without one is left out.
QVector<DriverDescription> DescribeCaptureDrivers();
// The name of the driver at that index; empty when there is none.
QString CaptureDriverName(int index);

// Tests replace the list (slots with empty names are gaps); nullopt restores it.
void SetCaptureDriversForTesting(std::optional<QVector<CaptureDriver>> drivers);
