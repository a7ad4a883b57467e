// Shared by the entry points of the dial-up layer.
#pragma once

#include "ras.h"

#include <QByteArray>
#include <QString>
#include <cstring>

#define VIZO_RAS_EXPORT extern "C" __attribute__((visibility("default")))

namespace ras
{

// Copies text and its NUL into a fixed field only when it fits: a cut name
// could name another entry.
inline bool PutField(char* field, std::size_t size, const QByteArray& text)
{
    if (std::size_t(text.size()) >= size || text.contains('\0'))
        return false;
    std::memcpy(field, text.constData(), std::size_t(text.size()) + 1);
    return true;
}

// The text of a field written by the caller; false when it lacks its NUL.
inline bool GetField(const char* field, std::size_t size, QString* text)
{
    const void* end = std::memchr(field, '\0', size);
    if (!end)
        return false;
    *text = QString::fromUtf8(field, int(static_cast<const char*>(end) - field));
    return true;
}

// Handles stand for active connections by object path. They are never
// reused, so a handle of a connection that is gone stays invalid.
HRASCONN NewHandle(const QString& activePath);
HRASCONN HandleFor(const QString& activePath);
QString PathOf(HRASCONN handle);
void Forget(HRASCONN handle);

} // namespace ras
