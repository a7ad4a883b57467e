// Archive folders with pictures of chosen times, and videos read back.
#pragma once

#include "archive/ArchiveNames.h"
#include "archive/ArchivePorts.h"
#include "support/testsupport.h"

#include <QString>
#include <QTemporaryDir>
#include <ctime>
#include <gtest/gtest.h>

inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

bool WriteFile(const QString& path, const QByteArray& bytes);
// Empty when the file cannot be read.
QByteArray ReadAll(const QString& path);
// A copy of source at path (its folder made), modified at t.
bool PutPicture(const QString& source, const QString& path, std::time_t t);
bool SetModified(const QString& path, std::time_t t);
// A file as the archive writes it: recorded beside it, modified at t.
bool WriteRecorded(const QString& path, const QByteArray& bytes, std::time_t t);
// Every file below dir (links included, not followed) but the archive's
// bookkeeping, relative, sorted.
QStringList FilesBelow(const QString& dir);

// JPEG pictures from the lavfi test source, made once per test program.
QString TestPicture(int index); // 320x240, index 0..39
QString OddSizedPicture();      // 162x122

struct VideoInfo {
    QString codec, pixelFormat;
    int width = 0, height = 0, frames = 0;
    double fps = 0;
    bool moovFirst = false; // the index ahead of the frames
};
// Read back with the libraries; false when the file does not open as a video.
bool ReadVideo(const QString& path, VideoInfo* info);

// A layout with the default name pattern below dir/%Y-%m-%d.
ArchiveLayout LayoutIn(const QString& dir);

// In UTC, with an archive of the default layout below a fresh folder.
class ArchiveTest : public ::testing::Test
{
protected:
    ScopedTimeZone tz{"UTC"};
    QTemporaryDir dir;
    ArchiveLayout layout = LayoutIn(dir.filePath("archive"));
};

class CCameraApp;
class FtpTestServer;
// The program's uploads go to the started server, which has a timelapse folder.
void PublishThrough(CCameraApp& app, FtpTestServer& server);

// The archive's ports, recorded; publishing answers as told, the clock and
// the state folder are the test's.
class RecordingPorts : public ArchivePorts
{
public:
    QStringList lines, published, states, queue;
    bool uploadsOn = false, busy = false, publishOk = true;
    std::function<void()> onPublish;
    QTemporaryDir state;
    std::time_t now = 0;

    void Status(const QString& text) override { lines << text; }
    void Log(const QString& text) override { lines << text; }
    bool UploadsOn() const override { return uploadsOn; }
    bool EngineBusy() const override { return busy; }
    bool Publish(const QString& local, const QString& remote) override
    {
        published << local + " -> " + remote;
        if (onPublish)
            onPublish();
        return publishOk;
    }
    void ArchiveStateChanged(bool ok, const QString& reason) override
    {
        states << (ok ? QStringLiteral("ok") : QStringLiteral("failing: ") + reason);
    }
    void QueueChanged(int length, std::time_t oldest) override
    {
        queue << QStringLiteral("%1 since %2").arg(length).arg(qint64(oldest));
    }
    QString StateFolder() const override { return state.path(); }
    std::time_t Now() const override { return now; }
};
