// For WebDAV (Apache httpd) and S3-compatible storage (s3rver): sends 200 files
// of 100 KB with Transfer over one connection, then the same files with the
// curl command-line tool (one process and connection per file, the same PUT
// straight to the final name, signed the same way), to the same local server,
// and prints the median time per file of each and their ratio.
#include "DavTestServer.h"
#include "S3TestServer.h"
#include "bench/uploadbench.h"

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

struct Target {
    QString url, user, password;
    int protocol;
    // What curl needs beyond the URL and the file for one of them.
    std::function<QStringList(const QByteArray& content)> curlOptions;
    std::function<QByteArray(const QString&)> read; // the server's view
};

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

bool Measure(const char* title, const Target& server, const QStringList& paths,
             const QList<QByteArray>& contents, double* worst)
{
    std::vector<double> ours, curl;
    auto configure = [&server](CUpload& u) {
        u.m_strFtpServer = server.url;
        u.m_strFtpUsername = server.user;
        u.m_strFtpPassword = server.password;
        u.m_ftpTransport.nProtocol = server.protocol;
    };
    if (!SendWithTransfer(configure, paths, &ours) || !SendWithCurl(server, paths, contents, &curl))
        return false;
    if (!AllStored(server.read, contents, "t%03d.jpg") ||
        !AllStored(server.read, contents, "c%03d.jpg")) {
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
    BenchFiles files;
    if (!files.Make("PUT to the final name"))
        return 1;
    const QStringList& paths = files.paths;
    const QList<QByteArray>& contents = files.contents;
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
