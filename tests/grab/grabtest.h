// A main window and application for driving the frame pipeline, frames put on
// the private clipboard by hand, and the bitmap rows read back.
#pragma once

#include "app/CCameraApp.h"
#include "capture/CaptionSettings.h"
#include "capture/FrameSwap.h"
#include "jpeg/dibtest.h"
#include "platform/jpeg/jpegwriter.h"
#include "platform/win/clipboard.h"
#include "session/CCameraDlg.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <memory>

namespace grabtest
{

using dibtest::Rgb;

inline void PutOnClipboard(HGLOBAL frame)
{
    static const int owner = 0;
    ASSERT_TRUE(OpenClipboard(&owner));
    EmptyClipboard();
    SetClipboardData(CF_DIB, frame);
    CloseClipboard();
}

// True when the clipboard was left closed.
inline bool ClipboardClosed()
{
    static const int probe = 0;
    if (!OpenClipboard(&probe))
        return false;
    CloseClipboard();
    return true;
}

inline std::vector<unsigned char> BlockBytes(HGLOBAL h)
{
    const auto* p = static_cast<const unsigned char*>(GlobalLock(h));
    std::vector<unsigned char> bytes(p, p + GlobalSize(h));
    GlobalUnlock(h);
    return bytes;
}

// A plain grey frame of the given depth; 8-bit frames get a grey ramp with
// pure red and blue at its end, so a caption colour has an exact match.
inline dibtest::DibLayout PlainFrame(int width, int height, int bits)
{
    dibtest::DibLayout s;
    s.width = width;
    s.height = height;
    s.bits = bits;
    if (bits == 8) {
        for (int i = 0; i < 254; ++i)
            s.palette.push_back({i, i, i});
        s.palette.push_back({255, 0, 0});
        s.palette.push_back({0, 0, 255});
        s.pixel = [](int, int) { return Rgb{128, 0, 0}; };
    } else {
        s.pixel = [](int, int) { return Rgb{128, 128, 128}; };
    }
    return s;
}

// The colour of picture pixel (x, y), y = 0 at the top, of a packed bitmap.
inline Rgb PixelAt(const std::vector<unsigned char>& dib, int x, int y)
{
    BITMAPINFOHEADER h;
    std::memcpy(&h, dib.data(), 40);
    const int rows = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    const std::size_t table = h.biBitCount == 8 ? 4 * (h.biClrUsed ? h.biClrUsed : 256) : 0;
    const std::size_t stride = dibtest::Stride(h.biWidth, h.biBitCount);
    const unsigned char* row =
        dib.data() + h.biSize + table + stride * (h.biHeight < 0 ? y : rows - 1 - y);
    if (h.biBitCount == 24)
        return {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
    if (h.biBitCount == 16) {
        const unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
        return {int((v >> 10) & 31) << 3, int((v >> 5) & 31) << 3, int(v & 31) << 3};
    }
    const unsigned char* q = dib.data() + h.biSize + 4 * row[x];
    return {q[2], q[1], q[0]};
}

// The captioned output of a frame handed over as the capture window does
// (shared, so the output owns only the rows drawn on: *owned gets how many
// bytes); the frame's bytes when nothing came out.
inline std::vector<unsigned char> StampBytes(CCameraDlg& dlg, const std::vector<unsigned char>& in,
                                             std::time_t t, const CUpload& settings,
                                             std::size_t* owned = nullptr)
{
    auto shared = std::make_shared<std::vector<unsigned char>>(in);
    HGLOBAL frame = GlobalAllocShared(shared, shared->data(), shared->size());
    HGLOBAL out = dlg.StampCaption(frame, t, settings);
    GlobalFree(frame);
    EXPECT_NE(out, nullptr);
    if (!out)
        return in;
    BlockView v;
    if (owned && GlobalLockView(out, &v)) {
        *owned = v.ownLength;
        GlobalUnlock(out);
    }
    std::vector<unsigned char> bytes = BlockBytes(out);
    GlobalFree(out);
    return bytes;
}

class GrabFixture : public ::testing::Test
{
protected:
    GrabFixture() : zone("UTC"), clock(1709649000) // 2024-03-05 14:30:00 UTC
    {
        app.m_pMainWnd = &dlg;
        CUpload& s = app.m_upload;
        s.m_bShowTime = 1;
        s.m_strTimeFormat = QStringLiteral("%Y-%m-%d\\n%H:%M:%S");
        s.m_strFontName = QStringLiteral("Arial");
        s.m_nFontPointSize = 180;
        s.m_crCaptionColor = RGB(255, 0, 0);
        s.m_nCaptionHorzPos = 2;
        s.m_nCaptionVertPos = 2;
        s.m_nQuality = 50;
        s_nSwapIndex = 0;
        savedOps = FrameFiles();
        savedFileOps = OwnFiles();
        CaptionExtrasInForce() = CaptionExtras();
    }
    ~GrabFixture() override
    {
        FrameFiles() = savedOps;
        OwnFiles() = savedFileOps;
        CaptionExtrasInForce() = CaptionExtras();
        app.m_pMainWnd = nullptr;
        static const int owner = 0;
        if (OpenClipboard(&owner)) {
            EmptyClipboard();
            CloseClipboard();
        }
    }

    QString Dest(const char* name = "cam.jpg") const { return dir.filePath(QLatin1String(name)); }
    // Every file in the directory but the destination's own.
    QStringList Leftovers() const
    {
        QStringList names = QDir(dir.path()).entryList(QDir::Files);
        names.removeAll(QStringLiteral("cam.jpg"));
        return names;
    }

    ScopedTimeZone zone;
    FixedClock clock;
    CCameraApp app;
    CCameraDlg dlg;
    QTemporaryDir dir;
    StatusRecorder status;
    FrameFileOps savedOps;
    OwnFileOps savedFileOps;
};

} // namespace grabtest
