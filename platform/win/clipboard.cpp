#include "clipboard.h"

#include "globalmem.h"

#include <mutex>

namespace
{
std::mutex g_mutex;
bool g_open = false;
const void* g_owner = nullptr;
HGLOBAL g_dib = nullptr;
} // namespace

BOOL OpenClipboard(const void* owner)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_open)
        return FALSE;
    g_open = true;
    g_owner = owner;
    return TRUE;
}

BOOL CloseClipboard()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_open)
        return FALSE;
    g_open = false;
    g_owner = nullptr;
    return TRUE;
}

BOOL EmptyClipboard()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_open)
        return FALSE;
    if (g_dib)
        GlobalFree(g_dib);
    g_dib = nullptr;
    return TRUE;
}

HGLOBAL SetClipboardData(UINT format, HGLOBAL data)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_open || format != CF_DIB || !data)
        return nullptr;
    if (g_dib && g_dib != data)
        GlobalFree(g_dib);
    g_dib = data;
    return data;
}

HGLOBAL GetClipboardData(UINT format)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_open || format != CF_DIB)
        return nullptr;
    return g_dib;
}
