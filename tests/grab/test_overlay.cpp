// The overlay image: where it goes, how it is scaled and blended, and what
// happens when its file is missing, broken or replaced.
#include "capture/CaptionSettings.h"
#include "capture/Overlay.h"
#include "grabtest.h"

#include <QImage>

using namespace grabtest;

namespace
{

TEST(OverlayPlace, PositionsAndScale)
{
    const QSize logo(40, 20);
    const std::vector<QPoint> corners = {{2, 2},     {140, 2}, {278, 2},   {2, 110},  {140, 110},
                                         {278, 110}, {2, 218}, {140, 218}, {278, 218}};
    for (int p = 0; p < 9; ++p)
        EXPECT_EQ(OverlayRect(logo, 320, 240, p), QRect(corners[std::size_t(p)], logo)) << p;
    for (int outside : {-1, 9, 1000})
        EXPECT_EQ(OverlayRect(logo, 320, 240, outside).topLeft(), QPoint(278, 218));
    // Down to a quarter of the width, never up; a tall one within the height.
    EXPECT_EQ(OverlayRect({400, 200}, 320, 240, 0).size(), QSize(80, 40));
    EXPECT_EQ(OverlayRect({80, 10}, 320, 240, 0).size(), QSize(80, 10));
    EXPECT_EQ(OverlayRect({10, 1000}, 320, 240, 0).size(), QSize(2, 236));
    EXPECT_TRUE(OverlayRect(logo, 4, 4, 0).isEmpty());
    EXPECT_TRUE(OverlayRect(QSize(), 320, 240, 0).isEmpty());
}

class OverlayTest : public GrabFixture
{
protected:
    OverlayTest()
    {
        app.m_upload.m_bShowTime = 0;
        CaptionExtrasInForce().strOverlayImage = Logo();
        CaptionExtrasInForce().nOverlayPosition = 8;
        input = dibtest::BuildDibBytes(PlainFrame(320, 240, 24));
    }
    QString Logo() const { return files.filePath(QStringLiteral("logo.png")); }
    // Left half opaque colour, right half transparent.
    void WriteLogo(QColor colour, QSize size = {40, 20})
    {
        QImage logo(size, QImage::Format_ARGB32);
        logo.fill(Qt::transparent);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width() / 2; ++x)
                logo.setPixelColor(x, y, colour);
        ASSERT_TRUE(logo.save(Logo(), "PNG"));
    }
    std::vector<unsigned char> Stamp(std::size_t* owned = nullptr)
    {
        return StampBytes(dlg, input, clock.now, app.m_upload, owned);
    }

    QTemporaryDir files;
    std::vector<unsigned char> input;
};

TEST_F(OverlayTest, DrawnAtItsPlaceWithOpacityOnItsRowsOnly)
{
    WriteLogo(QColor(0, 0, 255));
    std::size_t owned = 0;
    std::vector<unsigned char> out = Stamp(&owned);
    EXPECT_EQ(owned, 20 * dibtest::Stride(320, 24)) << "only the overlay's rows are copied";
    auto at = [&](int x, int y) { return PixelAt(out, x, y); };
    EXPECT_TRUE(dibtest::Near(at(278, 218), {0, 0, 255}, 0));
    EXPECT_TRUE(dibtest::Near(at(297, 237), {0, 0, 255}, 0));
    EXPECT_TRUE(dibtest::Near(at(298, 218), {128, 128, 128}, 0)) << "transparent half";
    EXPECT_TRUE(dibtest::Near(at(277, 218), {128, 128, 128}, 0));
    EXPECT_TRUE(dibtest::Near(at(278, 238), {128, 128, 128}, 0));

    CaptionExtrasInForce().nOverlayOpacity = 50;
    out = Stamp();
    EXPECT_TRUE(dibtest::Near(at(280, 220), {64, 64, 191}, 2));
    CaptionExtrasInForce().nOverlayOpacity = 0;
    EXPECT_EQ(Stamp(), input);

    // Scaled to a quarter of the width at the top left.
    CaptionExtrasInForce().nOverlayOpacity = 100;
    CaptionExtrasInForce().nOverlayPosition = 0;
    WriteLogo(QColor(0, 0, 255), {400, 200});
    clock.now += 1;
    out = Stamp();
    EXPECT_TRUE(dibtest::Near(at(2, 2), {0, 0, 255}, 0));
    EXPECT_TRUE(dibtest::Near(at(41, 41), {0, 0, 255}, 0));
    EXPECT_TRUE(dibtest::Near(at(2, 42), {128, 128, 128}, 0));
    EXPECT_TRUE(dibtest::Near(at(43, 2), {128, 128, 128}, 0));
}

// Under the caption: the caption's text lies on the overlay, not under it.
TEST_F(OverlayTest, CaptionGoesOverTheImage)
{
    WriteLogo(QColor(0, 0, 255), {640, 480});
    app.m_upload.m_bShowTime = 1;
    app.m_upload.m_nCaptionHorzPos = 0;
    app.m_upload.m_nCaptionVertPos = 2;
    app.m_upload.m_strTimeFormat = QStringLiteral("%H:%M");
    CaptionExtrasInForce().nOverlayPosition = 6;
    const std::vector<unsigned char> out = Stamp();
    int red = 0;
    for (int y = 200; y < 240; ++y)
        for (int x = 0; x < 40; ++x)
            red += dibtest::Near(PixelAt(out, x, y), {255, 0, 0}, 40);
    EXPECT_GT(red, 30);
}

// A missing or broken file: one status line, the picture still made; the
// file is read again once it changes, but not more than once a second.
TEST_F(OverlayTest, MissingBrokenAndReplacedFiles)
{
    EXPECT_EQ(Stamp(), input);
    EXPECT_EQ(Stamp(), input);
    clock.now += 1;
    EXPECT_EQ(Stamp(), input);
    ASSERT_EQ(status.lines.size(), 1);
    EXPECT_TRUE(status.lines[0].contains(Logo())) << status.lines[0].toStdString();

    QFile broken(Logo());
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("\x89PNG\r\n\x1a\n not really");
    broken.close();
    clock.now += 1;
    EXPECT_EQ(Stamp(), input);
    EXPECT_EQ(status.lines.size(), 1) << "still wrong: not told again";

    WriteLogo(QColor(0, 255, 0));
    EXPECT_EQ(Stamp(), input) << "looked at this second already";
    clock.now += 1;
    EXPECT_TRUE(dibtest::Near(PixelAt(Stamp(), 280, 220), {0, 255, 0}, 0));
    WriteLogo(QColor(255, 0, 255));
    clock.now += 1;
    EXPECT_TRUE(dibtest::Near(PixelAt(Stamp(), 280, 220), {255, 0, 255}, 0));

    QFile::remove(Logo());
    clock.now += 1;
    EXPECT_EQ(Stamp(), input);
    EXPECT_EQ(status.lines.size(), 2) << "gone again: told again";
}

} // namespace
