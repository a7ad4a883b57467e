// Where the archive keeps things and which names are its own. Plain rules,
// no file access.
#pragma once

#include <QByteArray>
#include <QRegularExpression>
#include <QString>
#include <ctime>

// strftime in local time; empty when the pattern is empty or expands to
// nothing usable.
QString ExpandTimePattern(const QString& pattern, std::time_t t);

// A regular expression (no anchors) matching every expansion of a time
// pattern; null when the pattern holds a conversion we do not know.
QString TimePatternRegex(const QString& pattern);

// The archive's root (the folder pattern's leading components without a
// conversion) and the pattern of every path below it.
struct ArchiveLayout {
    QString root;             // absolute, no trailing slash
    QString dirs;             // folder pattern below the root, may be empty
    QString name;             // picture name pattern, may hold '/'
    int extensionLen;         // length of the name's literal extension, dot included
    QRegularExpression owned; // relative paths the archive may remove
};

// False, with a reason, for patterns the archive cannot own safely: a
// relative folder, a name without a conversion (it would collide) or
// without an extension, a pattern that leaves its folder.
bool MakeArchiveLayout(const QString& folderPattern, const QString& namePattern,
                       ArchiveLayout* layout, QString* reason);

// Relative path (from the root) of the picture taken at t, and with a
// numeric suffix before the extension for the n-th collision (n >= 1).
QString PictureRelPath(const ArchiveLayout& layout, std::time_t t);
QString WithCollisionSuffix(const QString& relPath, int extensionLen, int n);

// The day's video sits in that day's folder; day is any time on that day.
QString TimelapseRelPath(const ArchiveLayout& layout, std::time_t day);

bool IsOwnedName(const ArchiveLayout& layout, const QString& relPath);

// A file is made under one of these names beside its final one (".t00" to
// ".t99"), then renamed into place; IsOwnedName knows them as the archive's.
inline constexpr int kTemporaryNames = 100;
QByteArray TemporaryName(const QByteArray& finalName, int index);

// Local midnight that starts the day holding t, and the one after it.
std::time_t StartOfDay(std::time_t t);
std::time_t StartOfNextDay(std::time_t t);
// "YYYY-MM-DD" of the day holding t, and back (-1 when not a valid date).
QString DayText(std::time_t t);
std::time_t ParseDayText(const QString& text);
