// The caption: its rules as numbers, and what it draws on frames of each depth.
#include "capture/Caption.h"
#include "capture/CaptionPaint.h"
#include "grabtest.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <memory>

using namespace grabtest;
using dibtest::BuildDib;

namespace
{

TEST(CaptionRules, FontHeightAndFace)
{
    EXPECT_EQ(CaptionFontHeight(96, 180), -24);
    EXPECT_EQ(CaptionFontHeight(120, 100), -16); // 16.67 truncates
    EXPECT_EQ(CaptionFontHeight(96, 7), 0);
    EXPECT_EQ(CaptionPixelSize(-24), 24);
    EXPECT_EQ(CaptionPixelSize(0), 0);
    EXPECT_EQ(CaptionPixelSize(CaptionFontHeight(96, INT32_MAX)), 4096);
    EXPECT_EQ(CaptionFaceName(QString(40, u'x')).size(), 31);
    EXPECT_EQ(CaptionFaceName(QStringLiteral("Arial")), QStringLiteral("Arial"));
    EXPECT_EQ(CaptionAlignment(0), CaptionAlign::Left);
    EXPECT_EQ(CaptionAlignment(1), CaptionAlign::Centre);
    EXPECT_EQ(CaptionAlignment(2), CaptionAlign::Right);
    EXPECT_EQ(CaptionAlignment(3), CaptionAlign::Left);
    EXPECT_EQ(CaptionAlignment(-1), CaptionAlign::Left);
}

TEST(CaptionRules, Rectangles)
{
    auto rows = [](CaptionBox b) { return std::make_pair(b.top, b.bottom); };
    EXPECT_EQ(rows(CaptionRect(320, 240, 24, 1, 1)), std::make_pair(108, 132));
    EXPECT_EQ(rows(CaptionRect(320, 240, 24, 1, 0)), std::make_pair(2, 26));
    EXPECT_EQ(rows(CaptionRect(320, 240, 24, 2, 2)), std::make_pair(190, 238));
    EXPECT_EQ(rows(CaptionRect(320, 241, 25, 1, 1)), std::make_pair(108, 133));
    // Halves truncate toward zero when the caption is taller than the frame.
    EXPECT_EQ(rows(CaptionRect(320, 10, 25, 1, 1)), std::make_pair(-7, 17));
    for (int outside : {3, -1, 99})
        EXPECT_EQ(rows(CaptionRect(320, 240, 24, 2, outside)), std::make_pair(2, 50));
    const CaptionBox b = CaptionRect(320, 240, 24, 1, 2);
    EXPECT_EQ(b.left, 0);
    EXPECT_EQ(b.right, 320);
}

TEST(CaptionRules, TimeTextAndLineBreaks)
{
    ScopedTimeZone zone("UTC");
    const std::time_t t = 1709649000; // 2024-03-05 14:30:00
    QString text = FormatCaptionTime(t, QStringLiteral("%Y-%m-%d\\n%H:%M:%S"));
    EXPECT_EQ(text, QStringLiteral("2024-03-05\\n14:30:00"));
    EXPECT_EQ(ReplaceLineBreaks(&text), 2);
    EXPECT_EQ(text, QStringLiteral("2024-03-05\n14:30:00"));

    // 127 characters fit the 128-character buffer; one more empties the caption.
    EXPECT_EQ(FormatCaptionTime(t, QStringLiteral("%Y") + QString(123, u'x')).size(), 127);
    EXPECT_TRUE(FormatCaptionTime(t, QStringLiteral("%Y") + QString(124, u'x')).isEmpty());
    EXPECT_TRUE(FormatCaptionTime(t, QString()).isEmpty());
    {
        ScopedTimeZone berlin("Europe/Berlin");
        EXPECT_EQ(FormatCaptionTime(t, QStringLiteral("%H:%M")), QStringLiteral("15:30"));
    }

    QString raw = QStringLiteral("a\nb");
    EXPECT_EQ(ReplaceLineBreaks(&raw), 1) << "a line feed already there is not counted";
    QString doubled = QStringLiteral("x\\\\ny\\n");
    EXPECT_EQ(ReplaceLineBreaks(&doubled), 3);
    EXPECT_EQ(doubled, QStringLiteral("x\\\ny\n"));
    QString lone = QStringLiteral("\\");
    EXPECT_EQ(ReplaceLineBreaks(&lone), 1);
}

// Captions drawn before the painter left the blending must stay byte for byte
// what they were: every ink alpha over many backgrounds.
TEST(CaptionRules, InkBlendsExactlyAsThePainterDoes)
{
    const int n = 256 * 61;
    QImage ink(n, 1, QImage::Format_ARGB32_Premultiplied);
    QImage painted(n, 1, QImage::Format_RGB32);
    auto* inkRow = reinterpret_cast<QRgb*>(ink.scanLine(0));
    auto* bgRow = reinterpret_cast<QRgb*>(painted.scanLine(0));
    for (int i = 0; i < n; ++i) {
        const int a = i % 256, k = i / 256;
        inkRow[i] = qRgba((k * 37) % (a + 1), (k * 11 + a) % (a + 1), (k * 5) % (a + 1), a);
        bgRow[i] = qRgb((i * 7) & 255, (i * 13) & 255, (i * 29) & 255);
    }
    std::vector<QRgb> blended(bgRow, bgRow + n);
    {
        QPainter painter(&painted);
        painter.drawImage(0, 0, ink);
    }
    BlendCaptionInk(blended.data(), inkRow, n);
    int differ = 0;
    for (int i = 0; i < n; ++i)
        differ += blended[std::size_t(i)] != painted.pixel(i, 0);
    EXPECT_EQ(differ, 0);
}

class Caption : public GrabFixture
{
protected:
    // Stamps the frame as the capture window hands it over (bytes shared with
    // their owner), checks that this agrees with stamping a plain copy, and
    // returns the output's bytes.
    std::vector<unsigned char> Stamp(const dibtest::DibLayout& layout)
    {
        input = dibtest::BuildDibBytes(layout);
        auto owner = std::make_shared<std::vector<unsigned char>>(input);
        const std::weak_ptr<std::vector<unsigned char>> watch = owner;
        HGLOBAL frame = GlobalAllocShared(owner, owner->data(), owner->size());
        owner.reset();
        HGLOBAL out = dlg.StampCaption(frame, clock.now, app.m_upload);
        GlobalFree(frame); // the clipboard may let go first
        EXPECT_NE(out, nullptr);
        if (!out)
            return {};
        // The writer reads the output in its parts; the same picture whole
        // must give the same file.
        const std::string parts = Dest("parts.jpg").toStdString();
        const std::string whole = Dest("whole.jpg").toStdString();
        const int rc = jpeg_write_file(out, parts.c_str(), 75);
        std::vector<unsigned char> bytes = BlockBytes(out);
        HGLOBAL copy = dibtest::ToBlock(bytes);
        EXPECT_EQ(jpeg_write_file(copy, whole.c_str(), 75), rc);
        GlobalFree(copy);
        if (rc == 0) {
            EXPECT_TRUE(dibtest::ReadFileBytes(parts) == dibtest::ReadFileBytes(whole));
        }
        EXPECT_FALSE(watch.expired()) << "the output keeps the frame's bytes alive";
        if (const auto kept = watch.lock()) {
            EXPECT_TRUE(*kept == input) << "the frame itself is never drawn on";
        }
        GlobalFree(out);
        EXPECT_TRUE(watch.expired());

        HGLOBAL plain = dibtest::ToBlock(input);
        HGLOBAL plainOut = dlg.StampCaption(plain, clock.now, app.m_upload);
        GlobalFree(plain);
        EXPECT_TRUE(plainOut && BlockBytes(plainOut) == bytes) << "a plain frame, copied whole";
        GlobalFree(plainOut);
        return bytes;
    }
    int LineHeight() const
    {
        QFont f = MakeCaptionFont(QStringLiteral("Arial"), CaptionFontHeight(96, 180));
        return QFontMetrics(f).height();
    }
    struct Painted {
        int count = 0, minX = INT32_MAX, maxX = -1, minY = INT32_MAX, maxY = -1;
        int strong = 0; // pixels of the caption colour itself
        int swapped = 0;
    };
    // Pixels that differ from the input, and where they lie.
    Painted Changes(const std::vector<unsigned char>& out, int width, int height, Rgb colour)
    {
        Painted p;
        const Rgb swapped{colour.b, colour.g, colour.r};
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const Rgb c = PixelAt(out, x, y);
                const Rgb was = PixelAt(input, x, y);
                if (c.r == was.r && c.g == was.g && c.b == was.b)
                    continue;
                ++p.count;
                p.minX = std::min(p.minX, x), p.maxX = std::max(p.maxX, x);
                p.minY = std::min(p.minY, y), p.maxY = std::max(p.maxY, y);
                p.strong += dibtest::Near(c, colour, 40);
                p.swapped += dibtest::Near(c, swapped, 40);
            }
        }
        return p;
    }
    std::vector<unsigned char> input;
};

TEST_F(Caption, RedTwoLinesBottomRightOnEachDepth)
{
    const int h = LineHeight();
    for (int bits : {24, 16, 8}) {
        SCOPED_TRACE(bits);
        const std::vector<unsigned char> out = Stamp(PlainFrame(320, 240, bits));
        ASSERT_EQ(out.size(), input.size());
        // Header and colour table pass through byte for byte.
        const std::size_t offset = 40 + (bits == 8 ? 1024 : 0);
        EXPECT_TRUE(std::equal(input.begin(), input.begin() + offset, out.begin()));
        const Painted p = Changes(out, 320, 240, Rgb{255, 0, 0});
        EXPECT_GT(p.strong, 100);
        EXPECT_EQ(p.swapped, 0);
        // Two lines from two line heights plus 2 above the bottom edge.
        EXPECT_GE(p.minY, 240 - 2 * h - 2);
        EXPECT_LT(p.minY, 240 - 2 * h - 2 + h / 2);
        EXPECT_GE(p.maxY, 240 - h - 2);
        EXPECT_LT(p.maxY, 240 - 2);
        EXPECT_GE(p.maxX, 320 - 4) << "right-aligned";
        EXPECT_GT(p.minX, 320 / 3);
    }
}

TEST_F(Caption, BlueCentredAndTopDown)
{
    CUpload& s = app.m_upload;
    s.m_crCaptionColor = RGB(0, 0, 255);
    s.m_nCaptionHorzPos = 1;
    s.m_nCaptionVertPos = 1;
    s.m_strTimeFormat = QStringLiteral("%H:%M:%S");
    const int h = LineHeight();
    for (int height : {240, -240}) {
        SCOPED_TRACE(height);
        const std::vector<unsigned char> out = Stamp(PlainFrame(320, height, 24));
        const Painted p = Changes(out, 320, 240, Rgb{0, 0, 255});
        EXPECT_GT(p.strong, 50);
        EXPECT_EQ(p.swapped, 0);
        EXPECT_GE(p.minY, (240 - h) / 2);
        EXPECT_LT(p.maxY, (h + 240) / 2);
        EXPECT_LT(std::abs((p.minX + p.maxX) / 2 - 160), 4) << "centred";
    }
}

TEST_F(Caption, NothingDrawnWithoutTimeOrText)
{
    const int fontsBefore = CaptionFontsMade();
    app.m_upload.m_bShowTime = 0;
    EXPECT_EQ(Stamp(PlainFrame(64, 48, 24)), input);
    EXPECT_EQ(CaptionFontsMade(), fontsBefore) << "no font without a caption";

    app.m_upload.m_bShowTime = 1;
    app.m_upload.m_strTimeFormat = QStringLiteral("%Y") + QString(124, u'x');
    for (int bits : {24, 16, 8})
        EXPECT_EQ(Stamp(PlainFrame(64, 48, bits)), input) << bits;
}

TEST_F(Caption, OddFramesPassOrAreRefused)
{
    // Not drawn on, handed to the writer as they are.
    dibtest::DibLayout rgb32 = PlainFrame(32, 16, 32);
    EXPECT_EQ(Stamp(rgb32), input);
    // biSizeImage 0: the output holds all the rows anyway.
    dibtest::DibLayout zero = PlainFrame(33, 20, 24);
    zero.sizeImageZero = true;
    EXPECT_EQ(Stamp(zero).size(), 40 + dibtest::Stride(33, 24) * 20);

    // A header that claims more than its block holds is not copied.
    auto lying = dibtest::BuildDibBytes(PlainFrame(32, 16, 24));
    reinterpret_cast<BITMAPINFOHEADER*>(lying.data())->biHeight = 400;
    HGLOBAL frame = dibtest::ToBlock(lying);
    EXPECT_EQ(dlg.StampCaption(frame, clock.now, app.m_upload), nullptr);
    GlobalFree(frame);
    EXPECT_EQ(dlg.StampCaption(frame, clock.now, app.m_upload), nullptr) << "freed handle";
}

TEST_F(Caption, StoredValuesOutOfRange)
{
    // Positions outside their range fall back to top and left.
    CUpload& s = app.m_upload;
    s.m_nCaptionVertPos = 7;
    s.m_nCaptionHorzPos = -3;
    s.m_strFontName = QStringLiteral("Arial") + QString(200, u'Z');
    std::vector<unsigned char> out = Stamp(PlainFrame(320, 240, 24));
    const Painted p = Changes(out, 320, 240, Rgb{255, 0, 0});
    EXPECT_GT(p.strong, 50);
    EXPECT_GE(p.minY, 2);
    EXPECT_LT(p.maxY, 2 + 2 * LineHeight());
    EXPECT_LT(p.minX, 8);

    // A huge size is bounded; a negative or zero one still draws.
    s.m_nFontPointSize = 100000;
    out = Stamp(PlainFrame(40, 30, 16));
    EXPECT_EQ(out.size(), input.size());
    for (int size : {-180, 0}) {
        SCOPED_TRACE(size);
        s.m_nFontPointSize = size;
        out = Stamp(PlainFrame(64, 48, 16));
        EXPECT_GT(Changes(out, 64, 48, Rgb{255, 0, 0}).strong, 0);
    }
}

} // namespace

// The laid-out caption is kept from frame to frame; any change of what it
// depends on must draw it anew, and going back must give the first picture.
TEST_F(Caption, EachChangeRedrawsAndGoingBackGivesTheSamePicture)
{
    CUpload& s = app.m_upload;
    const std::vector<unsigned char> first = Stamp(PlainFrame(320, 240, 24));
    const std::vector<std::function<void(int)>> changes = {
        [&](int on) { s.m_crCaptionColor = on ? RGB(0, 0, 255) : RGB(255, 0, 0); },
        [&](int on) { s.m_nCaptionHorzPos = on ? 0 : 2; },
        [&](int on) { s.m_nCaptionVertPos = on ? 0 : 2; },
        [&](int on) { s.m_nFontPointSize = on ? 240 : 180; },
        [&](int on) { clock.now += on ? 1 : -1; },
    };
    for (std::size_t i = 0; i < changes.size(); ++i) {
        SCOPED_TRACE(i);
        changes[i](1);
        EXPECT_NE(Stamp(PlainFrame(320, 240, 24)), first);
        changes[i](0);
        EXPECT_EQ(Stamp(PlainFrame(320, 240, 24)), first);
    }
    // A frame of another size lays the caption out for that size.
    const std::vector<unsigned char> wider = Stamp(PlainFrame(400, 240, 24));
    const Painted p = Changes(wider, 400, 240, Rgb{255, 0, 0});
    EXPECT_GE(p.maxX, 400 - 4) << "right-aligned on the wider frame";
    EXPECT_EQ(Stamp(PlainFrame(320, 240, 24)), first);
}
