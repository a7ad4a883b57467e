// The command line: options after "-" or "/", anything else is refused with
// a message; nothing here needs a window, so main() reads it once before Qt
// starts and hands the result to start-up.
#pragma once

#include <QString>
#include <QStringList>

struct CommandLine {
    bool minimized = false; // -min: start minimized
    bool service = false;   // -service: no display, every message logged
    bool status = false;    // -status: print the health report and exit
    bool timelapse = false; // -timelapse DAY: build and publish one day's video and exit
    QString timelapseDay;   // empty when missing: the job reports it
    // -profile NAME: its own settings file and state folder; empty for the
    // usual ones. Only ever a name that passed ProfileNameProblem().
    QString profile;
    QString profileError;        // why -profile was refused: the program must not run
    QStringList messages;        // one per refused argument, in argument order
    QList<int> messageArguments; // the argument (from 0) each message is about
};

CommandLine ParseCommandLine(const QStringList& arguments);
// Forgets the refusals of the arguments (from 0) the framework took as its own.
void ForgetArguments(CommandLine& line, const QList<int>& taken);

// Empty when NAME may name a profile; the reason otherwise. A name becomes
// part of file and folder names, so it is kept to a portable set.
QString ProfileNameProblem(const QString& name);
