#include "CaptionSettings.h"

#include "config/KeyedStore.h"

bool CaptionExtras::operator==(const CaptionExtras& o) const
{
    return nOutline == o.nOutline && crOutlineColor == o.crOutlineColor &&
           strOverlayImage == o.strOverlayImage && nOverlayPosition == o.nOverlayPosition &&
           nOverlayOpacity == o.nOverlayOpacity;
}

CaptionExtras LoadCaptionExtras(const Profile* store)
{
    CaptionExtras e;
    e.nOutline = ReadInt(store, Keys::CaptionOutline);
    e.crOutlineColor = COLORREF(ReadInt(store, Keys::CaptionOutlineColor));
    e.strOverlayImage = ReadString(store, Keys::OverlayImage);
    e.nOverlayPosition = ReadInt(store, Keys::OverlayPosition);
    e.nOverlayOpacity = ReadInt(store, Keys::OverlayOpacity);
    return e;
}

void SaveCaptionExtras(CaptionExtras& cur, const CaptionExtras& e, Profile& store)
{
    WriteIfChanged(store, Keys::CaptionOutline, cur.nOutline, e.nOutline);
    WriteIfChanged(store, Keys::CaptionOutlineColor, cur.crOutlineColor, e.crOutlineColor);
    WriteIfChanged(store, Keys::OverlayImage, cur.strOverlayImage, e.strOverlayImage);
    WriteIfChanged(store, Keys::OverlayPosition, cur.nOverlayPosition, e.nOverlayPosition);
    WriteIfChanged(store, Keys::OverlayOpacity, cur.nOverlayOpacity, e.nOverlayOpacity);
}

CaptionExtras& CaptionExtrasInForce()
{
    static CaptionExtras extras;
    return extras;
}
