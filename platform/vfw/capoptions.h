// Beyond the platform interface: what the program tells a capture window about
// keeping its source, and what the window tells back.
#pragma once

#include "dib.h"
#include "v4l2.h"
#include "wintypes.h"

#include <QString>
#include <functional>

class QWidget;

struct CaptureOptions {
    // Frames skipped after every open of a camera or network source.
    int warmUpFrames = 5;
    // The format stored for a source name; a zero size when none is.
    std::function<FrameFormat(const QString& source)> loadFormat;
    std::function<void(const QString& source, const FrameFormat& format)> saveFormat;
    // The camera controls stored for a source name, applied at every open.
    std::function<QList<ControlSetting>(const QString& source)> loadControls;
    std::function<void(const QString& source, const QList<ControlSetting>& controls)> saveControls;
    // Called on the GUI thread: false when the source was lost, true when it
    // was connected or came back.
    std::function<void(const QString& source, bool ok)> stateChanged;
};

// FALSE for a handle that is not a live capture window.
BOOL capSetCaptureOptions(QWidget* hWnd, const CaptureOptions& options);
