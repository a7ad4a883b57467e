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
// The rows take turns in rounds; each is reported as the median of its rounds.
//   bench_stream [seconds per window, default 10] [rounds, default 3] [WxH ...]
//   bench_stream --floor WxH   (the floor child itself)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../benchmath.h"
#include "children.h"

#include <algorithm>
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
                 {"QT_QPA_PLATFORM=offscreen", "VIZO_LOG_EVERY_FRAME=1",
                  "XDG_CONFIG_HOME=" + dir + "/config", "VIZO_VIDEO_DEVICE_DIR=" + dir + "/devices",
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
        kWarmupFrames, window, 30);
    Stop(child);
    return r;
}

Result RunFloorChild(const Size& size, const std::string& dir, double window)
{
    Child child = Spawn({"/proc/self/exe", "--floor", size.Text()}, {}, 1, dir + "/floor.out");
    long frames = 0;
    Result r = Measure(
        child, [&](const std::string& line) { return line == "frame" ? ++frames : -1L; },
        kWarmupFrames, window, 20);
    Stop(child);
    return r;
}

Result RunFfmpeg(const Size& size, const std::string& dir, double window)
{
    // The same caption as the program's default: local time, 18 points at 96
    // dots per inch (24 pixels), green, centred 2 pixels below the top.
    const std::string caption = "drawtext=font=Arial:fontsize=24:fontcolor=lime:x=(w-tw)/2:y=2:"
                                "text='%{localtime\\:%B %d %Y %H\\\\\\:%M\\\\\\:%S}'";
    // At -q:v 8 its pictures are about the size of the program's at quality 50
    // (within a seventh either way at both sizes); at 5 they were half as
    // large again.
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
                         "8",
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
        kWarmupFrames, window, 20);
    Stop(child);
    return r;
}

long FileBytes(const std::string& path)
{
    struct stat st {
    };
    return stat(path.c_str(), &st) == 0 ? long(st.st_size) : -1;
}

// The machine's speed drifts by a fifth over minutes, so the rows take turns
// in short rounds, and each row is the median of its rounds.
struct Row {
    const char* name;
    std::vector<Result> runs;
    std::string note;

    std::vector<double> MsPerFrame() const
    {
        std::vector<double> ms;
        for (const Result& r : runs)
            ms.push_back(r.MsPerFrame());
        return ms;
    }
};

bool AllOk(const Row& row)
{
    return !row.runs.empty() &&
           std::all_of(row.runs.begin(), row.runs.end(), [](const Result& r) { return r.ok; });
}

void Print(const Row& row)
{
    for (const Result& r : row.runs) {
        if (!r.ok) {
            std::printf("  %-7s failed: %s\n", row.name, r.failure.c_str());
            return;
        }
    }
    std::string each;
    double fps = 1e9;
    for (const Result& r : row.runs) {
        each += (each.empty() ? "" : " ") + std::to_string(r.MsPerFrame()).substr(0, 5);
        fps = std::min(fps, r.Fps());
    }
    const Result& last = row.runs.back();
    std::printf("  %-7s %6.2f ms per frame (rounds %s)  lowest %5.2f fps  resident %ld -> %ld "
                "kB%s\n",
                row.name, Median(row.MsPerFrame()), each.c_str(), fps, last.rssStart, last.rssEnd,
                row.note.c_str());
}

// The median over rounds of a's time over b's in the same round.
double RatioOfMedians(const Row& a, const Row& b)
{
    std::vector<double> ratios;
    for (std::size_t i = 0; i < a.runs.size() && i < b.runs.size(); ++i)
        ratios.push_back(a.runs[i].MsPerFrame() / b.runs[i].MsPerFrame());
    return Median(ratios);
}

bool RunSize(const Size& size, int rounds, double window)
{
    const std::string dir = MakeTempDir();
    if (dir.empty())
        return false;
    Row floor{"floor", {}, ""}, vizo{"vizo", {}, ""}, ffmpeg{"ffmpeg", {}, ""};
    for (int i = 0; i < rounds; ++i) {
        floor.runs.push_back(RunFloorChild(size, dir, window));
        Child program = StartVizo(size, dir);
        vizo.runs.push_back(RunVizo(program, window));
        ffmpeg.runs.push_back(RunFfmpeg(size, dir, window));
    }
    vizo.note = "  jpeg " + std::to_string(FileBytes(dir + "/vizo.jpg")) + " B";
    ffmpeg.note = "  jpeg " + std::to_string(FileBytes(dir + "/ffmpeg.jpg")) + " B";
    std::printf("%s\n", size.Text().c_str());
    for (const Row* row : {&floor, &vizo, &ffmpeg})
        Print(*row);
    if (!AllOk(floor) || !AllOk(vizo) || !AllOk(ffmpeg)) {
        std::printf("  logs in %s\n", dir.c_str());
        return false;
    }
    double lowest = 1e9;
    for (const Result& r : vizo.runs)
        lowest = std::min(lowest, r.Fps());
    std::printf("  vizo/floor %.2f (target at most 1.25)  vizo/ffmpeg %.2f (target at most "
                "0.65)%s\n",
                RatioOfMedians(vizo, floor), RatioOfMedians(vizo, ffmpeg),
                size.width >= 1920
                    ? (lowest >= 29 ? "  fps met (at least 29)" : "  fps NOT met (at least 29)")
                    : "");
    std::system(("rm -rf '" + dir + "'").c_str());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Size floorSize;
    if (argc == 3 && std::strcmp(argv[1], "--floor") == 0 && ParseSize(argv[2], &floorSize))
        return RunFloor(floorSize.width, floorSize.height, Source(floorSize).c_str(), kQuality);
    signal(SIGPIPE, SIG_IGN);
    double window = argc > 1 ? std::atof(argv[1]) : 10;
    if (window < 2)
        window = 10;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    if (rounds < 1)
        rounds = 3;
    std::vector<Size> sizes;
    for (int i = 3; i < argc; ++i) {
        Size s;
        if (ParseSize(argv[i], &s))
            sizes.push_back(s);
    }
    if (sizes.empty())
        sizes = {{640, 480}, {1920, 1080}};
    std::printf("Processor time per published frame, 30 fps test source: %d rounds of steady "
                "%.0f s windows after %d frames, medians\n",
                rounds, window, kWarmupFrames);
    int rc = 0;
    for (const Size& size : sizes) {
        if (!RunSize(size, rounds, window))
            rc = 1;
    }
    return rc;
}
