// NetworkManager on the system bus: calls with time limits that keep the
// window painted while they wait, and the mapping of bus errors to codes.
#pragma once

#include "ras.h"

#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QList>
#include <QString>
#include <QVariant>
#include <functional>

class QObject;

namespace nm
{

inline constexpr char kService[] = "org.freedesktop.NetworkManager";
inline constexpr char kManagerPath[] = "/org/freedesktop/NetworkManager";
inline constexpr char kManagerIface[] = "org.freedesktop.NetworkManager";
inline constexpr char kSettingsPath[] = "/org/freedesktop/NetworkManager/Settings";
inline constexpr char kSettingsIface[] = "org.freedesktop.NetworkManager.Settings";
inline constexpr char kConnectionIface[] = "org.freedesktop.NetworkManager.Settings.Connection";
inline constexpr char kActiveIface[] = "org.freedesktop.NetworkManager.Connection.Active";
inline constexpr char kIp4Iface[] = "org.freedesktop.NetworkManager.IP4Config";

// NetworkManager's states of an active connection.
enum ActiveState : uint { Activating = 1, Activated = 2, Deactivating = 3, Deactivated = 4 };

// code 0: the call succeeded and msg is its reply.
struct Reply {
    DWORD code = 0;
    QDBusMessage msg;
    // True for errors saying the object or its interface is not there (any more).
    bool missing = false;
};

Reply Call(const QString& path, const char* iface, const char* method,
           const QList<QVariant>& args = {});
// Reply with exactly one argument of the given D-Bus signature, else a bad-reply code.
Reply CallExpecting(const char* signature, const QString& path, const char* iface,
                    const char* method, const QList<QVariant>& args = {});
// All properties of one interface of an object.
DWORD GetAll(const QString& path, const char* iface, QVariantMap* props, bool* missing = nullptr);
// The object paths of NetworkManager's active connections.
DWORD ActiveConnections(QStringList* paths);

// Decodes a bus argument of the given signature; false when it has another shape.
template <typename T> bool Decode(const QVariant& value, const char* signature, T* out);

// Waits until done() holds or the deadline passes, keeping the window painted
// but leaving user input queued; a signal of waker ends each sleep early.
bool WaitUntil(const std::function<bool()>& done, const QDeadlineTimer& deadline,
               const QObject* waker = nullptr, const char* signal = nullptr);

int CallLimitMs();
int DialLimitMs();
void SetTimeLimits(int callMs, int dialMs);

// Detail text of the last refused call, for the error text of VIZO_NM_REFUSED.
QByteArray LastRefusal();

} // namespace nm

#include <QDBusArgument>

template <typename T> bool nm::Decode(const QVariant& value, const char* signature, T* out)
{
    if (value.metaType() != QMetaType::fromType<QDBusArgument>())
        return false;
    const QDBusArgument arg = value.value<QDBusArgument>();
    if (arg.currentSignature() != QLatin1String(signature))
        return false;
    arg >> *out;
    return true;
}
