#include "CaptionFields.h"
#include "CaptionPaint.h"
#include "CaptionPlanes.h"
#include "CaptionSettings.h"
#include "Overlay.h"
#include "net/CUpload.h"
#include "platform/win/globalmem.h"
#include "session/CCameraDlg.h"

#include <algorithm>
#include <tuple>
#include <utility>

namespace
{

// Unlocks on every path out.
class BlockLock
{
public:
    explicit BlockLock(HGLOBAL h) : m_h(h), m_p(static_cast<unsigned char*>(GlobalLock(h))) {}
    ~BlockLock()
    {
        if (m_p)
            GlobalUnlock(m_h);
    }
    BlockLock(const BlockLock&) = delete;
    BlockLock& operator=(const BlockLock&) = delete;
    unsigned char* get() const { return m_p; }

private:
    HGLOBAL m_h;
    unsigned char* m_p;
};

struct TimeCaption {
    QString text;
    int lines = 0;
    CaptionStyle style;
};

TimeCaption MakeTimeCaption(std::time_t t, const CUpload& s, int dpi, const QString& camera)
{
    TimeCaption c;
    c.style.font = MakeCaptionFont(CaptionFaceName(s.m_strFontName),
                                   CaptionFontHeight(dpi, s.m_nFontPointSize));
    c.style.colour = QColor(GetRValue(s.m_crCaptionColor), GetGValue(s.m_crCaptionColor),
                            GetBValue(s.m_crCaptionColor));
    c.style.align = CaptionAlignment(s.m_nCaptionHorzPos);
    c.style.vertPos = s.m_nCaptionVertPos;
    const CaptionExtras& x = CaptionExtrasInForce();
    c.style.effect = CaptionEffectOf(x.nOutline);
    c.style.effectColour = QColor(GetRValue(x.crOutlineColor), GetGValue(x.crOutlineColor),
                                  GetBValue(x.crOutlineColor));
    c.text = CaptionText(t, s.m_strTimeFormat, camera);
    c.lines = ReplaceLineBreaks(&c.text);
    return c;
}

// The bytes of picture rows [first, last) in memory, from the block's start.
std::pair<std::size_t, std::size_t> RowBytes(const DibLayout& d, int first, int last)
{
    if (first >= last)
        return {d.pixelOffset + d.pixelBytes, 0};
    // A plane frame's band holds whole chroma rows.
    if (d.planar) {
        std::tie(first, last) = d.planes.BandSlots(first, last);
        return {d.pixelOffset + d.stride * std::size_t(first),
                d.stride * std::size_t(last - first)};
    }
    const std::size_t top = d.RowOffset(first), bottom = d.RowOffset(last - 1);
    return {d.pixelOffset + std::min(top, bottom), d.stride * std::size_t(last - first)};
}

// What goes on a picture: the overlay image, then the caption.
struct Stamps {
    bool caption = false;
    TimeCaption text;
    const QImage* overlay = nullptr;
    QRect overlayAt;
    QRect area;              // the part of the picture they may change
    int first = 0, last = 0; // its rows
};

void Cover(Stamps& s, const QRect& part)
{
    if (part.isEmpty())
        return;
    s.area |= part;
    s.first = s.area.top();
    s.last = s.area.bottom() + 1;
}

void Paint(const DibLayout& d, const unsigned char* colourTable, const CaptionRowAt& row,
           const Stamps& s)
{
    if (s.overlay)
        BlendLayerRows(d, colourTable, row, *s.overlay, s.overlayAt.topLeft());
    if (s.caption)
        DrawCaptionRows(d, colourTable, row, s.text.text, s.text.lines, s.text.style);
}

// Draws into the output's own rows; false if one is not its own.
bool Draw(HGLOBAL output, const DibLayout& d, const Stamps& s)
{
    BlockView v;
    if (!GlobalLockView(output, &v))
        return false;
    if (d.planar) {
        const bool drawn =
            PaintOnPlanes(v, d, s.area, [&](const DibLayout& bgr, const CaptionRowAt& row) {
                Paint(bgr, nullptr, row, s);
            });
        GlobalUnlock(output);
        return drawn;
    }
    bool owned = true;
    for (int y = s.first; y < s.last; ++y)
        owned = owned && v.Owns(d.pixelOffset + d.RowOffset(y), d.stride);
    if (owned) {
        const CaptionRowAt row = [&](int y) {
            return v.own + (d.pixelOffset + d.RowOffset(y) - v.ownOffset);
        };
        Paint(d, v.At(d.header.biSize), row, s);
    }
    GlobalUnlock(output);
    return owned;
}

} // namespace

HGLOBAL CCameraDlg::StampCaption(HGLOBAL frame, std::time_t t, const CUpload& settings)
{
    // A frame whose header does not match its block is refused like one that
    // cannot be locked: reading it would run past the block.
    DibLayout d;
    {
        const std::size_t frameSize = GlobalSize(frame);
        BlockLock in(frame);
        if (!in.get() || !ReadDibLayout(in.get(), frameSize, &d))
            return nullptr;
    }
    Stamps s;
    const CaptionExtras& x = CaptionExtrasInForce();
    // The drawing code sees a plane frame as the BGR rows it stands for.
    const DibLayout drawn = d.planar ? PlanesAsBgr(d) : d;
    if (CaptionDrawable(drawn) && !x.strOverlayImage.isEmpty()) {
        QString problem;
        s.overlay = Overlay().Layer(x.strOverlayImage, x.nOverlayPosition, x.nOverlayOpacity,
                                    d.width, d.height, t, &s.overlayAt, &problem);
        if (!problem.isEmpty())
            SetStatus(problem);
        if (s.overlay)
            Cover(s, s.overlayAt);
    }
    s.caption = settings.m_bShowTime && CaptionDrawable(drawn);
    if (s.caption) {
        s.text = MakeTimeCaption(t, settings, logicalDpiY(), CameraSourceName());
        Cover(s, CaptionArea(drawn, s.text.text, s.text.lines, s.text.style));
    }
    // The output shares the frame and owns only the rows drawn on: the frame
    // itself stays untouched on the clipboard, and no whole copy is made.
    const auto [offset, length] = RowBytes(d, s.first, s.last);
    HGLOBAL output = GlobalAllocOverlay(frame, d.pixelOffset + d.pixelBytes, offset, length);
    if (output && (s.caption || s.overlay) && !Draw(output, d, s))
        output = GlobalFree(output);
    return output;
}
