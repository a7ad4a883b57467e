#include "CaptionPaint.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QStringList>
#include <algorithm>
#include <climits>

namespace
{

int g_fontsMade = 0;

// The band is painted as 32-bit RGB, the painter's fastest format; the rows
// come from and go back to the bitmap's own format here, so red stays red.
struct RowCodec {
    const DibLayout& d;
    QRgb table[256];
    RowCodec(const DibLayout& layout, const unsigned char* colourTable) : d(layout)
    {
        std::fill(std::begin(table), std::end(table), qRgb(0, 0, 0));
        for (std::size_t i = 0; i < d.colours; ++i) {
            const unsigned char* q = colourTable + 4 * i;
            table[i] = qRgb(q[2], q[1], q[0]);
        }
    }

    void Read(const unsigned char* src, QRgb* dst) const
    {
        for (int x = 0; x < d.width; ++x) {
            if (d.bitCount == 24) {
                const unsigned char* p = src + 3 * x;
                dst[x] = qRgb(p[2], p[1], p[0]);
            } else if (d.bitCount == 16) {
                const unsigned v = src[2 * x] | (src[2 * x + 1] << 8);
                dst[x] = qRgb(Expand5(v >> 10), Expand5(v >> 5), Expand5(v));
            } else {
                dst[x] = table[src[x]];
            }
        }
    }

    // Only pixels the caption changed are written, so the rest of the row
    // stays byte for byte as it was.
    void Write(const QRgb* before, const QRgb* after, unsigned char* dst)
    {
        for (int x = 0; x < d.width; ++x) {
            if (before[x] == after[x])
                continue;
            const QRgb c = after[x];
            if (d.bitCount == 24) {
                unsigned char* p = dst + 3 * x;
                p[0] = qBlue(c), p[1] = qGreen(c), p[2] = qRed(c);
            } else if (d.bitCount == 16) {
                const unsigned v =
                    ((qRed(c) >> 3) << 10) | ((qGreen(c) >> 3) << 5) | (qBlue(c) >> 3);
                dst[2 * x] = static_cast<unsigned char>(v);
                dst[2 * x + 1] = static_cast<unsigned char>(v >> 8);
            } else {
                dst[x] = Nearest(c);
            }
        }
    }

    static int Expand5(unsigned v) { return int(((v & 31) << 3) | ((v & 31) >> 2)); }

    unsigned char Nearest(QRgb c)
    {
        if (c == m_lastColour && m_lastIndex >= 0)
            return static_cast<unsigned char>(m_lastIndex);
        int best = 0, bestDistance = INT_MAX;
        const int entries = d.colours ? static_cast<int>(d.colours) : 1;
        for (int i = 0; i < entries; ++i) {
            const int dr = qRed(c) - qRed(table[i]), dg = qGreen(c) - qGreen(table[i]),
                      db = qBlue(c) - qBlue(table[i]);
            const int distance = dr * dr + dg * dg + db * db;
            if (distance < bestDistance)
                best = i, bestDistance = distance;
        }
        m_lastColour = c;
        m_lastIndex = best;
        return static_cast<unsigned char>(best);
    }

    QRgb m_lastColour = 0;
    int m_lastIndex = -1;
};

Qt::Alignment ToQt(CaptionAlign a)
{
    switch (a) {
    case CaptionAlign::Centre:
        return Qt::AlignHCenter;
    case CaptionAlign::Right:
        return Qt::AlignRight;
    default:
        return Qt::AlignLeft;
    }
}

void PaintLines(QImage* band, int bandTop, const CaptionBox& box, int lineHeight,
                const QString& text, const CaptionStyle& style)
{
    QPainter painter(band);
    painter.translate(0, -bandTop);
    painter.setClipRect(QRect(box.left, box.top, box.right - box.left, box.bottom - box.top));
    painter.setFont(style.font);
    painter.setPen(style.colour);
    // Lines stand one text height apart from the rectangle's top; line feeds
    // that were not counted still break, and their lines fall to the clip.
    const QStringList lines = text.split(QChar(u'\n'));
    const int flags = int(ToQt(style.align)) | Qt::AlignTop | Qt::TextDontClip;
    for (int i = 0; i < lines.size(); ++i) {
        const int y = box.top + i * lineHeight;
        if (y >= box.bottom)
            break;
        painter.drawText(QRect(box.left, y, box.right - box.left, lineHeight), flags, lines[i]);
    }
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
    const int lineHeight = QFontMetrics(style.font).height();
    const CaptionBox box = CaptionRect(d.width, d.height, lineHeight, lines, style.vertPos);
    const int top = std::max(box.top, 0);
    const int bottom = std::min(box.bottom, d.height);
    if (text.isEmpty() || top >= bottom)
        return box;
    QImage band(d.width, bottom - top, QImage::Format_RGB32);
    if (band.isNull())
        return box;
    RowCodec codec(d, colourTable);
    for (int y = top; y < bottom; ++y)
        codec.Read(pixels + d.RowOffset(y), reinterpret_cast<QRgb*>(band.scanLine(y - top)));
    const QImage before = band.copy();
    PaintLines(&band, top, box, lineHeight, text, style);
    for (int y = top; y < bottom; ++y)
        codec.Write(reinterpret_cast<const QRgb*>(before.constScanLine(y - top)),
                    reinterpret_cast<const QRgb*>(band.constScanLine(y - top)),
                    pixels + d.RowOffset(y));
    return box;
}
