// What the archive needs from the rest of the program, and nothing more:
// the spine implements it; tests use a recording one.
#pragma once

#include <QString>
#include <ctime>

class ArchivePorts
{
public:
    virtual ~ArchivePorts() = default;

    // A line for the status bar and the log.
    virtual void Status(const QString& text) = 0;
    // A line for the log alone: house-keeping that needs no one's attention
    // and is no part of an upload's outcome.
    virtual void Log(const QString& text) = 0;
    // Whether uploads are switched on at all.
    virtual bool UploadsOn() const = 0;
    // Whether a session or a modal dialog holds the upload engine now.
    virtual bool EngineBusy() const = 0;
    // Sends the file to the server under remote (a temporary name, then a
    // rename); true once it is there. The port says what went wrong.
    virtual bool Publish(const QString& local, const QString& remote) = 0;
    // The archive's own health, apart from uploads; called on changes only.
    virtual void ArchiveStateChanged(bool ok, const QString& reason) = 0;
    // Videos still waiting to reach the server, and since when the oldest
    // waits (0: none); called on changes only.
    virtual void QueueChanged(int length, std::time_t oldest) = 0;
    // The folder for state that outlives the process (the upload queue).
    virtual QString StateFolder() const = 0;
    virtual std::time_t Now() const = 0;
};
