#include "nmbus.h"

#include "platform/afx/pump.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

namespace nm
{
namespace
{

constexpr char kPropertiesIface[] = "org.freedesktop.DBus.Properties";
constexpr int kSliceMs = 100;

int g_callMs = 15000;
// Mobile links may take a minute to register and negotiate; NetworkManager
// gives up by itself well before this.
int g_dialMs = 150000;
QByteArray g_lastRefusal;

bool OnGuiThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

bool NameIn(const QString& name, std::initializer_list<const char*> names)
{
    for (const char* n : names)
        if (name == QLatin1String(n))
            return true;
    return false;
}

DWORD CodeFor(const QDBusMessage& error, bool* missing)
{
    const QString name = error.errorName();
    if (NameIn(name, {"org.freedesktop.DBus.Error.ServiceUnknown",
                      "org.freedesktop.DBus.Error.NameHasNoOwner",
                      "org.freedesktop.DBus.Error.Disconnected"}))
        return VIZO_NM_NOT_RUNNING;
    if (NameIn(name, {"org.freedesktop.DBus.Error.NoReply", "org.freedesktop.DBus.Error.Timeout",
                      "org.freedesktop.DBus.Error.TimedOut"}))
        return VIZO_NM_NO_REPLY;
    if (name.endsWith(QLatin1String(".PermissionDenied")) ||
        NameIn(name,
               {"org.freedesktop.DBus.Error.AccessDenied", "org.freedesktop.DBus.Error.AuthFailed",
                "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired"}))
        return VIZO_NM_PERMISSION_DENIED;
    if (NameIn(name, {"org.freedesktop.DBus.Error.UnknownObject",
                      "org.freedesktop.DBus.Error.UnknownMethod",
                      "org.freedesktop.DBus.Error.UnknownInterface",
                      "org.freedesktop.NetworkManager.UnknownConnection",
                      "org.freedesktop.NetworkManager.ConnectionNotActive"}))
        *missing = true;
    else if (NameIn(name, {"org.freedesktop.NetworkManager.ConnectionNotAvailable",
                           "org.freedesktop.NetworkManager.UnknownDevice"}))
        return VIZO_NM_NO_DEVICE;
    g_lastRefusal = error.errorMessage().simplified().toUtf8();
    return VIZO_NM_REFUSED;
}

} // namespace

bool WaitUntil(const std::function<bool()>& done, const QDeadlineTimer& deadline,
               const QObject* waker, const char* signal)
{
    const bool gui = OnGuiThread();
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        const int ms = int(qBound(qint64(1), deadline.remainingTime(), qint64(kSliceMs)));
        if (!gui) {
            QThread::msleep(qMin(ms, 10));
            continue;
        }
        PumpWhileBlocked();
        if (done())
            break;
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        if (waker)
            QObject::connect(waker, signal, &loop, SLOT(quit()));
        // Event loops refuse to run while an application quit is pending.
        if (loop.exec(QEventLoop::ExcludeUserInputEvents) == -1)
            QThread::msleep(qMin(ms, 10));
    }
    return true;
}

Reply Call(const QString& path, const char* iface, const char* method, const QList<QVariant>& args)
{
    Reply r;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        r.code = VIZO_NM_NOT_RUNNING;
        return r;
    }
    QDBusMessage msg = QDBusMessage::createMethodCall(QLatin1String(kService), path,
                                                      QLatin1String(iface), QLatin1String(method));
    msg.setArguments(args);
    // A stopped NetworkManager is the user's choice; the uploader does not start it.
    msg.setAutoStartService(false);
    QDBusPendingCall pending = bus.asyncCall(msg, g_callMs);
    QDBusPendingCallWatcher watcher(pending);
    WaitUntil([&] { return pending.isFinished(); }, QDeadlineTimer(g_callMs + 2000), &watcher,
              SIGNAL(finished(QDBusPendingCallWatcher*)));
    if (!pending.isFinished()) {
        r.code = VIZO_NM_NO_REPLY;
        return r;
    }
    r.msg = pending.reply();
    if (r.msg.type() == QDBusMessage::ErrorMessage)
        r.code = CodeFor(r.msg, &r.missing);
    else if (r.msg.type() != QDBusMessage::ReplyMessage)
        r.code = VIZO_NM_BAD_REPLY;
    return r;
}

Reply CallExpecting(const char* signature, const QString& path, const char* iface,
                    const char* method, const QList<QVariant>& args)
{
    Reply r = Call(path, iface, method, args);
    if (r.code == 0 &&
        (r.msg.signature() != QLatin1String(signature) || r.msg.arguments().size() != 1))
        r.code = VIZO_NM_BAD_REPLY;
    return r;
}

DWORD GetAll(const QString& path, const char* iface, QVariantMap* props, bool* missing)
{
    const Reply r = CallExpecting("a{sv}", path, kPropertiesIface, "GetAll", {QString(iface)});
    if (missing)
        *missing = r.missing;
    if (r.code)
        return r.code;
    return Decode(r.msg.arguments().at(0), "a{sv}", props) ? 0 : VIZO_NM_BAD_REPLY;
}

DWORD ActiveConnections(QStringList* paths)
{
    const Reply r = CallExpecting("v", QLatin1String(kManagerPath), kPropertiesIface, "Get",
                                  {QString(kManagerIface), QStringLiteral("ActiveConnections")});
    if (r.code)
        return r.code;
    QList<QDBusObjectPath> list;
    if (!Decode(r.msg.arguments().at(0).value<QDBusVariant>().variant(), "ao", &list))
        return VIZO_NM_BAD_REPLY;
    paths->clear();
    for (const QDBusObjectPath& p : list)
        paths->append(p.path());
    return 0;
}

int CallLimitMs()
{
    return g_callMs;
}
int DialLimitMs()
{
    return g_dialMs;
}

void SetTimeLimits(int callMs, int dialMs)
{
    if (callMs > 0)
        g_callMs = callMs;
    if (dialMs > 0)
        g_dialMs = dialMs;
}

QByteArray LastRefusal()
{
    return g_lastRefusal;
}

} // namespace nm
