// For WebDAV (Apache httpd) and S3-compatible storage (s3rver): sends 200 files
// of 100 KB with Transfer over one connection, then the same files with the
// curl command-line tool (one process and connection per file, the same PUT
// straight to the final name, signed the same way), to the same local server,
// and prints the median time per file of each and their ratio.
#include "DavTestServer.h"
#include "FtpTestUtil.h"
#include "S3TestServer.h"
#include "net/CUpload.h"
#include "net/Ftp.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace
{

constexpr int kFiles = 200;
constexpr int kFileBytes = 100 * 1024;

struct Target {
    QString url, user, password;
    int protocol;
    // What curl needs beyond the URL and the file for one of them.
    std::function<QStringList(const QByteArray& content)> curlOptions;
    std::function<QByteArray(const QString&)> read; // the server's view
};

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool SendWithTransfer(const Target& server, const QStringList& paths, std::vector<double>* ms)
{
    CUpload upload;
    if (upload.LoadInternetLibrary() != 0) {
        std::fprintf(stderr, "cannot load the Internet layer\n");
        return false;
    }
    upload.m_strFtpServer = server.url;
    upload.m_strFtpUsername = server.user;
    upload.m_strFtpPassword = server.password;
    upload.m_ftpTransport.nProtocol = server.protocol;
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

bool SendWithCurl(const Target& server, const QStringList& paths, const QList<QByteArray>& contents,
                  std::vector<double>* ms)
{
    for (int i = 0; i < paths.size(); ++i) {
        QStringList args{"--disable",
                         "-sS",
                         "--fail",
                         "--noproxy",
                         "*",
                         "-u",
                         server.user + ":" + server.password};
        args << server.curlOptions(contents[i]) << "-H"
             << "Cache-Control: no-cache"
             << "-T" << paths[i] << server.url + QString::asprintf("/c%03d.jpg", i);
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

bool AllStored(const Target& server, const QList<QByteArray>& contents, const char* format)
{
    for (int i = 0; i < contents.size(); ++i)
        if (server.read(QString::asprintf(format, i)) != contents[i])
            return false;
    return true;
}

bool Measure(const char* title, const Target& server, const QStringList& paths,
             const QList<QByteArray>& contents, double* worst)
{
    std::vector<double> ours, curl;
    if (!SendWithTransfer(server, paths, &ours) || !SendWithCurl(server, paths, contents, &curl))
        return false;
    if (!AllStored(server, contents, "t%03d.jpg") || !AllStored(server, contents, "c%03d.jpg")) {
        std::fprintf(stderr, "%s: the server does not hold the files sent\n", title);
        return false;
    }
    const double ratio = Median(ours) / Median(curl);
    std::printf("%-8s Transfer %7.2f ms/file   curl %7.2f ms/file   ratio %.3f\n", title,
                Median(ours), Median(curl), ratio);
    *worst = std::max(*worst, ratio);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    NoProxyEnvironment noProxy;
    QTemporaryDir local;
    QStringList paths;
    QList<QByteArray> contents;
    for (int i = 0; i < kFiles; ++i) {
        contents << RandomBytes(kFileBytes, unsigned(i + 1));
        paths << local.filePath(QString::asprintf("f%03d.jpg", i));
        if (!WriteLocalFile(paths.last(), contents.last()))
            return 1;
    }
    std::printf("%d files of %d KB to local servers, PUT to the final name\n", kFiles,
                kFileBytes / 1024);
    double worst = 0;

    DavTestServer dav;
    if (!dav.Start()) {
        std::fprintf(stderr, "%s\n", qPrintable(dav.ErrorText()));
        return 1;
    }
    const Target webdav{dav.Url(),
                        dav.User(),
                        dav.Password(),
                        VIZO_PROTOCOL_WEBDAV,
                        [](const QByteArray&) { return QStringList(); },
                        [&dav](const QString& n) { return dav.ReadFile(n); }};
    if (!Measure("WebDAV", webdav, paths, contents, &worst))
        return 1;

    S3TestServer s3;
    if (!s3.Start()) {
        std::fprintf(stderr, "%s\n", qPrintable(s3.ErrorText()));
        return 1;
    }
    const Target store{s3.Url(),
                       s3.Key(),
                       s3.Secret(),
                       VIZO_PROTOCOL_S3,
                       [](const QByteArray& content) {
                           const QByteArray hash =
                               QCryptographicHash::hash(content, QCryptographicHash::Sha256);
                           return QStringList{"--aws-sigv4", "aws:amz:us-east-1:s3", "-H",
                                              "x-amz-content-sha256: " + hash.toHex()};
                       },
                       [&s3](const QString& n) { return s3.ReadObject(n); }};
    if (!Measure("S3", store, paths, contents, &worst))
        return 1;
    std::printf("worst ratio %.3f (target at most 0.3 for each protocol)\n", worst);
    return 0;
}
