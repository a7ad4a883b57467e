#include "CaptionPaint.h"
#include "net/CUpload.h"
#include "platform/win/globalmem.h"
#include "session/CCameraDlg.h"

#include <cstring>

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

void DrawTimeCaption(const DibLayout& d, unsigned char* block, std::time_t t, const CUpload& s,
                     int dpi)
{
    CaptionStyle style;
    style.font = MakeCaptionFont(CaptionFaceName(s.m_strFontName),
                                 CaptionFontHeight(dpi, s.m_nFontPointSize));
    style.colour = QColor(GetRValue(s.m_crCaptionColor), GetGValue(s.m_crCaptionColor),
                          GetBValue(s.m_crCaptionColor));
    style.align = CaptionAlignment(s.m_nCaptionHorzPos);
    style.vertPos = s.m_nCaptionVertPos;
    QString text = FormatCaptionTime(t, s.m_strTimeFormat);
    const int lines = ReplaceLineBreaks(&text);
    DrawCaption(d, block + d.header.biSize, block + d.pixelOffset, text, lines, style);
}

} // namespace

HGLOBAL CCameraDlg::StampCaption(HGLOBAL frame, std::time_t t, const CUpload& settings)
{
    // A frame whose header does not match its block is refused like one that
    // cannot be locked: copying it would read past the block.
    const std::size_t frameSize = GlobalSize(frame);
    BlockLock in(frame);
    DibLayout d;
    if (!in.get() || !ReadDibLayout(in.get(), frameSize, &d))
        return nullptr;
    const std::size_t outSize = d.pixelOffset + d.pixelBytes;
    // Every byte is copied over, so zero-filling first would be wasted.
    HGLOBAL output = GlobalAlloc(GMEM_MOVEABLE, outSize);
    if (!output)
        return nullptr;
    {
        BlockLock out(output);
        if (!out.get()) {
            GlobalFree(output);
            return nullptr;
        }
        std::memcpy(out.get(), in.get(), outSize);
        if (settings.m_bShowTime && CaptionDrawable(d))
            DrawTimeCaption(d, out.get(), t, settings, logicalDpiY());
    }
    return output;
}
