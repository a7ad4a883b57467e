#include "PublishQueue.h"

#include "ArchiveNames.h"
#include "platform/win/ownfile.h"
#include "service/HealthReport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
constexpr std::time_t kFirstWait = 60;
constexpr std::time_t kLongestWait = 3600;
const char kFormat[] = "vizo-upload-queue";

QString ErrnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// Read-modify-write of the file by this process and another one (the
// -timelapse command beside the service) one at a time.
class FileLock
{
public:
    explicit FileLock(const QString& path)
        : m_fd(::open(QFile::encodeName(path).constData(),
                      O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600))
    {
        if (m_fd >= 0)
            ::flock(m_fd, LOCK_EX);
    }
    ~FileLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int m_fd;
};

bool ValidRemote(const QString& remote)
{
    return !remote.isEmpty() && !remote.contains(QLatin1Char('\r')) &&
           !remote.contains(QLatin1Char('\n')) && !remote.contains(QChar(0));
}
} // namespace

bool QueuedVideo::operator==(const QueuedVideo& o) const
{
    return local == o.local && remote == o.remote && day == o.day && queued == o.queued &&
           attempts == o.attempts && nextTry == o.nextTry;
}

std::time_t RetryWait(int attempts)
{
    std::time_t wait = kFirstWait;
    for (int i = 1; i < attempts && wait < kLongestWait; ++i)
        wait *= 2;
    return qMin(wait, kLongestWait);
}

bool RetryDue(const QueuedVideo& v, std::time_t now)
{
    return now >= v.nextTry || v.nextTry - now > kLongestWait;
}

bool QueueExpired(const QueuedVideo& v, std::time_t now, int keepDays)
{
    if (keepDays <= 0)
        return false;
    return now - v.day >= std::time_t(keepDays + 1) * 86400;
}

QByteArray QueueToJson(const QList<QueuedVideo>& videos)
{
    QJsonArray list;
    for (const QueuedVideo& v : videos) {
        QJsonObject o;
        o[QLatin1String("local")] = v.local;
        o[QLatin1String("remote")] = v.remote;
        o[QLatin1String("day")] = DayText(v.day);
        o[QLatin1String("queued")] = IsoLocalTime(v.queued);
        o[QLatin1String("attempts")] = v.attempts;
        o[QLatin1String("next_try")] = IsoLocalTime(v.nextTry);
        list.append(o);
    }
    QJsonObject top;
    top[QLatin1String("format")] = QLatin1String(kFormat);
    top[QLatin1String("version")] = 1;
    top[QLatin1String("videos")] = list;
    return QJsonDocument(top).toJson(QJsonDocument::Indented);
}

bool QueueFromJson(const QByteArray& json, QList<QueuedVideo>* videos, QString* error)
{
    QJsonObject top;
    if (!JsonObjectFrom(json, &top, error))
        return false;
    if (top.value(QLatin1String("format")).toString() != QLatin1String(kFormat) ||
        top.value(QLatin1String("version")).toInt() != 1 ||
        !top.value(QLatin1String("videos")).isArray()) {
        *error = QStringLiteral("not an upload queue of this version");
        return false;
    }
    QList<QueuedVideo> result;
    const QJsonArray list = top.value(QLatin1String("videos")).toArray();
    for (int i = 0; i < list.size(); ++i) {
        const QJsonObject o = list.at(i).toObject();
        QueuedVideo v;
        v.local = o.value(QLatin1String("local")).toString();
        v.remote = o.value(QLatin1String("remote")).toString();
        v.day = ParseDayText(o.value(QLatin1String("day")).toString());
        v.queued = ParseIsoTime(o.value(QLatin1String("queued")).toString());
        v.attempts = o.value(QLatin1String("attempts")).toInt(-1);
        v.nextTry = ParseIsoTime(o.value(QLatin1String("next_try")).toString());
        if (!QDir::isAbsolutePath(v.local) || !ValidRemote(v.remote) || v.day == -1 || !v.queued ||
            !v.nextTry || v.attempts < 0) {
            *error = QStringLiteral("entry %1 is incomplete or malformed").arg(i + 1);
            return false;
        }
        const bool seen = std::any_of(result.begin(), result.end(),
                                      [&](const QueuedVideo& r) { return r.local == v.local; });
        if (!seen)
            result << v;
    }
    *videos = result;
    return true;
}

PublishQueue::PublishQueue(QString file, Say say) : m_file(std::move(file)), m_say(std::move(say))
{
}

bool PublishQueue::Identity::operator==(const Identity& o) const
{
    return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size &&
           mtimeNs == o.mtimeNs;
}

PublishQueue::Identity PublishQueue::Stat() const
{
    Identity id;
    struct stat st {
    };
    if (::lstat(QFile::encodeName(m_file).constData(), &st) != 0)
        return id;
    id.exists = true;
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    id.size = (unsigned long long)st.st_size;
    id.mtimeNs = (long long)st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
    return id;
}

std::time_t PublishQueue::Oldest() const
{
    std::time_t oldest = 0;
    for (const QueuedVideo& v : m_videos)
        if (!oldest || v.queued < oldest)
            oldest = v.queued;
    return oldest;
}

void PublishQueue::Refresh()
{
    const Identity now = Stat();
    if (m_bLooked && now == m_seen)
        return;
    if (!now.exists) {
        m_bLooked = true;
        m_seen = now;
        m_videos.clear();
        return;
    }
    FileLock lock(m_file + QStringLiteral(".lock"));
    Load();
}

// Callers hold the lock.
void PublishQueue::Load()
{
    QByteArray bytes;
    QString error;
    QList<QueuedVideo> videos;
    const ReportRead read = ReadHealthFile(m_file, &bytes, &error);
    if (read == ReportRead::Refused ||
        (read == ReportRead::Ok && !QueueFromJson(bytes, &videos, &error)))
        SetAside(error);
    m_videos = videos;
    m_bLooked = true;
    m_seen = Stat();
}

// Kept for whoever wants to look into it; a later write would replace it.
void PublishQueue::SetAside(const QString& reason)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = m_file + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
        aside = m_file + QStringLiteral(".damaged-%1-%2").arg(stamp).arg(n);
    const QByteArray from = QFile::encodeName(m_file);
    if (::rename(from.constData(), QFile::encodeName(aside).constData()) == 0)
        m_say(QStringLiteral("The upload queue %1 could not be read (%2); set aside as %3, the "
                             "queue starts empty")
                  .arg(m_file, reason, aside));
    else
        m_say(QStringLiteral("The upload queue %1 could not be read (%2) nor set aside (%3); the "
                             "queue starts empty")
                  .arg(m_file, reason, ErrnoText(errno)));
}

void PublishQueue::Update(const std::function<void(QList<QueuedVideo>&)>& apply)
{
    QString error;
    const QString dir = QFileInfo(m_file).absolutePath();
    if (!QDir().mkpath(dir)) {
        apply(m_videos);
        error = QStringLiteral("cannot create the folder %1").arg(dir);
    } else {
        FileLock lock(m_file + QStringLiteral(".lock"));
        Load();
        apply(m_videos);
        if (Write(&error)) {
            if (m_bWriteFailed)
                m_say(QStringLiteral("The upload queue %1 is written again").arg(m_file));
            m_bWriteFailed = false;
            return;
        }
    }
    // The queue goes on in memory; said once per spell of failures.
    if (!m_bWriteFailed)
        m_say(QStringLiteral("Cannot write the upload queue %1: %2; queued videos are kept only "
                             "until Vizo ends")
                  .arg(m_file, error));
    m_bWriteFailed = true;
}

bool PublishQueue::Write(QString* error)
{
    const QByteArray target = QFile::encodeName(m_file);
    if (m_videos.isEmpty()) {
        if (::unlink(target.constData()) != 0 && errno != ENOENT) {
            *error = ErrnoText(errno);
            return false;
        }
        m_seen = Stat();
        return true;
    }
    const QByteArray temporary = target + ".new";
    const int fd = CreateOwnFile(temporary.constData());
    if (fd < 0) {
        *error = ErrnoText(errno);
        return false;
    }
    const QByteArray json = QueueToJson(m_videos);
    const bool written =
        ::write(fd, json.constData(), size_t(json.size())) == json.size() && ::fsync(fd) == 0;
    int err = errno;
    const bool closed = ::close(fd) == 0;
    if (written && closed && ::rename(temporary.constData(), target.constData()) == 0) {
        m_seen = Stat();
        return true;
    }
    if (written)
        err = errno;
    *error = ErrnoText(err);
    ::unlink(temporary.constData());
    return false;
}

void PublishQueue::Failed(const QueuedVideo& video, std::time_t now)
{
    Update([&](QList<QueuedVideo>& videos) {
        auto it = std::find_if(videos.begin(), videos.end(),
                               [&](const QueuedVideo& v) { return v.local == video.local; });
        if (it == videos.end()) {
            QueuedVideo v = video;
            v.queued = now;
            v.attempts = 0;
            it = videos.insert(videos.end(), v);
        }
        it->remote = video.remote;
        it->attempts = qMax(0, it->attempts) + 1;
        it->nextTry = now + RetryWait(it->attempts);
    });
}

void PublishQueue::Remove(const QString& local)
{
    const bool present = std::any_of(m_videos.begin(), m_videos.end(),
                                     [&](const QueuedVideo& v) { return v.local == local; });
    // Nothing to write for a video that was never queued (the usual success).
    if (!present && Stat() == m_seen)
        return;
    Update([&](QList<QueuedVideo>& videos) {
        videos.erase(std::remove_if(videos.begin(), videos.end(),
                                    [&](const QueuedVideo& v) { return v.local == local; }),
                     videos.end());
    });
}
