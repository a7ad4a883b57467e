// The caption's rules as plain functions: font size, alignment, text and the
// rectangle it is drawn into.
#pragma once

#include <QString>
#include <ctime>

// The font height in pixels as the font request gives it: negative means a
// character height, -(dpi x tenths of a point / 720), the division truncating.
int CaptionFontHeight(int logPixelsY, int pointSizeTenths);
// The pixel size to ask the font system for; 0 leaves its default. Bounded so
// that a wild stored size cannot make the glyph rasteriser run away.
int CaptionPixelSize(int fontHeight);
// At most 31 characters of the stored face name are used.
QString CaptionFaceName(const QString& stored);

enum class CaptionAlign { Left, Centre, Right };
// 0 left, 1 centre, 2 right; any other value left.
CaptionAlign CaptionAlignment(int horzPos);

// The time in local time through the strftime-style format into 128 bytes
// (and extraRoom more, for values put into the format); empty when the result
// does not fit or the time cannot be converted.
QString FormatCaptionTime(std::time_t t, const QString& format, int extraRoom = 0);
// Replaces every backslash-n pair by a line feed; returns the line count, 1
// plus the replacements. Line feeds already present are not counted.
int ReplaceLineBreaks(QString* text);

struct CaptionBox {
    int left, top, right, bottom;
};
// The rectangle for picture width w and height h, line height lineHeight and
// lines lines; vertical 0 top, 1 centre, 2 bottom, any other value top.
CaptionBox CaptionRect(int width, int height, int lineHeight, int lines, int vertPos);
