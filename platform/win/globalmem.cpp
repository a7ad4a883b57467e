#include "globalmem.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

namespace
{

struct Block {
    std::size_t size;
    unsigned locks;
    unsigned char* data;
};

// Handles are checked against the live set so that a stale or foreign handle
// yields a failure result instead of undefined behaviour.
std::mutex g_mutex;
std::unordered_set<Block*>& liveBlocks()
{
    static std::unordered_set<Block*> blocks;
    return blocks;
}

Block* find(HGLOBAL h)
{
    auto* b = reinterpret_cast<Block*>(h);
    return liveBlocks().count(b) ? b : nullptr;
}

} // namespace

HGLOBAL GlobalAlloc(UINT flags, std::size_t bytes)
{
    auto* data =
        static_cast<unsigned char*>((flags & GMEM_ZEROINIT) ? std::calloc(bytes ? bytes : 1, 1)
                                                            : std::malloc(bytes ? bytes : 1));
    if (!data)
        return nullptr;
    auto* b = new (std::nothrow) Block{bytes, 0, data};
    if (!b) {
        std::free(data);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    liveBlocks().insert(b);
    return reinterpret_cast<HGLOBAL>(b);
}

void* GlobalLock(HGLOBAL h)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Block* b = find(h);
    if (!b)
        return nullptr;
    ++b->locks;
    return b->data;
}

BOOL GlobalUnlock(HGLOBAL h)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Block* b = find(h);
    if (!b || b->locks == 0)
        return FALSE;
    return --b->locks != 0;
}

std::size_t GlobalSize(HGLOBAL h)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Block* b = find(h);
    return b ? b->size : 0;
}

HGLOBAL GlobalFree(HGLOBAL h)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Block* b = find(h);
    if (!b)
        return h;
    liveBlocks().erase(b);
    std::free(b->data);
    delete b;
    return nullptr;
}
