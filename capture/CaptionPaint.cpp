#include "CaptionPaint.h"

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
// reach beyond them, within the picture.
std::pair<int, int> InkColumns(const std::vector<PlacedLine>& lines, int lineHeight, int width)
{
    const int reach = lineHeight / 2 + 2;
    int left = width, right = 0;
    for (const PlacedLine& l : lines) {
        left = std::min(left, l.x - reach);
        right = std::max(right, l.x + l.advance + reach);
    }
    return {std::max(left, 0), std::min(right, width)};
}

// The caption's text drawn once onto a transparent layer. A stream of frames
// captions the same second many times over; only the first draws the glyphs.
const QImage& TextLayer(const std::vector<PlacedLine>& placed, const QFontMetrics& fm,
                        const CaptionStyle& style, const CaptionBox& box, const QRect& patch)
{
    struct Cached {
        QStringList lines;
        QList<QPoint> at;
        QString fontKey;
        QRgb colour = 0;
        QRect patch, clip;
        QImage image;
    };
    thread_local Cached cache;
    QStringList lines;
    QList<QPoint> at;
    for (const PlacedLine& l : placed) {
        lines << l.text;
        at << QPoint(l.x, l.y);
    }
    const QRect clip(box.left, box.top, box.right - box.left, box.bottom - box.top);
    const QString fontKey = style.font.key();
    const QRgb colour = style.colour.rgba();
    if (!cache.image.isNull() && cache.lines == lines && cache.at == at &&
        cache.fontKey == fontKey && cache.colour == colour && cache.patch == patch &&
        cache.clip == clip)
        return cache.image;
    cache = Cached{lines,
                   at,
                   fontKey,
                   colour,
                   patch,
                   clip,
                   QImage(patch.size(), QImage::Format_ARGB32_Premultiplied)};
    if (cache.image.isNull())
        return cache.image;
    cache.image.fill(Qt::transparent);
    QPainter painter(&cache.image);
    painter.translate(-patch.left(), -patch.top());
    painter.setClipRect(clip);
    painter.setFont(style.font);
    painter.setPen(style.colour);
    for (const PlacedLine& l : placed)
        painter.drawText(QPoint(l.x, l.y + fm.ascent()), l.text);
    return cache.image;
}

} // namespace

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

bool CaptionDrawable(const DibLayout& d)
{
    return d.header.biCompression == BI_RGB &&
           (d.bitCount == 8 || d.bitCount == 16 || d.bitCount == 24);
}

CaptionBox DrawCaption(const DibLayout& d, const unsigned char* colourTable, unsigned char* pixels,
                       const QString& text, int lines, const CaptionStyle& style)
{
    const QFontMetrics fm(style.font);
    const CaptionBox box = CaptionRect(d.width, d.height, fm.height(), lines, style.vertPos);
    const int top = std::max(box.top, 0);
    const int bottom = std::min(box.bottom, d.height);
    if (text.isEmpty() || top >= bottom)
        return box;
    // Only the patch around the text goes through the painter, so the cost
    // follows the caption's size and not the picture's.
    const std::vector<PlacedLine> placed = PlaceLines(text, fm, d.width, box, style.align);
    const auto [left, right] = InkColumns(placed, fm.height(), d.width);
    if (left >= right)
        return box;
    QImage patch(right - left, bottom - top, QImage::Format_RGB32);
    const QImage& ink =
        TextLayer(placed, fm, style, box, QRect(left, top, right - left, bottom - top));
    if (patch.isNull() || ink.isNull())
        return box;
    RowCodec codec(d, colourTable);
    for (int y = top; y < bottom; ++y)
        codec.Read(pixels + d.RowOffset(y), left, patch.width(),
                   reinterpret_cast<QRgb*>(patch.scanLine(y - top)));
    {
        QPainter painter(&patch);
        painter.drawImage(0, 0, ink);
    }
    for (int y = top; y < bottom; ++y)
        codec.Write(reinterpret_cast<const QRgb*>(patch.constScanLine(y - top)), left,
                    patch.width(), pixels + d.RowOffset(y));
    return box;
}
