#include "command.h"

#include "address.h"
#include "log.h"

#include <QStandardPaths>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <future>
#include <mutex>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;
constexpr std::chrono::seconds kKillAfter{2};
constexpr std::chrono::seconds kErrorLineInterval{1};
constexpr int kPollMs = 100;

// Every command is forked from one thread that lives as long as the program:
// the parent-death signal fires when the forking thread ends, not the process,
// so a command forked from a passing worker would be killed with it. The same
// thread reaps commands being stopped, so stopping never waits.
class Children
{
public:
    static Children& Instance()
    {
        static Children* children = new Children; // never destroyed: its thread must not end
        return *children;
    }
    void Run(std::function<void()> task)
    {
        std::packaged_task<void()> job(std::move(task));
        std::future<void> done = job.get_future();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_tasks.push_back(std::move(job));
        }
        m_cv.notify_all();
        done.wait();
    }
    void Reap(pid_t pid)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_dying.push_back({pid, Clock::now() + kKillAfter, false});
        }
        m_cv.notify_all();
    }

private:
    struct Dying {
        pid_t pid;
        Clock::time_point killAt;
        bool killed;
    };
    Children()
    {
        std::thread([this] { Loop(); }).detach();
    }
    void Loop()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            if (m_tasks.empty())
                m_cv.wait_for(lock, std::chrono::milliseconds(m_dying.empty() ? 60000 : 50));
            while (!m_tasks.empty()) {
                std::packaged_task<void()> job = std::move(m_tasks.front());
                m_tasks.pop_front();
                lock.unlock();
                job();
                lock.lock();
            }
            ReapLocked();
        }
    }
    void ReapLocked()
    {
        for (auto it = m_dying.begin(); it != m_dying.end();) {
            int status = 0;
            const pid_t r = waitpid(it->pid, &status, WNOHANG);
            if (r == it->pid || (r < 0 && errno == ECHILD)) {
                it = m_dying.erase(it);
                continue;
            }
            if (!it->killed && Clock::now() >= it->killAt) {
                kill(-it->pid, SIGKILL);
                it->killed = true;
            }
            ++it;
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::packaged_task<void()>> m_tasks;
    std::deque<Dying> m_dying;
};

void CloseFd(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// Between fork and exec only async-signal-safe calls.
[[noreturn]] void RunChild(const char* path, char* const argv[], pid_t parent, int out, int err,
                           int report)
{
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(127); // the program ended before the signal was armed
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int s : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD})
        signal(s, SIG_DFL);
    const int in = open("/dev/null", O_RDONLY);
    if (in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
        const int e = errno;
        (void)!write(report, &e, sizeof e);
        _exit(127);
    }
    execv(path, argv);
    const int e = errno;
    (void)!write(report, &e, sizeof e);
    _exit(127);
}

QString ExitText(int status)
{
    if (WIFEXITED(status))
        return QStringLiteral("the command exited with status %1").arg(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return QStringLiteral("the command was ended by signal %1").arg(WTERMSIG(status));
    return QStringLiteral("the command ended");
}

} // namespace

// POSIX shell quoting, without expansions: '...' literal, "..." with \ before
// " \ $ ` escaped, a backslash outside quotes taking the next character.
QStringList CommandWords(const QString& commandLine)
{
    QStringList words;
    QString word;
    bool inWord = false;
    QChar quote;
    for (int i = 0; i < commandLine.size(); ++i) {
        const QChar c = commandLine[i];
        if (quote == QLatin1Char('\'')) {
            if (c == quote)
                quote = QChar();
            else
                word += c;
        } else if (quote == QLatin1Char('"')) {
            if (c == quote)
                quote = QChar();
            else if (c == QLatin1Char('\\') && i + 1 < commandLine.size() &&
                     QStringLiteral("\"\\$`").contains(commandLine[i + 1]))
                word += commandLine[++i];
            else
                word += c;
        } else if (c.isSpace()) {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
        } else {
            inWord = true;
            if (c == QLatin1Char('\'') || c == QLatin1Char('"'))
                quote = c;
            else if (c == QLatin1Char('\\') && i + 1 < commandLine.size())
                word += commandLine[++i];
            else
                word += c;
        }
    }
    if (inWord)
        words << word;
    return words;
}

CommandProcess::CommandProcess(QString source) : m_source(std::move(source)) {}

CommandProcess::~CommandProcess()
{
    Stop();
    if (m_errors.joinable())
        m_errors.join();
}

bool CommandProcess::Start(const QString& commandLine, QString* error)
{
    const QStringList words = CommandWords(commandLine);
    if (words.isEmpty()) {
        *error = QStringLiteral("no command given");
        return false;
    }
    const QString path =
        words[0].contains(QLatin1Char('/')) ? words[0] : QStandardPaths::findExecutable(words[0]);
    if (path.isEmpty() || access(path.toLocal8Bit().constData(), X_OK) != 0) {
        const QString why = path.isEmpty() ? QStringLiteral("not found") : qt_error_string(errno);
        *error = QStringLiteral("cannot run '%1': %2").arg(MaskAddressPasswords(words[0]), why);
        return false;
    }
    // Everything the child needs is made before the fork.
    const QByteArray file = path.toLocal8Bit();
    std::vector<QByteArray> bytes;
    for (const QString& w : words)
        bytes.push_back(w.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);

    int out[2], err[2], report[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        *error = qt_error_string(errno);
        return false;
    }
    if (pipe2(err, O_CLOEXEC) != 0 || pipe2(report, O_CLOEXEC) != 0) {
        *error = qt_error_string(errno);
        close(out[0]);
        close(out[1]);
        return false;
    }
    const pid_t parent = getpid();
    pid_t pid = -1;
    Children::Instance().Run([&] {
        pid = fork();
        if (pid == 0)
            RunChild(file.constData(), argv.data(), parent, out[1], err[1], report[1]);
    });
    const int forkErrno = errno;
    close(out[1]);
    close(err[1]);
    close(report[1]);
    int childErrno = 0;
    const bool failed = pid < 0 || read(report[0], &childErrno, sizeof childErrno) > 0;
    close(report[0]);
    if (failed) {
        *error = QStringLiteral("cannot run '%1': %2")
                     .arg(MaskAddressPasswords(words[0]),
                          qt_error_string(pid < 0 ? forkErrno : childErrno));
        if (pid > 0)
            waitpid(pid, nullptr, 0);
        close(out[0]);
        close(err[0]);
        return false;
    }
    m_pid = pid;
    m_out = out[0];
    const int errFd = err[0];
    m_errors = std::thread([this, errFd] { LogErrors(errFd); });
    return true;
}

// At most a line a second: a command complaining about every frame would
// otherwise fill the journal.
void CommandProcess::LogErrors(int fd)
{
    QByteArray pending;
    Clock::time_point next{};
    char buffer[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int n = poll(&p, 1, kPollMs);
        if (n < 0 && errno != EINTR)
            break;
        if (n <= 0) {
            if (m_stopping)
                break;
            continue;
        }
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0 && !(got < 0 && errno == EINTR))
            break;
        pending.append(buffer, int(std::max<ssize_t>(got, 0)));
        for (int eol; (eol = pending.indexOf('\n')) >= 0; pending.remove(0, eol + 1)) {
            const QString line = QString::fromLocal8Bit(pending.left(eol)).trimmed();
            if (line.isEmpty() || Clock::now() < next)
                continue;
            next = Clock::now() + kErrorLineInterval;
            LogLine("capture", QStringLiteral("Video source '%1' command: %2")
                                   .arg(m_source, MaskAddressPasswords(line)));
        }
        if (pending.size() > 4096)
            pending.clear(); // no line ends: not text worth keeping
    }
    close(fd);
}

QString CommandProcess::EndReason(int waitMs)
{
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(waitMs);
    while (m_pid > 0 && m_status < 0) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_status = status;
            break;
        }
        if (Clock::now() >= until)
            return QStringLiteral("the command closed its output");
        usleep(20000);
    }
    return m_status < 0 ? QStringLiteral("the command closed its output") : ExitText(m_status);
}

void CommandProcess::Stop()
{
    m_stopping = true;
    CloseFd(m_out);
    if (m_pid <= 0 || m_status >= 0)
        return;
    kill(-m_pid, SIGTERM);
    Children::Instance().Reap(m_pid);
    m_pid = -1;
}
