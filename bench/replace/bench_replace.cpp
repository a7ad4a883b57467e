// What a reader of the server's disk sees while the engine replaces a picture
// over SFTP: 200 replaces with Safe mode off and on, while a thread polls the
// final name on the test sshd's disk, counting the stretches without a file
// (and how long each lasted) and the reads of a file that was not whole.
//   ./bench_replace [replaces]
#include "FtpTestUtil.h"
#include "SshTestServer.h"
#include "net/CUpload.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

constexpr int kPictureBytes = 20000;
using Clock = std::chrono::steady_clock;

struct Watch {
    std::atomic<bool> stop{false};
    std::vector<double> gapsMs; // each stretch without the final name
    long partialReads = 0;      // the name held something not whole
    long polls = 0;
};

void Poll(const QByteArray& path, Watch* w)
{
    bool missing = false;
    Clock::time_point since;
    while (!w->stop) {
        int fd = ::open(path.constData(), O_RDONLY);
        const Clock::time_point now = Clock::now();
        ++w->polls;
        if (fd < 0) {
            if (!missing)
                since = now;
            missing = true;
            continue;
        }
        struct stat st {
        };
        ::fstat(fd, &st);
        ::close(fd);
        if (missing)
            w->gapsMs.push_back(std::chrono::duration<double, std::milli>(now - since).count());
        missing = false;
        if (st.st_size != kPictureBytes)
            ++w->partialReads;
    }
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[size_t(p * double(v.size() - 1) + 0.5)];
}

bool Run(const SshTestServer& ssh, bool safe, int replaces, const QString& local)
{
    CUpload upload;
    if (upload.LoadInternetLibrary() != 0) {
        std::fprintf(stderr, "cannot load the Internet layer\n");
        return false;
    }
    upload.m_strFtpServer = ssh.Address();
    upload.m_strFtpUsername = ssh.User();
    upload.m_ftpTransport.nProtocol = VIZO_PROTOCOL_SFTP;
    upload.m_ftpTransport.strServerKey = ssh.HostFingerprint();
    upload.m_ftpTransport.strPrivateKey = ssh.ClientKey();
    upload.m_bSafeFtp = safe;
    upload.m_bQuietTransfer = 1;
    ssh.WriteFile("vizo.jpg", RandomBytes(kPictureBytes, 999));

    Watch watch;
    std::thread reader(Poll, (ssh.RootDir() + "/vizo.jpg").toLocal8Bit(), &watch);
    bool ok = upload.Connect();
    for (int i = 0; ok && i < replaces; ++i)
        ok = WriteLocalFile(local, RandomBytes(kPictureBytes, unsigned(i))) &&
             upload.Transfer(local, QStringLiteral("vizo.jpg"), FTP_TRANSFER_TYPE_BINARY);
    upload.Disconnect();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    watch.stop = true;
    reader.join();
    upload.FreeInternetLibrary();
    if (!ok) {
        std::fprintf(stderr, "an upload failed\n");
        return false;
    }
    std::printf("Safe mode %-3s  %d replaces: %zu without the picture for a moment "
                "(median %.2f ms, 90%% %.2f ms, longest %.2f ms), %ld partial reads, %ld polls\n",
                safe ? "on" : "off", replaces, watch.gapsMs.size(), Percentile(watch.gapsMs, 0.5),
                Percentile(watch.gapsMs, 0.9), Percentile(watch.gapsMs, 1.0), watch.partialReads,
                watch.polls);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int replaces = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    NoProxyEnvironment noProxy;
    SshTestServer ssh;
    if (!ssh.Start()) {
        std::fprintf(stderr, "%s\n", qPrintable(ssh.ErrorText()));
        return 1;
    }
    QTemporaryDir local;
    const QString path = local.filePath(QStringLiteral("vizo.jpg"));
    for (bool safe : {false, true})
        if (!Run(ssh, safe, replaces, path))
            return 1;
    return 0;
}
