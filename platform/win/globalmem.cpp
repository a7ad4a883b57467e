#include "globalmem.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>
#include <utility>

namespace
{

struct Block {
    std::size_t size;
    unsigned locks;
    unsigned char* data;
    std::shared_ptr<const void> owner; // set when the bytes are not the block's own
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

// Frame-sized blocks come and go once per frame; fresh memory of that size
// costs a page fault per page on first use, so a few freed ones are kept
// for the next allocation of the same size.
constexpr std::size_t kKeepFrom = 64 * 1024;
struct Kept {
    std::size_t size;
    unsigned char* data;
};
// A plain array, so that the kept blocks stay reachable until the very end.
Kept g_kept[2];

unsigned char* TakeKept(std::size_t bytes)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    for (Kept& k : g_kept) {
        if (k.data && k.size == bytes)
            return std::exchange(k.data, nullptr);
    }
    return nullptr;
}

// Called with g_mutex held. The oldest kept block makes way.
void Release(unsigned char* data, std::size_t size)
{
    if (size < kKeepFrom) {
        std::free(data);
        return;
    }
    for (Kept& k : g_kept) {
        if (!k.data) {
            k = {size, data};
            return;
        }
    }
    std::free(g_kept[0].data);
    g_kept[0] = g_kept[1];
    g_kept[1] = {size, data};
}

HGLOBAL AddBlock(Block* b)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    liveBlocks().insert(b);
    return reinterpret_cast<HGLOBAL>(b);
}

} // namespace

HGLOBAL GlobalAlloc(UINT flags, std::size_t bytes)
{
    unsigned char* data = bytes >= kKeepFrom ? TakeKept(bytes) : nullptr;
    if (data && (flags & GMEM_ZEROINIT))
        std::memset(data, 0, bytes);
    if (!data)
        data =
            static_cast<unsigned char*>((flags & GMEM_ZEROINIT) ? std::calloc(bytes ? bytes : 1, 1)
                                                                : std::malloc(bytes ? bytes : 1));
    if (!data)
        return nullptr;
    auto* b = new (std::nothrow) Block{bytes, 0, data, nullptr};
    if (!b) {
        std::free(data);
        return nullptr;
    }
    return AddBlock(b);
}

HGLOBAL GlobalAllocShared(std::shared_ptr<const void> owner, const void* bytes, std::size_t size)
{
    if (!owner || !bytes)
        return nullptr;
    auto* data = static_cast<unsigned char*>(const_cast<void*>(bytes));
    auto* b = new (std::nothrow) Block{size, 0, data, std::move(owner)};
    return b ? AddBlock(b) : nullptr;
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
    if (!b->owner)
        Release(b->data, b->size);
    delete b;
    return nullptr;
}
