// Outline, shadow and box: what lies under the caption's text so that it
// reads on a bright sky as well as at night. Worked out once per laid-out
// caption, never per frame.
#pragma once

#include "CaptionPaint.h"

#include <QImage>
#include <QRect>

// How far beyond the text the effect reaches for a line height: about a
// twelfth of it and at least one pixel; a box's margin is twice that. 0 for
// plain text.
int CaptionEffectReach(CaptionEffect effect, int lineHeight);

// Puts the effect in colour under the text already drawn on ink (a
// premultiplied layer); text is where the text's lines lie on that layer.
void UnderlayCaptionEffect(QImage& ink, CaptionEffect effect, const QColor& colour, int lineHeight,
                           const QRect& text);
