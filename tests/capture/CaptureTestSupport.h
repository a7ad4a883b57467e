// Shared by the capture tests: environment, driver lists, dialog answers, the
// main window over a camera.
#pragma once

#include "app/CCameraApp.h"
#include "dib.h"
#include "drivers.h"
#include "log.h"
#include "session/CCameraDlg.h"
#include "support/scopedenv.h"
#include "support/testsupport.h"
#include "vfw.h"

#include <QByteArray>
#include <QDialog>
#include <QTemporaryDir>
#include <QVector>
#include <cstdint>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

// The drivers of VIZO_VIDEO_SOURCES only: the device directory is an empty one.
// The driver list is taken again from them.
class ScopedSources
{
public:
    explicit ScopedSources(const QByteArray& sources);

private:
    QTemporaryDir m_devices;
    ScopedEnv m_dir;
    ScopedEnv m_sources;
};

// Replaces the driver list for the scope.
class ScopedDrivers
{
public:
    explicit ScopedDrivers(const QVector<CaptureDriver>& drivers);
    ~ScopedDrivers();
};

CaptureDriver Source(const QString& name, const QString& format, const QString& input);

// Answers the Format dialog with a size and depth.
ModalHandler ChooseFormat(int width, int height, int bitCount);

// The CF_DIB block on the private clipboard, copied out; empty when none.
std::vector<std::uint8_t> ClipboardDib();
BITMAPINFOHEADER HeaderOf(const std::vector<std::uint8_t>& dib);
// Bytes of pixel (x, y), y counted from the top of the picture.
const std::uint8_t* PixelAt(const std::vector<std::uint8_t>& dib, int x, int y);

// A listening TCP socket on 127.0.0.1 with a port of the system's choosing;
// -1 when none could be made. For stand-in servers of network cameras.
int ListenOnLoopback(int backlog, quint16* port);

// Resident memory of this process in kilobytes.
long ResidentKilobytes();

// Every log line, from any thread.
class LogLines
{
public:
    LogLines();
    ~LogLines();
    bool Has(const QString& part);
    QStringList Lines();

private:
    std::mutex m_mutex;
    QStringList m_lines;
    LogObserver m_previous;
};

// The main window over the settings store, with the camera states it reports
// ("NAME ok", "NAME lost") and the lines logged.
class CaptureWindowTest : public ::testing::Test
{
protected:
    CaptureWindowTest();
    ~CaptureWindowTest() override;
    // The capture window and the Video menu's drivers.
    void Create();
    // ... and the first driver connected, as start-up does.
    void Connect();
    // A frame newer than the last one taken.
    bool Grab();
    // Grabbed and copied out; empty when either fails.
    std::vector<std::uint8_t> GrabCopy();
    int Logged(const QString& part) const { return m_log.filter(part).size(); }

    // Before the window: it may report while it closes.
    QStringList m_states;
    QStringList m_log;
    LogObserver m_previous;
    ScopedConfigHome m_home;
    MessageBoxRecorder m_boxes;
    CCameraApp m_app;
    CCameraDlg m_dlg;
};

// Another start of the program over the same settings, its first driver connected.
struct RestartedWindow {
    RestartedWindow();
    ~RestartedWindow() { app.m_pMainWnd = nullptr; }
    bool Grab() { return SendMessageA(dlg.m_hWndCap, WM_CAP_GRAB_FRAME_NOSTOP, 0, 0); }

    CCameraApp app;
    CCameraDlg dlg;
};
