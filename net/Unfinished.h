// Temporaries that failed transfers left on a server and that could not be
// removed at the time (the server had gone): the next successful upload of the
// same name to the same server removes them. Only names this process wrote and
// failed to clean are kept, so a file another upload is writing is never
// touched.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class UnfinishedTemporaries
{
public:
    void Remember(const QString& destination, const QByteArray& remote,
                  const QByteArray& temporary);
    // An upload to this temporary begins: whatever it held is replaced.
    void Forget(const QString& destination, const QByteArray& temporary);
    // Those of this remote name, taken out of the record.
    QList<QByteArray> Take(const QString& destination, const QByteArray& remote);
    int Size() const { return int(m_entries.size()); }

private:
    struct Entry {
        QString destination;
        QByteArray remote, temporary;
    };
    QList<Entry> m_entries;
};

// The process's record.
UnfinishedTemporaries& Unfinished();
