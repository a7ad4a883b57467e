#include "session/CCameraDlg.h"

#include "CaptureSend.h"
#include "SourceFormats.h"
#include "app/CCameraApp.h"
#include "config/SettingsKeys.h"
#include "platform/afx/afx.h"
#include "platform/afx/log.h"
#include "platform/vfw/capoptions.h"
#include "platform/vfw/drivers.h"
#include "res/resource.h"

#include <QAction>
#include <QMenu>
#include <algorithm>

namespace
{

// The picture area of the main window's client area.
constexpr int kAreaLeft = 2;
constexpr int kAreaTop = 2;
constexpr int kAreaWidth = 384;
constexpr int kAreaHeight = 288;
constexpr WPARAM kPreviewRateMs = 200;

// Centred in the picture area; a larger picture is clipped to the area (the
// capture window shows its middle) instead of covering the controls.
QRect CenteredIn(int width, int height)
{
    const int w = std::min(width, kAreaWidth);
    const int h = std::min(height, kAreaHeight);
    return {kAreaLeft + (kAreaWidth - w) / 2, kAreaTop + (kAreaHeight - h) / 2, w, h};
}

bool IsDriverIndex(int index)
{
    return index >= 0 && index < 10;
}

// The settings store keeps the warm-up and each source's format across starts.
CaptureOptions StoredCaptureOptions(CCameraApp* app)
{
    CaptureOptions options;
    if (!app)
        return options;
    options.warmUpFrames = app->GetProfileInt(Keys::WarmUpFrames.section, Keys::WarmUpFrames.entry,
                                              Keys::WarmUpFrames.def);
    options.loadFormat = [app](const QString& source) {
        const QString text = app->GetProfileString(
            Keys::VideoFormatSection, SourceFormatEntry(source).constData(), QString());
        FrameFormat format{};
        QString problem;
        if (!text.isEmpty() && !ParseSourceFormat(text, &format, &problem))
            LogLine("capture", QStringLiteral("The stored video format '%1' of '%2' is not "
                                              "WIDTHxHEIGHTxBITS; the source's own is used.")
                                   .arg(text, source));
        else if (!problem.isEmpty())
            LogLine("capture",
                    QStringLiteral("The stored video format of '%1': %2.").arg(source, problem));
        return format;
    };
    options.saveFormat = [app](const QString& source, const FrameFormat& format) {
        app->WriteProfileString(Keys::VideoFormatSection, SourceFormatEntry(source).constData(),
                                SourceFormatText(format));
    };
    options.loadControls = [app](const QString& source) {
        const QString text = app->GetProfileString(
            Keys::VideoControlsSection, SourceFormatEntry(source).constData(), QString());
        QStringList problems;
        const QList<ControlSetting> controls = ParseControlSettings(text, &problems);
        if (!problems.isEmpty())
            LogLine("capture", QStringLiteral("The stored camera controls of '%1' hold '%2', "
                                              "which is not ID=VALUE; it is skipped.")
                                   .arg(source, problems.join(QStringLiteral("', '"))));
        return controls;
    };
    // Pieces that could not be read stay, for the user to mend by hand.
    options.saveControls = [app](const QString& source, const QList<ControlSetting>& controls) {
        const QByteArray entry = SourceFormatEntry(source);
        QStringList kept;
        ParseControlSettings(
            app->GetProfileString(Keys::VideoControlsSection, entry.constData(), QString()), &kept);
        kept.prepend(ControlSettingsText(controls));
        app->WriteProfileString(Keys::VideoControlsSection, entry.constData(),
                                kept.join(QLatin1Char(',')));
    };
    return options;
}

} // namespace

bool CCameraDlg::CreateCaptureWindow()
{
    m_hWndCap =
        capCreateCaptureWindowA("VizoCapWnd", WS_CHILD | WS_VISIBLE, kAreaLeft, kAreaTop,
                                kAreaWidth, kAreaHeight, ClientWidget(), IDC_CAPTURE_WINDOW);
    if (!m_hWndCap)
        return false;
    CaptureOptions options = StoredCaptureOptions(AfxGetApp());
    options.stateChanged = [this](const QString& source, bool ok) { OnCameraState(source, ok); };
    capSetCaptureOptions(m_hWndCap, options);
    return true;
}

// A source that comes back after a refused connection still has the empty
// capabilities and the shrunken window of that refusal.
void CCameraDlg::OnCameraState(const QString& source, bool ok)
{
    const bool wasOk = m_bCameraOk;
    m_strCameraSource = source;
    m_bCameraOk = ok;
    if (ok && !wasOk && !m_bConnecting) {
        SetUpDisplay();
        if (isMinimized())
            SuspendDisplay(); // restoring the window turns it on again
    }
    emit CameraStateChanged(source, ok);
}

void CCameraDlg::BuildDriverMenu()
{
    QMenu* video = VideoMenu();
    m_nDriverCount = 0;
    // Items and the stored index connect from this list, so a camera plugged
    // in later cannot shift an item onto another source.
    RefreshCaptureDrivers();
    for (const DriverDescription& driver : DescribeCaptureDrivers()) {
        const int id = ID_VIDEO_DRIVER0 + driver.index;
        auto* item = new QAction(driver.name, video);
        item->setData(id);
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, [this, id] { RouteCommand(id); });
        video->insertAction(video->actions().value(0, nullptr), item);
        m_menuItems.insert(id, item);
        ++m_nDriverCount;
    }
}

void CCameraDlg::RebuildDriverMenu()
{
    const QVector<CaptureDriver> before = ListCaptureDrivers();
    const bool had = m_nVideoSource >= 0 && m_nVideoSource < before.size();
    const CaptureDriver chosen = had ? before[m_nVideoSource] : CaptureDriver{};
    for (int i = 0; i < 10; ++i)
        delete m_menuItems.take(ID_VIDEO_DRIVER0 + i);
    BuildDriverMenu();
    const QVector<CaptureDriver> after = ListCaptureDrivers();
    int index = m_nVideoSource;
    for (int i = 0; i < after.size(); ++i)
        if (!chosen.name.isEmpty() && after[i].name == chosen.name)
            index = i;
    const bool same = index >= 0 && index < after.size() && after[index].name == chosen.name &&
                      after[index].format == chosen.format && after[index].input == chosen.input;
    // A source removed leaves its index to whatever stands there now, as a
    // camera unplugged between runs does.
    if (same && index == m_nVideoSource)
        CheckMenuItem(ID_VIDEO_DRIVER0 + index, true);
    else if (m_nDriverCount > 0)
        ConnectDriver(index);
}

void CCameraDlg::ConnectDriver(int index)
{
    CapSend(m_hWndCap, WM_CAP_DRIVER_DISCONNECT);
    m_bConnecting = true;
    const bool connected = CapSend(m_hWndCap, WM_CAP_DRIVER_CONNECT, WPARAM(index & 0xffff));
    m_bConnecting = false;
    if (!connected) {
        AfxMessageBox(QStringLiteral("Vizo could not connect to capture device\n'%1'!")
                          .arg(CaptureDriverName(index & 0xffff)),
                      MB_ICONSTOP);
        MoveWindow(m_hWndCap, kAreaWidth / 2, kAreaHeight / 2, 0, 0, TRUE);
    }
    // A stored index out of range must not touch the items that follow the
    // driver identifiers.
    if (IsDriverIndex(m_nVideoSource))
        CheckMenuItem(ID_VIDEO_DRIVER0 + m_nVideoSource, false);
    SetUpDisplay();
    if (IsDriverIndex(index))
        CheckMenuItem(ID_VIDEO_DRIVER0 + index, true);
    if (index != m_nVideoSource) {
        if (CCameraApp* app = AfxGetApp())
            app->WriteProfileInt(Keys::VideoSource.section, Keys::VideoSource.entry, index);
        m_nVideoSource = index;
    }
}

void CCameraDlg::SetUpDisplay()
{
    m_bHasOverlay = 0;
    m_bOverlay = 0;
    CAPDRIVERCAPS caps{};
    CapSend(m_hWndCap, WM_CAP_DRIVER_GET_CAPS, sizeof caps, reinterpret_cast<LPARAM>(&caps));
    m_bHasOverlay = caps.fHasOverlay ? 1 : 0;
    if (m_bHasOverlay)
        m_bOverlay = CapSend(m_hWndCap, WM_CAP_SET_OVERLAY, 1) ? 1 : 0;
    if (!m_bOverlay) {
        CapSend(m_hWndCap, WM_CAP_SET_PREVIEW, 1);
        CapSend(m_hWndCap, WM_CAP_SET_PREVIEWRATE, kPreviewRateMs);
    }
    UpdateDisplayMenu();
    EnableMenuItem(ID_VIDEO_DISPLAY, caps.fHasDlgVideoDisplay);
    EnableMenuItem(ID_VIDEO_SOURCE, caps.fHasDlgVideoSource);
    EnableMenuItem(ID_VIDEO_FORMAT, caps.fHasDlgVideoFormat);
    CenterCaptureWindow();
}

void CCameraDlg::CenterCaptureWindow()
{
    CAPSTATUS status{};
    if (!CapSend(m_hWndCap, WM_CAP_GET_STATUS, sizeof status, reinterpret_cast<LPARAM>(&status)))
        return;
    const QRect r = CenteredIn(int(std::min<UINT>(status.uiImageWidth, 0x7fff)),
                               int(std::min<UINT>(status.uiImageHeight, 0x7fff)));
    MoveWindow(m_hWndCap, r.x(), r.y(), r.width(), r.height(), TRUE);
}

void CCameraDlg::UpdateDisplayMenu()
{
    EnableMenuItem(ID_VIDEO_OVERLAY, m_bHasOverlay);
    CheckMenuItem(ID_VIDEO_OVERLAY, m_bOverlay);
    CheckMenuItem(ID_VIDEO_PREVIEW, !m_bOverlay);
}

void CCameraDlg::ResumeDisplay()
{
    if (!m_hWndCap)
        return;
    if (m_bOverlay) {
        CapSend(m_hWndCap, WM_CAP_SET_OVERLAY, 1);
    } else {
        CapSend(m_hWndCap, WM_CAP_SET_PREVIEW, 1);
        CapSend(m_hWndCap, WM_CAP_SET_PREVIEWRATE, kPreviewRateMs);
    }
}

void CCameraDlg::SuspendDisplay()
{
    if (!m_hWndCap)
        return;
    CapSend(m_hWndCap, m_bOverlay ? WM_CAP_SET_OVERLAY : WM_CAP_SET_PREVIEW, 0);
}
