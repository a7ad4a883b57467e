// Processor time per published frame of a 30 fps continuous stream, three ways
// side by side at each size:
//   floor   the test source converted to 24-bit BGR plus one TurboJPEG encode
//           per frame, nothing else
//   vizo    the program itself (build/vizo) in a continuous stream, caption on,
//           quality 50, FTP off
//   ffmpeg  the FFmpeg tool: the same source, a drawtext caption and one JPEG
//           rewritten atomically (-update 1 -atomic_writing 1)
// Each runs as a child process. Its processor time is the kernel's account of
// the whole process (utime + stime in /proc/PID/stat, every thread included),
// taken over a steady window after a warm-up, so start-up is not counted. The
// program's stream starts at once: it is sent Upload now (SIGUSR1) as soon as
// it reports itself idle, instead of waiting the minute to its first upload.
//   bench_stream [seconds per window, default 20] [WxH ...]
//   bench_stream --floor WxH   (the floor child itself)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// The floor child, in floor.cpp.
int RunFloor(int width, int height, const char* source, int quality);

namespace
{

using Clock = std::chrono::steady_clock;
constexpr int kQuality = 50;
constexpr int kWarmupFrames = 30;

struct Size {
    int width = 0, height = 0;
    std::string Text() const { return std::to_string(width) + "x" + std::to_string(height); }
};

bool ParseSize(const char* text, Size* size)
{
    return std::sscanf(text, "%dx%d", &size->width, &size->height) == 2 && size->width > 0 &&
           size->height > 0;
}

std::string Source(const Size& s)
{
    return "testsrc2=size=" + s.Text() + ":rate=30";
}

// ---- children and their accounting -----------------------------------------

struct Child {
    pid_t pid = -1;
    int fd = -1; // the stream its frame lines arrive on
};

// The child's stdout or stderr (lineFd 1 or 2) comes back through a pipe; the
// other goes to logPath.
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

// Processor milliseconds of the whole process, and its resident kilobytes.
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

Result Measure(Child& child, const FrameCounter& count, double windowSeconds,
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
            if (f0 < 0 && frames >= kWarmupFrames) {
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

// ---- the three rows --------------------------------------------------------

std::string SelfDir()
{
    char path[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string p(path, n > 0 ? std::size_t(n) : 0);
    return p.substr(0, p.rfind('/'));
}

std::string MakeTempDir()
{
    char pattern[] = "/tmp/bench_stream.XXXXXX";
    return mkdtemp(pattern) ? pattern : "";
}

Child StartVizo(const Size& size, const std::string& dir)
{
    mkdir((dir + "/config").c_str(), 0700);
    mkdir((dir + "/config/Brindlecote").c_str(), 0700);
    mkdir((dir + "/devices").c_str(), 0700);
    std::ofstream conf(dir + "/config/Brindlecote/vizo.conf");
    // The caption is the default one: green, centred at the top, 18 points.
    conf << "[Dialup]\nUse%20Dialup=0\n"
         << "[FTP]\nServer=127.0.0.1:9\nUsername=bench\nPassword=bench\nUse%20FTP=0\n"
         << "[Path]\nLocal=" << dir << "/vizo.jpg\nQuality=" << kQuality << "\n"
         << "[Time]\nShow%20Time=1\n"
         << "[Upload]\nMode=2\nMax%20Fps=30\n24%20Hours=1\n";
    conf.close();
    chmod((dir + "/config/Brindlecote/vizo.conf").c_str(), 0600);
    return Spawn({SelfDir() + "/vizo"},
                 {"QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + dir + "/config",
                  "VIZO_VIDEO_DEVICE_DIR=" + dir + "/devices",
                  "VIZO_VIDEO_SOURCES=Bench=lavfi:" + Source(size)},
                 2, dir + "/vizo.out");
}

Result RunVizo(Child& child, double window)
{
    long frames = 0;
    bool started = false;
    // Every published frame of a stream sets this status line.
    Result r = Measure(
        child,
        [&](const std::string& line) {
            if (!started && line.find(" status: Idle") != std::string::npos)
                started = kill(child.pid, SIGUSR1) == 0;
            return line.find(" status: Succesful upload at ") != std::string::npos ? ++frames : -1L;
        },
        window, 30);
    Stop(child);
    return r;
}

Result RunFloorChild(const Size& size, const std::string& dir, double window)
{
    Child child = Spawn({"/proc/self/exe", "--floor", size.Text()}, {}, 1, dir + "/floor.out");
    long frames = 0;
    Result r = Measure(
        child, [&](const std::string& line) { return line == "frame" ? ++frames : -1L; }, window,
        20);
    Stop(child);
    return r;
}

Result RunFfmpeg(const Size& size, const std::string& dir, double window)
{
    // The same caption as the program's default: local time, 18 points at 96
    // dots per inch (24 pixels), green, centred 2 pixels below the top.
    const std::string caption = "drawtext=font=Arial:fontsize=24:fontcolor=lime:x=(w-tw)/2:y=2:"
                                "text='%{localtime\\:%B %d %Y %H\\\\\\:%M\\\\\\:%S}'";
    Child child = Spawn({"ffmpeg",
                         "-hide_banner",
                         "-nostats",
                         "-loglevel",
                         "error",
                         "-re",
                         "-f",
                         "lavfi",
                         "-i",
                         Source(size),
                         "-vf",
                         caption,
                         "-q:v",
                         "5",
                         "-update",
                         "1",
                         "-atomic_writing",
                         "1",
                         "-progress",
                         "pipe:1",
                         "-y",
                         dir + "/ffmpeg.jpg"},
                        {}, 1, dir + "/ffmpeg.out");
    Result r = Measure(
        child,
        [](const std::string& line) {
            return line.rfind("frame=", 0) == 0 ? std::atol(line.c_str() + 6) : -1L;
        },
        window, 20);
    Stop(child);
    return r;
}

long FileBytes(const std::string& path)
{
    struct stat st {
    };
    return stat(path.c_str(), &st) == 0 ? long(st.st_size) : -1;
}

void Print(const char* what, const Result& r, const std::string& note)
{
    if (!r.ok) {
        std::printf("  %-7s failed: %s\n", what, r.failure.c_str());
        return;
    }
    std::printf("  %-7s %6.2f ms per frame  %5.2f fps  %ld frames in %.1f s  resident %ld -> %ld "
                "kB%s\n",
                what, r.MsPerFrame(), r.Fps(), r.frames, r.seconds, r.rssStart, r.rssEnd,
                note.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    Size floorSize;
    if (argc == 3 && std::strcmp(argv[1], "--floor") == 0 && ParseSize(argv[2], &floorSize))
        return RunFloor(floorSize.width, floorSize.height, Source(floorSize).c_str(), kQuality);
    signal(SIGPIPE, SIG_IGN);
    double window = argc > 1 ? std::atof(argv[1]) : 20;
    if (window < 2)
        window = 20;
    std::vector<Size> sizes;
    for (int i = 2; i < argc; ++i) {
        Size s;
        if (ParseSize(argv[i], &s))
            sizes.push_back(s);
    }
    if (sizes.empty())
        sizes = {{640, 480}, {1920, 1080}};
    std::printf("Processor time per published frame, 30 fps test source, steady %.0f s windows "
                "after %d frames\n",
                window, kWarmupFrames);
    int rc = 0;
    for (const Size& size : sizes) {
        const std::string dir = MakeTempDir();
        if (dir.empty())
            return 1;
        const Result floor = RunFloorChild(size, dir, window);
        const Result ffmpeg = RunFfmpeg(size, dir, window);
        Child vizo = StartVizo(size, dir);
        const Result program = RunVizo(vizo, window);
        std::printf("%s\n", size.Text().c_str());
        Print("floor", floor, "");
        Print("vizo", program, "  jpeg " + std::to_string(FileBytes(dir + "/vizo.jpg")) + " B");
        Print("ffmpeg", ffmpeg, "  jpeg " + std::to_string(FileBytes(dir + "/ffmpeg.jpg")) + " B");
        if (!floor.ok || !program.ok || !ffmpeg.ok) {
            std::printf("  logs in %s\n", dir.c_str());
            rc = 1;
            continue;
        }
        const double toFloor = program.MsPerFrame() / floor.MsPerFrame();
        const double toFfmpeg = program.MsPerFrame() / ffmpeg.MsPerFrame();
        std::printf("  vizo/floor %.2f (target at most 1.25)  vizo/ffmpeg %.2f (target at most "
                    "0.65)%s\n",
                    toFloor, toFfmpeg,
                    size.width >= 1920 ? (program.Fps() >= 29 ? "  fps met (at least 29)"
                                                              : "  fps NOT met (at least 29)")
                                       : "");
        std::system(("rm -rf '" + dir + "'").c_str());
    }
    return rc;
}
