#include "localfile.h"

#include "wininet.h"

#include <cerrno>
#include <sys/stat.h>

DWORD OpenLocalFile(const char* path, std::FILE** file)
{
    struct stat st;
    if (!path || ::stat(path, &st) != 0)
        return errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    if (!S_ISREG(st.st_mode))
        return ERROR_FILE_NOT_FOUND;
    *file = std::fopen(path, "rb");
    return *file ? 0 : ERROR_ACCESS_DENIED;
}
