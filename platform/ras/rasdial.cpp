// Dialling: activating a profile and waiting until it is up or has failed.
#include "nmbus.h"
#include "nmprofiles.h"
#include "rasimpl.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QHash>
#include <QObject>

namespace
{

constexpr int kPollMs = 250;

// Records the state changes of every active connection from before the
// activation is asked for: a quick failure would otherwise lose its reason
// with the connection object.
class StateWatch : public QObject
{
    Q_OBJECT
public:
    struct Change {
        uint state;
        uint reason;
    };

    StateWatch() { Subscribe(true); }
    ~StateWatch() override { Subscribe(false); }

    bool Seen(const QString& path, Change* change) const
    {
        const auto it = m_changes.find(path);
        if (it == m_changes.end())
            return false;
        *change = *it;
        return true;
    }

signals:
    void changed();

private slots:
    void OnStateChanged(uint state, uint reason, const QDBusMessage& message)
    {
        m_changes.insert(message.path(), {state, reason});
        emit changed();
    }

private:
    void Subscribe(bool on)
    {
        QDBusConnection bus = QDBusConnection::systemBus();
        if (!bus.isConnected())
            return;
        const char* slot = SLOT(OnStateChanged(uint, uint, QDBusMessage));
        const QString iface = QLatin1String(nm::kActiveIface);
        const QString name = QStringLiteral("StateChanged");
        if (on)
            bus.connect(QString(), QString(), iface, name, this, slot);
        else
            bus.disconnect(QString(), QString(), iface, name, this, slot);
    }

    QHash<QString, Change> m_changes;
};

DWORD FailureCode(uint reason)
{
    return VIZO_NM_REASON_BASE + (reason < 100 ? reason : 0);
}

struct Outcome {
    bool decided = false;
    DWORD code = 0;
};

// One look at the activation: a state change seen on the bus decides at once;
// otherwise the connection is polled, which also notices it vanishing.
void Look(const QString& path, const StateWatch& watch, QDeadlineTimer& nextPoll, Outcome* o)
{
    StateWatch::Change change{0, 0};
    const bool seen = watch.Seen(path, &change);
    if (seen && (change.state == nm::Activated || change.state == nm::Deactivated)) {
        o->decided = true;
        o->code = change.state == nm::Activated ? 0 : FailureCode(change.reason);
        return;
    }
    if (!nextPoll.hasExpired())
        return;
    nextPoll.setRemainingTime(kPollMs);
    QVariantMap props;
    bool gone = false;
    const DWORD rc = nm::GetAll(path, nm::kActiveIface, &props, &gone);
    const uint state = props.value(QStringLiteral("State")).toUInt();
    if (gone || (rc == 0 && state == nm::Deactivated))
        o->code = FailureCode(seen ? change.reason : 0);
    else if (rc == VIZO_NM_NOT_RUNNING)
        o->code = rc;
    else if (rc != 0 || state != nm::Activated)
        return;
    o->decided = true;
}

DWORD Activate(const nm::Profile& profile, HRASCONN* handle)
{
    StateWatch watch;
    const QDBusObjectPath none(QStringLiteral("/"));
    const nm::Reply r = nm::CallExpecting("o", QLatin1String(nm::kManagerPath), nm::kManagerIface,
                                          "ActivateConnection",
                                          {QVariant::fromValue(QDBusObjectPath(profile.path)),
                                           QVariant::fromValue(none), QVariant::fromValue(none)});
    if (r.code)
        return r.missing ? ERROR_CANNOT_FIND_PHONEBOOK_ENTRY : r.code;
    const QString path = r.msg.arguments().at(0).value<QDBusObjectPath>().path();
    const HRASCONN h = ras::NewHandle(path);
    Outcome o;
    QDeadlineTimer nextPoll(kPollMs);
    const bool inTime = nm::WaitUntil(
        [&] {
            Look(path, watch, nextPoll, &o);
            return o.decided;
        },
        QDeadlineTimer(nm::DialLimitMs()), &watch, SIGNAL(changed()));
    if (!inTime)
        o.code = VIZO_NM_DIAL_TIMEOUT;
    // One still coming up when time ran out is the caller's to hang up; a
    // failed one NetworkManager takes down itself.
    if (o.code == 0 || o.code == VIZO_NM_DIAL_TIMEOUT)
        *handle = h;
    else
        ras::Forget(h);
    return o.code;
}

} // namespace

VIZO_RAS_EXPORT DWORD RasDialA(void*, LPCSTR phonebook, RASDIALPARAMSA* params, DWORD,
                               LPVOID notifier, HRASCONN* lphRasConn)
{
    if (!lphRasConn || notifier) // dialling is synchronous only
        return ERROR_INVALID_PARAMETER;
    *lphRasConn = nullptr;
    nm::Profile profile;
    if (const DWORD rc = nm::ProfileOfRecord(phonebook, params, &profile))
        return rc;
    return Activate(profile, lphRasConn);
}

VIZO_RAS_EXPORT void VizoRasSetTimeLimits(int callMs, int dialMs)
{
    nm::SetTimeLimits(callMs, dialMs);
}

#include "rasdial.moc"
