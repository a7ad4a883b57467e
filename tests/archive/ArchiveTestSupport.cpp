#include "ArchiveTestSupport.h"

#include "FtpTestServer.h"
#include "FtpTestUtil.h"
#include "app/CCameraApp.h"
#include "archive/ArchiveRecord.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <fcntl.h>
#include <sys/stat.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool PutPicture(const QString& source, const QString& path, std::time_t t)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    return QFile::copy(source, path) && SetModified(path, t);
}

bool SetModified(const QString& path, std::time_t t)
{
    const timespec times[2] = {{t, 0}, {t, 0}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) ==
           0;
}

bool WriteRecorded(const QString& path, const QByteArray& bytes, std::time_t t)
{
    return WriteFile(path, bytes) && RecordWritten(path) && SetModified(path, t);
}

QStringList FilesBelow(const QString& dir)
{
    QStringList out;
    QDirIterator it(dir, QDir::Files | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!IsBookkeepingName(it.fileName()))
            out << QDir(dir).relativeFilePath(path);
    }
    out.sort();
    return out;
}

namespace
{
QTemporaryDir& PictureDir()
{
    static QTemporaryDir dir;
    static bool made = [] {
        const QString tool = QStringLiteral("ffmpeg");
        const QStringList common = {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi"};
        QProcess p;
        p.start(tool, common + QStringList{"-i", "testsrc2=size=320x240:rate=10", "-frames:v", "40",
                                           dir.filePath("p%02d.jpg")});
        p.waitForFinished(60000);
        QProcess q;
        q.start(tool, common + QStringList{"-i", "testsrc2=size=162x122:rate=10", "-frames:v", "1",
                                           "-update", "1", dir.filePath("odd.jpg")});
        q.waitForFinished(60000);
        return p.exitCode() == 0 && q.exitCode() == 0;
    }();
    EXPECT_TRUE(made) << "ffmpeg could not make the test pictures";
    return dir;
}
} // namespace

QString TestPicture(int index)
{
    return PictureDir().filePath(QString::asprintf("p%02d.jpg", index + 1));
}

QString OddSizedPicture()
{
    return PictureDir().filePath("odd.jpg");
}

bool ReadVideo(const QString& path, VideoInfo* info)
{
    AVFormatContext* fmt = nullptr;
    const QByteArray name = QFile::encodeName(path);
    if (avformat_open_input(&fmt, name.constData(), nullptr, nullptr) < 0)
        return false;
    bool ok = avformat_find_stream_info(fmt, nullptr) >= 0;
    const int index = ok ? av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0) : -1;
    if (index >= 0) {
        const AVStream* st = fmt->streams[index];
        info->codec = QString::fromLatin1(avcodec_get_name(st->codecpar->codec_id));
        info->pixelFormat =
            QString::fromLatin1(av_get_pix_fmt_name(AVPixelFormat(st->codecpar->format)));
        info->width = st->codecpar->width;
        info->height = st->codecpar->height;
        info->fps = av_q2d(st->avg_frame_rate);
        AVPacket* pkt = av_packet_alloc();
        info->frames = 0;
        while (av_read_frame(fmt, pkt) >= 0) {
            info->frames += pkt->stream_index == index;
            av_packet_unref(pkt);
        }
        av_packet_free(&pkt);
    }
    avformat_close_input(&fmt);
    QFile f(path);
    if (f.open(QIODevice::ReadOnly)) {
        const QByteArray head = f.read(1 << 16);
        const int moov = head.indexOf("moov"), mdat = head.indexOf("mdat");
        info->moovFirst = moov >= 0 && (mdat < 0 || moov < mdat);
    }
    return ok && index >= 0;
}

ArchiveLayout LayoutIn(const QString& dir)
{
    ArchiveLayout layout;
    QString reason;
    EXPECT_TRUE(MakeArchiveLayout(dir + "/%Y-%m-%d", "%H%M%S.jpg", &layout, &reason))
        << reason.toStdString();
    return layout;
}

void PublishThrough(CCameraApp& app, FtpTestServer& server)
{
    ASSERT_TRUE(server.Start()) << server.ErrorText().toStdString();
    ASSERT_TRUE(server.MakeDir("timelapse"));
    CUpload& u = app.m_upload;
    ASSERT_EQ(u.LoadInternetLibrary(), 0);
    UseServer(u, server);
    u.m_bUseFtp = 1;
    u.m_bUseDialup = 0;
}
