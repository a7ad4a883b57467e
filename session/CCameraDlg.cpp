#include "CCameraDlg.h"

#include "Schedule.h"
#include "app/CCameraApp.h"
#include "platform/afx/afx.h"
#include "platform/afx/blockedinput.h"
#include "platform/afx/dlgunits.h"
#include "platform/afx/log.h"
#include "res/resource.h"

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QVBoxLayout>

namespace
{
// A stream changes the status text with every frame. A size hint that followed
// the text would re-run the status bar's layout and lay the text out once more
// each time; the bar's width is set by the window, so the text gets what is
// left beside the clock whatever its length.
class StatusLabel : public QLabel
{
public:
    using QLabel::QLabel;
    QSize sizeHint() const override { return minimumSizeHint(); }
    QSize minimumSizeHint() const override
    {
        const QMargins m = contentsMargins();
        return {m.left() + m.right(), fontMetrics().height() + m.top() + m.bottom()};
    }
};
} // namespace

CCameraDlg::CCameraDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Vizo"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(DialogFont());
    m_hIcon = QIcon(QStringLiteral(":/res/vizo.png"));
    m_bmpLogo = QPixmap(QStringLiteral(":/res/logo.png"));
    m_bmpLogoMask = QPixmap(QStringLiteral(":/res/logomask.png"));
    CreateMenu();
    CreateControls();
    InstallBlockedInputFilter();
}

CCameraDlg::~CCameraDlg()
{
    OnDestroy();
}

void CCameraDlg::CreateMenu()
{
    m_menuBar = new QMenuBar(this);
    auto item = [this](QMenu* menu, const char* text, int id) {
        QAction* action = menu->addAction(QString::fromLatin1(text));
        action->setData(id);
        connect(action, &QAction::triggered, this, [this, id] { RouteCommand(id); });
        m_menuItems.insert(id, action);
    };
    QMenu* file = m_menuBar->addMenu(QStringLiteral("&File"));
    item(file, "&Settings", ID_FILE_SETTINGS);
    file->addSeparator();
    item(file, "E&xit", ID_APP_EXIT);
    QMenu* session = m_menuBar->addMenu(QStringLiteral("&Session"));
    item(session, "&Upload now", ID_SESSION_UPLOADNOW);
    item(session, "&Abort connection", ID_SESSION_ABORT);
    m_menuVideo = m_menuBar->addMenu(QStringLiteral("&Video"));
    m_menuVideo->addSeparator();
    item(m_menuVideo, "&Source", ID_VIDEO_SOURCE);
    item(m_menuVideo, "&Format", ID_VIDEO_FORMAT);
    item(m_menuVideo, "&Display", ID_VIDEO_DISPLAY);
    m_menuVideo->addSeparator();
    item(m_menuVideo, "&Preview", ID_VIDEO_PREVIEW);
    item(m_menuVideo, "&Overlay", ID_VIDEO_OVERLAY);
    // Separators stay visible even while no driver item stands above them.
    m_menuVideo->setSeparatorsCollapsible(false);
    QMenu* help = m_menuBar->addMenu(QStringLiteral("&Help"));
    item(help, "&Contents", ID_HELP_FINDER);
    item(help, "&Vizo home page (online)", ID_HELP_HOMEPAGE);
    help->addSeparator();
    item(help, "&About", ID_APP_ABOUT);
    EnableMenuItem(ID_SESSION_ABORT, false);
    m_menuItems[ID_SESSION_ABORT]->setProperty(kAbortsBlockedCall, true);
    auto* f1 = new QShortcut(QKeySequence::HelpContents, this);
    connect(f1, &QShortcut::activated, this, [this] { RouteCommand(ID_HELP); });
    for (int id : {ID_VIDEO_PREVIEW, ID_VIDEO_OVERLAY})
        m_menuItems[id]->setCheckable(true);
}

void CCameraDlg::CreateControls()
{
    const DialogUnits du(font());
    m_client = new QWidget(this);
    m_client->setFixedSize(du.x(312), du.y(190));
    m_client->installEventFilter(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(m_menuBar);
    layout->addWidget(m_client);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto button = [this, &du](int id, const char* text, int y) {
        auto* b = new QPushButton(QString::fromLatin1(text), m_client);
        b->setGeometry(du.rect(260, y, 50, 14));
        m_controls.insert(id, b);
        return b;
    };
    QPushButton* upload = button(IDC_UPLOAD_NOW, "&Upload now", 148);
    upload->setDefault(true);
    connect(upload, &QPushButton::clicked, this, &CCameraDlg::OnUploadNowButton);
    QPushButton* abort = button(IDC_ABORT, "&Abort...", 164);
    abort->setProperty(kAbortsBlockedCall, true);
    abort->setEnabled(false);
    connect(abort, &QPushButton::clicked, this, &CCameraDlg::OnAbortButton);
    QPushButton* pause = button(IDC_PAUSE, "&Pause", 132);
    connect(pause, &QPushButton::clicked, this, &CCameraDlg::OnPause);

    auto* label = new QLabel(QStringLiteral("Next upload\nscheduled at:"), m_client);
    label->setGeometry(du.rect(263, 97, 44, 18));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_controls.insert(IDC_NEXT_LABEL, label);
    auto* next = new QLabel(m_client);
    next->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    next->setGeometry(du.rect(266, 116, 36, 11));
    m_controls.insert(IDC_NEXT_UPLOAD, next);
    auto* logo = new QFrame(m_client);
    logo->setGeometry(du.rect(271, 14, 21, 26));
    logo->hide();
    m_controls.insert(IDC_LOGO, logo);
}

QWidget* CCameraDlg::GetDlgItem(int id) const
{
    return m_controls.value(id, nullptr);
}
QAction* CCameraDlg::MenuItem(int id) const
{
    return m_menuItems.value(id, nullptr);
}

void CCameraDlg::EnableMenuItem(int id, bool enable)
{
    if (QAction* a = MenuItem(id))
        a->setEnabled(enable);
}

void CCameraDlg::CheckMenuItem(int id, bool check)
{
    if (QAction* a = MenuItem(id)) {
        a->setCheckable(true);
        a->setChecked(check);
    }
}

// Driver items go to the capture part first; every command then reaches the
// application's command table.
void CCameraDlg::RouteCommand(int id)
{
    if (id >= ID_VIDEO_DRIVER0 && id <= ID_VIDEO_DRIVER9)
        ConnectDriver(id - ID_VIDEO_DRIVER0);
    if (CCameraApp* app = AfxGetApp())
        app->OnCommand(id);
}

int CCameraDlg::DoModal()
{
    if (!OnInitDialog()) {
        OnDestroy();
        return result();
    }
    const int code = AfxRunModal(*this);
    OnDestroy();
    return code;
}

// False when the dialog ended during its initialisation.
bool CCameraDlg::OnInitDialog()
{
    setWindowIcon(m_hIcon);
    UpdatePauseState();
    if (!CreateCaptureWindow()) {
        AfxMessageBox(QStringLiteral("Could not create capture windows!"));
        setResult(1);
        return false;
    }
    BuildDriverMenu();
    if (m_nDriverCount == 0) {
        AfxMessageBox(QStringLiteral("Your system does not have a\nvideo capture device "
                                     "installed.\nVizo will run, but will not be able\nto grab "
                                     "and upload any images."),
                      MB_ICONSTOP);
        m_bPaused = 1;
        UpdatePauseState();
    } else {
        ConnectDriver(m_nVideoSource);
    }
    m_nTimer = startTimer(500);
    m_wndStatusBar = new QStatusBar(m_client);
    m_wndStatusBar->setSizeGripEnabled(false);
    m_statusLeft = new StatusLabel(m_wndStatusBar);
    m_statusClock = new QLabel(m_wndStatusBar);
    m_wndStatusBar->addWidget(m_statusLeft, 1);
    m_wndStatusBar->addPermanentWidget(m_statusClock);
    const int barHeight = m_wndStatusBar->sizeHint().height();
    m_wndStatusBar->setGeometry(0, m_client->height() - barHeight, m_client->width(), barHeight);
    m_wndStatusBar->show();
    SetStatus(QStringLiteral("Idle"));
    if (CCameraApp* app = AfxGetApp()) {
        app->OnScheduleTick(0);
        ShowNextUpload(app->m_timeNextUpload);
    }
    if (m_bStartMinimized)
        setWindowState(windowState() | Qt::WindowMinimized);
    m_bInitialised = true;
    return true;
}

void CCameraDlg::SetStatus(const QString& text)
{
    LogStatus(text);
    ShowStatusUnlogged(text);
}

void CCameraDlg::ShowStatusUnlogged(const QString& text)
{
    m_strStatus = text;
    RefreshStatusLine(CCameraApp::Now());
}

void CCameraDlg::RefreshStatusLine(std::time_t t)
{
    const QString clock = FormatTimeOfDay(t);
    m_strStatusPane = m_strStatus + QStringLiteral("\t\t") + clock;
    if (!m_wndStatusBar)
        return;
    m_statusLeft->setText(m_strStatus);
    m_statusClock->setText(clock);
}

void CCameraDlg::ShowNextUpload(std::time_t t)
{
    if (auto* label = qobject_cast<QLabel*>(GetDlgItem(IDC_NEXT_UPLOAD)))
        label->setText(FormatTimeOfDay(t));
}

void CCameraDlg::UpdatePauseState()
{
    if (auto* b = qobject_cast<QPushButton*>(GetDlgItem(IDC_PAUSE)))
        b->setText(m_bPaused ? QStringLiteral("&Resume") : QStringLiteral("&Pause"));
    for (int id : {IDC_NEXT_UPLOAD, IDC_NEXT_LABEL})
        if (QWidget* w = GetDlgItem(id))
            w->setEnabled(!m_bPaused);
}

void CCameraDlg::OnPause()
{
    m_bPaused = !m_bPaused;
    UpdatePauseState();
}

void CCameraDlg::OnUploadNowButton()
{
    if (CCameraApp* app = AfxGetApp())
        app->OnUploadNow();
}

void CCameraDlg::OnAbortButton()
{
    if (CCameraApp* app = AfxGetApp())
        app->m_upload.Abort();
}
