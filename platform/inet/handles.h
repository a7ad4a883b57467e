// The layer's handles. A handle value is never reused, so a stale or twice
// closed handle is recognised and refused instead of reaching freed memory.
#pragma once

#include "ftpconnection.h"
#include "inetrules.h"

#include <memory>

struct InetObject {
    virtual ~InetObject() = default;
    void* parent = nullptr;
    ProxySettings proxy;
};

// From InternetOpenA: the proxy configuration the sessions below it share.
struct InternetObject : InetObject {
};

// From InternetConnectA: one logged-in server.
struct SessionObject : InetObject {
    std::unique_ptr<CurlSession> connection;
};

void* RegisterHandle(std::shared_ptr<InetObject> object);

// The live object behind a handle, or null (closed, unknown or another kind).
std::shared_ptr<InetObject> FindHandle(void* handle);
template <typename T> std::shared_ptr<T> FindHandleOf(void* handle)
{
    return std::dynamic_pointer_cast<T>(FindHandle(handle));
}

// Closes the handle and every handle opened under it; a call still running on
// one of them fails at once. False when the handle was not open.
bool CloseHandle(void* handle);
