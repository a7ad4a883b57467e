// Upload sessions at their rate limits: a continuous stream of 640x480 frames
// at Max fps 30 for 20 s, and a series of 40 frames at 2 fps, from the test
// source to a local FTP server. Reports achieved rate, this process's processor
// time (kernel accounting) per frame and per wall-clock second, and resident
// memory before and after.
#include "FtpTestServer.h"
#include "app/CCameraApp.h"
#include "platform/afx/afx.h"
#include "session/CCameraDlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

namespace
{

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long ResidentKb()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * 4 : -1;
}

struct Result {
    int frames;
    double wall, cpu;
    long rssBefore, rssAfter;
};

void Report(const char* what, const Result& r, double target, double cpuTarget)
{
    std::printf("%s\n", what);
    std::printf("  frames %d in %.2f s: %.2f fps (target at least %.0f)\n", r.frames, r.wall,
                r.frames / r.wall, target);
    std::printf("  processor time %.2f ms per frame, %.1f%% of one core (target under %.0f%%)\n",
                1000.0 * r.cpu / qMax(r.frames, 1), 100.0 * r.cpu / r.wall, cpuTarget);
    std::printf("  resident memory %ld kB before, %ld kB after (%+ld kB)\n", r.rssBefore,
                r.rssAfter, r.rssAfter - r.rssBefore);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir devices, local, config;
    qputenv("VIZO_VIDEO_DEVICE_DIR", devices.path().toLocal8Bit());
    qputenv("VIZO_VIDEO_SOURCES", "Test pattern=lavfi:testsrc2=size=640x480:rate=30");
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication qapp(argc, argv);
    FtpTestServer server;
    if (!server.Start()) {
        std::fprintf(stderr, "FTP server: %s\n", qPrintable(server.ErrorText()));
        return 1;
    }
    CCameraApp app;
    CUpload& u = app.m_upload;
    if (u.LoadInternetLibrary() != 0)
        return 1;
    u.m_strFtpServer = server.Address();
    u.m_strFtpUsername = server.User();
    u.m_strFtpPassword = server.Password();
    u.m_strRemotePath = QStringLiteral("cam.jpg");
    u.m_strLocalPath = local.filePath(QStringLiteral("cam.jpg"));
    u.m_bUseFtp = 1;
    u.m_b24Hours = 1;
    u.m_nQuality = 50;
    u.m_bShowTime = 1;
    u.m_strTimeFormat = QStringLiteral("%B %d %Y %H:%M:%S");
    u.m_strFontName = QStringLiteral("Arial");
    u.m_nFontPointSize = 180;
    u.m_crCaptionColor = 0x00ff00;
    CCameraDlg wnd;
    app.m_pMainWnd = &wnd;

    auto run = [&](int mode, float fps, int seriesFrames, int streamMs) {
        u.m_nUploadMode = mode;
        u.m_fMaxFps = fps;
        u.m_nNumSeries = seriesFrames;
        if (streamMs > 0)
            QTimer::singleShot(streamMs, [&] { app.OnAbortConnection(); });
        Result r{};
        r.rssBefore = ResidentKb();
        const double cpu0 = CpuSeconds();
        QElapsedTimer wall;
        wall.start();
        app.RunUploadSession();
        r.wall = wall.elapsed() / 1000.0;
        r.cpu = CpuSeconds() - cpu0;
        r.rssAfter = ResidentKb();
        return r;
    };

    int streamFrames = 0;
    AfxSetModalHandler([&](QDialog& d) {
        d.show();
        QApplication::processEvents();
        wnd.m_bPaused = 0;
        run(2, 30, 0, 2000); // warm-up
        const int before = server.CountCommands(QStringLiteral("STOR"));
        Result stream = run(2, 30, 0, 20000);
        streamFrames = server.CountCommands(QStringLiteral("STOR")) - before;
        stream.frames = streamFrames;
        Report("Continuous stream, 640x480, Max fps 30, 20 s:", stream, 29, 15);
        Result series = run(1, 2, 40, 0);
        series.frames = 40;
        Report("Series of 40 frames at 2 fps (capture phase and sending):", series, 0, 3);
        return IDCANCEL;
    });
    wnd.DoModal();
    u.FreeInternetLibrary();
    return streamFrames > 0 ? 0 : 1;
}
