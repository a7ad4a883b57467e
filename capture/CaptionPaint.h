// Drawing the caption onto a packed bitmap's pixels in the bitmap's own
// format, touching only the rows the caption covers.
#pragma once

#include "Caption.h"
#include "platform/jpeg/diblayout.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>
#include <functional>
#include <utility>

// What keeps the text readable on any background, in the stored numbering.
enum class CaptionEffect { None = 0, Outline = 1, Shadow = 2, Box = 3 };
// Stored values outside 0..3 draw plain text, as before there was a choice.
CaptionEffect CaptionEffectOf(int stored);

struct CaptionStyle {
    QFont font;
    QColor colour;
    CaptionAlign align = CaptionAlign::Left;
    int vertPos = 0;
    CaptionEffect effect = CaptionEffect::None;
    QColor effectColour = Qt::black;
};

// The caption font for a face, a font height (see CaptionFontHeight) and the
// normal attributes. Counted, so that tests can tell none was made.
QFont MakeCaptionFont(const QString& face, int fontHeight);
int CaptionFontsMade();

// Blends n pixels of premultiplied ink over opaque pixels exactly as the
// painter's source-over would, without a painter for every frame.
void BlendCaptionInk(QRgb* row, const QRgb* ink, int n);

// Whether the caption can be drawn on bitmaps of this layout (8, 16 or 24
// bit, uncompressed); others pass through as they are.
bool CaptionDrawable(const DibLayout& layout);

// The part of the picture drawing this caption may change; empty when none.
QRect CaptionArea(const DibLayout& layout, const QString& text, int lines,
                  const CaptionStyle& style);
// Its picture rows [first, last), top row 0; first == last when none.
std::pair<int, int> CaptionRows(const DibLayout& layout, const QString& text, int lines,
                                const CaptionStyle& style);

// Draws text (lines already split at line feeds, counted lines in lines) onto
// the rows pixels[pixelOffset...]; colourTable is the bitmap's own (8 bit).
// Returns the caption rectangle it used.
CaptionBox DrawCaption(const DibLayout& layout, const unsigned char* colourTable,
                       unsigned char* pixels, const QString& text, int lines,
                       const CaptionStyle& style);
// The same onto rows wherever they lie: row(y) gives picture row y, one of
// CaptionRows' only.
using CaptionRowAt = std::function<unsigned char*(int y)>;
CaptionBox DrawCaptionRows(const DibLayout& layout, const unsigned char* colourTable,
                           const CaptionRowAt& row, const QString& text, int lines,
                           const CaptionStyle& style);

// Blends a premultiplied layer onto the picture rows it covers, its top left
// at picture pixel at; the layer must lie within the picture.
void BlendLayerRows(const DibLayout& layout, const unsigned char* colourTable,
                    const CaptionRowAt& row, const QImage& layer, QPoint at);
