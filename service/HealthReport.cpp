#include "HealthReport.h"

#include "config/RunProfile.h"
#include "platform/win/ownfile.h"
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString IsoLocalTime(std::time_t t)
{
    std::tm local{};
    localtime_r(&t, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    QString iso = QString::fromLatin1(text);
    // strftime gives +0100; ISO 8601's extended form wants +01:00.
    iso.insert(iso.size() - 2, QLatin1Char(':'));
    return iso;
}

std::time_t ParseIsoTime(const QString& text)
{
    const QDateTime dt = QDateTime::fromString(text, Qt::ISODate);
    return dt.isValid() ? std::time_t(dt.toSecsSinceEpoch()) : 0;
}

namespace
{
QJsonValue TimeValue(std::time_t t)
{
    return t ? QJsonValue(IsoLocalTime(t)) : QJsonValue(QJsonValue::Null);
}

std::time_t TimeFrom(const QJsonObject& o, const char* key)
{
    return ParseIsoTime(o.value(QLatin1String(key)).toString());
}

QString Day(int secs)
{
    return QString::asprintf("%02d:%02d:%02d", secs / 3600, secs / 60 % 60, secs % 60);
}

QJsonArray DestinationsJson(const QVector<DestinationHealth>& list)
{
    QJsonArray array;
    for (const DestinationHealth& d : list) {
        QJsonObject o;
        o[QLatin1String("number")] = d.number;
        o[QLatin1String("server")] = d.server;
        o[QLatin1String("state")] = QLatin1String(d.ok ? "ok" : "failing");
        o[QLatin1String("reason")] = d.ok ? QJsonValue(QJsonValue::Null) : QJsonValue(d.reason);
        o[QLatin1String("last_success")] = TimeValue(d.lastSuccess);
        o[QLatin1String("last_failure")] = TimeValue(d.lastFailure);
        array.append(o);
    }
    return array;
}

QVector<DestinationHealth> DestinationsFrom(const QJsonValue& value)
{
    QVector<DestinationHealth> list;
    for (const QJsonValue& v : value.toArray()) {
        const QJsonObject o = v.toObject();
        DestinationHealth d;
        d.number = o.value(QLatin1String("number")).toInt();
        if (d.number < 1)
            continue; // not a record of ours
        d.server = o.value(QLatin1String("server")).toString();
        d.ok = o.value(QLatin1String("state")).toString() != QLatin1String("failing");
        d.reason = o.value(QLatin1String("reason")).toString();
        d.lastSuccess = TimeFrom(o, "last_success");
        d.lastFailure = TimeFrom(o, "last_failure");
        list.push_back(d);
    }
    return list;
}

int DaySecs(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 3)
        return 0;
    return parts[0].toInt() * 3600 + parts[1].toInt() * 60 + parts[2].toInt();
}
} // namespace

QByteArray HealthToJson(const HealthState& s)
{
    QJsonObject o;
    o[QLatin1String("version")] = s.version;
    o[QLatin1String("mode")] = s.mode;
    o[QLatin1String("camera")] = s.camera;
    o[QLatin1String("camera_state")] = QLatin1String(s.cameraOk ? "ok" : "lost");
    o[QLatin1String("last_start")] = TimeValue(s.lastStart);
    o[QLatin1String("last_success")] = TimeValue(s.lastSuccess);
    o[QLatin1String("last_failure")] = TimeValue(s.lastFailure);
    o[QLatin1String("last_failure_reason")] =
        s.lastFailure ? QJsonValue(s.lastFailureReason) : QJsonValue(QJsonValue::Null);
    o[QLatin1String("consecutive_failures")] = s.consecutiveFailures;
    o[QLatin1String("next_upload")] = TimeValue(s.nextUpload);
    o[QLatin1String("interval_seconds")] = qint64(s.schedule.intervalSecs);
    o[QLatin1String("upload_mode")] = s.schedule.uploadMode;
    if (s.schedule.b24Hours) {
        o[QLatin1String("upload_period")] = QJsonValue(QJsonValue::Null);
    } else {
        QJsonObject period;
        period[QLatin1String("from")] = Day(s.schedule.fromSecs);
        period[QLatin1String("to")] = Day(s.schedule.toSecs);
        o[QLatin1String("upload_period")] = period;
    }
    o[QLatin1String("archive_state")] =
        s.archiveState.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(s.archiveState);
    o[QLatin1String("archive_reason")] =
        s.archiveReason.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(s.archiveReason);
    o[QLatin1String("queue_length")] = s.queueLength;
    o[QLatin1String("oldest_queued")] = TimeValue(s.queueLength > 0 ? s.oldestQueued : 0);
    o[QLatin1String("destinations")] = DestinationsJson(s.destinations);
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

bool JsonObjectFrom(const QByteArray& json, QJsonObject* object, QString* error)
{
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parse);
    if (!doc.isObject()) {
        *error = parse.error != QJsonParseError::NoError ? parse.errorString()
                                                         : QStringLiteral("not a JSON object");
        return false;
    }
    *object = doc.object();
    return true;
}

bool HealthFromJson(const QByteArray& json, HealthState* s, QString* error)
{
    QJsonObject o;
    if (!JsonObjectFrom(json, &o, error))
        return false;
    if (!o.value(QLatin1String("version")).isString()) {
        *error = QStringLiteral("no version field");
        return false;
    }
    HealthState r;
    r.version = o.value(QLatin1String("version")).toString();
    r.mode = o.value(QLatin1String("mode")).toString();
    r.camera = o.value(QLatin1String("camera")).toString();
    r.cameraOk = o.value(QLatin1String("camera_state")).toString() != QLatin1String("lost");
    r.lastStart = TimeFrom(o, "last_start");
    r.lastSuccess = TimeFrom(o, "last_success");
    r.lastFailure = TimeFrom(o, "last_failure");
    r.lastFailureReason = o.value(QLatin1String("last_failure_reason")).toString();
    r.consecutiveFailures = qMax(0, o.value(QLatin1String("consecutive_failures")).toInt());
    r.nextUpload = TimeFrom(o, "next_upload");
    r.schedule.intervalSecs =
        unsigned(qMax(0.0, o.value(QLatin1String("interval_seconds")).toDouble()));
    r.schedule.uploadMode = o.value(QLatin1String("upload_mode")).toInt();
    r.archiveState = o.value(QLatin1String("archive_state")).toString();
    r.archiveReason = o.value(QLatin1String("archive_reason")).toString();
    r.queueLength = qMax(0, o.value(QLatin1String("queue_length")).toInt());
    r.oldestQueued = TimeFrom(o, "oldest_queued");
    r.destinations = DestinationsFrom(o.value(QLatin1String("destinations")));
    const QJsonValue period = o.value(QLatin1String("upload_period"));
    r.schedule.b24Hours = period.isObject() ? 0 : 1;
    if (period.isObject()) {
        r.schedule.fromSecs = DaySecs(period[QLatin1String("from")].toString());
        r.schedule.toSecs = DaySecs(period[QLatin1String("to")].toString());
    }
    *s = r;
    return true;
}

bool IsHealthy(const HealthState& s, std::time_t now)
{
    if (!s.lastSuccess || s.lastFailure > s.lastSuccess || s.consecutiveFailures > 0)
        return false;
    // A continuous stream's session runs on and reports only at its end, so
    // its age says nothing.
    if (!WithinUploadPeriod(now, s.schedule) || s.schedule.uploadMode == 2)
        return true;
    const std::time_t interval = std::time_t(qMax(1u, s.schedule.intervalSecs));
    // An upload planned further ahead than the interval (waiting for
    // daylight) is not overdue until an interval after its time.
    return now - s.lastSuccess <= 2 * interval || (s.nextUpload && now <= s.nextUpload + interval);
}

namespace
{
QString When(std::time_t t, std::time_t now)
{
    if (!t)
        return QStringLiteral("never");
    const QString at =
        QDateTime::fromSecsSinceEpoch(t).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const qint64 ago = qint64(now - t);
    if (ago < 0)
        return at;
    if (ago < 120)
        return QStringLiteral("%1 (%2 seconds ago)").arg(at).arg(ago);
    if (ago < 7200)
        return QStringLiteral("%1 (%2 minutes ago)").arg(at).arg(ago / 60);
    return QStringLiteral("%1 (%2 hours ago)").arg(at).arg(ago / 3600);
}
} // namespace

QString HealthSummary(const HealthState& s, std::time_t now)
{
    QStringList lines;
    lines << QStringLiteral("Vizo %1 in %2 mode").arg(s.version, s.mode);
    lines << QStringLiteral("Camera: %1 (%2)")
                 .arg(s.camera.isEmpty() ? QStringLiteral("none") : s.camera,
                      s.cameraOk ? QStringLiteral("ok") : QStringLiteral("lost"));
    lines << QStringLiteral("Last upload started: %1").arg(When(s.lastStart, now));
    lines << QStringLiteral("Last success: %1").arg(When(s.lastSuccess, now));
    lines << QStringLiteral("Last failure: %1").arg(When(s.lastFailure, now));
    if (s.lastFailure)
        lines << QStringLiteral("Reason: %1").arg(s.lastFailureReason);
    lines << QStringLiteral("Failures in a row: %1").arg(s.consecutiveFailures);
    lines << QStringLiteral("Next upload: %1")
                 .arg(s.nextUpload ? QDateTime::fromSecsSinceEpoch(s.nextUpload)
                                         .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                   : QStringLiteral("not scheduled"));
    // Upload health says nothing of the archive: the pictures may still arrive.
    if (s.archiveState == QLatin1String("ok"))
        lines << QStringLiteral("Archive: ok");
    else if (!s.archiveState.isEmpty())
        lines << QStringLiteral("Archive: FAILING (%1)").arg(s.archiveReason);
    if (s.queueLength > 0)
        lines << QStringLiteral("Queued for upload: %1 video(s), the oldest since %2")
                     .arg(s.queueLength)
                     .arg(When(s.oldestQueued, now));
    else
        lines << QStringLiteral("Queued for upload: none");
    for (const DestinationHealth& d : s.destinations)
        lines << (d.ok ? QStringLiteral("Destination %1 (%2): ok, last success %3")
                             .arg(d.number)
                             .arg(d.server, When(d.lastSuccess, now))
                       : QStringLiteral("Destination %1 (%2): FAILING (%3)")
                             .arg(d.number)
                             .arg(d.server, d.reason));
    lines << (IsHealthy(s, now) ? QStringLiteral("Health: ok")
                                : QStringLiteral("Health: FAILING (no recent successful upload)"));
    for (QString& line : lines)
        line = EscapeControls(line);
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString StateDirectory()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    base += QStringLiteral("/vizo");
    return RunProfile().isEmpty() ? base : base + QLatin1Char('/') + RunProfile();
}

QString StatusFilePath()
{
    return StateDirectory() + QStringLiteral("/status.json");
}

QString EscapeControls(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            out += QString::asprintf("\\x%02x", unsigned(c.unicode()));
        else
            out += c;
    }
    return out;
}

bool WriteHealthFile(const QString& path, const HealthState& s, QString* error)
{
    const QString dir = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("cannot create the folder %1").arg(dir);
        return false;
    }
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = target + ".new";
    const int fd = CreateOwnFile(temporary.constData());
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const QByteArray json = HealthToJson(s);
    const bool written = ::write(fd, json.constData(), size_t(json.size())) == json.size();
    const int savedErrno = errno;
    if (::close(fd) == 0 && written && ::rename(temporary.constData(), target.constData()) == 0)
        return true;
    *error = QString::fromLocal8Bit(std::strerror(written ? errno : savedErrno));
    ::unlink(temporary.constData());
    return false;
}

ReportRead ReadHealthFile(const QString& path, QByteArray* bytes, QString* error)
{
    // Non-blocking: a FIFO planted at the name must not hold the program.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        *error = err == ELOOP ? QStringLiteral("it is a link, which is not followed")
                              : QString::fromLocal8Bit(std::strerror(err));
        return err == ENOENT ? ReportRead::Missing : ReportRead::Refused;
    }
    struct stat st {
    };
    QString problem;
    if (::fstat(fd, &st) != 0)
        problem = QString::fromLocal8Bit(std::strerror(errno));
    else if (!S_ISREG(st.st_mode))
        problem = QStringLiteral("it is not a regular file");
    else if (st.st_size > kMaxReportBytes)
        problem = QStringLiteral("it is larger than %1 bytes").arg(kMaxReportBytes);
    if (problem.isEmpty()) {
        // Read to one byte past the limit: a file that grows meanwhile is still refused.
        bytes->resize(int(kMaxReportBytes) + 1);
        qint64 total = 0;
        ssize_t n = 0;
        while (total < bytes->size() &&
               (n = ::read(fd, bytes->data() + total, size_t(bytes->size() - total))) > 0)
            total += n;
        if (n < 0)
            problem = QString::fromLocal8Bit(std::strerror(errno));
        else if (total > kMaxReportBytes)
            problem = QStringLiteral("it is larger than %1 bytes").arg(kMaxReportBytes);
        bytes->resize(int(total));
    }
    ::close(fd);
    if (problem.isEmpty())
        return ReportRead::Ok;
    bytes->clear();
    *error = problem;
    return ReportRead::Refused;
}

int PrintHealthStatus(std::time_t now)
{
    const QString path = StatusFilePath();
    QByteArray bytes;
    QString error;
    const ReportRead read = ReadHealthFile(path, &bytes, &error);
    if (read == ReportRead::Missing) {
        std::printf("No status report at %s (%s): Vizo has not run yet, or cannot write there.\n",
                    qPrintable(EscapeControls(path)), qPrintable(error));
        return 1;
    }
    HealthState s;
    if (read == ReportRead::Refused || !HealthFromJson(bytes, &s, &error)) {
        std::printf("The status report %s cannot be read: %s\n", qPrintable(EscapeControls(path)),
                    qPrintable(EscapeControls(error)));
        return 1;
    }
    std::fputs(qPrintable(HealthSummary(s, now)), stdout);
    return IsHealthy(s, now) ? 0 : 1;
}
