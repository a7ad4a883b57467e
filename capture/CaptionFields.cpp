#include "CaptionFields.h"

#include "Caption.h"
#include "platform/afx/log.h"

#include <QFile>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace
{

constexpr int kMaxLineChars = 200;
// Room for 200 characters of UTF-8 and then some; a longer first line is cut.
constexpr std::size_t kMaxReadBytes = 4096;
// A caption names a handful of files; a format typed wrong names more.
constexpr std::size_t kMaxFiles = 16;
const QString kMissing = QStringLiteral("--");

QString Escaped(const QString& value)
{
    return QString(value).replace(QLatin1Char('%'), QLatin1String("%%"));
}

// The value of one placeholder's inside ("camera", "file:..."); false when
// the name is not known.
bool Lookup(const QString& inside, const CaptionFieldValues& values, QString* value)
{
    if (inside == QLatin1String("camera")) {
        *value = values.camera;
        return true;
    }
    if (!inside.startsWith(QLatin1String("file:")) || !values.file)
        return false;
    QString path = inside.mid(5);
    long long maxAge = -1;
    static const QRegularExpression age(QStringLiteral("^(.+):(\\d{1,9})$"));
    const QRegularExpressionMatch m = age.match(path);
    if (m.hasMatch()) {
        path = m.captured(1);
        maxAge = m.captured(2).toLongLong();
    }
    if (path.isEmpty())
        return false;
    *value = values.file(path, maxAge);
    return true;
}

} // namespace

QString ExpandCaptionFields(const QString& format, const CaptionFieldValues& values, int* room)
{
    QString out;
    int bytes = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c != QLatin1Char('%') || i + 1 >= format.size()) {
            out += c;
            continue;
        }
        const QChar next = format[i + 1];
        if (next != QLatin1Char('{')) {
            // %% and every conversion go to strftime as they are.
            out += c;
            out += next;
            ++i;
            continue;
        }
        const qsizetype close = format.indexOf(QLatin1Char('}'), i + 2);
        QString value;
        if (close < 0 || !Lookup(format.mid(i + 2, close - i - 2), values, &value)) {
            out += QLatin1String("%%{"); // drawn as written
            ++i;
            continue;
        }
        out += Escaped(value);
        bytes += int(value.toLocal8Bit().size());
        i = close;
    }
    if (room)
        *room = bytes;
    return out;
}

QString CaptionLineOf(const QByteArray& bytes)
{
    qsizetype end = bytes.size();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n' || bytes[i] == '\r') {
            end = i;
            break;
        }
    }
    const QString decoded = QString::fromUtf8(bytes.constData(), end);
    QString line;
    for (qsizetype i = 0; i < decoded.size() && line.size() < kMaxLineChars; ++i) {
        const QChar ch = decoded[i];
        if (ch.category() == QChar::Other_Control)
            continue;
        // A pair is kept whole or not at all.
        if (ch.isHighSurrogate() && (i + 1 >= decoded.size() || line.size() + 1 >= kMaxLineChars))
            break;
        line += ch;
        if (ch.isHighSurrogate())
            line += decoded[++i];
    }
    return line;
}

bool ReadRegularFile(const QByteArray& path, std::size_t maxBytes, QByteArray* bytes,
                     struct stat* st, QString* why)
{
    if (::stat(path.constData(), st) != 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (!S_ISREG(st->st_mode)) {
        *why = QStringLiteral("not a regular file");
        return false;
    }
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // What was opened is what is read: it may have been swapped since the check.
    bool ok = ::fstat(fd, st) == 0 && S_ISREG(st->st_mode);
    if (!ok)
        *why = QStringLiteral("not a regular file");
    bytes->resize(qsizetype(maxBytes));
    qsizetype got = 0;
    while (ok && std::size_t(got) < maxBytes) {
        const ssize_t n = ::read(fd, bytes->data() + got, maxBytes - std::size_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *why = QString::fromLocal8Bit(std::strerror(errno));
            ok = false;
        }
        if (n <= 0)
            break;
        got += n;
    }
    ::close(fd);
    bytes->resize(ok ? got : 0);
    return ok;
}

QString CaptionFileReader::Value(const QString& path, long long maxAgeSecs, std::time_t now)
{
    if (m_files.size() >= kMaxFiles && !m_files.count(path))
        m_files.clear();
    const bool fresh = !m_files.count(path);
    Entry& e = m_files[path];
    if (fresh || now != e.readAt)
        Refresh(path, e, now);
    if (!e.ok)
        return kMissing;
    if (maxAgeSecs >= 0 && now - e.modified > maxAgeSecs)
        return kMissing;
    return e.line;
}

void CaptionFileReader::Refresh(const QString& path, Entry& e, std::time_t now)
{
    e.readAt = now;
    QByteArray bytes;
    struct stat st;
    QString why;
    e.ok = ReadRegularFile(QFile::encodeName(path), kMaxReadBytes, &bytes, &st, &why);
    if (!e.ok) {
        if (!e.reported && m_logging)
            LogLine("caption", QStringLiteral("The caption's file %1 cannot be read (%2); it "
                                              "shows -- until it can.")
                                   .arg(path, why));
        e.reported = true;
        return;
    }
    e.reported = false;
    e.modified = st.st_mtime;
    e.line = CaptionLineOf(bytes);
}

CaptionFileReader& CaptionFiles()
{
    static CaptionFileReader reader;
    return reader;
}

QString CaptionText(std::time_t t, const QString& format, const QString& camera,
                    CaptionFileReader& files)
{
    CaptionFieldValues values;
    values.camera = camera;
    values.file = [t, &files](const QString& path, long long maxAge) {
        return files.Value(path, maxAge, t);
    };
    int room = 0;
    const QString expanded = ExpandCaptionFields(format, values, &room);
    return FormatCaptionTime(t, expanded, room);
}
