// From the frame on the clipboard to the picture in place: names, the swap and
// its failures, and every failure's status line.
#include "grabtest.h"

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

class Swap : public GrabFixture
{
protected:
    void SetUp() override { PutOnClipboard(dibtest::BuildDib(PlainFrame(64, 48, 24))); }

    int Grab(const QString& dest) { return WriteClipboardFrame(dlg, dest); }
    int Grab() { return Grab(Dest()); }

    // Counts exchange, park, install and restore attempts and lets a test
    // refuse some (an exchange with EBUSY).
    struct RenameLog {
        int exchange = 0, park = 0, install = 0, restore = 0;
    };
    using Refuse = std::function<bool(const char*, const char*)>;
    void CountRenames(RenameLog* log, Refuse refuse = {})
    {
        FrameFileOps& ops = FrameFiles();
        auto counted = [refuse](int* count, std::function<bool(const char*, const char*)> real) {
            return [=](const char* from, const char* to) {
                ++*count;
                return !(refuse && refuse(from, to)) && real(from, to);
            };
        };
        ops.park = counted(&log->park, LinkNoReplace);
        ops.install = counted(&log->install, RenameOver);
        ops.rename = counted(&log->restore, RenameNoReplace);
        ops.exchange = [=](const char* from, const char* to) {
            ++log->exchange;
            return refuse && refuse(from, to) ? EBUSY : ExchangeFiles(from, to);
        };
    }
    QByteArray Contents(const QString& path) const
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static bool Write(const QString& path, const QByteArray& bytes)
    {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }
    bool IsJpeg(const QString& path) const
    {
        return dibtest::DecodeJpegFile(path.toStdString()).ok;
    }
};

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
        FrameFiles().exchange = [&log, c](const char* a, const char* b) {
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

TEST_F(Swap, LockedDestinationKeepsThePreviousPicture)
{
    ASSERT_EQ(Grab(), 1);
    const QByteArray previous = Contents(Dest());
    const QByteArray dest = QFile::encodeName(Dest());

    // Held open elsewhere: neither exchanged, parked nor replaced.
    RenameLog log;
    CountRenames(&log,
                 [dest](const char* from, const char* to) { return dest == from || dest == to; });
    status.clear();
    EXPECT_EQ(Grab(), 0);
    EXPECT_EQ(log.exchange, 5);
    EXPECT_EQ(log.park, 5);
    EXPECT_EQ(log.install, 5);
    EXPECT_EQ(status.lines, QStringList{QStringLiteral("File error: Locking problem")});
    EXPECT_EQ(Contents(Dest()), previous);
    EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(QLatin1Char(' ')).toStdString();

    // Parked, but the install refused: the previous picture stays.
    log = {};
    CountRenames(&log,
                 [](const char* from, const char*) { return QByteArray(from).contains(".t"); });
    EXPECT_EQ(Grab(), 0);
    EXPECT_EQ(log.exchange, 5);
    EXPECT_EQ(log.park, 1);
    EXPECT_EQ(log.install, 5);
    EXPECT_EQ(log.restore, 0);
    EXPECT_EQ(Contents(Dest()), previous);
    EXPECT_TRUE(Leftovers().isEmpty());

    // An install that fails after the destination went: the parked copy goes back.
    log = {};
    CountRenames(&log);
    FrameFiles().exchange = [](const char*, const char*) { return EINVAL; };
    FrameFiles().install = [&log, dest](const char*, const char*) {
        ++log.install;
        ::unlink(dest.constData());
        return false;
    };
    EXPECT_EQ(Grab(), 0);
    EXPECT_EQ(log.restore, 1);
    EXPECT_EQ(Contents(Dest()), previous);
    EXPECT_TRUE(Leftovers().isEmpty());
    EXPECT_TRUE(ClipboardClosed());
}

TEST_F(Swap, PlantedLinksAreNeverWrittenThrough)
{
    QTemporaryDir outside;
    const QString victim = outside.filePath(QStringLiteral("victim"));
    ASSERT_TRUE(Write(victim, "not yours"));
    // Symbolic links at a temporary and a parked name, a hard link at the next temporary.
    ASSERT_TRUE(QFile::link(victim, Dest() + ".t00"));
    ASSERT_TRUE(QFile::link(victim, Dest() + ".d01"));
    ASSERT_EQ(::link(QFile::encodeName(victim), QFile::encodeName(Dest() + ".t01")), 0);
    ASSERT_EQ(Grab(), 1);
    ASSERT_EQ(Grab(), 1);
    EXPECT_EQ(Contents(victim), "not yours");
    EXPECT_TRUE(IsJpeg(Dest()));
    EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(' ').toStdString();

    // The writer on its own replaces a link at its name instead of following it.
    const QString link = dir.filePath(QStringLiteral("other.jpg"));
    ASSERT_TRUE(QFile::link(victim, link));
    HGLOBAL frame = dibtest::BuildDib(PlainFrame(16, 16, 24));
    EXPECT_EQ(jpeg_write_file(frame, QFile::encodeName(link).constData(), 50), 0);
    GlobalFree(frame);
    EXPECT_EQ(Contents(victim), "not yours");
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_TRUE(IsJpeg(link));
}

TEST_F(Swap, LeftoversOfAnInterruptedSwapNeverBlockAGrab)
{
    QTemporaryDir outside;
    const QString victim = outside.filePath(QStringLiteral("victim"));
    ASSERT_TRUE(Write(victim, "not yours"));
    ASSERT_EQ(Grab(), 1);
    // Stopped after an exchange: the picture before it at a temporary name.
    ASSERT_TRUE(QFile::copy(Dest(), Dest() + ".t57"));
    // Stopped between parking and installing: no picture, the previous one
    // parked, a half-written temporary, and a planted parked name.
    ASSERT_TRUE(QFile::rename(Dest(), Dest() + ".d05"));
    ASSERT_TRUE(Write(Dest() + ".t07", "\xff\xd8half"));
    ASSERT_TRUE(QFile::link(victim, Dest() + ".d00"));
    s_nSwapIndex = 0;
    // A whole round of names, each cleared before use.
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(Grab(), 1) << i << status.lines.join('|').toStdString();
        ASSERT_TRUE(IsJpeg(Dest())) << i;
    }
    EXPECT_TRUE(status.lines.isEmpty()) << status.lines.join('|').toStdString();
    EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(' ').toStdString();
    EXPECT_EQ(Contents(victim), "not yours");
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
        FrameFiles().exchange = [&](const char* a, const char* b) {
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
        FrameFiles().remove = [&deletes](const char*) { return ++deletes, false; };
        EXPECT_EQ(Grab(), 1);
        EXPECT_EQ(deletes, 5);
        EXPECT_EQ(Leftovers(), QStringList{QLatin1String(left)});
        FrameFiles().remove = DeleteLocalFile;
        EXPECT_EQ(Grab(), 1);
        EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(' ').toStdString();
        // Now by parking.
        FrameFiles().exchange = [](const char*, const char*) { return EOPNOTSUPP; };
    }
}

TEST_F(Swap, EveryFailureHasItsStatusLine)
{
    struct Case {
        const char* what;
        std::function<void()> arrange;
        QString dest;
        QString expected;
    };
    static const int otherOwner = 0;
    const QString longName = dir.filePath(QString(256 - dir.path().size() - 1, u'x'));
    const QString fits = dir.filePath(QString(255 - dir.path().size() - 1, u'y'));
    const std::vector<Case> cases = {
        {"clipboard held", [] { OpenClipboard(&otherOwner); }, Dest(),
         QStringLiteral("Could not open clipboard!")},
        {"no frame", [] { PutOnClipboard(nullptr); }, Dest(),
         QStringLiteral("Could not get bitmap from clipboard!")},
        {"frame larger than its block",
         [] {
             auto bytes = dibtest::BuildDibBytes(PlainFrame(16, 16, 24));
             bytes.resize(100);
             PutOnClipboard(dibtest::ToBlock(bytes));
         },
         Dest(), QStringLiteral("Could not draw text in bitmap!")},
        {"32-bit frame", [] { PutOnClipboard(dibtest::BuildDib(PlainFrame(16, 16, 32))); }, Dest(),
         QStringLiteral("JPEG error: Unsupported bitmap format (not 8, 16 or 24 bit).")},
        {"missing folder",
         {},
         dir.filePath(QStringLiteral("none/cam.jpg")),
         QStringLiteral("JPEG error: Could not open file for writing.")},
        {"name too long",
         {},
         longName,
         QStringLiteral("File error: Local file name longer than 255 characters")},
        {"name is a folder",
         {},
         dir.path(),
         QStringLiteral("File error: Local file name is a folder")},
        {"no name", {}, QString(), QStringLiteral("File error: No local file name")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PutOnClipboard(dibtest::BuildDib(PlainFrame(16, 16, 24)));
        if (c.arrange)
            c.arrange();
        status.clear();
        const unsigned index = s_nSwapIndex;
        EXPECT_EQ(Grab(c.dest), 0);
        EXPECT_EQ(status.lines, QStringList{c.expected});
        if (c.expected.startsWith(QLatin1String("JPEG")))
            EXPECT_EQ(s_nSwapIndex, (index + 1) % 100);
        else
            EXPECT_EQ(s_nSwapIndex, index) << "no name was used";
        // Left open only by the other owner that held it.
        const bool held = QByteArray(c.what) == "clipboard held";
        EXPECT_NE(ClipboardClosed(), held);
        if (held)
            CloseClipboard();
        EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
    }
    EXPECT_EQ(Grab(fits), 1) << "255 characters still fit";
}

TEST_F(Swap, WriterErrorsDeleteWhatTheWriterLeft)
{
    for (int code : {5, 699}) {
        FrameFiles().writeJpeg = [code](HGLOBAL, const char* name, int) {
            QFile partial(QFile::decodeName(name));
            partial.open(QIODevice::WriteOnly);
            partial.write("\xff\xd8\xff", 3);
            return code;
        };
        status.clear();
        EXPECT_EQ(Grab(), 0);
        EXPECT_EQ(status.lines,
                  QStringList{code == 5 ? QStringLiteral("JPEG error: error code 5.")
                                        : QStringLiteral("JPEG error: JPEGlib conversion error.")});
        EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
    }
    // A code that belongs to another table entry shows that entry's text.
    FrameFiles().writeJpeg = [](HGLOBAL, const char*, int) { return 12002; };
    status.clear();
    EXPECT_EQ(Grab(), 0);
    EXPECT_EQ(status.lines, QStringList{QStringLiteral("JPEG error: Request timeout (FTP error)")});
}

} // namespace
