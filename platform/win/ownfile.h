// Files that must be our own: a temporary picture, a series list, a video
// being built. Never written through whatever someone left at the name.
#pragma once

// A new file at path, open for writing: an entry already holding the name is
// removed first (a link itself, never its target); -1 on failure, errno set.
int CreateOwnFile(const char* path);
