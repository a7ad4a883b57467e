#include "children.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

Child Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env, int lineFd,
            const std::string& logPath)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], lineFd);
        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(log, lineFd == 1 ? 2 : 1);
        close(fds[0]);
        close(fds[1]);
        for (const std::string& e : env)
            putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return {};
    }
    return {pid, fds[0]};
}

void Stop(Child& c)
{
    if (c.pid <= 0)
        return;
    kill(c.pid, SIGTERM);
    for (int i = 0; i < 40 && waitpid(c.pid, nullptr, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (kill(c.pid, SIGKILL) == 0)
        waitpid(c.pid, nullptr, 0);
    close(c.fd);
    c = {};
}

bool Account(pid_t pid, double* cpuMs, long* rssKb)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line) || line.rfind(')') == std::string::npos)
        return false;
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string f;
    unsigned long long utime = 0, stime = 0;
    long rssPages = 0;
    // Fields from the state on: utime and stime are the 12th and 13th, rss the 22nd.
    for (int i = 1; i <= 22 && fields >> f; ++i) {
        if (i == 12)
            utime = std::stoull(f);
        else if (i == 13)
            stime = std::stoull(f);
        else if (i == 22)
            rssPages = std::stol(f);
    }
    *cpuMs = 1000.0 * double(utime + stime) / double(sysconf(_SC_CLK_TCK));
    *rssKb = rssPages * (sysconf(_SC_PAGESIZE) / 1024);
    return true;
}

namespace
{

using Clock = std::chrono::steady_clock;

} // namespace

Result Measure(Child& child, const FrameCounter& count, long warmupFrames, double windowSeconds,
               double warmupLimitSeconds)
{
    Result r;
    const Clock::time_point spawned = Clock::now();
    Clock::time_point t0;
    long f0 = -1, frames = 0;
    double cpu0 = 0;
    std::string pending;
    char buffer[4096];
    while (true) {
        const Clock::time_point now = Clock::now();
        if (f0 < 0 && now - spawned > std::chrono::duration<double>(warmupLimitSeconds)) {
            r.failure = "no steady stream within " + std::to_string(int(warmupLimitSeconds)) + " s";
            break;
        }
        pollfd p{child.fd, POLLIN, 0};
        if (poll(&p, 1, 200) < 0)
            continue;
        if (!(p.revents & (POLLIN | POLLHUP)))
            continue;
        const ssize_t n = read(child.fd, buffer, sizeof buffer);
        if (n <= 0) {
            r.failure = "the process ended early";
            break;
        }
        pending.append(buffer, std::size_t(n));
        for (std::size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
            const long total = count(pending.substr(0, eol));
            pending.erase(0, eol + 1);
            if (total < 0)
                continue;
            frames = total;
            const Clock::time_point at = Clock::now();
            if (f0 < 0 && frames >= warmupFrames) {
                f0 = frames;
                t0 = at;
                Account(child.pid, &cpu0, &r.rssStart);
            } else if (f0 >= 0 && at - t0 >= std::chrono::duration<double>(windowSeconds)) {
                double cpu1 = 0;
                r.ok = Account(child.pid, &cpu1, &r.rssEnd);
                r.frames = frames - f0;
                r.seconds = std::chrono::duration<double>(at - t0).count();
                r.cpuMs = cpu1 - cpu0;
                return r;
            }
        }
    }
    return r;
}
