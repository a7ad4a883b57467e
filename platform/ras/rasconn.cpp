// Active dial-up connections: listing, status, IP projection and hang-up.
#include "nmbus.h"
#include "nmprofiles.h"
#include "rasimpl.h"

#include <QDBusObjectPath>

namespace ras
{
namespace
{

struct Handle {
    quintptr id;
    QString path;
};
QList<Handle> g_handles;
quintptr g_nextHandle = 1;

} // namespace

HRASCONN NewHandle(const QString& activePath)
{
    // NetworkManager never reuses a path while its connection is listed, so an
    // older handle for it belongs to a connection that is gone.
    for (int i = g_handles.size() - 1; i >= 0; --i)
        if (g_handles[i].path == activePath)
            g_handles.removeAt(i);
    g_handles.append({g_nextHandle, activePath});
    return reinterpret_cast<HRASCONN>(g_nextHandle++);
}

HRASCONN HandleFor(const QString& activePath)
{
    for (const Handle& h : g_handles)
        if (h.path == activePath)
            return reinterpret_cast<HRASCONN>(h.id);
    return NewHandle(activePath);
}

QString PathOf(HRASCONN handle)
{
    for (const Handle& h : g_handles)
        if (h.id == reinterpret_cast<quintptr>(handle))
            return h.path;
    return QString();
}

void Forget(HRASCONN handle)
{
    for (int i = 0; i < g_handles.size(); ++i)
        if (g_handles[i].id == reinterpret_cast<quintptr>(handle))
            g_handles.removeAt(i--);
}

} // namespace ras

namespace
{

struct Active {
    QString path;
    QString id;
    QString type;
    uint state = 0;
    QString ip4Config; // "/" or empty without one
};

Active FromProperties(const QString& path, const QVariantMap& props)
{
    Active a;
    a.path = path;
    a.id = props.value(QStringLiteral("Id")).toString();
    a.type = props.value(QStringLiteral("Type")).toString();
    a.state = props.value(QStringLiteral("State")).toUInt();
    a.ip4Config = props.value(QStringLiteral("Ip4Config")).value<QDBusObjectPath>().path();
    return a;
}

DWORD DialupConnections(QList<Active>* out)
{
    QStringList paths;
    if (const DWORD rc = nm::ActiveConnections(&paths))
        return rc;
    for (const QString& path : paths) {
        QVariantMap props;
        const DWORD rc = nm::GetAll(path, nm::kActiveIface, &props);
        if (rc == VIZO_NM_NOT_RUNNING || rc == VIZO_NM_NO_REPLY)
            return rc;
        const Active a = FromProperties(path, props);
        if (rc == 0 && nm::IsDialupKind(a.type) &&
            (a.state == nm::Activating || a.state == nm::Activated))
            out->append(a);
    }
    return 0;
}

// The connection of a handle while NetworkManager still lists it. Without
// NetworkManager nothing of its connections is left to wait for.
DWORD Lookup(HRASCONN handle, Active* a)
{
    const QString path = ras::PathOf(handle);
    if (path.isEmpty())
        return ERROR_INVALID_HANDLE;
    QStringList paths;
    DWORD rc = nm::ActiveConnections(&paths);
    QVariantMap props;
    bool missing = false;
    if (rc == 0 && paths.contains(path))
        rc = nm::GetAll(path, nm::kActiveIface, &props, &missing);
    else if (rc == 0)
        missing = true;
    if (missing || rc == VIZO_NM_NOT_RUNNING) {
        ras::Forget(handle);
        return ERROR_INVALID_HANDLE;
    }
    if (rc == 0)
        *a = FromProperties(path, props);
    return rc;
}

void FillConnection(RASCONNA* c, const Active& a)
{
    std::memset(c, 0, sizeof(RASCONNA));
    c->dwSize = sizeof(RASCONNA);
    c->hrasconn = ras::HandleFor(a.path);
    // An id that does not fit is left out rather than cut; the handle is what counts.
    ras::PutField(c->szEntryName, sizeof c->szEntryName, a.id.toUtf8());
    const bool modem = a.type == QLatin1String("gsm") || a.type == QLatin1String("cdma") ||
                       a.type == QLatin1String("bluetooth");
    ras::PutField(c->szDeviceType, sizeof c->szDeviceType,
                  modem ? QByteArray("modem") : a.type.toUtf8());
    ras::PutField(c->szDeviceName, sizeof c->szDeviceName, a.type.toUtf8());
}

void FillAddresses(RASPPPIPA* ip, const QString& ip4Config)
{
    QVariantMap props;
    if (nm::GetAll(ip4Config, nm::kIp4Iface, &props) != 0)
        return;
    QList<QVariantMap> addresses;
    if (nm::Decode(props.value(QStringLiteral("AddressData")), "aa{sv}", &addresses) &&
        !addresses.isEmpty())
        ras::PutField(ip->szIpAddress, sizeof ip->szIpAddress,
                      addresses.first().value(QStringLiteral("address")).toString().toUtf8());
    ras::PutField(ip->szServerIpAddress, sizeof ip->szServerIpAddress,
                  props.value(QStringLiteral("Gateway")).toString().toUtf8());
}

} // namespace

VIZO_RAS_EXPORT DWORD RasEnumConnectionsA(RASCONNA* conns, LPDWORD lpcb, LPDWORD lpcConnections)
{
    if (!lpcb || !lpcConnections)
        return ERROR_INVALID_PARAMETER;
    if (conns && conns->dwSize != sizeof(RASCONNA))
        return ERROR_INVALID_SIZE;
    QList<Active> active;
    if (const DWORD rc = DialupConnections(&active))
        return rc;
    const DWORD needed = DWORD(active.size()) * sizeof(RASCONNA);
    *lpcConnections = DWORD(active.size());
    if (needed > *lpcb || (!conns && needed > 0)) {
        *lpcb = needed;
        return ERROR_BUFFER_TOO_SMALL;
    }
    *lpcb = needed;
    for (int i = 0; i < active.size(); ++i)
        FillConnection(&conns[i], active[i]);
    return 0;
}

VIZO_RAS_EXPORT DWORD RasGetProjectionInfoA(HRASCONN handle, DWORD projection, LPVOID buffer,
                                            LPDWORD lpcb)
{
    if (projection != RASP_PppIp || !buffer || !lpcb)
        return ERROR_INVALID_PARAMETER;
    auto* ip = static_cast<RASPPPIPA*>(buffer);
    if (*lpcb < sizeof(RASPPPIPA)) {
        *lpcb = sizeof(RASPPPIPA);
        return ERROR_BUFFER_TOO_SMALL;
    }
    if (ip->dwSize != sizeof(RASPPPIPA))
        return ERROR_INVALID_SIZE;
    Active a;
    if (const DWORD rc = Lookup(handle, &a))
        return rc;
    if (a.state != nm::Activated)
        return ERROR_PROJECTION_NOT_COMPLETE;
    if (a.ip4Config.isEmpty() || a.ip4Config == QLatin1String("/"))
        return ERROR_PROTOCOL_NOT_CONFIGURED;
    std::memset(ip, 0, sizeof(RASPPPIPA));
    ip->dwSize = sizeof(RASPPPIPA);
    FillAddresses(ip, a.ip4Config);
    *lpcb = sizeof(RASPPPIPA);
    return 0;
}

VIZO_RAS_EXPORT DWORD RasGetConnectStatusA(HRASCONN handle, RASCONNSTATUSA* status)
{
    if (!status)
        return ERROR_INVALID_PARAMETER;
    if (status->dwSize != sizeof(RASCONNSTATUSA))
        return ERROR_INVALID_SIZE;
    Active a;
    if (const DWORD rc = Lookup(handle, &a))
        return rc;
    std::memset(status, 0, sizeof(RASCONNSTATUSA));
    status->dwSize = sizeof(RASCONNSTATUSA);
    status->rasconnstate = a.state == nm::Activated    ? RASCS_Connected
                           : a.state == nm::Activating ? RASCS_OpenPort
                                                       : RASCS_Disconnected;
    ras::PutField(status->szDeviceName, sizeof status->szDeviceName, a.type.toUtf8());
    return 0;
}

VIZO_RAS_EXPORT DWORD RasHangUpA(HRASCONN handle)
{
    const QString path = ras::PathOf(handle);
    if (path.isEmpty())
        return ERROR_INVALID_HANDLE;
    const nm::Reply r =
        nm::Call(QLatin1String(nm::kManagerPath), nm::kManagerIface, "DeactivateConnection",
                 {QVariant::fromValue(QDBusObjectPath(path))});
    // Already gone counts as hung up; the handle stays until its status says so.
    return r.missing ? 0 : r.code;
}
