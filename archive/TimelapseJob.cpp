#include "TimelapseJob.h"

#include "ArchiveFiles.h"
#include "platform/win/ownfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// One build of a day at a time, across threads and processes: an advisory
// lock on a file beside the video. The holder removes the file before it
// lets go, so a waiter that got a removed file tries again.
class DayLock
{
public:
    ~DayLock()
    {
        if (m_fd >= 0) {
            ::unlink(m_path.constData());
            ::close(m_fd);
        }
    }

    // False when another build holds it; *holder names that process.
    bool Acquire(const QString& folder, const QString& dayText, QString* holder)
    {
        m_path = QFile::encodeName(folder + QStringLiteral("/.timelapse-%1.lock").arg(dayText));
        for (int attempt = 0; attempt < 10; ++attempt) {
            const int fd = ::open(m_path.constData(),
                                  O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
            if (fd < 0) {
                *holder = QString::fromLocal8Bit(strerror(errno));
                return false;
            }
            if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
                char text[32] = {};
                const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
                ::close(fd);
                *holder = QStringLiteral("process %1")
                              .arg(QString::fromLatin1(text, n > 0 ? int(n) : 0).trimmed());
                return false;
            }
            struct stat held, named;
            if (::fstat(fd, &held) == 0 && ::lstat(m_path.constData(), &named) == 0 &&
                held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
                const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
                // The holder's name is a courtesy to whoever is refused.
                [[maybe_unused]] const bool told =
                    ::ftruncate(fd, 0) == 0 &&
                    ::pwrite(fd, pid.constData(), size_t(pid.size()), 0) > 0;
                m_fd = fd;
                return true;
            }
            ::close(fd); // removed by the holder that just let go
        }
        *holder = QStringLiteral("a process that keeps replacing the lock");
        return false;
    }

private:
    QByteArray m_path;
    int m_fd = -1;
};

// With the day's lock held no live build owns a temporary of this video:
// whatever is left is a crashed build's.
void ClearLeftovers(const QString& video)
{
    for (int i = 0; i < kTemporaryNames; ++i)
        ::unlink(TemporaryName(QFile::encodeName(video), i).constData());
}
} // namespace

DayBuild BuildDayTimelapse(const ArchiveLayout& layout, std::time_t day, int fps,
                           const std::function<void(int, int)>& progress,
                           const std::atomic<bool>* cancel)
{
    DayBuild b;
    b.day = DayText(day);
    const std::vector<ArchivedFile> files =
        PicturesBetween(layout, StartOfDay(day), StartOfNextDay(day));
    b.pictures = int(files.size());
    if (files.empty()) {
        b.error = QStringLiteral("no pictures in the archive");
        return b;
    }
    std::vector<QString> paths;
    paths.reserve(files.size());
    for (const ArchivedFile& f : files)
        paths.push_back(f.path);
    const QString video = layout.root + QLatin1Char('/') + TimelapseRelPath(layout, day);
    if (!QDir().mkpath(QFileInfo(video).absolutePath())) {
        b.error = QStringLiteral("cannot create the folder of %1").arg(video);
        return b;
    }
    DayLock lock;
    QString holder;
    if (!lock.Acquire(QFileInfo(video).absolutePath(), b.day, &holder)) {
        b.error = QStringLiteral("another build of this day is running (%1)").arg(holder);
        return b;
    }
    ClearLeftovers(video);
    const QString temporary = QFile::decodeName(TemporaryName(QFile::encodeName(video), 0));
    // The encoder opens by name: a link planted there must not lead it
    // elsewhere, so the name is made afresh as a file of our own.
    const QByteArray tmpName = QFile::encodeName(temporary);
    const int fd = CreateOwnFile(tmpName.constData());
    if (fd < 0) {
        b.error = QStringLiteral("cannot create %1").arg(temporary);
        return b;
    }
    ::close(fd);
    b.encoded = EncodeTimelapse(paths, temporary, fps, progress, cancel);
    QString unreadable;
    if (b.encoded.ok && !CheckVideo(temporary, b.encoded.frames, cancel, &unreadable)) {
        b.encoded.ok = false;
        b.encoded.error = QStringLiteral("the video does not read back (%1)").arg(unreadable);
    }
    if (!b.encoded.ok) {
        QFile::remove(temporary);
        b.error = b.encoded.error;
        return b;
    }
    if (!InstallReplacing(temporary, video)) {
        QFile::remove(temporary);
        b.error = QStringLiteral("cannot rename the video into place");
        return b;
    }
    b.ok = true;
    b.video = video;
    return b;
}

TimelapseJob::TimelapseJob(const ArchiveLayout& layout, std::time_t day, int fps)
    : m_layout(layout), m_day(day), m_fps(fps)
{
}

TimelapseJob::~TimelapseJob()
{
    m_cancel = true;
    wait();
}

void TimelapseJob::run()
{
    // Beside the schedule, never ahead of it; the encoder's own threads
    // inherit this.
    setpriority(PRIO_PROCESS, pid_t(gettid()), 10);
    m_result = BuildDayTimelapse(
        m_layout, m_day, m_fps,
        [this](int done, int total) {
            m_total = total;
            m_done = done;
        },
        &m_cancel);
}
