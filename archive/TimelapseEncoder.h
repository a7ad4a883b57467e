// One H.264 MP4 from a list of JPEG pictures, one frame in memory at a time.
#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <vector>

struct TimelapseOutcome {
    bool ok = false;
    int frames = 0; // frames written
    int width = 0, height = 0;
    QStringList skipped; // unreadable pictures, "path: reason"
    QString error;       // why no video was made
};

// Writes output (an .mp4, fast start, yuv420p, libx264). progress(done,
// total) is called after each picture; cancel stops between pictures. The
// first readable picture fixes the size (rounded down to even); later ones
// of another size are scaled to it.
TimelapseOutcome EncodeTimelapse(const std::vector<QString>& pictures, const QString& output,
                                 int fps, const std::function<void(int, int)>& progress,
                                 const std::atomic<bool>* cancel);

// Reopens a finished video and reads it through: the index and every frame,
// each decoded unless decode is false (a quick look on a busy thread).
// expectedFrames > 0 must match. False with the reason.
bool CheckVideo(const QString& path, int expectedFrames, const std::atomic<bool>* cancel,
                QString* reason, bool decode = true);

// The encoder's settings, shared with the benchmark so that it compares
// like with like.
inline constexpr const char* kTimelapsePreset = "veryfast";
inline constexpr int kTimelapseCrf = 23;
