#include "handles.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace
{

std::mutex g_mutex;
std::map<std::uintptr_t, std::shared_ptr<InetObject>> g_handles;
// Well away from small integers that a caller might mistake for a handle.
std::uintptr_t g_next = 0x10000;

std::uintptr_t Key(void* handle)
{
    return reinterpret_cast<std::uintptr_t>(handle);
}

void CollectLocked(std::uintptr_t key, std::vector<std::shared_ptr<InetObject>>* closed)
{
    auto it = g_handles.find(key);
    if (it == g_handles.end())
        return;
    closed->push_back(it->second);
    g_handles.erase(it);
    std::vector<std::uintptr_t> children;
    for (const auto& [childKey, child] : g_handles)
        if (Key(child->parent) == key)
            children.push_back(childKey);
    for (std::uintptr_t child : children)
        CollectLocked(child, closed);
}

} // namespace

void* RegisterHandle(std::shared_ptr<InetObject> object)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    std::uintptr_t key = g_next++;
    g_handles.emplace(key, std::move(object));
    return reinterpret_cast<void*>(key);
}

std::shared_ptr<InetObject> FindHandle(void* handle)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_handles.find(Key(handle));
    return it == g_handles.end() ? nullptr : it->second;
}

bool CloseHandle(void* handle)
{
    std::vector<std::shared_ptr<InetObject>> closed;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        CollectLocked(Key(handle), &closed);
    }
    for (const auto& object : closed)
        if (auto* session = dynamic_cast<SessionObject*>(object.get()))
            if (session->connection)
                session->connection->Cancel();
    // A running call keeps its own reference; the connection ends when it returns.
    return !closed.empty();
}
