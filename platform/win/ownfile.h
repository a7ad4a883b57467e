// Files that must be our own (a temporary picture, a series list, a video
// being built, a report) and the renames that publish them: never written
// through whatever someone left at the name, never replacing what must stay.
#pragma once

#include <cstddef>
#include <functional>
#include <sys/types.h>
#include <unistd.h>

// A new file at path, open for writing: an entry already holding the name is
// removed first (a link itself, never its target); -1 on failure, errno set.
int CreateOwnFile(const char* path);

// Parking (a second link: fails when the target exists), installing (a rename
// over the target in one step), a rename that fails when the target exists,
// a delete. True on success.
bool LinkNoReplace(const char* from, const char* to);
bool RenameOver(const char* from, const char* to);
bool RenameNoReplace(const char* from, const char* to);
bool DeleteLocalFile(const char* path);
// Swaps two names in one step: 0, or the errno of the refusal.
int ExchangeFiles(const char* a, const char* b);

// The operations as the grab's swap and the archive call them, so that tests
// can make a file system fail in ways a real one will not on demand. A default
// set is the real one.
struct OwnFileOps {
    std::function<bool(const char* from, const char* to)> link = LinkNoReplace;
    std::function<bool(const char* from, const char* to)> renameOver = RenameOver;
    std::function<bool(const char* from, const char* to)> renameNoReplace = RenameNoReplace;
    std::function<bool(const char* path)> remove = DeleteLocalFile;
    std::function<int(const char* a, const char* b)> exchange = ExchangeFiles;
    std::function<ssize_t(int fd, const void* data, std::size_t size)> write = ::write;
};
OwnFileOps& OwnFiles();
