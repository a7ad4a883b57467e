// Videos that must still reach the server: kept in a small file in the state
// folder, so that neither a restart nor another process (the -timelapse
// command beside a running service) loses one.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <ctime>
#include <functional>

struct QueuedVideo {
    QString local;          // the video in the archive
    QString remote;         // its name on the server
    std::time_t day = 0;    // start of the day it shows
    std::time_t queued = 0; // its first failed attempt
    int attempts = 0;       // failed attempts so far
    std::time_t nextTry = 0;

    bool operator==(const QueuedVideo& o) const;
};

// The wait after a number of failed attempts: a minute, doubling to an hour.
std::time_t RetryWait(int attempts);
// Due at nextTry; a next try further ahead than the longest wait (the clock
// set back, an edited file) does not hold the video up.
bool RetryDue(const QueuedVideo& v, std::time_t now);
// Older than keepDays after the end of its day; keepDays 0 keeps it for ever,
// as the archive keeps the video itself.
bool QueueExpired(const QueuedVideo& v, std::time_t now, int keepDays);

QByteArray QueueToJson(const QList<QueuedVideo>& videos);
// False with a reason when the bytes are not a queue this program wrote.
bool QueueFromJson(const QByteArray& json, QList<QueuedVideo>* videos, QString* error);

class PublishQueue
{
public:
    using Say = std::function<void(const QString&)>;

    // The queue in file; say receives the lines worth a status line.
    PublishQueue(QString file, Say say);

    // Reads the file again when it changed since the last look (another
    // process may have added a video). A damaged or foreign file is set
    // aside, said once, and the queue starts empty.
    void Refresh();
    const QList<QueuedVideo>& Videos() const { return m_videos; }
    std::time_t Oldest() const; // 0 when empty

    // A failed attempt at now: added when new, else counted; the next try
    // follows the back-off.
    void Failed(const QueuedVideo& video, std::time_t now);
    void Remove(const QString& local);

private:
    struct Identity {
        bool exists = false;
        unsigned long long dev = 0, ino = 0, size = 0;
        long long mtimeNs = 0;
        bool operator==(const Identity& o) const;
    };
    Identity Stat() const;
    void Load();
    void SetAside(const QString& reason);
    // Under the lock: the file as it is now, changed by apply, written back.
    void Update(const std::function<void(QList<QueuedVideo>&)>& apply);
    bool Write(QString* error);

    QString m_file;
    Say m_say;
    QList<QueuedVideo> m_videos;
    Identity m_seen;
    bool m_bLooked = false;
    bool m_bWriteFailed = false;
};
