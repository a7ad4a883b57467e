// Placeholders in the caption format: the expansion itself, the file reader
// on real files, and pictures made with a placeholder.
#include "capture/Caption.h"
#include "capture/CaptionFields.h"
#include "grabtest.h"
#include "platform/afx/log.h"

#include <QFile>
#include <fcntl.h>
#include <sys/stat.h>

using namespace grabtest;

namespace
{

// The format as the caption draws it: expanded, then through strftime.
QString Drawn(const QString& format, const CaptionFieldValues& values)
{
    int room = 0;
    const QString expanded = ExpandCaptionFields(format, values, &room);
    return FormatCaptionTime(1709649000, expanded, room);
}

TEST(CaptionFields, ExpansionLeavesStrftimeItsOwn)
{
    ScopedTimeZone zone("UTC");
    std::vector<std::pair<QString, long long>> asked;
    CaptionFieldValues v;
    v.camera = QStringLiteral("Roof 100%");
    v.file = [&](const QString& path, long long age) {
        asked.emplace_back(path, age);
        return QStringLiteral("%H 5%");
    };
    EXPECT_EQ(Drawn(QStringLiteral("%H:%M %{camera}"), v), QStringLiteral("14:30 Roof 100%"));
    EXPECT_EQ(Drawn(QStringLiteral("%{file:/run/t}|%{file:/run/a:b}|%{file:/run/t:30}"), v),
              QStringLiteral("%H 5%|%H 5%|%H 5%"))
        << "a value is drawn as it is, never converted";
    EXPECT_EQ(asked, (std::vector<std::pair<QString, long long>>{
                         {"/run/t", -1}, {"/run/a:b", -1}, {"/run/t", 30}}));
    EXPECT_EQ(Drawn(QStringLiteral("%%{camera} %{weather} %{file:} %{camera"), v),
              QStringLiteral("%{camera} %{weather} %{file:} %{camera"));
    EXPECT_EQ(Drawn(QStringLiteral("100%% %Y%"), v).left(9), QStringLiteral("100% 2024"));

    // A value brings its own room: the 127 characters of the format stay the
    // limit for what is typed, not for what a file holds.
    v.file = [](const QString&, long long) { return QString(200, u'x'); };
    EXPECT_EQ(Drawn(QStringLiteral("%H %{file:/x}"), v).size(), 203);
    EXPECT_TRUE(Drawn(QStringLiteral("%H ") + QString(200, u'x'), v).isEmpty());
}

TEST(CaptionFields, FirstLineCleaned)
{
    EXPECT_EQ(CaptionLineOf("12.5 \xc2\xb0"
                            "C\r\nsecond"),
              QStringLiteral("12.5 °C"));
    EXPECT_EQ(CaptionLineOf(QByteArray("a\tb\x1b[1mc\0d\x7f", 12)), QStringLiteral("ab[1mcd"));
    EXPECT_EQ(CaptionLineOf(QByteArray(5000, 'y')).size(), 200);
    EXPECT_TRUE(CaptionLineOf(QByteArray()).isEmpty());
    // Binary: every byte that is no character becomes one replacement mark.
    const QString binary = CaptionLineOf(QByteArray("\xff\xfe\x01\x02ok", 6));
    EXPECT_TRUE(binary.endsWith(QLatin1String("ok")));
    for (QChar c : binary)
        EXPECT_NE(c.category(), QChar::Other_Control);
    // A character outside the basic plane is not cut in half at the limit.
    const QByteArray emoji = QByteArray(199, 'z') + "\xf0\x9f\x8c\xa7";
    EXPECT_EQ(CaptionLineOf(emoji), QString(199, u'z'));
}

class CaptionFileTest : public ::testing::Test
{
protected:
    CaptionFileTest()
    {
        previous = SetLogObserver([this](const char* kind, const QString& text) {
            if (QByteArray(kind) == "caption")
                logged << text;
        });
    }
    ~CaptionFileTest() override { SetLogObserver(previous); }
    QString Path(const char* name) const { return dir.filePath(QLatin1String(name)); }
    void Write(const QString& path, const QByteArray& bytes, std::time_t modified)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        const struct timespec times[2] = {{modified, 0}, {modified, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    }

    QTemporaryDir dir;
    QStringList logged;
    LogObserver previous;
    CaptionFileReader reader;
    const std::time_t now = 1709649000;
};

TEST_F(CaptionFileTest, FreshStaleAndReadOncePerSecond)
{
    const QString t = Path("temp");
    Write(t, "12.5\nignored\n", now - 50);
    EXPECT_EQ(reader.Value(t, -1, now), QStringLiteral("12.5"));
    EXPECT_EQ(reader.Value(t, 60, now), QStringLiteral("12.5"));
    EXPECT_EQ(reader.Value(t, 49, now), QStringLiteral("--")) << "older than allowed";

    // Within the same second the line read is kept; the next second reads anew.
    Write(t, "13.0\n", now);
    EXPECT_EQ(reader.Value(t, -1, now), QStringLiteral("12.5"));
    EXPECT_EQ(reader.Value(t, 10, now + 1), QStringLiteral("13.0"));
    EXPECT_EQ(reader.Value(t, 10, now + 20), QStringLiteral("--")) << "aged while kept";
    EXPECT_TRUE(logged.isEmpty());

    // A huge file gives its first 200 characters.
    Write(t, QByteArray(8 << 20, 'h'), now);
    EXPECT_EQ(reader.Value(t, -1, now + 21), QString(200, u'h'));
}

TEST_F(CaptionFileTest, MissingAndRefusedShowDashesAndAreLoggedOnce)
{
    const QString m = Path("missing");
    for (int s = 0; s < 3; ++s)
        EXPECT_EQ(reader.Value(m, -1, now + s), QStringLiteral("--"));
    EXPECT_EQ(logged.size(), 1);
    EXPECT_TRUE(logged.value(0).contains(m));
    Write(m, "back", now);
    EXPECT_EQ(reader.Value(m, -1, now + 3), QStringLiteral("back"));
    QFile::remove(m);
    EXPECT_EQ(reader.Value(m, -1, now + 4), QStringLiteral("--"));
    EXPECT_EQ(logged.size(), 2) << "gone again: told again";

    // A FIFO with no writer would block a plain open; a folder has no line.
    const QString fifo = Path("fifo");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(reader.Value(fifo, -1, now), QStringLiteral("--"));
    EXPECT_EQ(reader.Value(dir.path(), -1, now), QStringLiteral("--"));
    EXPECT_EQ(logged.size(), 4);
    EXPECT_TRUE(logged.value(2).contains(QLatin1String("not a regular file")));
}

// A picture with the file's line is the picture with that text typed.
TEST_F(GrabFixture, FileLineDrawsAsTyped)
{
    QTemporaryDir files;
    const QString path = files.filePath(QStringLiteral("wind"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("Wind 12 km/h \xe2\x86\x97 100%\n");
    f.close();
    const std::vector<unsigned char> input = dibtest::BuildDibBytes(PlainFrame(320, 240, 24));
    auto stamp = [&](const QString& format) {
        app.m_upload.m_strTimeFormat = format;
        return StampBytes(dlg, input, clock.now, app.m_upload);
    };
    const std::vector<unsigned char> typed =
        stamp(QStringLiteral("%H:%M Wind 12 km/h \u2197 100%%"));
    EXPECT_NE(typed, input);
    EXPECT_EQ(stamp(QStringLiteral("%H:%M %{file:") + path + QStringLiteral(":60}")), typed);
    EXPECT_NE(stamp(QStringLiteral("%H:%M %{file:") + path + QStringLiteral("x}")), typed);
}

} // namespace
