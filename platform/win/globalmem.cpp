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
    // An overlay's own bytes, and its whole copy once someone asked for one.
    unsigned char* band = nullptr;
    std::size_t bandOffset = 0, bandLength = 0;
    unsigned char* whole = nullptr;
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

HGLOBAL GlobalAllocOverlay(HGLOBAL base, std::size_t size, std::size_t offset, std::size_t length)
{
    std::shared_ptr<const void> owner;
    const unsigned char* bytes = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        Block* b = find(base);
        if (!b || size > b->size || offset > size || length > size - offset)
            return nullptr;
        owner = b->owner;
        bytes = b->band ? nullptr : b->data;
    }
    if (!owner || !bytes) {
        HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
        const void* from = copy ? GlobalLock(base) : nullptr;
        if (from) {
            std::memcpy(GlobalLock(copy), from, size);
            GlobalUnlock(copy);
            GlobalUnlock(base);
        } else if (copy) {
            copy = GlobalFree(copy);
        }
        return copy;
    }
    auto* band = static_cast<unsigned char*>(std::malloc(length ? length : 1));
    auto* b = band ? new (std::nothrow)
                         Block{size, 0, const_cast<unsigned char*>(bytes), std::move(owner)}
                   : nullptr;
    if (!b) {
        std::free(band);
        return nullptr;
    }
    std::memcpy(band, bytes + offset, length);
    b->band = band;
    b->bandOffset = offset;
    b->bandLength = length;
    return AddBlock(b);
}

bool GlobalLockView(HGLOBAL h, BlockView* view)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Block* b = find(h);
    if (!b)
        return false;
    ++b->locks;
    if (b->band && !b->whole)
        *view = {b->data, b->size, b->band, b->bandOffset, b->bandLength};
    else if (b->whole)
        *view = {b->whole, b->size, b->whole, 0, b->size};
    else
        *view = {b->data, b->size, b->owner ? nullptr : b->data, 0, b->owner ? 0 : b->size};
    return true;
}

void* GlobalLock(HGLOBAL h)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Block* b = find(h);
    if (!b)
        return nullptr;
    if (b->band && !b->whole) {
        b->whole = static_cast<unsigned char*>(std::malloc(b->size ? b->size : 1));
        if (!b->whole)
            return nullptr;
        std::memcpy(b->whole, b->data, b->size);
        std::memcpy(b->whole + b->bandOffset, b->band, b->bandLength);
    }
    ++b->locks;
    return b->whole ? b->whole : b->data;
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
    std::free(b->band);
    std::free(b->whole);
    delete b;
    return nullptr;
}
