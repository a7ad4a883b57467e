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

    void Read(const unsigned char* src, QRgb* dst) const
    {
        if (d.bitCount == 24) {
            for (int x = 0; x < d.width; ++x, src += 3)
                dst[x] = qRgb(src[2], src[1], src[0]);
        } else if (d.bitCount == 16) {
            for (int x = 0; x < d.width; ++x, src += 2)
                dst[x] = From555(src[0] | (src[1] << 8));
        } else {
            for (int x = 0; x < d.width; ++x)
                dst[x] = m_table[src[x]];
        }
    }

    // Only pixels the caption changed are written, so the rest of the row
    // stays byte for byte as it was.
    void Write(const QRgb* painted, unsigned char* dst)
    {
        if (d.bitCount == 24) {
            for (int x = 0; x < d.width; ++x, dst += 3) {
                const QRgb c = painted[x];
                dst[0] = static_cast<unsigned char>(qBlue(c));
                dst[1] = static_cast<unsigned char>(qGreen(c));
                dst[2] = static_cast<unsigned char>(qRed(c));
            }
        } else if (d.bitCount == 16) {
            for (int x = 0; x < d.width; ++x, dst += 2) {
                const QRgb c = painted[x];
                if (c == From555(dst[0] | (dst[1] << 8)))
                    continue;
                const unsigned v =
                    ((qRed(c) >> 3) << 10) | ((qGreen(c) >> 3) << 5) | (qBlue(c) >> 3);
                dst[0] = static_cast<unsigned char>(v);
                dst[1] = static_cast<unsigned char>(v >> 8);
            }
        } else {
            for (int x = 0; x < d.width; ++x) {
                if (painted[x] != m_table[dst[x]])
                    dst[x] = Nearest(painted[x]);
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
    PaintLines(&band, top, box, lineHeight, text, style);
    for (int y = top; y < bottom; ++y)
        codec.Write(reinterpret_cast<const QRgb*>(band.constScanLine(y - top)),
                    pixels + d.RowOffset(y));
    return box;
}
