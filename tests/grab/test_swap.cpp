// From the frame on the clipboard to the picture in place: names, the swap,
// and a picture that is never missing.
#include "swaptest.h"

#include <QFile>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace grabtest;

namespace
{

TEST_F(Swap, FirstGrabThenReplace)
{
    RenameLog log;
    CountRenames(&log);
    ASSERT_EQ(Grab(), 1);
    EXPECT_EQ(log.exchange, 1) << "nothing to exchange with: no retries";
    EXPECT_EQ(log.park, 5) << "parking a missing picture is tried five times";
    EXPECT_EQ(log.install, 1);
    const dibtest::Decoded d = dibtest::DecodeJpegFile(Dest().toStdString());
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.width, 64);
    EXPECT_EQ(d.height, 48);
    EXPECT_TRUE(status.lines.isEmpty()) << status.lines.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(Leftovers().isEmpty());
    EXPECT_TRUE(ClipboardClosed());

    // The next picture is exchanged in, and the old one is gone for good.
    const QByteArray first = Contents(Dest());
    const int old = ::open(QFile::encodeName(Dest()).constData(), O_RDONLY);
    ASSERT_GE(old, 0);
    app.m_upload.m_strTimeFormat = QStringLiteral("%H:%M");
    log = {};
    ASSERT_EQ(Grab(), 1);
    EXPECT_EQ(log.exchange, 1);
    EXPECT_EQ(log.park, 0);
    EXPECT_EQ(log.install, 0);
    struct stat st;
    ASSERT_EQ(::fstat(old, &st), 0);
    EXPECT_EQ(st.st_nlink, 0u) << "the old picture still has a name";
    ::close(old);
    EXPECT_NE(Contents(Dest()), first);
    EXPECT_TRUE(IsJpeg(Dest()));
    EXPECT_TRUE(Leftovers().isEmpty());
}

// Where the file system cannot exchange the picture still goes in, by parking;
// an exchange that fails otherwise is retried, then parking is tried too.
TEST_F(Swap, ExchangeRefusedFallsBackToParking)
{
    ASSERT_EQ(Grab(), 1);
    struct Case {
        int error;
        int failures; // before the exchange would work
        int exchanges, parks;
    };
    const Case cases[] = {{EINVAL, 99, 1, 1},
                          {ENOSYS, 99, 1, 1},
                          {EOPNOTSUPP, 99, 1, 1},
                          {EBUSY, 2, 3, 0},
                          {EIO, 99, 5, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        RenameLog log;
        CountRenames(&log);
        OwnFiles().exchange = [&log, c](const char* a, const char* b) {
            return ++log.exchange > c.failures ? ExchangeFiles(a, b) : c.error;
        };
        const QByteArray previous = Contents(Dest());
        // Every picture different, so a stale one shows.
        app.m_upload.m_strTimeFormat += QLatin1Char('x');
        status.clear();
        ASSERT_EQ(Grab(), 1);
        EXPECT_EQ(log.exchange, c.exchanges);
        EXPECT_EQ(log.park, c.parks);
        EXPECT_EQ(log.install, c.parks);
        EXPECT_NE(Contents(Dest()), previous);
        EXPECT_TRUE(IsJpeg(Dest()));
        EXPECT_TRUE(status.lines.isEmpty()) << status.lines.join('|').toStdString();
        EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(' ').toStdString();
    }
}

TEST_F(Swap, SuffixesRunZeroToNinetyNineThenWrap)
{
    QStringList names;
    FrameFiles().writeJpeg = [&names](HGLOBAL dib, const char* name, int quality) {
        names << QFile::decodeName(name);
        return jpeg_write_file(dib, name, quality);
    };
    for (int i = 0; i < 101; ++i)
        ASSERT_EQ(Grab(), 1) << i;
    ASSERT_EQ(names.size(), 101);
    for (int i = 0; i < 101; ++i)
        EXPECT_EQ(names[i], Dest() + QString::asprintf(".t%02d", i % 100));
    EXPECT_EQ(s_nSwapIndex, 1u);
    EXPECT_TRUE(Leftovers().isEmpty());
}

TEST_F(Swap, MissingPictureGetsItsParkedCopyBack)
{
    const QByteArray dest = QFile::encodeName(Dest());
    ASSERT_TRUE(Write(Dest(), "older"));
    ASSERT_TRUE(QFile::rename(Dest(), Dest() + ".d42"));
    ASSERT_TRUE(Write(Dest(), "newer"));
    ASSERT_TRUE(QFile::rename(Dest(), Dest() + ".d07"));
    // Timestamps a second apart: the newer copy wins whatever the order of names.
    const QDateTime now = QDateTime::currentDateTime();
    QFile(Dest() + ".d42").setFileTime(now.addSecs(-10), QFileDevice::FileModificationTime);
    QFile(Dest() + ".d07").setFileTime(now, QFileDevice::FileModificationTime);
    // A link is not ours to publish, however new.
    ASSERT_TRUE(QFile::link(Dest() + ".d42", Dest() + ".d99"));

    EXPECT_TRUE(RestoreParkedPicture(dest));
    EXPECT_EQ(Contents(Dest()), "newer");
    EXPECT_FALSE(RestoreParkedPicture(dest)) << "the picture is there";
    EXPECT_EQ(Contents(Dest() + ".d42"), "older");

    ASSERT_TRUE(QFile::remove(Dest()));
    ASSERT_TRUE(QFile::remove(Dest() + ".d42"));
    EXPECT_FALSE(RestoreParkedPicture(dest));
    EXPECT_FALSE(QFile::exists(Dest()));
}

// A reader polling the destination during a fast stream of swaps always finds
// a whole picture, exchanged in or parked and installed.
TEST_F(Swap, DestinationIsNeverMissingWhileSwapping)
{
    const QByteArray dest = QFile::encodeName(Dest());
    const QByteArray picture(4000, 'p');
    ASSERT_TRUE(Write(Dest(), picture));
    for (const bool exchange : {true, false}) {
        SCOPED_TRACE(exchange ? "exchange" : "park");
        std::atomic<bool> done{false};
        std::atomic<long> polls{0}, missing{0}, short_{0};
        std::thread reader([&] {
            char buffer[8192];
            while (!done) {
                const int fd = ::open(dest.constData(), O_RDONLY);
                ++polls;
                if (fd < 0) {
                    ++missing;
                    continue;
                }
                if (::read(fd, buffer, sizeof buffer) != picture.size())
                    ++short_;
                ::close(fd);
            }
        });
        int exchanged = 0;
        OwnFiles().exchange = [&](const char* a, const char* b) {
            const int error = exchange ? ExchangeFiles(a, b) : EINVAL;
            exchanged += error == 0;
            return error;
        };
        int failed = 0;
        for (unsigned i = 0; i < 3000; ++i) {
            const SwapNames names = MakeSwapNames(dest, i);
            if (!Write(QFile::decodeName(names.temporary), picture) || !SwapIntoPlace(dest, names))
                ++failed;
        }
        done = true;
        reader.join();
        std::printf("polls %ld, destination missing %ld, short %ld\n", long(polls), long(missing),
                    long(short_));
        EXPECT_EQ(failed, 0);
        EXPECT_EQ(exchanged, exchange ? 3000 : 0);
        EXPECT_GT(polls, 1000);
        EXPECT_EQ(missing, 0);
        EXPECT_EQ(short_, 0);
        EXPECT_TRUE(Leftovers().isEmpty());
    }
}

// The old picture that will not go, exchanged or parked, is no failure; the
// next grab clears it.
TEST_F(Swap, OldPictureThatWillNotGoIsClearedNextTime)
{
    ASSERT_EQ(Grab(), 1);
    for (const char* left : {"cam.jpg.t01", "cam.jpg.d03"}) {
        SCOPED_TRACE(left);
        int deletes = 0;
        OwnFiles().remove = [&deletes](const char*) { return ++deletes, false; };
        EXPECT_EQ(Grab(), 1);
        EXPECT_EQ(deletes, 5);
        EXPECT_EQ(Leftovers(), QStringList{QLatin1String(left)});
        OwnFiles().remove = DeleteLocalFile;
        EXPECT_EQ(Grab(), 1);
        EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(' ').toStdString();
        // Now by parking.
        OwnFiles().exchange = [](const char*, const char*) { return EOPNOTSUPP; };
    }
}

} // namespace
