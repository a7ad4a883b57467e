#include "module.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

std::string ProgramFilePath()
{
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    return std::string(buf, std::size_t(n));
}

std::string ProgramDirectory()
{
    std::string path = ProgramFilePath();
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

HMODULE LoadLibraryA(LPCSTR name)
{
    if (!name || !*name)
        return nullptr;
    std::string path = name;
    if (path.find('/') == std::string::npos)
        path = ProgramDirectory() + path;
    return static_cast<HMODULE>(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
}

void* GetProcAddress(HMODULE module, LPCSTR name)
{
    if (!module || !name)
        return nullptr;
    return dlsym(module, name);
}

BOOL FreeLibrary(HMODULE module)
{
    return module && dlclose(module) == 0;
}
