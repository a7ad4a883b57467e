// Building a timelapse of N 640x480 pictures (default 1000) beside the FFmpeg
// command-line tool doing the same (image sequence in, libx264, same preset
// and quality), each in a process of its own so that processor time and peak
// resident memory are the process's whole. Rounds alternate the two; the
// medians are reported. A quarter-length run shows whether memory grows with
// the number of pictures.
//   bench_timelapse [pictures, default 1000] [rounds, default 3]
#include "archive/TimelapseEncoder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace
{
struct Cost {
    double cpuSecs = 0, wallSecs = 0, peakMb = 0;
    int status = -1;
};

double Secs(const timeval& t)
{
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

double Now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

Cost Run(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    Cost c;
    const double start = Now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return c;
    rusage ru{};
    int status = 0;
    wait4(pid, &status, 0, &ru);
    c.wallSecs = Now() - start;
    c.cpuSecs = Secs(ru.ru_utime) + Secs(ru.ru_stime);
    c.peakMb = double(ru.ru_maxrss) / 1024.0;
    c.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return c;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Child: our builder over the first count pictures of the folder.
int Encode(const QString& folder, int count, const QString& output)
{
    std::vector<QString> pictures;
    for (int i = 1; i <= count; ++i)
        pictures.push_back(folder + QString::asprintf("/p%06d.jpg", i));
    const TimelapseOutcome r = EncodeTimelapse(pictures, output, 25, nullptr, nullptr);
    if (!r.ok || r.frames != count) {
        std::fprintf(stderr, "build failed: %s (%d frames)\n", qPrintable(r.error), r.frames);
        return 1;
    }
    return 0;
}

struct Series {
    std::vector<double> cpu, wall, peak;
    void Add(const Cost& c)
    {
        cpu.push_back(c.cpuSecs);
        wall.push_back(c.wallSecs);
        peak.push_back(c.peakMb);
    }
};

void Report(const char* name, const Series& s)
{
    std::printf("%-30s cpu %7.2f s   wall %7.2f s   peak RSS %7.1f MB\n", name, Median(s.cpu),
                Median(s.wall), *std::max_element(s.peak.begin(), s.peak.end()));
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 5 && std::string(argv[1]) == "--encode")
        return Encode(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]),
                      QString::fromLocal8Bit(argv[4]));
    const int count = argc > 1 ? std::max(8, std::atoi(argv[1])) : 1000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    std::printf("making %d pictures of 640x480 from the test source...\n", count);
    std::fflush(stdout);
    const Cost made = Run({"ffmpeg", "-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                           "testsrc2=size=640x480:rate=25", "-frames:v", std::to_string(count),
                           "-q:v", "3", folder + "/p%06d.jpg"});
    if (made.status != 0) {
        std::fprintf(stderr, "ffmpeg could not make the pictures\n");
        return 1;
    }
    const std::string self = QCoreApplication::applicationFilePath().toStdString();
    const std::string ours = folder + "/ours.mp4", theirs = folder + "/theirs.mp4",
                      short_ = folder + "/quarter.mp4";
    Series o, t, quarter;
    for (int r = 0; r < rounds; ++r) {
        const Cost a = Run({self, "--encode", folder, std::to_string(count), ours});
        const Cost b = Run({"ffmpeg",
                            "-hide_banner",
                            "-loglevel",
                            "error",
                            "-y",
                            "-framerate",
                            "25",
                            "-i",
                            folder + "/p%06d.jpg",
                            "-c:v",
                            "libx264",
                            "-preset",
                            kTimelapsePreset,
                            "-crf",
                            std::to_string(kTimelapseCrf),
                            "-pix_fmt",
                            "yuv420p",
                            "-movflags",
                            "+faststart",
                            theirs});
        const Cost c = Run({self, "--encode", folder, std::to_string(count / 4), short_});
        if (a.status != 0 || b.status != 0 || c.status != 0) {
            std::fprintf(stderr, "a run failed (%d %d %d)\n", a.status, b.status, c.status);
            return 1;
        }
        o.Add(a);
        t.Add(b);
        quarter.Add(c);
    }
    std::printf("%d pictures, %d rounds, preset %s, crf %d\n", count, rounds, kTimelapsePreset,
                kTimelapseCrf);
    Report("vizo timelapse builder", o);
    Report("ffmpeg command line", t);
    const std::string q = "vizo, a quarter of the pictures";
    Report(q.c_str(), quarter);
    std::printf("processor time ratio (vizo / ffmpeg): %.2f (target <= 1.10)\n",
                Median(o.cpu) / Median(t.cpu));
    std::printf("video sizes: vizo %lld bytes, ffmpeg %lld bytes\n",
                (long long)QFile(QString::fromStdString(ours)).size(),
                (long long)QFile(QString::fromStdString(theirs)).size());
    return 0;
}
