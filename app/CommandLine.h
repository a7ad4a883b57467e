// The command line: options after "-" or "/", anything else is refused with
// a message; nothing here needs a window, so main() reads it before Qt starts.
#pragma once

#include <QString>
#include <QStringList>

struct CommandLine {
    bool minimized = false; // -min: start minimized
    bool service = false;   // -service: no display, every message logged
    bool status = false;    // -status: print the health report and exit
    bool timelapse = false; // -timelapse DAY: build and publish one day's video and exit
    QString timelapseDay;   // empty when missing: the job reports it
    QStringList messages;   // one per refused argument, in argument order
};

CommandLine ParseCommandLine(const QStringList& arguments);
