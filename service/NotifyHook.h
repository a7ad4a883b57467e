// The user's command run on the first failure after a success and on the
// first success after failures.
#pragma once

#include <QObject>
#include <QString>
#include <ctime>

enum class SessionOutcome { Success, Failure, Aborted };

// "failure", "recovered" or nullptr (no transition) for a session's outcome,
// given the failures in a row before it.
const char* NotifyEventFor(int failuresBefore, SessionOutcome outcome);

// Owns the commands it starts. Each runs without a shell (split as a command
// line) in a process group of its own, with VIZO_EVENT, VIZO_REASON and
// VIZO_TIME set; the whole group is stopped once it has run for the limit, or
// when the runner goes. The first kOutputKeptBytes of its output are logged.
class NotifyRunner
{
public:
    static constexpr int kDefaultLimitMs = 60000;
    static constexpr int kOutputKeptBytes = 4096;

    explicit NotifyRunner(int limitMs = kDefaultLimitMs) : m_limitMs(limitMs) {}
    ~NotifyRunner();
    NotifyRunner(const NotifyRunner&) = delete;
    NotifyRunner& operator=(const NotifyRunner&) = delete;

    // False with the reason when it could not be started.
    bool Start(const QString& command, const QString& event, const QString& reason,
               const QString& time, QString* error);
    // Commands started and not yet ended (with everything they started).
    int Running() const;

private:
    int m_limitMs;
    QObject m_runs; // parent of the running commands
};
