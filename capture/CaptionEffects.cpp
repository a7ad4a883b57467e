#include "CaptionEffects.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace
{

// 60% opaque: the picture still shows through the box.
constexpr int kBoxAlpha = 153;

int Width(int lineHeight)
{
    return std::max(1, (lineHeight + 6) / 12);
}

// The effect colour at every coverage, premultiplied as the ink is.
std::array<QRgb, 256> Shades(const QColor& colour)
{
    std::array<QRgb, 256> shades{};
    for (int a = 0; a < 256; ++a)
        shades[std::size_t(a)] =
            qPremultiply(qRgba(colour.red(), colour.green(), colour.blue(), a));
    return shades;
}

// The text's coverage widened by a disc of radius r. Each covered pixel
// stamps itself around, so the cost follows the ink and not the layer.
std::vector<unsigned char> Dilated(const QImage& ink, int r)
{
    std::vector<std::pair<int, int>> disc;
    for (int dy = -r; dy <= r; ++dy)
        for (int dx = -r; dx <= r; ++dx)
            if (dx * dx + dy * dy <= r * r + r)
                disc.emplace_back(dx, dy);
    const int w = ink.width(), h = ink.height();
    std::vector<unsigned char> cover(std::size_t(w) * std::size_t(h), 0);
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(ink.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const auto a = static_cast<unsigned char>(qAlpha(row[x]));
            if (!a)
                continue;
            for (const auto& [dx, dy] : disc) {
                const int nx = x + dx, ny = y + dy;
                if (nx < 0 || ny < 0 || nx >= w || ny >= h)
                    continue;
                unsigned char& c = cover[std::size_t(ny) * std::size_t(w) + std::size_t(nx)];
                c = std::max(c, a);
            }
        }
    }
    return cover;
}

// The text's coverage moved down and right by d.
std::vector<unsigned char> Shifted(const QImage& ink, int d)
{
    const int w = ink.width(), h = ink.height();
    std::vector<unsigned char> cover(std::size_t(w) * std::size_t(h), 0);
    for (int y = d; y < h; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(ink.constScanLine(y - d));
        for (int x = d; x < w; ++x)
            cover[std::size_t(y) * std::size_t(w) + std::size_t(x)] =
                static_cast<unsigned char>(qAlpha(row[x - d]));
    }
    return cover;
}

} // namespace

int CaptionEffectReach(CaptionEffect effect, int lineHeight)
{
    switch (effect) {
    case CaptionEffect::Outline:
    case CaptionEffect::Shadow:
        return Width(lineHeight);
    case CaptionEffect::Box:
        return 2 * Width(lineHeight);
    default:
        return 0;
    }
}

void UnderlayCaptionEffect(QImage& ink, CaptionEffect effect, const QColor& colour, int lineHeight,
                           const QRect& text)
{
    const int reach = CaptionEffectReach(effect, lineHeight);
    if (!reach || ink.isNull())
        return;
    QImage under(ink.size(), QImage::Format_ARGB32_Premultiplied);
    if (under.isNull())
        return;
    const std::array<QRgb, 256> shades = Shades(colour);
    if (effect == CaptionEffect::Box) {
        under.fill(0);
        const QRect box = text.adjusted(-reach, -reach, reach, reach) & under.rect();
        for (int y = box.top(); y <= box.bottom(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(under.scanLine(y));
            std::fill(row + box.left(), row + box.right() + 1, shades[kBoxAlpha]);
        }
    } else {
        const std::vector<unsigned char> cover =
            effect == CaptionEffect::Outline ? Dilated(ink, reach) : Shifted(ink, reach);
        const int w = ink.width();
        for (int y = 0; y < ink.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(under.scanLine(y));
            for (int x = 0; x < w; ++x)
                row[x] = shades[cover[std::size_t(y) * std::size_t(w) + std::size_t(x)]];
        }
    }
    // The text over its effect, with the same rounding as over the picture.
    for (int y = 0; y < ink.height(); ++y) {
        BlendCaptionInk(reinterpret_cast<QRgb*>(under.scanLine(y)),
                        reinterpret_cast<const QRgb*>(ink.constScanLine(y)), ink.width());
    }
    ink = under;
}
