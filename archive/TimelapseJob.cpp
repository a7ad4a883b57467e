#include "TimelapseJob.h"

#include "ArchiveFiles.h"
#include "platform/win/ownfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

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
    const QString temporary = video + QStringLiteral(".t00");
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
