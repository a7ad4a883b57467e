#include "CaptionPaint.h"

#include "CaptionEffects.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QStringList>
#include <algorithm>
#include <climits>
#include <utility>
#include <vector>

namespace
{

int g_fontsMade = 0;

// The band is painted as 32-bit RGB, the painter's fastest format; the rows
// come from and go back to the bitmap's own format here, so red stays red.
class RowCodec
{
public:
    RowCodec(const DibLayout& layout, const unsigned char* colourTable) : d(layout)
    {
        std::fill(std::begin(m_table), std::end(m_table), qRgb(0, 0, 0));
        for (std::size_t i = 0; i < d.colours; ++i) {
            const unsigned char* q = colourTable + 4 * i;
            m_table[i] = qRgb(q[2], q[1], q[0]);
        }
    }

    // n pixels from src, the first of them at x in the bitmap's row.
    void Read(const unsigned char* row, int x, int n, QRgb* dst) const
    {
        const unsigned char* src = row + x * (d.bitCount / 8);
        if (d.bitCount == 24) {
            for (int i = 0; i < n; ++i, src += 3)
                dst[i] = qRgb(src[2], src[1], src[0]);
        } else if (d.bitCount == 16) {
            for (int i = 0; i < n; ++i, src += 2)
                dst[i] = From555(src[0] | (src[1] << 8));
        } else {
            for (int i = 0; i < n; ++i)
                dst[i] = m_table[src[i]];
        }
    }

    // Only pixels the caption changed are written, so the rest of the row
    // stays byte for byte as it was.
    void Write(const QRgb* painted, int x, int n, unsigned char* row)
    {
        unsigned char* dst = row + x * (d.bitCount / 8);
        if (d.bitCount == 24) {
            for (int i = 0; i < n; ++i, dst += 3) {
                const QRgb c = painted[i];
                dst[0] = static_cast<unsigned char>(qBlue(c));
                dst[1] = static_cast<unsigned char>(qGreen(c));
                dst[2] = static_cast<unsigned char>(qRed(c));
            }
        } else if (d.bitCount == 16) {
            for (int i = 0; i < n; ++i, dst += 2) {
                const QRgb c = painted[i];
                if (c == From555(dst[0] | (dst[1] << 8)))
                    continue;
                const unsigned v =
                    ((qRed(c) >> 3) << 10) | ((qGreen(c) >> 3) << 5) | (qBlue(c) >> 3);
                dst[0] = static_cast<unsigned char>(v);
                dst[1] = static_cast<unsigned char>(v >> 8);
            }
        } else {
            for (int i = 0; i < n; ++i) {
                if (painted[i] != m_table[dst[i]])
                    dst[i] = Nearest(painted[i]);
            }
        }
    }

private:
    static QRgb From555(unsigned v)
    {
        auto expand = [](unsigned c) { return int(((c & 31) << 3) | ((c & 31) >> 2)); };
        return qRgb(expand(v >> 10), expand(v >> 5), expand(v));
    }

    unsigned char Nearest(QRgb c)
    {
        if (c == m_lastColour && m_lastIndex >= 0)
            return static_cast<unsigned char>(m_lastIndex);
        int best = 0, bestDistance = INT_MAX;
        for (int i = 0; i < static_cast<int>(d.colours); ++i) {
            const int dr = qRed(c) - qRed(m_table[i]), dg = qGreen(c) - qGreen(m_table[i]),
                      db = qBlue(c) - qBlue(m_table[i]);
            const int distance = dr * dr + dg * dg + db * db;
            if (distance < bestDistance)
                best = i, bestDistance = distance;
        }
        m_lastColour = c;
        m_lastIndex = best;
        return static_cast<unsigned char>(best);
    }

    const DibLayout& d;
    QRgb m_table[256];
    QRgb m_lastColour = 0;
    int m_lastIndex = -1;
};

struct PlacedLine {
    QString text;
    int x, y; // left end of the advance, top of the line
    int advance;
};

// Lines stand one text height apart from the rectangle's top; line feeds that
// were not counted still break, and their lines fall to the clip.
std::vector<PlacedLine> PlaceLines(const QString& text, const QFontMetrics& fm, int width,
                                   const CaptionBox& box, CaptionAlign align)
{
    std::vector<PlacedLine> placed;
    const QStringList lines = text.split(QChar(u'\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const int y = box.top + i * fm.height();
        if (y >= box.bottom)
            break;
        const int advance = fm.horizontalAdvance(lines[i]);
        const int x = align == CaptionAlign::Centre  ? (width - advance) / 2
                      : align == CaptionAlign::Right ? width - advance
                                                     : 0;
        placed.push_back({lines[i], x, y, advance});
    }
    return placed;
}

// The columns the text may touch: its advances widened by what glyphs can
// reach beyond them (and the effect beyond the glyphs), within the picture.
std::pair<int, int> InkColumns(const std::vector<PlacedLine>& lines, int lineHeight, int width,
                               int effectReach)
{
    const int reach = lineHeight / 2 + 2 + effectReach;
    int left = width, right = 0;
    for (const PlacedLine& l : lines) {
        left = std::min(left, l.x - reach);
        right = std::max(right, l.x + l.advance + reach);
    }
    return {std::max(left, 0), std::min(right, width)};
}

// Where the lines' text lies, within the rectangle it is clipped to.
QRect TextRect(const std::vector<PlacedLine>& lines, int lineHeight, const CaptionBox& box)
{
    QRect r;
    for (const PlacedLine& l : lines)
        r |= QRect(l.x, l.y, l.advance, lineHeight);
    return r & QRect(box.left, box.top, box.right - box.left, box.bottom - box.top);
}

// Everything about a caption that follows from its text, font, colour and the
// picture's size, worked out once: a stream of frames captions the same second
// many times over, so only the first lays out and draws the glyphs.
struct CaptionLayout {
    QString text;
    int lines = 0;
    QFont font;
    QRgb colour = 0;
    CaptionAlign align = CaptionAlign::Left;
    int vertPos = 0, width = 0, height = 0;
    CaptionEffect effect = CaptionEffect::None;
    QRgb effectColour = 0;

    CaptionBox box{};
    QRect patch; // the rows the caption covers, across the columns its ink may reach
    QImage ink;  // the text on a transparent layer the size of the patch

    bool Fits(const DibLayout& d, const QString& t, int n, const CaptionStyle& s) const
    {
        return width == d.width && height == d.height && lines == n && vertPos == s.vertPos &&
               align == s.align && colour == s.colour.rgba() && effect == s.effect &&
               (effect == CaptionEffect::None || effectColour == s.effectColour.rgba()) &&
               text == t && font == s.font;
    }
};

void LayOut(CaptionLayout& l)
{
    const QFontMetrics fm(l.font);
    l.box = CaptionRect(l.width, l.height, fm.height(), l.lines, l.vertPos);
    l.patch = QRect();
    l.ink = QImage();
    // The effect may reach past the rectangle the text is clipped to.
    const int reach = CaptionEffectReach(l.effect, fm.height());
    const int top = std::max(l.box.top - reach, 0);
    const int bottom = std::min(l.box.bottom + reach, l.height);
    if (l.text.isEmpty() || top >= bottom)
        return;
    const std::vector<PlacedLine> placed = PlaceLines(l.text, fm, l.width, l.box, l.align);
    const auto [left, right] = InkColumns(placed, fm.height(), l.width, reach);
    if (left >= right)
        return;
    l.patch = QRect(left, top, right - left, bottom - top);
    l.ink = QImage(l.patch.size(), QImage::Format_ARGB32_Premultiplied);
    if (l.ink.isNull()) {
        l.patch = QRect();
        return;
    }
    l.ink.fill(Qt::transparent);
    QPainter painter(&l.ink);
    painter.translate(-l.patch.left(), -l.patch.top());
    painter.setClipRect(
        QRect(l.box.left, l.box.top, l.box.right - l.box.left, l.box.bottom - l.box.top));
    painter.setFont(l.font);
    painter.setPen(QColor::fromRgba(l.colour));
    for (const PlacedLine& p : placed)
        painter.drawText(QPoint(p.x, p.y + fm.ascent()), p.text);
    painter.end();
    if (reach)
        UnderlayCaptionEffect(l.ink, l.effect, QColor::fromRgba(l.effectColour), fm.height(),
                              TextRect(placed, fm.height(), l.box).translated(-l.patch.topLeft()));
}

CaptionLayout& LayoutFor(const DibLayout& d, const QString& text, int lines,
                         const CaptionStyle& style)
{
    thread_local CaptionLayout cached;
    if (!cached.Fits(d, text, lines, style)) {
        cached.text = text;
        cached.lines = lines;
        cached.font = style.font;
        cached.colour = style.colour.rgba();
        cached.align = style.align;
        cached.vertPos = style.vertPos;
        cached.effect = style.effect;
        cached.effectColour = style.effectColour.rgba();
        cached.width = d.width;
        cached.height = d.height;
        LayOut(cached);
    }
    return cached;
}

} // namespace

CaptionEffect CaptionEffectOf(int stored)
{
    return stored >= 1 && stored <= 3 ? static_cast<CaptionEffect>(stored) : CaptionEffect::None;
}

QFont MakeCaptionFont(const QString& face, int fontHeight)
{
    ++g_fontsMade;
    QFont font;
    if (!face.isEmpty())
        font.setFamily(face);
    if (const int px = CaptionPixelSize(fontHeight))
        font.setPixelSize(px);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    return font;
}

int CaptionFontsMade()
{
    return g_fontsMade;
}

// The painter's own rounding (a * x / 255, rounded, two channels at once).
static QRgb ByteMul(QRgb x, unsigned a)
{
    unsigned t = (x & 0xff00ffu) * a;
    t = ((t + ((t >> 8) & 0xff00ffu) + 0x800080u) >> 8) & 0xff00ffu;
    x = ((x >> 8) & 0xff00ffu) * a;
    x = (x + ((x >> 8) & 0xff00ffu) + 0x800080u) & 0xff00ff00u;
    return x | t;
}

void BlendCaptionInk(QRgb* row, const QRgb* ink, int n)
{
    for (int i = 0; i < n; ++i) {
        const QRgb s = ink[i];
        if (s >= 0xff000000u)
            row[i] = s;
        else if (s != 0)
            row[i] = s + ByteMul(row[i], qAlpha(~s));
    }
}

bool CaptionDrawable(const DibLayout& d)
{
    return d.header.biCompression == BI_RGB &&
           (d.bitCount == 8 || d.bitCount == 16 || d.bitCount == 24);
}

QRect CaptionArea(const DibLayout& d, const QString& text, int lines, const CaptionStyle& style)
{
    return LayoutFor(d, text, lines, style).patch;
}

std::pair<int, int> CaptionRows(const DibLayout& d, const QString& text, int lines,
                                const CaptionStyle& style)
{
    const QRect patch = CaptionArea(d, text, lines, style);
    return patch.isEmpty() ? std::pair<int, int>{0, 0}
                           : std::pair<int, int>{patch.top(), patch.bottom() + 1};
}

CaptionBox DrawCaption(const DibLayout& d, const unsigned char* colourTable, unsigned char* pixels,
                       const QString& text, int lines, const CaptionStyle& style)
{
    return DrawCaptionRows(
        d, colourTable, [&](int y) { return pixels + d.RowOffset(y); }, text, lines, style);
}

CaptionBox DrawCaptionRows(const DibLayout& d, const unsigned char* colourTable,
                           const CaptionRowAt& row, const QString& text, int lines,
                           const CaptionStyle& style)
{
    // Only the patch around the text goes through the painter, so the cost
    // follows the caption's size and not the picture's.
    CaptionLayout& l = LayoutFor(d, text, lines, style);
    if (!l.patch.isEmpty())
        BlendLayerRows(d, colourTable, row, l.ink, l.patch.topLeft());
    return l.box;
}

void BlendLayerRows(const DibLayout& d, const unsigned char* colourTable, const CaptionRowAt& row,
                    const QImage& layer, QPoint at)
{
    thread_local std::vector<QRgb> scratch;
    scratch.resize(std::size_t(layer.width()));
    RowCodec codec(d, colourTable);
    const int left = at.x(), top = at.y(), width = layer.width();
    for (int y = 0; y < layer.height(); ++y) {
        codec.Read(row(top + y), left, width, scratch.data());
        BlendCaptionInk(scratch.data(), reinterpret_cast<const QRgb*>(layer.constScanLine(y)),
                        width);
        codec.Write(scratch.data(), left, width, row(top + y));
    }
}
