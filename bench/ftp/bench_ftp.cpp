// Sends 200 files of 100 KB with Transfer over one connection, then the same
// files with the curl command-line tool (one process, connection and login per
// file, the same temporary name and rename), to the same local server, and
// prints the median time per file of each and their ratio.
#include "FtpTestServer.h"
#include "FtpTestUtil.h"
#include "net/CUpload.h"
#include "net/Ftp.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{

constexpr int kFiles = 200;
constexpr int kFileBytes = 100 * 1024;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool SendWithTransfer(const FtpTestServer& server, const QStringList& paths,
                      std::vector<double>* ms)
{
    CUpload upload;
    if (upload.LoadInternetLibrary() != 0) {
        std::fprintf(stderr, "cannot load the Internet layer\n");
        return false;
    }
    upload.m_strFtpServer = server.Address();
    upload.m_strFtpUsername = server.User();
    upload.m_strFtpPassword = server.Password();
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

bool SendWithCurl(const FtpTestServer& server, const QStringList& paths, std::vector<double>* ms)
{
    for (int i = 0; i < paths.size(); ++i) {
        QString name = QString::asprintf("c%03d.jpg", i);
        QString temporary = name + QStringLiteral(".t00");
        QStringList args{"--disable",
                         "-sS",
                         "--noproxy",
                         "*",
                         "--ftp-port",
                         "-",
                         "-u",
                         server.User() + ":" + server.Password(),
                         "-T",
                         paths[i],
                         QStringLiteral("ftp://%1/%2").arg(server.Address(), temporary),
                         "-Q",
                         "-RNFR " + temporary,
                         "-Q",
                         "-RNTO " + name};
        QElapsedTimer clock;
        clock.start();
        QProcess curl;
        curl.setProcessChannelMode(QProcess::ForwardedChannels);
        curl.start(QStringLiteral("curl"), args);
        if (!curl.waitForFinished(60000) || curl.exitCode() != 0) {
            std::fprintf(stderr, "curl failed on file %d\n", i);
            return false;
        }
        ms->push_back(clock.nsecsElapsed() / 1e6);
    }
    return true;
}

bool AllStored(const FtpTestServer& server, const QList<QByteArray>& contents, const char* format)
{
    for (int i = 0; i < contents.size(); ++i)
        if (server.ReadFile(QString::asprintf(format, i)) != contents[i])
            return false;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    NoProxyEnvironment noProxy;
    FtpTestServer server;
    QTemporaryDir local;
    if (!server.Start() || !local.isValid()) {
        std::fprintf(stderr, "%s\n", qPrintable(server.ErrorText()));
        return 1;
    }
    QStringList paths;
    QList<QByteArray> contents;
    for (int i = 0; i < kFiles; ++i) {
        contents << RandomBytes(kFileBytes, unsigned(i + 1));
        paths << local.filePath(QString::asprintf("f%03d.jpg", i));
        if (!WriteLocalFile(paths.last(), contents.last()))
            return 1;
    }

    std::vector<double> transferMs, curlMs;
    if (!SendWithTransfer(server, paths, &transferMs))
        return 1;
    int logins = server.CountCommands("USER");
    if (!SendWithCurl(server, paths, &curlMs))
        return 1;
    if (!AllStored(server, contents, "t%03d.jpg") || !AllStored(server, contents, "c%03d.jpg") ||
        server.ListFiles().size() != 2 * kFiles) {
        std::fprintf(stderr, "the server does not hold exactly the files sent\n");
        return 1;
    }

    double transfer = Median(transferMs), viaCurl = Median(curlMs);
    std::printf("%d files of %d KB to a local server, active mode, temporary name and rename\n",
                kFiles, kFileBytes / 1024);
    std::printf("Transfer over one connection (%d login): median %.2f ms/file\n", logins, transfer);
    std::printf("curl command line, one per file:          median %.2f ms/file\n", viaCurl);
    std::printf("ratio Transfer/curl: %.3f (target at most 0.3)\n", transfer / viaCurl);
    return 0;
}
