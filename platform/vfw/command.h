// Command sources: a program whose standard output carries the video, run
// without a shell for as long as its source is open.
#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <sys/types.h>
#include <thread>

// The words of a command line as a shell would split them (quotes and backslashes honoured; an
// unclosed quote runs to the end), never interpreted by one. Empty when the line holds no word.
QStringList CommandWords(const QString& commandLine);

class CommandProcess
{
public:
    // source names the lines of its standard error in the log.
    explicit CommandProcess(QString source);
    ~CommandProcess();
    CommandProcess(const CommandProcess&) = delete;
    CommandProcess& operator=(const CommandProcess&) = delete;

    // Starts the command; on failure error says why and nothing runs.
    bool Start(const QString& commandLine, QString* error);
    // The read end of its standard output; -1 before Start.
    int OutputFd() const { return m_out; }
    // Why the output ended: its exit status when it has exited within
    // waitMs, otherwise that it closed its output.
    QString EndReason(int waitMs);
    pid_t Pid() const { return m_pid; }
    // Asks it to end (its process group), and has it killed if it has not
    // ended 2 s later and reaped, without waiting here.
    void Stop();

private:
    void LogErrors(int fd);

    QString m_source;
    pid_t m_pid = -1;
    int m_out = -1;
    int m_status = -1; // set once reaped here
    std::thread m_errors;
    std::atomic<bool> m_stopping{false};
};
