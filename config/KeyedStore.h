// Reading and writing one keyed value of the settings table: a null store
// gives the key's default; a write happens only when the value changed.
#pragma once

#include "Profile.h"
#include "SettingsKeys.h"

#include <QString>

inline int ReadInt(const Profile* store, const Keys::IntKey& k)
{
    return store ? store->ReadInt(k.section, k.entry, k.def) : k.def;
}

inline QString ReadString(const Profile* store, const Keys::StrKey& k)
{
    const QString def = QString::fromLatin1(k.def);
    return store ? store->ReadString(k.section, k.entry, def) : def;
}

inline void WriteIfChanged(Profile& store, const Keys::StrKey& k, QString& field,
                           const QString& value)
{
    if (field != value) {
        field = value;
        store.WriteString(k.section, k.entry, value);
    }
}

template <typename T> void WriteIfChanged(Profile& store, const Keys::IntKey& k, T& field, T value)
{
    if (field != value) {
        field = value;
        store.WriteInt(k.section, k.entry, int(value));
    }
}
