// The caption's settings beyond the time and font: the style that keeps the
// text readable and the overlay image. Kept apart from the upload engine's
// record; the defaults draw what was drawn before these existed.
#pragma once

#include "platform/win/wintypes.h"

#include <QString>

class Profile;

struct CaptionExtras {
    int nOutline = 0;            // 0 none, 1 outline, 2 shadow, 3 box
    COLORREF crOutlineColor = 0; // 0x00BBGGRR
    QString strOverlayImage;     // empty: none
    int nOverlayPosition = 8;    // 3 x vertical + horizontal, 0 top left
    int nOverlayOpacity = 100;   // percent

    bool operator==(const CaptionExtras& o) const;
};

// A null store yields every default.
CaptionExtras LoadCaptionExtras(const Profile* store);
// Assigns and writes each value that differs, nothing else.
void SaveCaptionExtras(CaptionExtras& current, const CaptionExtras& edited, Profile& store);

// The values the running program draws with.
CaptionExtras& CaptionExtrasInForce();
