// What the upload benchmarks share: the files sent, the engine sending them
// over one connection with the time of each.
#pragma once

#include "FtpTestUtil.h"
#include "benchmath.h"
#include "net/CUpload.h"
#include "net/Ftp.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

constexpr int kBenchFiles = 200;
constexpr int kBenchFileBytes = 100 * 1024;

// The files a benchmark sends, in a folder of their own.
struct BenchFiles {
    QTemporaryDir local;
    QStringList paths;
    QList<QByteArray> contents;

    // Writes them and says how they go; false when one cannot be written.
    bool Make(const char* how)
    {
        for (int i = 0; i < kBenchFiles; ++i) {
            contents << RandomBytes(kBenchFileBytes, unsigned(i + 1));
            paths << local.filePath(QString::asprintf("f%03d.jpg", i));
            if (!WriteLocalFile(paths.last(), contents.last()))
                return false;
        }
        std::printf("%d files of %d KB to local servers, %s\n", kBenchFiles, kBenchFileBytes / 1024,
                    how);
        return true;
    }
};

// Sends file i as "t%03d.jpg" with Transfer over one connection of an engine
// that configure points at the server.
inline bool SendWithTransfer(const std::function<void(CUpload&)>& configure,
                             const QStringList& paths, std::vector<double>* ms)
{
    CUpload upload;
    if (upload.LoadInternetLibrary() != 0) {
        std::fprintf(stderr, "cannot load the Internet layer\n");
        return false;
    }
    configure(upload);
    upload.m_bQuietTransfer = 1;
    bool ok = upload.Connect();
    for (int i = 0; ok && i < paths.size(); ++i) {
        QElapsedTimer clock;
        clock.start();
        ok = upload.Transfer(paths[i], QString::asprintf("t%03d.jpg", i), FTP_TRANSFER_TYPE_BINARY);
        ms->push_back(clock.nsecsElapsed() / 1e6);
    }
    upload.Disconnect();
    upload.FreeInternetLibrary();
    return ok;
}

// Whether the server holds every file under its name (a format of its index).
inline bool AllStored(const std::function<QByteArray(QString)>& read,
                      const QList<QByteArray>& contents, const char* format)
{
    for (int i = 0; i < contents.size(); ++i)
        if (read(QString::asprintf(format, i)) != contents[i])
            return false;
    return true;
}
