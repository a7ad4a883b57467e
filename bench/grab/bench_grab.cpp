// How much a whole grab (grab, caption, JPEG at quality 50, swap) costs beside
// the JPEG encode alone of the same frame at the same quality, and whether
// memory stays flat over many grabs. Frames come from test sources through
// the capture window, as a camera's would.
//   bench_grab [grabs for the memory run, default 10000] [copy of the last
//   640x480 picture]
#include "../benchmath.h"
#include "app/CCameraApp.h"
#include "platform/afx/afx.h"
#include "platform/jpeg/jpegwriter.h"
#include "platform/vfw/drivers.h"
#include "platform/win/clipboard.h"
#include "platform/win/globalmem.h"
#include "session/CCameraDlg.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

namespace
{

struct Size {
    int width, height;
    const char* source;
};
const Size kSizes[] = {{640, 480, "Bench 640x480"}, {1920, 1080, "Bench 1920x1080"}};
constexpr int kQuality = 50;

// The upper of the middle two for an even count, as this benchmark has
// always reported.
double UpperMedian(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// Wall and processor milliseconds of each run of a step.
struct Samples {
    std::vector<double> wall, cpu;
    template <typename Step> auto Time(Step&& step)
    {
        QElapsedTimer t;
        const double c = ThreadCpuMs();
        t.start();
        const auto result = step();
        wall.push_back(t.nsecsElapsed() / 1e6);
        cpu.push_back(ThreadCpuMs() - c);
        return result;
    }
    double Median(bool processor) const { return UpperMedian(processor ? cpu : wall); }
};

long ResidentKb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

int DriverIndex(const char* name)
{
    for (const DriverDescription& driver : DescribeCaptureDrivers())
        if (driver.name == QString::fromUtf8(name))
            return driver.index;
    return -1;
}

// The frame the last grab left on the clipboard, as bytes.
std::vector<unsigned char> ClipboardFrame(const void* owner)
{
    std::vector<unsigned char> bytes;
    if (!OpenClipboard(owner))
        return bytes;
    if (HGLOBAL h = GetClipboardData(CF_DIB)) {
        const auto* p = static_cast<const unsigned char*>(GlobalLock(h));
        bytes.assign(p, p + GlobalSize(h));
        GlobalUnlock(h);
    }
    CloseClipboard();
    return bytes;
}

// The encoder alone, at its best: one handle, an output buffer made once.
class EncodeOnly
{
public:
    explicit EncodeOnly(const std::vector<unsigned char>& frame) : m_frame(frame)
    {
        std::memcpy(&m_h, frame.data(), sizeof m_h);
        m_height = std::abs(m_h.biHeight);
        m_buffer.resize(tjBufSize(m_h.biWidth, m_height, TJSAMP_420));
    }
    ~EncodeOnly() { tjDestroy(m_tj); }
    bool Run()
    {
        if (m_h.biBitCount != 24)
            return false;
        unsigned char* out = m_buffer.data();
        unsigned long size = m_buffer.size();
        const int stride = (m_h.biWidth * 3 + 3) & ~3;
        const int order = m_h.biHeight > 0 ? TJFLAG_BOTTOMUP : 0;
        return tjCompress2(m_tj, m_frame.data() + m_h.biSize, m_h.biWidth, stride, m_height,
                           TJPF_BGR, &out, &size, TJSAMP_420, kQuality,
                           order | TJFLAG_NOREALLOC) == 0;
    }

private:
    const std::vector<unsigned char>& m_frame;
    BITMAPINFOHEADER m_h;
    int m_height = 0;
    tjhandle m_tj = tjInitCompress();
    std::vector<unsigned char> m_buffer;
};

class Bench
{
public:
    Bench(const QString& dest) : m_dest(dest)
    {
        m_app.m_pMainWnd = &m_dlg;
        CUpload& s = m_app.m_upload;
        s.m_bShowTime = 1;
        s.m_strTimeFormat = QStringLiteral("%Y-%m-%d\\n%H:%M:%S");
        s.m_strFontName = QStringLiteral("Arial");
        s.m_nFontPointSize = 180;
        s.m_crCaptionColor = RGB(255, 0, 0);
        s.m_nCaptionHorzPos = 2;
        s.m_nCaptionVertPos = 2;
        s.m_nQuality = kQuality;
        m_dlg.CreateCaptureWindow();
        m_dlg.BuildDriverMenu();
    }
    ~Bench() { m_app.m_pMainWnd = nullptr; }

    // Connects the source and waits for its first frame.
    bool Connect(const Size& size)
    {
        const int index = DriverIndex(size.source);
        if (index < 0) {
            std::printf("  no driver named \"%s\"\n", size.source);
            return false;
        }
        m_dlg.ConnectDriver(index);
        QElapsedTimer wait;
        wait.start();
        while (wait.elapsed() < 15000) {
            if (Grab())
                return true;
            QThread::msleep(20);
        }
        std::printf("  no frame from \"%s\": %s\n", size.source, qPrintable(m_dlg.m_strStatus));
        return false;
    }

    // Between grabs the session pumps messages; so does the bench, untimed.
    bool Grab()
    {
        QCoreApplication::processEvents();
        return m_dlg.GrabFrame(m_dest) != 0;
    }

    // Interleaved, so that the machine's other load falls on all alike. Wall
    // time counts the moments this thread waits for a core on a busy machine;
    // the thread's processor time does not, and is what a grab costs the
    // machine. The parts of a grab are timed on their own as well.
    void Timing(const Size& size, int samples)
    {
        const std::vector<unsigned char> frame = ClipboardFrame(this);
        EncodeOnly encode(frame);
        const QByteArray part = QFile::encodeName(m_dest + QStringLiteral(".part"));
        Samples grab, alone, capture, caption, writer;
        int failures = 0;
        for (int i = 0; i < samples; ++i) {
            QCoreApplication::processEvents();
            failures += !grab.Time([&] { return m_dlg.GrabFrame(m_dest); });
            failures += !alone.Time([&] { return encode.Run(); });
            failures += !capture.Time([&] {
                return SendMessageA(m_dlg.m_hWndCap, WM_CAP_GRAB_FRAME_NOSTOP, 0, 0) &&
                       SendMessageA(m_dlg.m_hWndCap, WM_CAP_EDIT_COPY, 0, 0);
            });
            HGLOBAL stamped = caption.Time([&] { return StampClipboardFrame(); });
            ::unlink(part.constData()); // a file rewritten in place costs a flush
            failures += writer.Time([&] {
                return jpeg_write_file(stamped, part.constData(), kQuality);
            }) != 0;
            GlobalFree(stamped);
        }
        ::unlink(part.constData());
        std::printf("  %dx%d, %d samples, %d failures\n", size.width, size.height, samples,
                    failures);
        for (bool cpu : {false, true}) {
            const double g = grab.Median(cpu), e = alone.Median(cpu);
            std::printf("    %-15s GrabFrame %6.2f ms   encode alone %6.2f ms   ratio %.2f\n",
                        cpu ? "processor time" : "wall clock", g, e, e > 0 ? g / e : 0.0);
        }
        std::printf("    parts alone (processor time): capture grab+copy %.2f ms, caption %.2f "
                    "ms, writer %.2f ms\n",
                    capture.Median(true), caption.Median(true), writer.Median(true));
    }

    void Memory(int total)
    {
        int failures = 0, done = 0;
        for (; done < 100; ++done)
            failures += !Grab();
        const long after100 = ResidentKb();
        for (; done < total; ++done)
            failures += !Grab();
        const long afterAll = ResidentKb();
        std::printf("  resident after 100 grabs %ld kB, after %d grabs %ld kB, growth %ld kB "
                    "(%d failures)\n",
                    after100, total, afterAll, afterAll - after100, failures);
    }

private:
    HGLOBAL StampClipboardFrame()
    {
        HGLOBAL stamped = nullptr;
        if (OpenClipboard(this)) {
            stamped =
                m_dlg.StampCaption(GetClipboardData(CF_DIB), CCameraApp::Now(), m_app.m_upload);
            CloseClipboard();
        }
        return stamped;
    }

    QString m_dest;
    CCameraApp m_app;
    CCameraDlg m_dlg;
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Paced to real time so that the reader thread does not eat a core.
    QByteArray sources;
    for (const Size& s : kSizes)
        sources += QByteArray(s.source) + "=lavfi:testsrc2=size=" + QByteArray::number(s.width) +
                   "x" + QByteArray::number(s.height) + ":rate=25,realtime;";
    qputenv("VIZO_VIDEO_SOURCES", sources);
    QApplication qapp(argc, argv);
    const int memoryGrabs = argc > 1 ? std::max(100, std::atoi(argv[1])) : 10000;
    AfxSetMessageBoxHandler([](const QString& text, unsigned) {
        std::printf("  message: %s\n", qPrintable(text));
        return IDOK;
    });
    QTemporaryDir dir;
    const QString dest = QDir(dir.path()).filePath(QStringLiteral("bench.jpg"));
    std::printf("GrabFrame (grab, red two-line caption, JPEG quality %d, swap) against the "
                "TurboJPEG encode alone of the same frame; medians\n",
                kQuality);
    int rc = 0;
    for (const Size& size : kSizes) {
        Bench bench(dest);
        if (!bench.Connect(size)) {
            rc = 1;
            continue;
        }
        bench.Timing(size, size.width > 1000 ? 200 : 500);
        if (size.width < 1000)
            bench.Memory(memoryGrabs);
        if (size.width < 1000 && argc > 2) {
            QFile::remove(QString::fromLocal8Bit(argv[2]));
            QFile::copy(dest, QString::fromLocal8Bit(argv[2]));
        }
    }
    std::printf("targets: ratio at most 1.3 at both sizes; memory growth under 1024 kB\n");
    return rc;
}
