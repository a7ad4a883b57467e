// For each protocol (FTP, FTP with explicit TLS, SFTP): sends 200 files of
// 100 KB with Transfer over one connection, then the same files with the curl
// command-line tool (one process, connection and login per file, the same
// temporary name and rename), to the same local server, and prints the median
// time per file of each and their ratio.
#include "FtpTestServer.h"
#include "SshTestServer.h"
#include "bench/uploadbench.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace
{

// One server as both clients reach it.
struct Target {
    QString address, user, password;
    FtpTransportSettings transport;
    QStringList curlOptions;                                  // protocol, trust and key
    QString scheme;                                           // of the URL
    std::function<QStringList(QString, QString)> renameQuote; // temporary, final
    std::function<QByteArray(QString)> read;                  // the server's view
    std::function<int()> logins;
};

bool SendWithCurl(const Target& server, const QStringList& paths, std::vector<double>* ms)
{
    for (int i = 0; i < paths.size(); ++i) {
        QString name = QString::asprintf("c%03d.jpg", i);
        QString temporary = name + QStringLiteral(".t00");
        QStringList args{"--disable", "-sS", "--noproxy",
                         "*",         "-u",  server.user + ":" + server.password};
        args << server.curlOptions << "-T" << paths[i]
             << QStringLiteral("%1://%2/%3").arg(server.scheme, server.address, temporary);
        for (const QString& command : server.renameQuote(temporary, name))
            args << "-Q"
                 << "-" + command;
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

void Report(const char* title, int logins, const std::vector<double>& ours,
            const std::vector<double>& curl, double* worst)
{
    double ratio = Median(ours) / Median(curl);
    std::printf("%-18s Transfer (%d login) %7.2f ms/file   curl %7.2f ms/file   ratio %.3f\n",
                title, logins, Median(ours), Median(curl), ratio);
    *worst = std::max(*worst, ratio);
}

// Our client reaches ours, curl reaches viaCurl: the same server.
bool Measure(const char* title, const Target& ours, const Target& viaCurl, const QStringList& paths,
             const QList<QByteArray>& contents, double* worst)
{
    std::vector<double> transferMs, curlMs;
    auto configure = [&ours](CUpload& u) {
        u.m_strFtpServer = ours.address;
        u.m_strFtpUsername = ours.user;
        u.m_strFtpPassword = ours.password;
        u.m_ftpTransport = ours.transport;
    };
    if (!SendWithTransfer(configure, paths, &transferMs))
        return false;
    int logins = ours.logins();
    if (!SendWithCurl(viaCurl, paths, &curlMs))
        return false;
    if (!AllStored(ours.read, contents, "t%03d.jpg") ||
        !AllStored(ours.read, contents, "c%03d.jpg")) {
        std::fprintf(stderr, "%s: the server does not hold the files sent\n", title);
        return false;
    }
    Report(title, logins, transferMs, curlMs, worst);
    return true;
}

Target FtpTarget(const FtpTestServer& s)
{
    return {s.Address(),
            s.User(),
            s.Password(),
            {},
            {},
            "ftp",
            [](const QString& from, const QString& to) {
                return QStringList{"RNFR " + from, "RNTO " + to};
            },
            [&s](const QString& n) { return s.ReadFile(n); },
            [&s] { return s.CountCommands("USER"); }};
}

Target SftpTarget(const SshTestServer& s)
{
    Target t{s.Address(),
             s.User(),
             QString(),
             {},
             {},
             "sftp",
             [](const QString& from, const QString& to) {
                 return QStringList{"rename " + from + " " + to};
             },
             [&s](const QString& n) { return s.ReadFile(n); },
             [&s] { return int(s.Log().filter("Accepted publickey").size()); }};
    t.transport.nProtocol = VIZO_PROTOCOL_SFTP;
    t.transport.strServerKey = s.HostFingerprint();
    t.transport.strPrivateKey = s.ClientKey();
    t.curlOptions = {"--key", s.ClientKey(), "--hostpubsha256", s.HostFingerprint().mid(7)};
    return t;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    NoProxyEnvironment noProxy;
    BenchFiles files;
    if (!files.Make("temporary name and rename"))
        return 1;
    const QStringList& paths = files.paths;
    const QList<QByteArray>& contents = files.contents;
    double worst = 0;

    FtpTestServer plain;
    if (!plain.Start())
        return 1;
    Target ftp = FtpTarget(plain);
    ftp.curlOptions = {"--ftp-port", "-"}; // the automatic mode without a proxy
    if (!Measure("FTP (active)", ftp, ftp, paths, contents, &worst))
        return 1;

    FtpTestServer::Options o;
    o.tls = QStringLiteral("explicit");
    FtpTestServer tlsServer(o);
    if (!tlsServer.Start())
        return 1;
    Target tls = FtpTarget(tlsServer);
    tls.transport.nProtocol = VIZO_PROTOCOL_FTP_EXPLICIT_TLS;
    tls.transport.strServerKey = tlsServer.Pin();
    tls.curlOptions = {"--ssl-reqd", "--insecure", "--pinnedpubkey", tlsServer.Pin()};
    if (!Measure("FTP, explicit TLS", tls, tls, paths, contents, &worst))
        return 1;

    SshTestServer ssh;
    if (!ssh.Start()) {
        std::fprintf(stderr, "%s\n", qPrintable(ssh.ErrorText()));
        return 1;
    }
    Target sftp = SftpTarget(ssh);
    Target sftpCurl = sftp;
    sftpCurl.address += "/~"; // curl names the login folder in its URL
    if (!Measure("SFTP", sftp, sftpCurl, paths, contents, &worst))
        return 1;
    std::printf("worst ratio %.3f (target at most 0.3 for each protocol)\n", worst);
    return 0;
}
