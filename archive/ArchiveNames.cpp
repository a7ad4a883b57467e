#include "ArchiveNames.h"

#include <QDir>
#include <QStringList>

namespace
{
// Digits of fixed width per conversion; names of months and days as words.
QString ConversionRegex(QChar c)
{
    switch (c.toLatin1()) {
    case 'Y':
    case 'G':
        return QStringLiteral("\\d{4}");
    case 'm':
    case 'd':
    case 'H':
    case 'M':
    case 'S':
    case 'y':
    case 'I':
    case 'U':
    case 'W':
    case 'V':
    case 'C':
    case 'g':
        return QStringLiteral("\\d{2}");
    case 'e':
        return QStringLiteral("[ \\d]\\d");
    case 'j':
        return QStringLiteral("\\d{3}");
    case 'u':
    case 'w':
        return QStringLiteral("\\d");
    case 's':
        return QStringLiteral("\\d+");
    case 'F':
        return QStringLiteral("\\d{4}-\\d{2}-\\d{2}");
    case 'T':
        return QStringLiteral("\\d{2}:\\d{2}:\\d{2}");
    case 'R':
        return QStringLiteral("\\d{2}:\\d{2}");
    case 'a':
    case 'A':
    case 'b':
    case 'B':
    case 'h':
    case 'p':
        return QStringLiteral("[^/\\d]+");
    case '%':
        return QStringLiteral("%");
    default:
        return QString();
    }
}

bool HasConversion(const QString& pattern)
{
    for (int i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] != QLatin1Char('%'))
            continue;
        if (pattern[i + 1] != QLatin1Char('%'))
            return true;
        ++i;
    }
    return false;
}

// Length of the literal ".ext" that ends the pattern, 0 when there is none.
int LiteralExtensionLen(const QString& pattern)
{
    const int dot = pattern.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot == pattern.size() - 1)
        return 0;
    const QString tail = pattern.mid(dot);
    return tail.contains(QLatin1Char('%')) || tail.contains(QLatin1Char('/')) ? 0 : tail.size();
}

std::tm LocalTime(std::time_t t)
{
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}
} // namespace

QString ExpandTimePattern(const QString& pattern, std::time_t t)
{
    if (pattern.isEmpty())
        return QString();
    const std::tm tm = LocalTime(t);
    const QByteArray format = pattern.toUtf8();
    char buffer[4096];
    const size_t n = std::strftime(buffer, sizeof buffer, format.constData(), &tm);
    return QString::fromUtf8(buffer, int(n));
}

QString TimePatternRegex(const QString& pattern)
{
    QString re;
    for (int i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != QLatin1Char('%')) {
            re += QRegularExpression::escape(pattern.mid(i, 1));
            continue;
        }
        if (i + 1 >= pattern.size())
            return QString();
        const QString part = ConversionRegex(pattern[++i]);
        if (part.isEmpty())
            return QString();
        re += part;
    }
    return re;
}

bool MakeArchiveLayout(const QString& folderPattern, const QString& namePattern,
                       ArchiveLayout* layout, QString* reason)
{
    const QString folder = QDir::cleanPath(folderPattern.trimmed());
    if (!QDir::isAbsolutePath(folder)) {
        *reason = QStringLiteral("the folder must be an absolute path");
        return false;
    }
    const QString name = namePattern.trimmed();
    const QStringList nameParts = name.split(QLatin1Char('/'));
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')) ||
        nameParts.contains(QStringLiteral("..")) || nameParts.contains(QStringLiteral(".")) ||
        nameParts.contains(QString())) {
        *reason = QStringLiteral("the name must be a relative file name");
        return false;
    }
    if (!HasConversion(name)) {
        *reason = QStringLiteral("the name must hold a time conversion such as %H%M%S");
        return false;
    }
    const int extensionLen = LiteralExtensionLen(name);
    if (extensionLen == 0) {
        *reason = QStringLiteral("the name must end in a file extension such as .jpg");
        return false;
    }
    QStringList rootParts, dirParts;
    for (const QString& part : folder.split(QLatin1Char('/'))) {
        if (!dirParts.isEmpty() || part.contains(QLatin1Char('%')))
            dirParts << part;
        else
            rootParts << part;
    }
    QString root = rootParts.join(QLatin1Char('/'));
    if (root.isEmpty() || root == QLatin1String("/")) {
        *reason = QStringLiteral("the folder must not be the file system's root");
        return false;
    }
    const QString dirs = dirParts.join(QLatin1Char('/'));
    const QString dirsRe = TimePatternRegex(dirs);
    const QString nameRe = TimePatternRegex(name.left(name.size() - extensionLen));
    if ((!dirs.isEmpty() && dirsRe.isEmpty()) || nameRe.isEmpty()) {
        *reason = QStringLiteral("the pattern holds a conversion the archive cannot recognise");
        return false;
    }
    const QString prefix = dirs.isEmpty() ? QString() : dirsRe + QStringLiteral("/");
    const QString ext = QRegularExpression::escape(name.right(extensionLen));
    // Our own pictures, collision suffixes, videos and temporaries left by a crash.
    const QString owned = QStringLiteral("%1(?:%2(?:-\\d+)?%3|timelapse-\\d{4}-\\d{2}-\\d{2}\\.mp4)"
                                         "(?:\\.t\\d{2})?")
                              .arg(prefix, nameRe, ext);
    layout->root = root;
    layout->dirs = dirs;
    layout->name = name;
    layout->extensionLen = extensionLen;
    layout->owned = QRegularExpression(QRegularExpression::anchoredPattern(owned));
    return true;
}

QString PictureRelPath(const ArchiveLayout& layout, std::time_t t)
{
    const QString dirs = ExpandTimePattern(layout.dirs, t);
    const QString name = ExpandTimePattern(layout.name, t);
    return dirs.isEmpty() ? name : dirs + QLatin1Char('/') + name;
}

QString WithCollisionSuffix(const QString& relPath, int extensionLen, int n)
{
    const int at = relPath.size() - extensionLen;
    return relPath.left(at) + QStringLiteral("-%1").arg(n) + relPath.mid(at);
}

QString TimelapseRelPath(const ArchiveLayout& layout, std::time_t day)
{
    // Noon: safe from daylight-saving shifts at either end of the day.
    const std::time_t noon = StartOfDay(day) + 12 * 3600;
    const QString dirs = ExpandTimePattern(layout.dirs, noon);
    const QString name = QStringLiteral("timelapse-%1.mp4").arg(DayText(noon));
    return dirs.isEmpty() ? name : dirs + QLatin1Char('/') + name;
}

QByteArray TemporaryName(const QByteArray& finalName, int index)
{
    return finalName + QByteArray(".t") + QByteArray::number(index).rightJustified(2, '0');
}

bool IsOwnedName(const ArchiveLayout& layout, const QString& relPath)
{
    return layout.owned.isValid() && layout.owned.match(relPath).hasMatch();
}

std::time_t StartOfDay(std::time_t t)
{
    std::tm tm = LocalTime(t);
    tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

std::time_t StartOfNextDay(std::time_t t)
{
    std::tm tm = LocalTime(t);
    tm.tm_mday += 1;
    tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

QString DayText(std::time_t t)
{
    return ExpandTimePattern(QStringLiteral("%Y-%m-%d"), t);
}

std::time_t ParseDayText(const QString& text)
{
    static const QRegularExpression re(QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})$"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return -1;
    std::tm tm{};
    tm.tm_year = m.captured(1).toInt() - 1900;
    tm.tm_mon = m.captured(2).toInt() - 1;
    tm.tm_mday = m.captured(3).toInt();
    tm.tm_hour = 12;
    tm.tm_isdst = -1;
    const std::tm asked = tm;
    const std::time_t t = std::mktime(&tm);
    // mktime rolls 2026-02-30 into March: such a date is refused.
    if (t == -1 || tm.tm_year != asked.tm_year || tm.tm_mon != asked.tm_mon ||
        tm.tm_mday != asked.tm_mday)
        return -1;
    return StartOfDay(t);
}
