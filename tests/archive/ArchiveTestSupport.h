// Archive folders with pictures of chosen times, and videos read back.
#pragma once

#include "archive/ArchiveNames.h"
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
bool SetModified(const QString& path, std::time_t t);
// Every file below dir (links included, not followed), relative, sorted.
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
