#include "CaptureTestSupport.h"

#include "clipboard.h"
#include "globalmem.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

ScopedSources::ScopedSources(const QByteArray& sources)
    : m_dir("VIZO_VIDEO_DEVICE_DIR", m_devices.path().toLocal8Bit()),
      m_sources("VIZO_VIDEO_SOURCES", sources)
{
    RefreshCaptureDrivers();
}

ScopedDrivers::ScopedDrivers(const QVector<CaptureDriver>& drivers)
{
    SetCaptureDriversForTesting(drivers);
}

ScopedDrivers::~ScopedDrivers()
{
    SetCaptureDriversForTesting(std::nullopt);
}

CaptureDriver Source(const QString& name, const QString& format, const QString& input)
{
    return {name, QStringLiteral("1.0"), format, input, false};
}

ModalHandler ChooseFormat(int width, int height, int bitCount)
{
    return [=](QDialog& dialog) {
        auto* size = dialog.findChild<QComboBox*>(QStringLiteral("size"));
        auto* depth = dialog.findChild<QComboBox*>(QStringLiteral("depth"));
        if (!size || !depth)
            return int(QDialog::Rejected);
        const int s = size->findData(QSize(width, height));
        const int d = depth->findData(bitCount);
        if (s < 0 || d < 0)
            return int(QDialog::Rejected);
        size->setCurrentIndex(s);
        depth->setCurrentIndex(d);
        return int(QDialog::Accepted);
    };
}

std::vector<std::uint8_t> ClipboardDib()
{
    std::vector<std::uint8_t> bytes;
    if (!OpenClipboard(nullptr))
        return bytes;
    HGLOBAL block = GetClipboardData(CF_DIB);
    if (auto* p = static_cast<const std::uint8_t*>(GlobalLock(block))) {
        bytes.assign(p, p + GlobalSize(block));
        GlobalUnlock(block);
    }
    CloseClipboard();
    return bytes;
}

BITMAPINFOHEADER HeaderOf(const std::vector<std::uint8_t>& dib)
{
    BITMAPINFOHEADER h{};
    if (dib.size() >= sizeof h)
        std::memcpy(&h, dib.data(), sizeof h);
    return h;
}

const std::uint8_t* PixelAt(const std::vector<std::uint8_t>& dib, int x, int y)
{
    const BITMAPINFOHEADER h = HeaderOf(dib);
    const int row = h.biHeight < 0 ? y : h.biHeight - 1 - y;
    const std::size_t offset = DibPixelOffset(h.biBitCount) +
                               DibStride(h.biWidth, h.biBitCount) * std::size_t(row) +
                               std::size_t(x) * (h.biBitCount / 8);
    return offset < dib.size() ? dib.data() + offset : nullptr;
}

long ResidentKilobytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

int ListenOnLoopback(int backlog, quint16* port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(fd, backlog) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    *port = ntohs(a.sin_port);
    return fd;
}

LogLines::LogLines()
{
    m_previous = SetLogObserver([this](const char*, const QString& text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines << text;
    });
}

LogLines::~LogLines()
{
    SetLogObserver(m_previous);
}

bool LogLines::Has(const QString& part)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_lines.filter(part).isEmpty();
}

QStringList LogLines::Lines()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

CaptureWindowTest::CaptureWindowTest()
{
    m_app.SetRegistryKey(QStringLiteral("Brindlecote"));
    m_app.m_pMainWnd = &m_dlg;
    m_previous = SetLogObserver([this](const char*, const QString& text) { m_log << text; });
    QObject::connect(&m_dlg, &CCameraDlg::CameraStateChanged,
                     [this](const QString& source, bool ok) {
                         m_states << source + (ok ? QStringLiteral(" ok") : " lost");
                     });
}

CaptureWindowTest::~CaptureWindowTest()
{
    SetLogObserver(m_previous);
    m_app.m_pMainWnd = nullptr;
}

void CaptureWindowTest::Create()
{
    ASSERT_TRUE(m_dlg.CreateCaptureWindow());
    m_dlg.BuildDriverMenu();
}

void CaptureWindowTest::Connect()
{
    Create();
    if (!HasFatalFailure())
        m_dlg.ConnectDriver(0);
}

bool CaptureWindowTest::Grab()
{
    return SendMessageA(m_dlg.m_hWndCap, WM_CAP_GRAB_FRAME_NOSTOP, 0, 0);
}

std::vector<std::uint8_t> CaptureWindowTest::GrabCopy()
{
    if (!Grab() || !SendMessageA(m_dlg.m_hWndCap, WM_CAP_EDIT_COPY, 0, 0))
        return {};
    return ClipboardDib();
}

RestartedWindow::RestartedWindow()
{
    app.SetRegistryKey(QStringLiteral("Brindlecote"));
    app.m_pMainWnd = &dlg;
    if (dlg.CreateCaptureWindow()) {
        dlg.BuildDriverMenu();
        dlg.ConnectDriver(0);
    }
}
