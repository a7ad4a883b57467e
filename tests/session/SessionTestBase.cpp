#include "SessionTestBase.h"

#include "platform/afx/log.h"
#include "res/resource.h"
#include "session/Schedule.h"

#include <QCoreApplication>
#include <QFile>
#include <QPushButton>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

namespace
{
const char* kSource = "Test pattern=lavfi:testsrc2=size=320x240:rate=30";
}

void SessionTest::SetUp()
{
    qputenv("VIZO_VIDEO_DEVICE_DIR", noDevices.path().toLocal8Bit());
    qputenv("VIZO_VIDEO_SOURCES", kSource);
    ASSERT_TRUE(server.Start()) << server.ErrorText().toStdString();
    app.SetRegistryKey(QStringLiteral("Brindlecote"));
    ASSERT_EQ(u.LoadInternetLibrary(), 0);
    u.m_bUseDialup = 0;
    u.m_bUseFtp = 1;
    UseServer(u, server);
    u.m_strRemotePath = QStringLiteral("cam.jpg");
    u.m_strLocalPath = Local(QStringLiteral("cam.jpg"));
    u.m_nQuality = 50;
    u.m_bShowTime = 1;
    u.m_strTimeFormat = QStringLiteral("%Y-%m-%d %H:%M:%S");
    u.m_strFontName = QStringLiteral("Arial");
    u.m_nFontPointSize = 120;
    u.m_crCaptionColor = 0x0000ff;
    u.m_nIntervalSecs = 900;
    u.m_b24Hours = 1;
    u.m_nNumSeries = 5;
    u.m_fMaxFps = 10;
    app.m_pMainWnd = &wnd;
    // Later status lines and clicks are matched against these triggers.
    m_previousObserver = SetLogObserver([this](const char* kind, const QString& text) {
        if (qstrcmp(kind, "status") == 0)
            status.lines << text;
        for (Trigger& t : m_triggers)
            if (!t.done && text.startsWith(t.prefix)) {
                t.done = true;
                t.action();
            }
    });
}

void SessionTest::TearDown()
{
    SetLogObserver(m_previousObserver);
    u.FreeInternetLibrary();
    qunsetenv("VIZO_VIDEO_SOURCES");
    qunsetenv("VIZO_VIDEO_DEVICE_DIR");
}

void SessionTest::RunSession()
{
    ModalAnswer modal([this](QDialog& d) {
        d.show();
        QCoreApplication::processEvents();
        EXPECT_GT(wnd.m_nDriverCount, 0);
        wnd.m_bPaused = 0; // a session started by the schedule is never paused
        status.clear();
        app.RunUploadSession();
        return IDCANCEL;
    });
    wnd.DoModal();
}

// Queued in the window system's input queue, as a real click is: blocked calls
// keep it waiting, and it reaches the button where the session dispatches input.
void SessionTest::PostClick(int buttonId)
{
    QWidget* button = wnd.GetDlgItem(buttonId);
    const QPoint centre(button->width() / 2, button->height() / 2);
    const QPointF local = button->mapTo(button->window(), centre);
    const QPointF global = button->mapToGlobal(centre);
    QWindow* window = button->window()->windowHandle();
    using Queued = QWindowSystemInterface::AsynchronousDelivery;
    QWindowSystemInterface::handleMouseEvent<Queued>(window, local, global, Qt::LeftButton,
                                                     Qt::LeftButton, QEvent::MouseButtonPress);
    QWindowSystemInterface::handleMouseEvent<Queued>(window, local, global, Qt::NoButton,
                                                     Qt::LeftButton, QEvent::MouseButtonRelease);
}

void SessionTest::OnStatus(const QString& prefix, std::function<void()> action)
{
    m_triggers.push_back({prefix, std::move(action), false});
}

QByteArray SessionTest::ReadLocal(const QString& name) const
{
    QFile f(Local(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList SessionTest::SessionLines() const
{
    const int start = status.lines.indexOf(QStringLiteral("Starting capture..."));
    return start < 0 ? QStringList() : status.lines.mid(start);
}

QString SessionTest::StartText() const
{
    return FormatTimeOfDay(app.m_timeLastStart);
}

bool SessionTest::IsJpeg(const QByteArray& bytes)
{
    return bytes.size() > 1000 && bytes.startsWith("\xff\xd8") && bytes.endsWith("\xff\xd9");
}
