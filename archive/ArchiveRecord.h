// Which files of a folder the archive wrote: a small record in each folder
// it writes to, appended one line per file, so that clean-up never takes a
// file of the user's that merely looks like one of ours. Plain files only:
// it works on any file system and survives restarts.
#pragma once

#include <QHash>
#include <QString>

// The record's own name, and the day locks of the timelapse beside it: the
// archive's bookkeeping, neither a picture nor a file of the user's.
bool IsBookkeepingName(const QString& name);

// Appends path's file name (or asName, a file about to be renamed into the
// same folder) and path's present size to the record of its folder. One
// write of one line in append mode: cheap per frame, and a crash leaves at
// most an unfinished last line, which readers ignore. False with errno.
bool RecordWritten(const QString& path, const QString& asName = QString());

// The record of the folder open as dirFd: name -> size when written (the
// latest line of a name wins: a rebuilt video). Empty when there is none.
QHash<QString, long long> ReadRecord(int dirFd);

// Removes the record from a folder that holds nothing else, so that the
// folder itself can go. Never follows a link.
void RemoveLoneRecord(int dirFd);
