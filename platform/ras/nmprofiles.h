// NetworkManager's connection profiles as the phone book.
#pragma once

#include "ras.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QVariantMap>

namespace nm
{

using Settings = QMap<QString, QVariantMap>;

struct Profile {
    QString path;
    QString id;
    QString type;
    Settings settings;
};

// The kinds that are dialled on demand.
bool IsDialupKind(const QString& type);

// The profiles of dial-up kinds this user may read, in NetworkManager's order.
DWORD DialupProfiles(QList<Profile>* profiles);
// The first dial-up profile with exactly this id; ERROR_CANNOT_FIND_PHONEBOOK_ENTRY if none.
DWORD FindProfile(const QString& id, Profile* profile);
// The profile a caller's dial parameters name, after checking the record.
DWORD ProfileOfRecord(LPCSTR phonebook, const RASDIALPARAMSA* params, Profile* profile);

struct Credentials {
    QString user;
    QString phoneNumber;
    // The profile holds what dialling it needs without anybody typing it.
    bool valid = false;
};
DWORD ReadCredentials(const Profile& profile, Credentials* credentials);

} // namespace nm
