#include "ArchiveFiles.h"

#include "ArchiveRecord.h"
#include "platform/win/ownfile.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
constexpr int kMaxDepth = 12;
constexpr int kMaxSuffix = 9999;

struct Entry {
    QString rel;
    std::time_t mtime;
    long long size;
    ino_t ino;
    bool recorded; // the folder's record says the archive wrote it, at this size
};

struct WalkResult {
    std::vector<Entry> files;   // named as the archive names its files
    QStringList foreignFolders; // relative; "" is the root
};

QString ErrnoText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// Copies src into a new file at dst; on any failure nothing is left at dst.
bool CopyInto(const QByteArray& src, const QByteArray& dst, int* err)
{
    const int in = ::open(src.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        *err = errno;
        return false;
    }
    const int out = ::open(dst.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) {
        *err = errno;
        ::close(in);
        return false;
    }
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *err = errno;
            ok = false;
            break;
        }
        for (ssize_t done = 0; ok && done < n;) {
            const ssize_t w = OwnFiles().write(out, buffer + done, size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                *err = w < 0 ? errno : ENOSPC;
                ok = false;
            } else {
                done += w;
            }
        }
        if (!ok)
            break;
    }
    ::close(in);
    if (::close(out) != 0 && ok) {
        *err = errno;
        ok = false;
    }
    if (!ok)
        ::unlink(dst.constData());
    return ok;
}

// A fresh temporary beside dst holding src: a hard link where the file
// system allows it, a copy otherwise.
bool MakeTemporary(const QByteArray& src, const QByteArray& dst, QByteArray* tmp, bool* linked,
                   int* err)
{
    for (int i = 0; i < kTemporaryNames; ++i) {
        *tmp = TemporaryName(dst, i);
        if (OwnFiles().link(src.constData(), tmp->constData())) {
            *linked = true;
            return true;
        }
        if (errno == EEXIST)
            continue;
        if (errno != EXDEV && errno != EPERM && errno != EMLINK && errno != EOPNOTSUPP) {
            *err = errno;
            return false;
        }
        *linked = false;
        if (CopyInto(src, *tmp, err))
            return true;
        if (*err != EEXIST)
            return false;
    }
    *err = EEXIST;
    return false;
}

// Opens each component below the root without following links.
int OpenBelow(int rootFd, const QStringList& parts)
{
    int fd = ::dup(rootFd);
    for (const QString& part : parts) {
        if (fd < 0)
            return -1;
        const int next = ::openat(fd, QFile::encodeName(part).constData(),
                                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    return fd;
}

void Walk(int dirFd, const QString& rel, int depth, const ArchiveLayout& layout, WalkResult* out)
{
    const QHash<QString, long long> record = ReadRecord(dirFd);
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    bool foreign = false;
    while (const dirent* d = ::readdir(dir)) {
        if (!std::strcmp(d->d_name, ".") || !std::strcmp(d->d_name, ".."))
            continue;
        struct stat st;
        if (::fstatat(::dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const QString name = QFile::decodeName(d->d_name);
        const QString path = (rel.isEmpty() ? QString() : rel + QLatin1Char('/')) + name;
        if (S_ISDIR(st.st_mode) && depth < kMaxDepth) {
            const int sub =
                ::openat(::dirfd(dir), d->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0)
                Walk(sub, path, depth + 1, layout, out);
            continue;
        }
        if (S_ISDIR(st.st_mode) || IsBookkeepingName(name))
            continue;
        const auto it = record.constFind(name);
        const bool recorded =
            S_ISREG(st.st_mode) && it != record.constEnd() && it.value() == st.st_size;
        foreign = foreign || !recorded;
        if (S_ISREG(st.st_mode) && IsOwnedName(layout, path))
            out->files.push_back({path, st.st_mtime, (long long)st.st_size, st.st_ino, recorded});
    }
    ::closedir(dir);
    if (foreign)
        out->foreignFolders << rel;
}

WalkResult WalkArchive(const ArchiveLayout& layout)
{
    WalkResult r;
    const int root =
        ::open(QFile::encodeName(layout.root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root >= 0)
        Walk(root, QString(), 0, layout, &r);
    return r;
}

// Unlinks the entry only if it is still the regular file that was seen.
bool RemoveEntry(int rootFd, const Entry& e, int* err)
{
    QStringList parts = e.rel.split(QLatin1Char('/'));
    const QByteArray name = QFile::encodeName(parts.takeLast());
    const int dir = OpenBelow(rootFd, parts);
    if (dir < 0) {
        *err = errno;
        return false;
    }
    struct stat st;
    bool ok = ::fstatat(dir, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
              S_ISREG(st.st_mode) && st.st_ino == e.ino;
    if (ok)
        ok = ::unlinkat(dir, name.constData(), 0) == 0;
    *err = ok ? 0 : (errno ? errno : ESTALE);
    ::close(dir);
    return ok;
}

// Removes the emptied folders from the deepest up; a folder that still holds
// anything stays (rmdir refuses).
int RemoveEmptiedFolders(int rootFd, const std::set<QString>& folders)
{
    int removed = 0;
    std::set<QString> tried;
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        QStringList parts = it->split(QLatin1Char('/'));
        while (!parts.isEmpty() && !tried.count(parts.join(QLatin1Char('/')))) {
            tried.insert(parts.join(QLatin1Char('/')));
            const QByteArray name = QFile::encodeName(parts.takeLast());
            const int parent = OpenBelow(rootFd, parts);
            if (parent < 0)
                break;
            const int self =
                ::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (self >= 0) {
                RemoveLoneRecord(self);
                ::close(self);
            }
            const bool gone = ::unlinkat(parent, name.constData(), AT_REMOVEDIR) == 0;
            ::close(parent);
            if (!gone)
                break;
            ++removed;
        }
    }
    return removed;
}
// Videos and temporaries: the archive's own, but not pictures of a day.
const QRegularExpression& NotPicture()
{
    static const QRegularExpression re(QStringLiteral(R"((?:\.mp4|\.t\d{2})$)"));
    return re;
}

// The picture is installed by exchange, which leaves its data to the kernel's
// write-back half a minute later; a kept picture is worth sending on its way
// now, as a replace-by-rename would have. Best effort, and it does not wait.
void StartWriteOut(const QByteArray& path)
{
#ifdef __linux__
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    ::close(fd);
#else
    Q_UNUSED(path);
#endif
}
} // namespace

StoreResult StorePicture(const QString& src, const ArchiveLayout& layout, const QString& relPath)
{
    StoreResult r;
    const QString target = layout.root + QLatin1Char('/') + relPath;
    const QString folder = QFileInfo(target).absolutePath();
    if (!QDir().mkpath(folder)) {
        r.error = QStringLiteral("Archive folder %1 cannot be created").arg(folder);
        return r;
    }
    QByteArray tmp;
    int err = 0;
    if (!MakeTemporary(QFile::encodeName(src), QFile::encodeName(target), &tmp, &r.linked, &err)) {
        r.error = QStringLiteral("Archive copy in %1 failed (%2)").arg(folder, ErrnoText(err));
        return r;
    }
    for (int n = 0; n <= kMaxSuffix; ++n) {
        const QString rel = n == 0 ? relPath : WithCollisionSuffix(relPath, layout.extensionLen, n);
        const QString candidate = layout.root + QLatin1Char('/') + rel;
        if (OwnFiles().renameNoReplace(tmp.constData(), QFile::encodeName(candidate).constData())) {
            // Unrecorded, clean-up could never take it again: better not kept.
            if (!RecordWritten(candidate)) {
                err = errno;
                ::unlink(QFile::encodeName(candidate).constData());
                r.error =
                    QStringLiteral("Archive record in %1 failed (%2)").arg(folder, ErrnoText(err));
                return r;
            }
            r.ok = true;
            r.path = candidate;
            StartWriteOut(QFile::encodeName(candidate));
            return r;
        }
        if (errno != EEXIST) {
            err = errno;
            break;
        }
    }
    ::unlink(tmp.constData());
    r.error = QStringLiteral("Archive copy in %1 failed (%2)").arg(folder, ErrnoText(err));
    return r;
}

bool InstallReplacing(const QString& temporary, const QString& final)
{
    // Recorded first: a crash in between leaves a record of a file that
    // never came, not a file without a record.
    return RecordWritten(temporary, QFileInfo(final).fileName()) &&
           ::rename(QFile::encodeName(temporary).constData(),
                    QFile::encodeName(final).constData()) == 0;
}

namespace
{
bool IsPicture(const Entry& e)
{
    return !NotPicture().match(e.rel).hasMatch();
}

// Ages count back from the newest picture, so that a clock set far ahead
// does not age the whole archive at once; never from beyond now, so that
// pictures taken after the clock was set back are not old on arrival.
std::time_t AgeBase(const std::vector<Entry>& files, std::time_t now)
{
    std::time_t newest = 0;
    bool any = false;
    for (const Entry& e : files) {
        if (IsPicture(e) && (!any || e.mtime > newest)) {
            newest = e.mtime;
            any = true;
        }
    }
    return any ? std::min(newest, now) : now;
}
} // namespace

RetentionResult ApplyRetention(const ArchiveLayout& layout, std::time_t now, int keepDays,
                               long long maxBytes)
{
    RetentionResult r;
    WalkResult walk = WalkArchive(layout);
    for (const QString& rel : walk.foreignFolders)
        r.foreignFolders << (rel.isEmpty() ? layout.root : layout.root + QLatin1Char('/') + rel);
    std::vector<Entry> files;
    for (const Entry& e : walk.files)
        if (e.recorded)
            files.push_back(e);
    std::sort(files.begin(), files.end(), [](const Entry& a, const Entry& b) {
        return a.mtime != b.mtime ? a.mtime < b.mtime : a.rel < b.rel;
    });
    long long total = 0;
    for (const Entry& e : files)
        total += e.size;
    const std::time_t cutoff =
        keepDays > 0 ? AgeBase(files, now) - std::time_t(keepDays) * 86400 : 0;
    const int root =
        ::open(QFile::encodeName(layout.root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0)
        return r;
    std::set<QString> folders;
    for (const Entry& e : files) {
        const bool tooOld = keepDays > 0 && e.mtime < cutoff;
        const bool overLimit = maxBytes > 0 && total > maxBytes;
        if (!tooOld && !overLimit)
            break; // sorted by age: nothing younger is due either
        int err = 0;
        if (!RemoveEntry(root, e, &err)) {
            r.errors << QStringLiteral("%1: %2").arg(e.rel, ErrnoText(err));
            continue;
        }
        ++(tooOld ? r.removedByAge : r.removedBySize);
        ++r.removed;
        r.bytesRemoved += e.size;
        total -= e.size;
        const int slash = e.rel.lastIndexOf(QLatin1Char('/'));
        if (slash > 0)
            folders.insert(e.rel.left(slash));
    }
    r.foldersRemoved = RemoveEmptiedFolders(root, folders);
    ::close(root);
    return r;
}

std::vector<ArchivedFile> PicturesBetween(const ArchiveLayout& layout, std::time_t from,
                                          std::time_t to)
{
    // Reading needs no record: pictures of archives older than the records
    // still make their day's video.
    const WalkResult walk = WalkArchive(layout);
    std::vector<ArchivedFile> out;
    for (const Entry& e : walk.files) {
        if (IsPicture(e) && e.mtime >= from && e.mtime < to)
            out.push_back({layout.root + QLatin1Char('/') + e.rel, e.mtime});
    }
    std::sort(out.begin(), out.end(), [](const ArchivedFile& a, const ArchivedFile& b) {
        return a.mtime != b.mtime ? a.mtime < b.mtime : a.path < b.path;
    });
    return out;
}
