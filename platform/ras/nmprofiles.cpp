#include "nmprofiles.h"

#include "nmbus.h"
#include "rasimpl.h"

#include <QDBusObjectPath>
#include <functional>

namespace nm
{
namespace
{

// NetworkManager's secret flags. Agent-owned secrets (1) count when an agent
// of this user's session hands them out on request.
constexpr uint kNotSaved = 2;
constexpr uint kNotRequired = 4;

bool Fatal(DWORD code)
{
    return code == VIZO_NM_NOT_RUNNING || code == VIZO_NM_NO_REPLY;
}

// Visits the readable dial-up profiles until visit returns false. Profiles
// this user may not read, or that answer garbage, are left out.
DWORD VisitProfiles(const std::function<bool(Profile&)>& visit)
{
    const Reply list =
        CallExpecting("ao", QLatin1String(kSettingsPath), kSettingsIface, "ListConnections");
    if (list.code)
        return list.code;
    QList<QDBusObjectPath> paths;
    if (!Decode(list.msg.arguments().at(0), "ao", &paths))
        return VIZO_NM_BAD_REPLY;
    for (const QDBusObjectPath& path : paths) {
        const Reply r = CallExpecting("a{sa{sv}}", path.path(), kConnectionIface, "GetSettings");
        if (Fatal(r.code))
            return r.code;
        Profile p;
        if (r.code || !Decode(r.msg.arguments().at(0), "a{sa{sv}}", &p.settings))
            continue;
        const QVariantMap connection = p.settings.value(QStringLiteral("connection"));
        p.path = path.path();
        p.id = connection.value(QStringLiteral("id")).toString();
        p.type = connection.value(QStringLiteral("type")).toString();
        if (!p.id.isEmpty() && IsDialupKind(p.type) && !visit(p))
            break;
    }
    return 0;
}

// The setting that holds the login of a profile; empty when NetworkManager
// and the kind's plugin own it (vpn) or there is none (Bluetooth PAN).
QString LoginSetting(const Profile& p)
{
    if (p.type == QLatin1String("gsm") || p.type == QLatin1String("cdma") ||
        p.type == QLatin1String("pppoe"))
        return p.type;
    if (p.type == QLatin1String("bluetooth")) {
        for (const char* s : {"gsm", "cdma"})
            if (p.settings.contains(QLatin1String(s)))
                return QLatin1String(s);
    }
    return QString();
}

// Whether the saved password can be read; true also when NetworkManager will
// not show it to us, since it then keeps it for dialling all the same.
DWORD PasswordSaved(const Profile& p, const QString& setting, bool* saved)
{
    const Reply r = CallExpecting("a{sa{sv}}", p.path, kConnectionIface, "GetSecrets", {setting});
    if (r.missing)
        return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    if (Fatal(r.code))
        return r.code;
    Settings secrets;
    if (r.code || !Decode(r.msg.arguments().at(0), "a{sa{sv}}", &secrets)) {
        *saved = true;
        return 0;
    }
    *saved = !secrets.value(setting).value(QStringLiteral("password")).toString().isEmpty();
    return 0;
}

} // namespace

bool IsDialupKind(const QString& type)
{
    for (const char* kind : {"gsm", "cdma", "pppoe", "bluetooth", "vpn"})
        if (type == QLatin1String(kind))
            return true;
    return false;
}

DWORD DialupProfiles(QList<Profile>* profiles)
{
    profiles->clear();
    return VisitProfiles([&](Profile& p) {
        profiles->append(p);
        return true;
    });
}

DWORD FindProfile(const QString& id, Profile* profile)
{
    bool found = false;
    const DWORD rc = VisitProfiles([&](Profile& p) {
        if (p.id != id)
            return true;
        *profile = p;
        found = true;
        return false;
    });
    if (rc)
        return rc;
    return found ? 0 : ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
}

DWORD ProfileOfRecord(LPCSTR phonebook, const RASDIALPARAMSA* params, Profile* profile)
{
    if (!params)
        return ERROR_INVALID_PARAMETER;
    if (params->dwSize != sizeof(RASDIALPARAMSA))
        return ERROR_INVALID_SIZE;
    if (phonebook)
        return ERROR_CANNOT_OPEN_PHONEBOOK;
    QString name;
    if (!ras::GetField(params->szEntryName, sizeof params->szEntryName, &name))
        return ERROR_INVALID_PARAMETER;
    return FindProfile(name, profile);
}

DWORD ReadCredentials(const Profile& p, Credentials* c)
{
    *c = Credentials();
    const QString setting = LoginSetting(p);
    if (setting.isEmpty()) {
        c->user =
            p.settings.value(QStringLiteral("vpn")).value(QStringLiteral("user-name")).toString();
        c->valid = true;
        return 0;
    }
    const QVariantMap s = p.settings.value(setting);
    c->user = s.value(QStringLiteral("username")).toString();
    c->phoneNumber = s.value(QStringLiteral("number")).toString();
    const uint flags = s.value(QStringLiteral("password-flags")).toUInt();
    // Most mobile carriers want no login; an ISP's PPPoE always does.
    if (c->user.isEmpty()) {
        c->valid = setting != QLatin1String("pppoe");
        return 0;
    }
    if (flags & kNotRequired) {
        c->valid = true;
        return 0;
    }
    // Asked for at every connection: nobody is there to type it.
    if (flags & kNotSaved)
        return 0;
    return PasswordSaved(p, setting, &c->valid);
}

} // namespace nm
