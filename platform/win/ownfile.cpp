#include "ownfile.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

int CreateOwnFile(const char* path)
{
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(path, flags, 0666);
    if (fd < 0 && errno == EEXIST && ::unlink(path) == 0)
        fd = ::open(path, flags, 0666);
    return fd;
}
