// The caption's style: outline, shadow and box on bright and dark frames, and
// pictures without a style exactly as they were before styles existed.
#include "capture/CaptionEffects.h"
#include "capture/CaptionSettings.h"
#include "grabtest.h"

#include <QFontMetrics>

using namespace grabtest;

namespace
{

// A frame with every channel changing, so any difference in blending shows.
dibtest::DibLayout Pattern(int bits)
{
    dibtest::DibLayout s = PlainFrame(320, 240, bits);
    if (bits == 8)
        s.pixel = [](int x, int y) { return Rgb{(x + 2 * y) % 254, 0, 0}; };
    else
        s.pixel = [](int x, int y) {
            return Rgb{(x * 7 + y * 3) & 255, (x * 2 + y * 5) & 255, (x * x + y) & 255};
        };
    return s;
}

std::uint64_t Fnv(const std::vector<unsigned char>& bytes)
{
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char b : bytes)
        h = (h ^ b) * 1099511628211ull;
    return h;
}

bool Close(Rgb c, Rgb want, int tolerance = 40)
{
    return dibtest::Near(c, want, tolerance);
}

class CaptionStyleTest : public GrabFixture
{
protected:
    std::vector<unsigned char> Stamp(const dibtest::DibLayout& layout)
    {
        input = dibtest::BuildDibBytes(layout);
        return StampBytes(dlg, input, clock.now, app.m_upload);
    }
    // A red one-line caption, centred, over a frame of one colour.
    std::vector<unsigned char> StampPlain(Rgb background, int effect, COLORREF effectColour)
    {
        CUpload& s = app.m_upload;
        s.m_strTimeFormat = QStringLiteral("%H:%M Ag");
        s.m_nCaptionHorzPos = 1;
        s.m_nCaptionVertPos = 1;
        CaptionExtrasInForce().nOutline = effect;
        CaptionExtrasInForce().crOutlineColor = effectColour;
        dibtest::DibLayout frame = PlainFrame(320, 240, 24);
        frame.pixel = [background](int, int) { return background; };
        return Stamp(frame);
    }
    int Reach() const
    {
        QFont f = MakeCaptionFont(QStringLiteral("Arial"), CaptionFontHeight(96, 180));
        return CaptionEffectReach(CaptionEffect::Outline, QFontMetrics(f).height());
    }
    QRect Where(const std::vector<unsigned char>& out, Rgb colour) const
    {
        QRect r;
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 320; ++x)
                if (Close(PixelAt(out, x, y), colour))
                    r |= QRect(x, y, 1, 1);
        return r;
    }
    std::vector<unsigned char> input;
};

// Computed with the caption code as it was before styles were added: with no
// style (or a stored value that is none) every byte must stay the same.
TEST_F(CaptionStyleTest, NoStyleKeepsPicturesByteForByte)
{
    const std::map<int, std::uint64_t> before = {
        {24, 0xc875576ebd1db035ull},
        {16, 0x524f09998e8c3b98ull},
        {8, 0xf7d1b627bcdfb360ull},
    };
    for (int stored : {0, 4, -1}) {
        CaptionExtrasInForce().nOutline = stored;
        CaptionExtrasInForce().crOutlineColor = RGB(0, 0, 255);
        for (const auto& [bits, hash] : before)
            EXPECT_EQ(Fnv(Stamp(Pattern(bits))), hash) << "bits " << bits << " stored " << stored;
    }
}

// Every edge of the text meets the outline colour within the outline's width,
// on a white frame with a blue outline and on a black one with a white one.
TEST_F(CaptionStyleTest, OutlineRingsTheTextOnBrightAndDarkFrames)
{
    const int reach = Reach();
    EXPECT_GE(reach, 1);
    const Rgb red{255, 0, 0};
    for (const auto& [background, ring] : {std::pair<Rgb, Rgb>{{255, 255, 255}, {0, 0, 255}},
                                           std::pair<Rgb, Rgb>{{0, 0, 0}, {255, 255, 255}}}) {
        SCOPED_TRACE(background.r);
        const COLORREF ringRef = RGB(ring.r, ring.g, ring.b);
        const std::vector<unsigned char> plain = StampPlain(background, 0, ringRef);
        EXPECT_TRUE(Where(plain, ring).isEmpty());
        const std::vector<unsigned char> out = StampPlain(background, 1, ringRef);
        int edges = 0, ringed = 0;
        for (int y = 1; y < 239; ++y) {
            for (int x = 1; x < 319; ++x) {
                if (!Close(PixelAt(out, x, y), red, 60))
                    continue;
                // A text pixel with background (or ring) to its left or above.
                for (const auto& [dx, dy] : {std::pair{-1, 0}, std::pair{0, -1}}) {
                    if (Close(PixelAt(out, x + dx, y + dy), red, 60))
                        continue;
                    ++edges;
                    // Between two close strokes the ring may be all blended.
                    bool found = false, bare = false;
                    for (int k = 1; k <= reach + 1 && !found; ++k) {
                        const Rgb c = PixelAt(out, x + k * dx, y + k * dy);
                        found = Close(c, ring, 60);
                        bare = bare || Close(c, background, 60);
                    }
                    ringed += found || !bare;
                }
            }
        }
        EXPECT_GT(edges, 20);
        EXPECT_EQ(ringed, edges);
        // The ring stays near the text: nothing changes far from it.
        const QRect text = Where(out, red);
        const QRect changed = Where(out, ring);
        EXPECT_TRUE(text.adjusted(-reach - 2, -reach - 2, reach + 2, reach + 2).contains(changed));
    }
}

TEST_F(CaptionStyleTest, ShadowFallsDownAndRight)
{
    const int reach = Reach();
    const std::vector<unsigned char> out = StampPlain({255, 255, 255}, 2, RGB(0, 0, 0));
    const QRect text = Where(out, {255, 0, 0});
    const QRect shadow = Where(out, {0, 0, 0});
    ASSERT_FALSE(text.isEmpty());
    ASSERT_FALSE(shadow.isEmpty());
    EXPECT_EQ(shadow.right(), text.right() + reach);
    EXPECT_EQ(shadow.bottom(), text.bottom() + reach);
    EXPECT_GE(shadow.left(), text.left());
    EXPECT_GE(shadow.top(), text.top());
}

// The box darkens a white frame to 40% across the text's rectangle plus its
// margin and leaves everything else white.
TEST_F(CaptionStyleTest, BoxSitsBehindTheTextAt60Percent)
{
    const int margin = 2 * Reach();
    const std::vector<unsigned char> out = StampPlain({255, 255, 255}, 3, RGB(0, 0, 0));
    const QRect text = Where(out, {255, 0, 0});
    const QRect box = Where(out, {102, 102, 102}).united(text);
    ASSERT_FALSE(text.isEmpty());
    EXPECT_TRUE(box.contains(text.adjusted(-margin, -margin, margin, margin)));
    EXPECT_LT(box.height(), text.height() * 2);
    const Rgb corner = PixelAt(out, box.left(), box.top());
    EXPECT_TRUE(Close(corner, {102, 102, 102}, 2)) << corner.r;
    EXPECT_TRUE(Close(PixelAt(out, box.left() - 1, box.top()), {255, 255, 255}, 0));
    EXPECT_TRUE(Close(PixelAt(out, box.left(), box.bottom() + 1), {255, 255, 255}, 0));
    // On a dark frame a white box lightens instead.
    const std::vector<unsigned char> dark = StampPlain({0, 0, 0}, 3, RGB(255, 255, 255));
    EXPECT_TRUE(Close(PixelAt(dark, box.left(), box.top()), {153, 153, 153}, 2));
}

// The laid-out caption is kept from frame to frame: a change of style or of
// its colour must draw it anew, and going back must give the first picture.
TEST_F(CaptionStyleTest, StyleChangesRedrawTheKeptCaption)
{
    CaptionExtras& x = CaptionExtrasInForce();
    const std::vector<unsigned char> plain = Stamp(Pattern(24));
    std::vector<std::vector<unsigned char>> seen{plain};
    for (int effect : {1, 2, 3}) {
        x.nOutline = effect;
        for (COLORREF c : {RGB(0, 0, 0), RGB(0, 255, 0)}) {
            x.crOutlineColor = c;
            const std::vector<unsigned char> out = Stamp(Pattern(24));
            for (const auto& earlier : seen)
                EXPECT_NE(out, earlier) << effect << " " << c;
            seen.push_back(out);
        }
    }
    x.nOutline = 0;
    EXPECT_EQ(Stamp(Pattern(24)), plain);
    x.nOutline = 1;
    EXPECT_EQ(Stamp(Pattern(24)), seen[2]);
    // Each depth takes a style without trouble.
    for (int bits : {16, 8}) {
        const std::vector<unsigned char> out = Stamp(Pattern(bits));
        EXPECT_EQ(out.size(), input.size());
        EXPECT_NE(out, input);
    }
}

} // namespace
