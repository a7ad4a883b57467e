// The user's command run on the first failure after a success and on the
// first success after failures.
#pragma once

#include <QString>
#include <ctime>

enum class SessionOutcome { Success, Failure, Aborted };

// "failure", "recovered" or nullptr (no transition) for a session's outcome,
// given the failures in a row before it.
const char* NotifyEventFor(int failuresBefore, SessionOutcome outcome);

// Starts the command without a shell (split as a command line), detached,
// with VIZO_EVENT, VIZO_REASON and VIZO_TIME set; it is killed when it still
// runs after limitMs. False with the reason when it could not be started.
bool StartNotifyCommand(const QString& command, const QString& event, const QString& reason,
                        const QString& time, int limitMs, QString* error);
