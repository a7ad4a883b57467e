// Trying a source once, off the window's thread: what the Cameras page's Test
// shows.
#pragma once

#include "drivers.h"

#include <QSize>
#include <QString>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

class SourceReader;

struct ProbeResult {
    bool ok = false;
    QSize size;
    QString encoding;
    QString error; // passwords masked
};
// "640x480, mjpeg" or the reason it failed, for people.
QString ProbeResultText(const ProbeResult& result);

// One try, on its own thread, owned jointly by the caller and that thread so
// that a caller who gives up need not wait for it.
class SourceProbe
{
public:
    static std::shared_ptr<SourceProbe> Start(const CaptureDriver& driver);
    // True once the result is in.
    bool Done() const { return m_done; }
    ProbeResult Result() const;
    // Makes the try give up soon; its result is then of no interest.
    void Cancel();

private:
    void Run(const CaptureDriver& driver);

    std::atomic<bool> m_done{false};
    std::atomic<bool> m_cancelled{false};
    mutable std::mutex m_mutex;
    ProbeResult m_result;
    SourceReader* m_reader = nullptr; // while the try runs; guarded by m_mutex
};
