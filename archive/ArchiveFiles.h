// The archive's file work: storing a picture (link or copy, never seen
// half-written, never overwriting), retention confined to the archive's own
// names, and the pictures of one day.
#pragma once

#include "ArchiveNames.h"

#include <QStringList>
#include <ctime>
#include <sys/types.h>
#include <vector>

struct StoreResult {
    bool ok = false;
    bool linked = false;
    QString path;  // where the picture was stored
    QString error; // why not, for the status line
};
// Stores src under root/relPath (or its first free suffixed name).
StoreResult StorePicture(const QString& src, const ArchiveLayout& layout, const QString& relPath);

// Installs a finished temporary file under its final name, replacing an
// earlier file of the archive's own (a rebuilt video), and records it.
// False with errno set.
bool InstallReplacing(const QString& temporary, const QString& final);

struct RetentionResult {
    int removed = 0;
    int removedByAge = 0;
    int removedBySize = 0;
    int foldersRemoved = 0;
    long long bytesRemoved = 0;
    QStringList errors;
    QStringList foreignFolders; // holding files the archive has no record of writing
};
// Removes the files the archive recorded writing (and named as its own) that
// are older than keepDays before the newest picture (0: none by age), then
// the oldest while their total exceeds maxBytes (0: no limit), then the
// folders this emptied. Never follows a link below the root; nothing
// unrecorded is touched.
RetentionResult ApplyRetention(const ArchiveLayout& layout, std::time_t now, int keepDays,
                               long long maxBytes);

struct ArchivedFile {
    QString path;
    std::time_t mtime;
};
// The archive's pictures (not its videos) written during [from, to), in time
// order, the name breaking ties.
std::vector<ArchivedFile> PicturesBetween(const ArchiveLayout& layout, std::time_t from,
                                          std::time_t to);
