// The main window's event handlers: timer, size, move, paint, close.
#include "CCameraDlg.h"

#include "app/CCameraApp.h"
#include "config/SettingsKeys.h"
#include "platform/afx/afx.h"
#include "res/resource.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QWindowStateChangeEvent>

void CCameraDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
}

void CCameraDlg::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_nTimer)
        return QDialog::timerEvent(event);
    const std::time_t t = CCameraApp::Now();
    RefreshStatusLine(t);
    if (CCameraApp* app = AfxGetApp()) {
        app->OnScheduleTick(t);
        app->m_archive.Tick(t);
    }
}

void CCameraDlg::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    const Qt::WindowStates now = windowState();
    CCameraApp* app = AfxGetApp();
    if (now & Qt::WindowMaximized) {
        // The layout is fixed: the window never stays maximized.
        setWindowState(now & ~(Qt::WindowMaximized | Qt::WindowFullScreen));
        return;
    }
    if (now & Qt::WindowMinimized) {
        if (m_hWndCap)
            SuspendDisplay();
        if (app)
            app->WriteProfileInt(Keys::Minimized.section, Keys::Minimized.entry, 1);
    } else if (change->oldState() & Qt::WindowMinimized) {
        if (m_hWndCap)
            ResumeDisplay();
        if (app)
            app->WriteProfileInt(Keys::Minimized.section, Keys::Minimized.entry, 0);
    }
}

void CCameraDlg::moveEvent(QMoveEvent* event)
{
    QDialog::moveEvent(event);
    if (m_hWndCap && m_bInitialised)
        ResumeDisplay();
}

void CCameraDlg::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
}

bool CCameraDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_client && event->type() == QEvent::Paint)
        PaintLogo();
    return QDialog::eventFilter(watched, event);
}

// The logo goes through its mask: AND with the mask, then OR with the picture.
void CCameraDlg::PaintLogo()
{
    QWidget* frame = GetDlgItem(IDC_LOGO);
    if (!frame || m_bmpLogo.isNull())
        return;
    QPainter painter(m_client);
    const QRect target(frame->geometry().topLeft(), QSize(42, 52));
    if (!m_bmpLogoMask.isNull()) {
        painter.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
        painter.drawPixmap(target, m_bmpLogoMask);
        painter.setCompositionMode(QPainter::RasterOp_SourceOrDestination);
    }
    painter.drawPixmap(target, m_bmpLogo);
}

void CCameraDlg::closeEvent(QCloseEvent* event)
{
    event->ignore();
    reject();
}

void CCameraDlg::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        reject();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CCameraDlg::accept() {}

void CCameraDlg::reject()
{
    done(IDCANCEL);
}

// After this no session can start: the driver is let go and the timer stops.
void CCameraDlg::OnDestroy()
{
    if (m_bDestroyed)
        return;
    m_bDestroyed = true;
    if (m_hWndCap && IsWindow(m_hWndCap))
        SendMessageA(m_hWndCap, WM_CAP_DRIVER_DISCONNECT, 0, 0);
    if (m_nTimer) {
        killTimer(m_nTimer);
        m_nTimer = 0;
    }
}
