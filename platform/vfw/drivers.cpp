#include "drivers.h"

#include "address.h"
#include "command.h"
#include "ffmpeg.h"
#include "log.h"
#include "v4l2.h"
#include "vfw.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QSet>
#include <algorithm>

namespace
{

QMutex g_mutex;
std::optional<QVector<CaptureDriver>> g_testDrivers;
std::optional<QVector<CaptureDriver>> g_taken;
QSet<QString> g_logged;
QVector<VideoSourceEntry> g_settingsSources;

void LogOnce(const QString& text)
{
    {
        QMutexLocker lock(&g_mutex);
        if (g_logged.contains(text))
            return;
        g_logged.insert(text);
    }
    LogLine("capture", text);
}

int NodeNumber(const QString& fileName)
{
    bool ok = false;
    const int n = fileName.mid(5).toInt(&ok);
    return ok ? n : -1;
}

QString CheckEntry(const QString& name, const QString& format, const QString& input)
{
    if (name.isEmpty())
        return QStringLiteral("no name before '='");
    if (name.toUtf8().size() > kMaxDriverNameBytes)
        return QStringLiteral("name longer than %1 bytes").arg(kMaxDriverNameBytes);
    if (input.isEmpty())
        return QStringLiteral("no input after ':'");
    if (format == QLatin1String(kCommandFormat)) {
        if (CommandWords(input).value(0).isEmpty())
            return QStringLiteral("no command after ':'");
    } else if (!format.isEmpty() && !FindInputFormat(format))
        return QStringLiteral("unknown input format '%1'").arg(format);
    return {};
}

} // namespace

bool IsSyntheticSource(const CaptureDriver& driver)
{
    if (driver.format == QLatin1String(kCommandFormat))
        return false; // a command line naming a script is no recording
    return driver.format == QLatin1String("lavfi") || QFileInfo(driver.input).isFile();
}

QVector<CaptureDriver> ScanVideoDevices(const QString& directory)
{
    QStringList nodes = QDir(directory).entryList(
        {QStringLiteral("video*")}, QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    nodes.erase(std::remove_if(nodes.begin(), nodes.end(),
                               [](const QString& n) { return NodeNumber(n) < 0; }),
                nodes.end());
    std::sort(nodes.begin(), nodes.end(),
              [](const QString& a, const QString& b) { return NodeNumber(a) < NodeNumber(b); });
    QVector<CaptureDriver> drivers;
    for (const QString& node : nodes) {
        const QString path = directory + QLatin1Char('/') + node;
        V4l2DeviceInfo info;
        if (!QueryCaptureDevice(path, &info))
            continue;
        drivers.push_back({info.card, info.version, QStringLiteral("v4l2"), path, true});
    }
    return drivers;
}

std::optional<CaptureDriver> ParseVideoSource(const QString& name, const QString& value,
                                              QString* reason)
{
    const int colon = value.indexOf(QLatin1Char(':'));
    if (colon < 0) {
        *reason = QStringLiteral("not of the form FORMAT:INPUT");
        return std::nullopt;
    }
    CaptureDriver d;
    d.name = name.trimmed();
    d.format = value.left(colon).trimmed();
    d.input = value.mid(colon + 1).trimmed();
    d.version = FfmpegVersion();
    *reason = CheckEntry(d.name, d.format, d.input);
    if (!reason->isEmpty())
        return std::nullopt;
    return d;
}

QVector<CaptureDriver> ParseVideoSources(const QString& value, QStringList* problems)
{
    QVector<CaptureDriver> drivers;
    for (const QString& raw : value.split(QLatin1Char(';'))) {
        const QString entry = raw.trimmed();
        if (entry.isEmpty())
            continue;
        const int eq = entry.indexOf(QLatin1Char('='));
        QString reason = QStringLiteral("not of the form NAME=FORMAT:INPUT");
        std::optional<CaptureDriver> d;
        if (eq >= 0 && entry.indexOf(QLatin1Char(':'), eq + 1) >= 0 &&
            (d = ParseVideoSource(entry.left(eq), entry.mid(eq + 1), &reason)))
            drivers.push_back(*d);
        else if (problems)
            *problems << QStringLiteral("Video source '%1' skipped: %2.")
                             .arg(MaskAddressPasswords(entry), reason);
    }
    return drivers;
}

void SetSettingsVideoSources(QVector<VideoSourceEntry> entries)
{
    std::sort(entries.begin(), entries.end(),
              [](const VideoSourceEntry& a, const VideoSourceEntry& b) { return a.name < b.name; });
    QMutexLocker lock(&g_mutex);
    g_settingsSources = std::move(entries);
}

static QVector<CaptureDriver> SettingsVideoSources(QStringList* problems)
{
    QVector<VideoSourceEntry> entries;
    {
        QMutexLocker lock(&g_mutex);
        entries = g_settingsSources;
    }
    QVector<CaptureDriver> drivers;
    for (const VideoSourceEntry& e : entries) {
        QString reason;
        if (std::optional<CaptureDriver> d = ParseVideoSource(e.name, e.value, &reason))
            drivers.push_back(*d);
        else
            *problems << QStringLiteral("Video source '%1' skipped: %2.")
                             .arg(MaskAddressPasswords(e.name + QLatin1Char('=') + e.value),
                                  reason);
    }
    return drivers;
}

static QString DeviceDirectory()
{
    const QString directory = qEnvironmentVariable("VIZO_VIDEO_DEVICE_DIR");
    return directory.isEmpty() ? QStringLiteral("/dev") : directory;
}

QVector<CaptureDriver> ListCaptureDrivers()
{
    {
        QMutexLocker lock(&g_mutex);
        if (g_testDrivers)
            return *g_testDrivers;
        if (g_taken)
            return *g_taken;
    }
    return RefreshCaptureDrivers();
}

std::optional<CaptureDriver> FindVideoDevice(const QString& name)
{
    for (const CaptureDriver& d : ScanVideoDevices(DeviceDirectory()))
        if (d.name == name)
            return d;
    return std::nullopt;
}

QVector<CaptureDriver> RefreshCaptureDrivers()
{
    {
        QMutexLocker lock(&g_mutex);
        if (g_testDrivers)
            return *g_testDrivers;
    }
    QVector<CaptureDriver> drivers = ScanVideoDevices(DeviceDirectory());
    QStringList problems;
    drivers += SettingsVideoSources(&problems);
    drivers += ParseVideoSources(qEnvironmentVariable("VIZO_VIDEO_SOURCES"), &problems);
    for (const QString& p : problems)
        LogOnce(p);
    if (drivers.size() > kMaxCaptureDrivers) {
        for (int i = kMaxCaptureDrivers; i < drivers.size(); ++i)
            LogOnce(QStringLiteral("Video source '%1' skipped: only %2 capture drivers fit.")
                        .arg(drivers[i].name)
                        .arg(kMaxCaptureDrivers));
        drivers.resize(kMaxCaptureDrivers);
    }
    QMutexLocker lock(&g_mutex);
    g_taken = drivers;
    return drivers;
}

QVector<DriverDescription> DescribeCaptureDrivers()
{
    QVector<DriverDescription> described;
    for (int i = 0; i < kMaxCaptureDrivers; ++i) {
        char name[80] = {};
        char version[80] = {};
        if (capGetDriverDescriptionA(WORD(i), name, sizeof name, version, sizeof version))
            described.push_back({i, QString::fromUtf8(name), QString::fromUtf8(version)});
    }
    return described;
}

QString CaptureDriverName(int index)
{
    for (const DriverDescription& d : DescribeCaptureDrivers())
        if (d.index == index)
            return d.name;
    return QString();
}

void SetCaptureDriversForTesting(std::optional<QVector<CaptureDriver>> drivers)
{
    QMutexLocker lock(&g_mutex);
    g_testDrivers = std::move(drivers);
}
