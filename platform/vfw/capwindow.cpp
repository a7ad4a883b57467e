#include "capwindow.h"

#include "afx.h"
#include "clipboard.h"
#include "devicesetup.h"
#include "ffmpeg.h"
#include "formatdlg.h"
#include "globalmem.h"
#include "keeper.h"
#include "log.h"
#include "reader.h"
#include "sourcedlg.h"
#include "v4l2.h"

#include <QHash>
#include <QPaintEvent>
#include <QPainter>
#include <QSet>
#include <QTimer>
#include <algorithm>
#include <cstring>

namespace
{

QSet<const QWidget*>& LiveWindows()
{
    static QSet<const QWidget*> windows;
    return windows;
}

QHash<QString, FrameFormat>& ChosenFormats()
{
    static QHash<QString, FrameFormat> formats;
    return formats;
}

QString FormatKey(const CaptureDriver& d)
{
    return d.name + QLatin1Char('\n') + d.input;
}

template <typename Record> BOOL CopyRecord(const Record& record, WPARAM size, LPARAM target)
{
    if (!target || size == 0)
        return FALSE;
    std::memcpy(reinterpret_cast<void*>(target), &record,
                std::min<std::size_t>(size, sizeof record));
    return TRUE;
}

} // namespace

CaptureWindow::CaptureWindow(QWidget* parent)
    : QWidget(parent), m_keeper(new SourceKeeper(this)), m_timer(new QTimer(this))
{
    // Here, on the main thread, before a worker opens a source.
    InitFfmpeg();
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_keeper->SetWarmUpSetting(m_options.warmUpFrames);
    m_keeper->SetStateHandler([this](const QString& source, bool ok) { StateChanged(source, ok); });
    m_timer->setInterval(200);
    connect(m_timer, &QTimer::timeout, this, &CaptureWindow::RefreshPreview);
    LiveWindows().insert(this);
}

CaptureWindow::~CaptureWindow()
{
    LiveWindows().remove(this);
    Disconnect();
}

void CaptureWindow::SetOptions(const CaptureOptions& options)
{
    m_options = options;
    m_keeper->SetWarmUpSetting(options.warmUpFrames);
}

SourceReader* CaptureWindow::Reader() const
{
    return m_keeper->Reader();
}

CaptureWindow* CaptureWindow::Find(HWND hWnd)
{
    return hWnd && LiveWindows().contains(hWnd) ? static_cast<CaptureWindow*>(hWnd) : nullptr;
}

LRESULT CaptureWindow::Message(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_CAP_DRIVER_CONNECT:
        return Connect(wParam);
    case WM_CAP_DRIVER_DISCONNECT:
        Disconnect();
        return TRUE;
    case WM_CAP_DRIVER_GET_CAPS:
        return FillCaps(wParam, lParam);
    case WM_CAP_GET_STATUS:
        return FillStatus(wParam, lParam);
    case WM_CAP_SET_PREVIEW:
        return SetPreview(wParam != 0);
    case WM_CAP_SET_PREVIEWRATE:
        return SetPreviewRate(wParam);
    case WM_CAP_SET_OVERLAY:
        return FALSE; // no source has overlay
    case WM_CAP_GRAB_FRAME_NOSTOP:
        return Grab();
    case WM_CAP_EDIT_COPY:
        return CopyToClipboard();
    case WM_CAP_DLG_VIDEOFORMAT:
        return RunFormatDialog();
    case WM_CAP_DLG_VIDEOSOURCE:
        return RunSourceDialog();
    default:
        return 0;
    }
}

// A source that exists but cannot be opened now is reported as refused and
// then kept trying in the background, as one lost later would be.
BOOL CaptureWindow::Connect(WPARAM index)
{
    Disconnect();
    const QVector<CaptureDriver> drivers = ListCaptureDrivers();
    if (index >= WPARAM(drivers.size()) || drivers[int(index)].name.isEmpty())
        return FALSE;
    m_driver = drivers[int(index)];
    m_index = int(index);
    if (m_options.loadControls)
        SetSourceControls(m_driver.name, m_options.loadControls(m_driver.name));
    const FrameFormat format = StoredFormat(m_driver);
    QString error;
    if (!m_keeper->Open(m_driver, format, &error)) {
        LogLine("capture",
                QStringLiteral("Could not open video source '%1': %2.").arg(m_driver.name, error));
        m_keeper->KeepTrying(m_driver, format, error);
        return FALSE;
    }
    return TRUE;
}

void CaptureWindow::Disconnect()
{
    m_keeper->Close();
    m_index = -1;
    m_hasSourceDialog = false;
    m_grabbed.reset();
    m_previewSequence = 0;
    if (m_preview) {
        m_preview.reset();
        update();
    }
}

void CaptureWindow::StateChanged(const QString& source, bool ok)
{
    m_hasSourceDialog = ok && HasSourceDialog();
    if (!ok) {
        m_previewSequence = 0;
        RefreshPreview();
    }
    if (m_options.stateChanged)
        m_options.stateChanged(source, ok);
}

bool CaptureWindow::HasSourceDialog() const
{
    const CaptureDriver& d = m_keeper->Driver();
    return d.isDevice && !DeviceControls(d.input).isEmpty();
}

// The program's store, when it gave one, keeps formats across starts;
// without one a driver keeps its format while the program runs.
FrameFormat CaptureWindow::StoredFormat(const CaptureDriver& driver) const
{
    if (m_options.loadFormat)
        return m_options.loadFormat(driver.name);
    return ChosenFormats().value(FormatKey(driver));
}

void CaptureWindow::RememberFormat(const FrameFormat& format)
{
    m_keeper->SetFormat(format);
    if (m_options.saveFormat)
        m_options.saveFormat(m_driver.name, format);
    else
        ChosenFormats().insert(FormatKey(m_driver), format);
}

BOOL CaptureWindow::FillCaps(WPARAM size, LPARAM record) const
{
    if (!Reader())
        return FALSE;
    CAPDRIVERCAPS caps{};
    caps.wDeviceIndex = UINT(m_index);
    caps.fHasDlgVideoFormat = TRUE;
    caps.fHasDlgVideoSource = m_hasSourceDialog;
    caps.fCaptureInitialized = TRUE;
    return CopyRecord(caps, size, record);
}

BOOL CaptureWindow::FillStatus(WPARAM size, LPARAM record) const
{
    if (!Reader())
        return FALSE;
    const FrameFormat format = Reader()->Format();
    CAPSTATUS status{};
    status.uiImageWidth = UINT(format.width);
    status.uiImageHeight = UINT(format.height);
    status.fLiveWindow = m_timer->isActive();
    return CopyRecord(status, size, record);
}

BOOL CaptureWindow::SetPreview(bool on)
{
    if (!on)
        m_timer->stop();
    else if (!m_timer->isActive())
        m_timer->start();
    return Reader() != nullptr;
}

// Restarting the timer at every grab would starve the preview of a fast
// stream, so only a new rate restarts it.
BOOL CaptureWindow::SetPreviewRate(WPARAM milliseconds)
{
    const int rate = int(std::clamp<WPARAM>(milliseconds, 15, 60000));
    if (rate != m_timer->interval())
        m_timer->setInterval(rate);
    return Reader() != nullptr;
}

BOOL CaptureWindow::Grab()
{
    m_grabbed.reset();
    SourceReader* reader = Reader();
    return reader && reader->GrabNewest(m_grabbed);
}

// The grabbed frame never changes, so the clipboard shares it instead of
// holding a copy.
BOOL CaptureWindow::CopyToClipboard()
{
    if (!m_grabbed || m_grabbed->empty())
        return FALSE;
    HGLOBAL block = GlobalAllocShared(m_grabbed, m_grabbed->data(), m_grabbed->size());
    if (!block)
        return FALSE;
    if (!OpenClipboard(this)) {
        GlobalFree(block);
        return FALSE;
    }
    EmptyClipboard();
    const bool placed = SetClipboardData(CF_DIB, block) != nullptr;
    CloseClipboard();
    if (!placed)
        GlobalFree(block);
    return placed;
}

BOOL CaptureWindow::RunFormatDialog()
{
    SourceReader* reader = Reader();
    if (!reader)
        return FALSE;
    const FrameFormat current = reader->Format();
    const CaptureDriver& driver = m_keeper->Driver();
    const QList<QSize> deviceSizes =
        driver.isDevice ? DeviceFrameSizes(driver.input) : QList<QSize>();
    const QList<V4l2Mode> modes = driver.isDevice ? DeviceModes(driver.input) : QList<V4l2Mode>();
    FormatDialog dialog(
        OfferedSizes(deviceSizes, reader->NativeSize(), QSize(current.width, current.height)),
        modes, current, this);
    if (AfxRunModal(dialog) != QDialog::Accepted)
        return TRUE;
    const FrameFormat chosen = dialog.Chosen();
    if (chosen == current || chosen.width <= 0 || chosen.height <= 0)
        return TRUE;
    // The source may have been lost, and its reader with it, while the
    // dialog was open.
    if (!Reader()) {
        AfxMessageBox(QStringLiteral("Vizo lost capture device '%1' while its format was being "
                                     "chosen.\nThe format is unchanged.")
                          .arg(driver.name),
                      MB_ICONEXCLAMATION);
        return TRUE;
    }
    ApplyFormat(chosen, current);
    return TRUE;
}

// A device delivers the new size itself and is reopened; other sources are
// scaled. A device that refuses the size goes back to the format it had.
bool CaptureWindow::ApplyFormat(const FrameFormat& chosen, const FrameFormat& current)
{
    const CaptureDriver driver = m_keeper->Driver();
    const bool sameMode = chosen.width == current.width && chosen.height == current.height &&
                          chosen.encoding == current.encoding && chosen.fps == current.fps;
    if (!driver.isDevice || sameMode) {
        Reader()->SetFormat(chosen);
        RememberFormat(chosen);
        return true;
    }
    QString error;
    if (m_keeper->Open(driver, chosen, &error)) {
        RememberFormat(chosen);
        return true;
    }
    QString again;
    if (!m_keeper->Open(driver, current, &again))
        m_keeper->KeepTrying(driver, current, again);
    AfxMessageBox(QStringLiteral("Vizo could not set the video format %1 x %2 at %3 bits\n"
                                 "for capture device '%4':\n%5.\nThe previous format is kept.")
                      .arg(chosen.width)
                      .arg(chosen.height)
                      .arg(chosen.bitCount)
                      .arg(driver.name, error),
                  MB_ICONEXCLAMATION);
    return false;
}

BOOL CaptureWindow::RunSourceDialog()
{
    if (!Reader() || !m_hasSourceDialog)
        return FALSE;
    const QString source = m_keeper->Driver().name;
    SourceDialog dialog(m_keeper->Driver().input, this);
    if (AfxRunModal(dialog) != QDialog::Accepted) {
        dialog.Restore();
        return TRUE;
    }
    // Kept for every later open: a camera forgets its controls when unplugged.
    const QList<ControlSetting> controls = MergedControls(SourceControls(source), dialog.Changed());
    SetSourceControls(source, controls);
    if (m_options.saveControls && !dialog.Changed().isEmpty())
        m_options.saveControls(source, controls);
    return TRUE;
}

void CaptureWindow::RefreshPreview()
{
    SourceReader* reader = Reader();
    if (reader && reader->PeekNewest(m_preview, &m_previewSequence)) {
        update();
    } else if (m_preview && (!reader || !reader->IsDelivering())) {
        // A dead source shows no picture rather than a frozen one.
        m_preview.reset();
        update();
    }
}

void CaptureWindow::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    // Centred at its own size: a picture larger than the window is clipped,
    // and only the part being painted is converted. Black goes only where
    // the picture does not.
    const QSize size = m_preview ? DibImageSize(m_preview->data(), m_preview->size()) : QSize();
    const QPoint origin((width() - size.width()) / 2, (height() - size.height()) / 2);
    const QRect part = size.isEmpty() ? QRect() : event->rect().intersected(QRect(origin, size));
    const QImage image = part.isEmpty()
                             ? QImage()
                             : DibRegionToScreenImage(m_preview->data(), m_preview->size(),
                                                      part.translated(-origin));
    const QRegion black =
        image.isNull() ? QRegion(event->rect()) : QRegion(event->rect()).subtracted(part);
    for (const QRect& r : black)
        painter.fillRect(r, Qt::black);
    if (!image.isNull())
        painter.drawImage(part.topLeft(), image);
}

BOOL capSetCaptureOptions(QWidget* hWnd, const CaptureOptions& options)
{
    CaptureWindow* window = CaptureWindow::Find(hWnd);
    if (!window)
        return FALSE;
    window->SetOptions(options);
    return TRUE;
}
