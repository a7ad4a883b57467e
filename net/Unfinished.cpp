#include "Unfinished.h"

namespace
{

// Each failure adds at most one name, and the swap index reuses names, so a
// server that never returns still cannot make the record grow without bound.
constexpr int kMaxEntries = 1000;

} // namespace

void UnfinishedTemporaries::Remember(const QString& destination, const QByteArray& remote,
                                     const QByteArray& temporary)
{
    Forget(destination, temporary);
    if (m_entries.size() >= kMaxEntries)
        m_entries.removeFirst();
    m_entries.append({destination, remote, temporary});
}

void UnfinishedTemporaries::Forget(const QString& destination, const QByteArray& temporary)
{
    m_entries.removeIf(
        [&](const Entry& e) { return e.destination == destination && e.temporary == temporary; });
}

QList<QByteArray> UnfinishedTemporaries::Take(const QString& destination, const QByteArray& remote)
{
    QList<QByteArray> taken;
    m_entries.removeIf([&](const Entry& e) {
        const bool match = e.destination == destination && e.remote == remote;
        if (match)
            taken.append(e.temporary);
        return match;
    });
    return taken;
}

UnfinishedTemporaries& Unfinished()
{
    static UnfinishedTemporaries record;
    return record;
}
