// The swap's failures: what is kept when the destination is locked or
// planted, what is left behind, and every failure's status line.
#include "swaptest.h"

#include <QFile>
#include <unistd.h>

using namespace grabtest;

namespace
{

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
    OwnFiles().exchange = [](const char*, const char*) { return EINVAL; };
    OwnFiles().renameOver = [&log, dest](const char*, const char*) {
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
