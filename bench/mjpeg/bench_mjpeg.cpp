// A USB camera sending 1920x1080 MJPEG at 30 fps (the test camera of
// tests/uvcfake, preloaded, serving real JPEG frames), taken through a caption
// and a JPEG at quality 50, two ways side by side:
//   vizo    the program itself (build/vizo) in a continuous stream, FTP off,
//           unattended (-service: no window, as the tool has none); with
//           BENCH_WINDOW=1 in its window, the preview painting every frame
//   ffmpeg  the FFmpeg tool on the same camera: MJPEG decode, drawtext, one
//           JPEG rewritten atomically (-update 1 -atomic_writing 1)
// Processor time is the kernel's account of each whole process (the camera's
// own serving included in both), over a window of frames after a warm-up.
// The program's resident memory is read at the start, middle and end of
// each of its windows. Each round also times the floor: libjpeg-turbo alone
// decoding the same frames into planes and encoding them (floor.h).
// That camera sends 4:2:2, as most UVC cameras do; both write 4:2:0. With "420" a command
// source stands in for it instead: a clip of 1920x1080 4:2:0 MJPEG made at
// the start, sent at 30 fps by the FFmpeg tool copying it to its standard
// output (a child of the program, not counted); the FFmpeg row reads the
// same clip at the same pace.
//   bench_mjpeg [frames per window, default 900] [rounds, default 3] [420]
//   bench_mjpeg 10000 1      (memory over 10,000 frames)
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../benchmath.h"
#include "../stream/children.h"
#include "floor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <string>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;
constexpr int kQuality = 50;
constexpr long kWarmupFrames = 60;
constexpr long kFloorFrames = 150;
constexpr const char* kCard = "BenchCam";

std::string SelfDir()
{
    char path[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string p(path, n > 0 ? std::size_t(n) : 0);
    return p.substr(0, p.rfind('/'));
}

struct Sample {
    double cpuMs = 0;
    long rssKb = 0;
    Clock::time_point at;
};

bool Take(pid_t pid, Sample* s)
{
    s->at = Clock::now();
    return Account(pid, &s->cpuMs, &s->rssKb);
}

struct Run {
    bool ok = false;
    std::string failure;
    long frames = 0;
    Sample start, middle, end;
    double MsPerFrame() const { return frames > 0 ? (end.cpuMs - start.cpuMs) / frames : 0; }
    double Fps() const
    {
        const double s = std::chrono::duration<double>(end.at - start.at).count();
        return s > 0 ? double(frames) / s : 0;
    }
};

// Counts frames from the child's lines (count gives the running total, or -1)
// and samples the process at the warm-up, half way and the end of the window.
template <typename Count> Run Watch(Child& child, Count count, long window)
{
    Run r;
    const Clock::time_point spawned = Clock::now();
    long first = -1;
    bool halfway = false;
    std::string pending, last;
    char buffer[4096];
    while (true) {
        if (first < 0 && Clock::now() - spawned > std::chrono::seconds(60)) {
            r.failure = "no steady stream within 60 s; last line: " + last;
            return r;
        }
        pollfd p{child.fd, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0 || !(p.revents & (POLLIN | POLLHUP)))
            continue;
        const ssize_t n = read(child.fd, buffer, sizeof buffer);
        if (n <= 0) {
            r.failure = "the process ended early; last line: " + last;
            return r;
        }
        pending.append(buffer, std::size_t(n));
        for (std::size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
            last = pending.substr(0, eol);
            const long total = count(last);
            pending.erase(0, eol + 1);
            if (total < 0)
                continue;
            if (first < 0 && total >= kWarmupFrames) {
                first = total;
                Take(child.pid, &r.start);
            } else if (first >= 0 && !halfway && total - first >= window / 2) {
                halfway = Take(child.pid, &r.middle);
            } else if (first >= 0 && total - first >= window) {
                r.ok = Take(child.pid, &r.end);
                r.frames = total - first;
                return r;
            }
        }
    }
}

// The 4:2:0 clip and how each side reads it; empty when the fake camera is used.
struct Clip {
    std::string path;
    std::vector<std::string> Input() const
    {
        return {"-re", "-stream_loop", "-1", "-framerate", "30", "-f", "mjpeg", "-i", path};
    }
};

bool MakeClip(const std::string& dir, Clip* clip)
{
    clip->path = dir + "/clip.mjpeg";
    const std::string command =
        "ffmpeg -loglevel error -f lavfi -i testsrc2=size=1920x1080:rate=30 "
        "-frames:v 90 -pix_fmt yuvj420p -q:v 3 -f mjpeg -y '" +
        clip->path + "'";
    return std::system(command.c_str()) == 0;
}

bool WithWindow()
{
    const char* value = std::getenv("BENCH_WINDOW");
    return value && std::string(value) == "1";
}

Run RunVizo(const std::string& dir, long window, const Clip& clip)
{
    mkdir((dir + "/config").c_str(), 0700);
    mkdir((dir + "/config/Brindlecote").c_str(), 0700);
    std::ofstream conf(dir + "/config/Brindlecote/vizo.conf");
    // The caption is the default one: green, centred at the top, 18 points.
    conf << "[Dialup]\nUse%20Dialup=0\n"
         << "[FTP]\nServer=127.0.0.1:9\nUsername=bench\nPassword=bench\nUse%20FTP=0\n"
         << "[Path]\nLocal=" << dir << "/vizo.jpg\nQuality=" << kQuality << "\n"
         << "[Time]\nShow%20Time=1\n"
         << "[Upload]\nMode=2\nMax%20Fps=30\n24%20Hours=1\n"
         << "[Video%20Format]\n"
         << kCard << "=1920x1080x24 mjpeg@30\n";
    conf.close();
    chmod((dir + "/config/Brindlecote/vizo.conf").c_str(), 0600);
    std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "VIZO_LOG_EVERY_FRAME=1",
                                    "XDG_CONFIG_HOME=" + dir + "/config",
                                    "XDG_STATE_HOME=" + dir + "/state"};
    if (clip.path.empty()) {
        env.insert(env.end(), {"VIZO_VIDEO_DEVICE_DIR=" + dir + "/devices",
                               "LD_PRELOAD=" + SelfDir() + "/libuvcfake.so",
                               std::string("UVCFAKE_CARD=") + kCard, "VIZO_VIDEO_SOURCES="});
    } else {
        std::string command = "ffmpeg -nostdin -loglevel error";
        for (const std::string& a : clip.Input())
            command += " " + a;
        env.insert(env.end(), {"VIZO_VIDEO_DEVICE_DIR=" + dir + "/none",
                               "VIZO_VIDEO_SOURCES=Clip=exec:" + command + " -c copy -f mjpeg -"});
    }
    std::vector<std::string> args = {SelfDir() + "/vizo"};
    if (!WithWindow())
        args.push_back("-service");
    Child child = Spawn(args, env, 2, dir + "/vizo.out");
    long frames = 0;
    bool started = false;
    // Upload now as soon as it is idle; every published frame logs this line.
    Run r = Watch(
        child,
        [&](const std::string& line) {
            if (!started && line.find(" status: Idle") != std::string::npos)
                started = kill(child.pid, SIGUSR1) == 0;
            return line.find(" status: Succesful upload at ") != std::string::npos ? ++frames : -1L;
        },
        window);
    Stop(child);
    return r;
}

Run RunFfmpeg(const std::string& dir, long window, const Clip& clip)
{
    // The program's default caption: local time, 24 pixels, green, centred
    // 2 pixels below the top. -q:v 8 gives pictures about the size of the
    // program's at quality 50.
    const std::string caption = "drawtext=font=Arial:fontsize=24:fontcolor=lime:x=(w-tw)/2:y=2:"
                                "text='%{localtime\\:%B %d %Y %H\\\\\\:%M\\\\\\:%S}'";
    std::vector<std::string> args = {"ffmpeg", "-hide_banner", "-nostats", "-loglevel", "error"};
    std::vector<std::string> env;
    if (clip.path.empty()) {
        args.insert(args.end(), {"-f", "v4l2", "-input_format", "mjpeg", "-video_size", "1920x1080",
                                 "-framerate", "30", "-i", dir + "/devices/video0"});
        env = {"VIZO_VIDEO_DEVICE_DIR=" + dir + "/devices",
               "LD_PRELOAD=" + SelfDir() + "/libuvcfake.so", std::string("UVCFAKE_CARD=") + kCard};
    } else {
        const std::vector<std::string> input = clip.Input();
        args.insert(args.end(), input.begin(), input.end());
    }
    args.insert(args.end(), {"-vf", caption, "-q:v", "8", "-update", "1", "-atomic_writing", "1",
                             "-progress", "pipe:1", "-y", dir + "/ffmpeg.jpg"});
    Child child = Spawn(args, env, 1, dir + "/ffmpeg.out");
    Run r = Watch(
        child,
        [](const std::string& line) {
            return line.rfind("frame=", 0) == 0 ? std::atol(line.c_str() + 6) : -1L;
        },
        window);
    Stop(child);
    return r;
}

long FileBytes(const std::string& path)
{
    struct stat st {
    };
    return stat(path.c_str(), &st) == 0 ? long(st.st_size) : -1;
}

void Print(const char* name, const Run& r, bool memory)
{
    if (!r.ok) {
        std::printf("  %-6s failed: %s\n", name, r.failure.c_str());
        return;
    }
    std::printf("  %-6s %6.2f ms CPU per frame  %5.2f fps  %ld frames", name, r.MsPerFrame(),
                r.Fps(), r.frames);
    if (memory)
        std::printf("  resident %ld / %ld / %ld kB (start / middle / end)", r.start.rssKb,
                    r.middle.rssKb, r.end.rssKb);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv)
{
    signal(SIGPIPE, SIG_IGN);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    long window = argc > 1 ? std::atol(argv[1]) : 900;
    if (window < 60)
        window = 900;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    if (rounds < 1)
        rounds = 3;
    char pattern[] = "/tmp/bench_mjpeg.XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const std::string dir = pattern;
    mkdir((dir + "/devices").c_str(), 0700);
    std::ofstream(dir + "/devices/video0").close();
    Clip clip;
    if (argc > 3 && std::string(argv[3]) == "420" && !MakeClip(dir, &clip)) {
        std::printf("the 4:2:0 clip could not be made\n");
        return 1;
    }
    std::printf("1920x1080 MJPEG %s at 30 fps, caption, JPEG quality 50: %d round(s) of %ld "
                "frames after %ld; the program %s\n",
                clip.path.empty() ? "USB camera (4:2:2)" : "command source (4:2:0)", rounds, window,
                kWarmupFrames, WithWindow() ? "in its window" : "unattended (-service)");
    const JpegFrames frames = clip.path.empty() ? CameraFrames(1920, 1080) : SplitMjpeg(clip.path);
    std::vector<double> ratios, floorRatios;
    double lowestFps = 1e9;
    long rssGrowth = 0;
    bool ok = true;
    for (int i = 0; i < rounds && ok; ++i) {
        const Run vizo = RunVizo(dir, window, clip);
        const Run ffmpeg = RunFfmpeg(dir, window, clip);
        std::printf("round %d\n", i + 1);
        Print("vizo", vizo, true);
        Print("ffmpeg", ffmpeg, false);
        ok = vizo.ok && ffmpeg.ok;
        if (!ok)
            break;
        ratios.push_back(vizo.MsPerFrame() / ffmpeg.MsPerFrame());
        lowestFps = std::min(lowestFps, vizo.Fps());
        rssGrowth = std::max(rssGrowth, vizo.end.rssKb - vizo.start.rssKb);
        const double floorMs = FloorMsPerFrame(frames, kFloorFrames, kQuality);
        floorRatios.push_back(floorMs / ffmpeg.MsPerFrame());
        std::printf(
            "  floor  %6.2f ms CPU per frame (decode into planes and encode, nothing else)\n"
            "  vizo/ffmpeg %.2f  floor/ffmpeg %.2f\n",
            floorMs, ratios.back(), floorRatios.back());
    }
    if (!ok) {
        std::printf("logs in %s\n", dir.c_str());
        return 1;
    }
    const double ratio = Median(ratios);
    std::printf("vizo/ffmpeg median %.2f (target at most 0.6: %s)  lowest %.2f fps (target at "
                "least 29: %s)  resident growth at most %ld kB over %ld frames\n",
                ratio, ratio <= 0.6 ? "met" : "NOT met", lowestFps,
                lowestFps >= 29 ? "met" : "NOT met", rssGrowth, window);
    std::printf("floor/ffmpeg median %.2f: libjpeg-turbo's decode and encode alone\n",
                Median(floorRatios));
    std::printf("JPEG sizes: vizo %ld B, ffmpeg %ld B\n", FileBytes(dir + "/vizo.jpg"),
                FileBytes(dir + "/ffmpeg.jpg"));
    std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}
