#include "capwindow.h"

#include "afx.h"
#include "clipboard.h"
#include "formatdlg.h"
#include "globalmem.h"
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

// A driver keeps the format chosen for it while the program runs.
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

CaptureWindow::CaptureWindow(QWidget* parent) : QWidget(parent), m_timer(new QTimer(this))
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_timer->setInterval(200);
    connect(m_timer, &QTimer::timeout, this, &CaptureWindow::RefreshPreview);
    LiveWindows().insert(this);
}

CaptureWindow::~CaptureWindow()
{
    LiveWindows().remove(this);
    Disconnect();
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

BOOL CaptureWindow::Connect(WPARAM index)
{
    Disconnect();
    const QVector<CaptureDriver> drivers = ListCaptureDrivers();
    if (index >= WPARAM(drivers.size()) || drivers[int(index)].name.isEmpty())
        return FALSE;
    const CaptureDriver& driver = drivers[int(index)];
    auto reader = std::make_unique<SourceReader>();
    QString error;
    if (!reader->Open(driver, ChosenFormats().value(FormatKey(driver)), &error)) {
        LogLine("capture",
                QStringLiteral("Could not open video source '%1': %2.").arg(driver.name, error));
        return FALSE;
    }
    m_reader = std::move(reader);
    m_driver = driver;
    m_index = int(index);
    m_hasSourceDialog = driver.isDevice && !DeviceControls(driver.input).isEmpty();
    return TRUE;
}

void CaptureWindow::Disconnect()
{
    m_reader.reset();
    m_index = -1;
    m_hasSourceDialog = false;
    m_grabbed.reset();
    m_previewSequence = 0;
    if (m_preview) {
        m_preview.reset();
        update();
    }
}

BOOL CaptureWindow::FillCaps(WPARAM size, LPARAM record) const
{
    if (!m_reader)
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
    if (!m_reader)
        return FALSE;
    const FrameFormat format = m_reader->Format();
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
    return m_reader != nullptr;
}

// Restarting the timer at every grab would starve the preview of a fast
// stream, so only a new rate restarts it.
BOOL CaptureWindow::SetPreviewRate(WPARAM milliseconds)
{
    const int rate = int(std::clamp<WPARAM>(milliseconds, 15, 60000));
    if (rate != m_timer->interval())
        m_timer->setInterval(rate);
    return m_reader != nullptr;
}

BOOL CaptureWindow::Grab()
{
    m_grabbed.reset();
    return m_reader && m_reader->GrabNewest(m_grabbed);
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
    if (!m_reader)
        return FALSE;
    const FrameFormat current = m_reader->Format();
    const QList<QSize> deviceSizes =
        m_driver.isDevice ? DeviceFrameSizes(m_driver.input) : QList<QSize>();
    FormatDialog dialog(
        OfferedSizes(deviceSizes, m_reader->NativeSize(), QSize(current.width, current.height)),
        current, this);
    if (AfxRunModal(dialog) != QDialog::Accepted)
        return TRUE;
    const FrameFormat chosen = dialog.Chosen();
    if (chosen == current || chosen.width <= 0 || chosen.height <= 0)
        return TRUE;
    ChosenFormats().insert(FormatKey(m_driver), chosen);
    // A device delivers the new size itself; other sources are scaled.
    const bool reopen =
        m_driver.isDevice && (chosen.width != current.width || chosen.height != current.height);
    if (reopen)
        Connect(WPARAM(m_index));
    else
        m_reader->SetFormat(chosen);
    return TRUE;
}

BOOL CaptureWindow::RunSourceDialog()
{
    if (!m_reader || !m_hasSourceDialog)
        return FALSE;
    SourceDialog dialog(m_driver.input, this);
    if (AfxRunModal(dialog) != QDialog::Accepted)
        dialog.Restore();
    return TRUE;
}

void CaptureWindow::RefreshPreview()
{
    if (!m_reader)
        return;
    if (m_reader->PeekNewest(m_preview, &m_previewSequence)) {
        update();
    } else if (m_preview && !m_reader->IsDelivering()) {
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
    const QImage image = part.isEmpty() ? QImage()
                                        : DibRegionToImage(m_preview->data(), m_preview->size(),
                                                           part.translated(-origin));
    const QRegion black =
        image.isNull() ? QRegion(event->rect()) : QRegion(event->rect()).subtracted(part);
    for (const QRect& r : black)
        painter.fillRect(r, Qt::black);
    if (!image.isNull())
        painter.drawImage(part.topLeft(), image);
}
