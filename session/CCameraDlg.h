// The main window: live picture, menu, buttons, next-upload label, status bar,
// the 500 ms schedule timer, and the frame grab that the session drives.
#pragma once

#include "platform/vfw/vfw.h"
#include "platform/win/wintypes.h"

#include <QDialog>
#include <QIcon>
#include <QMap>
#include <QPixmap>
#include <ctime>

class CUpload;
class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QStatusBar;
class QFrame;

class CCameraDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CCameraDlg(QWidget* parent = nullptr);
    ~CCameraDlg() override;

    // Runs the window modally; the initialisation happens as it is shown.
    int DoModal();

    // Main window.
    void SetStatus(const QString& text);
    // The status bar only: a line the log has no room for (a stream's frames).
    void ShowStatusUnlogged(const QString& text);
    void RefreshStatusLine(std::time_t t);
    void ShowNextUpload(std::time_t t);
    void UpdatePauseState();
    void OnPause();
    void OnUploadNowButton();
    void OnAbortButton();

    // Controls and menu items by their resource identifiers.
    QWidget* GetDlgItem(int id) const;
    QAction* MenuItem(int id) const;
    void EnableMenuItem(int id, bool enable);
    void CheckMenuItem(int id, bool check);
    QMenu* VideoMenu() const { return m_menuVideo; }
    // The client area below the menu: parent of the controls and the capture window.
    QWidget* ClientWidget() const { return m_client; }
    // Pane 0 of the status bar: status, two tabs, clock.
    QString StatusText() const { return m_strStatusPane; }

    // Capture device.
    bool CreateCaptureWindow();
    void BuildDriverMenu();
    // After the configured sources changed: the chosen one stays chosen by
    // name, wherever its index moved.
    void RebuildDriverMenu();
    void ConnectDriver(int index);
    void CenterCaptureWindow();
    void UpdateDisplayMenu();
    void ResumeDisplay();
    void SuspendDisplay();
    // The connected source's state as the capture window last reported it.
    QString CameraSourceName() const { return m_strCameraSource; }
    bool IsCameraOk() const { return m_bCameraOk; }

    // Frame grab, caption and JPEG output.
    int GrabFrame(const QString& path);
    HGLOBAL StampCaption(HGLOBAL frame, std::time_t t, const CUpload& settings);

    QStatusBar* m_wndStatusBar = nullptr;
    QString m_strStatus;
    int m_bPaused = 0;
    int m_bStartMinimized = 0;
    QIcon m_hIcon;
    QPixmap m_bmpLogo;
    QPixmap m_bmpLogoMask;

    HWND m_hWndCap = nullptr;
    int m_nDriverCount = 0;
    int m_nVideoSource = 0;
    int m_bHasOverlay = 0;
    int m_bOverlay = 0;

protected:
    bool OnInitDialog();
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void OnDestroy();
    bool eventFilter(QObject* watched, QEvent* event) override;
    void PaintLogo();

signals:
    // A source was connected or came back (ok), or stopped delivering.
    void CameraStateChanged(const QString& source, bool ok);

public slots:
    void accept() override; // OK does nothing
    void reject() override; // Cancel ends the dialog

private:
    void CreateControls();
    void CreateMenu();
    void RouteCommand(int id);
    void SetUpDisplay();
    void OnCameraState(const QString& source, bool ok);

    bool m_bInitialised = false;
    bool m_bDestroyed = false;
    int m_nTimer = 0;
    QWidget* m_client = nullptr;
    QLabel* m_statusLeft = nullptr;
    QLabel* m_statusClock = nullptr;
    QString m_strStatusPane;
    QMenuBar* m_menuBar = nullptr;
    QMenu* m_menuVideo = nullptr;
    QMap<int, QAction*> m_menuItems;
    QMap<int, QWidget*> m_controls;
    QString m_strCameraSource;
    bool m_bCameraOk = false;
    bool m_bConnecting = false; // ConnectDriver sets the display up itself
};
