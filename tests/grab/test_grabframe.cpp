// Whole grabs through the capture window from test sources: the picture in
// place with its caption, each depth the Format dialog offers, the grab's own
// failures, and a reader racing 500 replacements.
#include "capture/CaptionPaint.h"
#include "grabtest.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFontMetrics>
#include <QThread>
#include <atomic>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace grabtest;

namespace
{

class ScopedEnv
{
public:
    ScopedEnv(const char* name, const QByteArray& value) : m_name(name), m_old(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~ScopedEnv() { m_old.isNull() ? qunsetenv(m_name) : qputenv(m_name, m_old); }

private:
    const char* m_name;
    QByteArray m_old;
};

class GrabFrameTest : public GrabFixture
{
protected:
    // Only the sources below: no camera of the machine takes part.
    GrabFrameTest()
        : devices("VIZO_VIDEO_DEVICE_DIR", QFile::encodeName(dir.filePath(QStringLiteral("dev")))),
          sources("VIZO_VIDEO_SOURCES", "Blue=lavfi:color=c=0x0000ff:size=320x240:rate=10;"
                                        "Blue 16=lavfi:color=c=0x0000ff:size=320x240:rate=10;"
                                        "Blue 8=lavfi:color=c=0x0000ff:size=320x240:rate=10;"
                                        "Pattern=lavfi:testsrc2=size=160x120:rate=30")
    {
        QDir(dir.path()).mkdir(QStringLiteral("dev"));
    }

    bool Connect(int driver, int bitCount = 24)
    {
        if (!dlg.m_hWndCap && !dlg.CreateCaptureWindow())
            return false;
        dlg.BuildDriverMenu();
        dlg.ConnectDriver(driver);
        if (bitCount != 24) {
            ModalAnswer depth([bitCount](QDialog& d) {
                auto* box = d.findChild<QComboBox*>(QStringLiteral("depth"));
                box->setCurrentIndex(box->findData(bitCount));
                return int(QDialog::Accepted);
            });
            SendMessageA(dlg.m_hWndCap, WM_CAP_DLG_VIDEOFORMAT, 0, 0);
        }
        return FirstGrab();
    }
    // The source needs a moment for its first frame.
    bool FirstGrab()
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000) {
            if (dlg.GrabFrame(Dest()))
                return true;
            QCoreApplication::processEvents();
            QThread::msleep(20);
        }
        return false;
    }

    ScopedEnv devices, sources;
    MessageBoxRecorder boxes;
};

TEST_F(GrabFrameTest, RedCaptionOnBlueFrameAtEachDepth)
{
    const int h = QFontMetrics(MakeCaptionFont(QStringLiteral("Arial"), -24)).height();
    for (int bits : {24, 16, 8}) {
        SCOPED_TRACE(bits);
        ASSERT_TRUE(Connect(bits == 24   ? 0
                            : bits == 16 ? 1
                                         : 2,
                            bits))
            << status.lines.join(QLatin1Char('|')).toStdString();
        // The grab leaves its frame on the clipboard.
        static const int owner = 0;
        ASSERT_TRUE(OpenClipboard(&owner));
        const std::vector<unsigned char> frame = BlockBytes(GetClipboardData(CF_DIB));
        CloseClipboard();
        ASSERT_GE(frame.size(), 40u);
        EXPECT_EQ(reinterpret_cast<const BITMAPINFOHEADER*>(frame.data())->biBitCount, bits);
        const dibtest::Decoded d = dibtest::DecodeJpegFile(QFile::encodeName(Dest()).toStdString());
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(d.width, 320);
        EXPECT_EQ(d.height, 240);
        int red = 0;
        for (int y = 240 - 2 * h; y < 238; ++y)
            for (int x = 160; x < 320; ++x)
                red += d.at(x, y).r > 160 && d.at(x, y).b < 100;
        if (bits == 8) {
            // A grey frame: the caption can only be a grey of its own.
            EXPECT_TRUE(dibtest::Near(d.at(20, 20), d.at(25, 60), 6));
            EXPECT_EQ(red, 0);
        } else {
            EXPECT_TRUE(dibtest::Near(d.at(20, 20), Rgb{0, 0, 255}, 24));
            EXPECT_GT(red, 100);
        }
        EXPECT_TRUE(Leftovers().isEmpty());
        EXPECT_TRUE(ClipboardClosed());
        EXPECT_TRUE(boxes.texts.isEmpty());
    }
}

TEST_F(GrabFrameTest, GrabAndCopyFailures)
{
    // No capture window, then one with no driver connected.
    EXPECT_EQ(dlg.GrabFrame(Dest()), 0);
    ASSERT_TRUE(dlg.CreateCaptureWindow());
    EXPECT_EQ(dlg.GrabFrame(Dest()), 0);
    EXPECT_EQ(status.lines, QStringList(2, QStringLiteral("Could not grab frame...")));

    ASSERT_TRUE(Connect(0));
    // The copy needs the clipboard, held here by another owner.
    static const int other = 0;
    ASSERT_TRUE(OpenClipboard(&other));
    status.clear();
    EXPECT_EQ(dlg.GrabFrame(Dest()), 0);
    CloseClipboard();
    EXPECT_EQ(status.lines, QStringList{QStringLiteral("Could not copy bitmap from clipboard!")});
}

// Reads the picture over and over while it is being replaced: every read is a
// whole JPEG, and the picture is never missing.
TEST_F(GrabFrameTest, ReaderNeverSeesAPartialPicture)
{
    ASSERT_TRUE(Connect(3));
    const std::string path = QFile::encodeName(Dest()).toStdString();
    std::atomic<bool> done{false};
    std::atomic<int> whole{0}, missing{0}, broken{0};
    std::thread reader([&] {
        std::vector<unsigned char> bytes;
        unsigned char buffer[65536];
        while (!done) {
            const int fd = ::open(path.c_str(), O_RDONLY);
            if (fd < 0) {
                ++missing;
                continue;
            }
            bytes.clear();
            for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
                bytes.insert(bytes.end(), buffer, buffer + n);
            ::close(fd);
            const dibtest::Decoded d = dibtest::DecodeJpeg(bytes);
            const bool ok = d.ok && d.width == 160 && bytes.size() > 4 &&
                            bytes[bytes.size() - 2] == 0xff && bytes.back() == 0xd9;
            ++(ok ? whole : broken);
        }
    });
    int installed = 0, exchanged = 0;
    OwnFiles().exchange = [&exchanged](const char* a, const char* b) {
        const int error = ExchangeFiles(a, b);
        exchanged += error == 0;
        return error;
    };
    for (int i = 0; i < 500; ++i)
        installed += dlg.GrabFrame(Dest());
    done = true;
    reader.join();
    EXPECT_EQ(installed, 500);
    EXPECT_GE(exchanged, 499) << "each picture after the first is exchanged in";
    EXPECT_EQ(broken, 0);
    EXPECT_GT(whole, 0);
    EXPECT_EQ(missing, 0);
    EXPECT_TRUE(Leftovers().isEmpty());
    std::printf("reader: %d whole pictures, %d moments without one\n", whole.load(),
                missing.load());
}

} // namespace
