// Child processes of the stream benchmark and the kernel's account of them.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

struct Child {
    pid_t pid = -1;
    int fd = -1; // the stream its frame lines arrive on
};

// The child's stdout or stderr (lineFd 1 or 2) comes back through a pipe; the
// other goes to logPath.
Child Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env, int lineFd,
            const std::string& logPath);
void Stop(Child& c);

// Processor milliseconds of the whole process, and its resident kilobytes.
bool Account(pid_t pid, double* cpuMs, long* rssKb);

struct Result {
    bool ok = false;
    std::string failure;
    long frames = 0;
    double seconds = 0, cpuMs = 0;
    long rssStart = 0, rssEnd = 0;
    double MsPerFrame() const { return frames > 0 ? cpuMs / double(frames) : 0; }
    double Fps() const { return seconds > 0 ? double(frames) / seconds : 0; }
};

// Counts published frames from the child's lines: returns the running total
// after a line, or -1 when the line says nothing about frames.
using FrameCounter = std::function<long(const std::string& line)>;

// Processor time and frames over a steady window that starts once warmupFrames
// were counted; a child that gets no further within warmupLimitSeconds fails.
Result Measure(Child& child, const FrameCounter& count, long warmupFrames, double windowSeconds,
               double warmupLimitSeconds);
