// Stamping a frame kept in YUV planes: the rows to be drawn on become a small
// BGR patch, the usual drawing runs on it, and only the pixels it changed go
// back into the planes, so the rest of the picture keeps its bytes.
#pragma once

#include "CaptionPaint.h"
#include "platform/win/globalmem.h"

#include <functional>

// The layout the drawing code sees for a plane frame: the same picture as
// 24-bit rows.
DibLayout PlanesAsBgr(const DibLayout& planes);

// Paints the area of the plane frame in view through paint, which gets the
// BGR layout and picture rows, and may change pixels in the area only; its
// rows (grown to whole chroma rows) must be the view's own. False when they
// are not.
using PaintBgrRows = std::function<void(const DibLayout& bgr, const CaptionRowAt& row)>;
bool PaintOnPlanes(const BlockView& view, const DibLayout& planes, const QRect& area,
                   const PaintBgrRows& paint);
