// A JPEG camera's frame kept in its YUV planes against the same frame through
// BGR rows: caption in place, the rest untouched, pictures alike.
#include "grabtest.h"
#include "platform/vfw/converter.h"
#include "platform/vfw/dib.h"
#include "platform/vfw/jpegplanes.h"

#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
}

using namespace grabtest;
using dibtest::Decoded;

namespace
{

struct Camera {
    int width, height, subsampling;
};

// Gradients with bars: detail for the encoder, a caption still easy to see.
std::vector<unsigned char> CameraJpeg(const Camera& c)
{
    std::vector<unsigned char> rgb(std::size_t(c.width) * c.height * 3);
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            unsigned char* p = rgb.data() + (std::size_t(y) * c.width + x) * 3;
            p[0] = (x / 40) % 2 ? 200 : x * 255 / c.width;
            p[1] = y * 255 / c.height;
            p[2] = (x + y) % 256;
        }
    }
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    std::vector<unsigned char> jpeg;
    if (tjCompress2(tj, rgb.data(), c.width, 0, c.height, TJPF_RGB, &out, &size, c.subsampling, 85,
                    0) == 0)
        jpeg.assign(out, out + size);
    tjFree(out);
    tjDestroy(tj);
    return jpeg;
}

// The frame as the capture layer's BGR path makes it.
std::vector<unsigned char> BgrFrame(const std::vector<unsigned char>& jpeg, const Camera& c)
{
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    AVCodecContext* decoder = avcodec_alloc_context3(codec);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<unsigned char> dib;
    if (avcodec_open2(decoder, codec, nullptr) == 0 &&
        av_new_packet(packet, int(jpeg.size())) == 0) {
        std::memcpy(packet->data, jpeg.data(), jpeg.size());
        const FrameFormat format{c.width, c.height, 24};
        dib.resize(DibTotalBytes(format));
        FrameConverter converter;
        if (avcodec_send_packet(decoder, packet) != 0 ||
            avcodec_receive_frame(decoder, frame) != 0 ||
            !converter.Convert(frame, format, dib.data()))
            dib.clear();
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    return dib;
}

double Psnr(const Decoded& a, const std::function<Rgb(int x, int y)>& b)
{
    double sum = 0;
    for (int y = 0; y < a.height; ++y) {
        for (int x = 0; x < a.width; ++x) {
            const Rgb p = a.at(x, y), q = b(x, y);
            sum += double((p.r - q.r) * (p.r - q.r) + (p.g - q.g) * (p.g - q.g) +
                          (p.b - q.b) * (p.b - q.b));
        }
    }
    const double mse = sum / (3.0 * a.width * a.height);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

int MaxDiff(const Decoded& a, const Decoded& b, int y)
{
    int most = 0;
    for (std::size_t i = std::size_t(y) * a.width * 3; i < std::size_t(y + 1) * a.width * 3; ++i)
        most = std::max(most, std::abs(int(a.rgb[i]) - int(b.rgb[i])));
    return most;
}

class PlaneFrames : public GrabFixture, public ::testing::WithParamInterface<Camera>
{
protected:
    // The frame written as a JPEG (quality 50, as a stream has it) and read back.
    Decoded Written(const std::vector<unsigned char>& frame)
    {
        HGLOBAL block = dibtest::ToBlock(frame);
        const std::string path = Dest("out.jpg").toStdString();
        EXPECT_EQ(jpeg_write_file(block, path.c_str(), 50), JPEG_OK);
        GlobalFree(block);
        written = dibtest::ReadFileBytes(path);
        return dibtest::DecodeJpeg(written);
    }
    std::vector<unsigned char> written;
};

} // namespace

TEST_P(PlaneFrames, CaptionLandsWhereTheBgrPathPutsItAndTheRestKeepsItsBytes)
{
    const Camera c = GetParam();
    const std::vector<unsigned char> jpeg = CameraJpeg(c);
    ASSERT_FALSE(jpeg.empty());
    std::vector<unsigned char> planes;
    QString error;
    JpegPlanes decoder;
    ASSERT_EQ(decoder.Decode(jpeg.data(), jpeg.size(), c.width, c.height, planes, &error),
              JpegPlanes::Result::Decoded)
        << error.toStdString();
    const std::vector<unsigned char> bgr = BgrFrame(jpeg, c);
    ASSERT_FALSE(bgr.empty());

    // The preview and the clipboard's readers convert only the part they
    // show, to the picture the BGR path has.
    const QRect part(c.width - 150, 5, 200, 60);
    const QImage screen = DibRegionToScreenImage(planes.data(), planes.size(), part);
    const QImage image = DibRegionToImage(planes.data(), planes.size(), part);
    ASSERT_EQ(screen.size(), QSize(150, 60));
    ASSERT_EQ(image.convertToFormat(QImage::Format_RGB32), screen);
    double off = 0;
    for (int y = 0; y < screen.height(); ++y) {
        for (int x = 0; x < screen.width(); ++x) {
            const QRgb a = screen.pixel(x, y);
            const Rgb b = PixelAt(bgr, part.x() + x, part.y() + y);
            off += std::abs(qRed(a) - b.r) + std::abs(qGreen(a) - b.g) + std::abs(qBlue(a) - b.b);
        }
    }
    EXPECT_LT(off / (3.0 * 150 * 60), 3) << "mean difference per channel";

    std::size_t owned = 0;
    const std::vector<unsigned char> stamped =
        StampBytes(dlg, planes, clock.now, app.m_upload, &owned);
    const std::vector<unsigned char> stampedBgr = StampBytes(dlg, bgr, clock.now, app.m_upload);
    ASSERT_EQ(stamped.size(), planes.size());
    // Only the caption's band is the output's own; all bytes before and after
    // it are the frame's.
    std::size_t first = 0, last = planes.size();
    while (first < last && stamped[first] == planes[first])
        ++first;
    while (last > first && stamped[last - 1] == planes[last - 1])
        --last;
    ASSERT_LT(first, last) << "no caption drawn";
    EXPECT_LE(last - first, owned);
    EXPECT_LT(owned, planes.size() / 4);

    // Where the BGR path drew, by exact comparison of its rows.
    int top = c.height, bottom = -1;
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            const Rgb a = PixelAt(bgr, x, y), b = PixelAt(stampedBgr, x, y);
            if (a.r != b.r || a.g != b.g || a.b != b.b) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    ASSERT_LE(top, bottom);

    const Decoded plain = Written(planes);
    const Decoded out = Written(stamped);
    int width = 0, height = 0, subsampling = -1, colours = 0;
    tjhandle tj = tjInitDecompress();
    tjDecompressHeader3(tj, written.data(), written.size(), &width, &height, &subsampling,
                        &colours);
    tjDestroy(tj);
    EXPECT_EQ(subsampling, TJSAMP_420) << "written 4:2:0 whatever the camera sends";
    const Decoded outBgr = Written(stampedBgr);
    ASSERT_TRUE(plain.ok && out.ok && outBgr.ok);
    ASSERT_EQ(out.width, c.width);
    ASSERT_EQ(out.height, c.height);

    // The caption is red and where the BGR path put it; rows a block row
    // away from it are the unstamped frame's exactly.
    double red = 0;
    int ink = 0;
    for (int y = 0; y < c.height; ++y) {
        if (y < top - 16 || y > bottom + 16) {
            ASSERT_EQ(MaxDiff(out, plain, y), 0) << "row " << y;
            continue;
        }
        for (int x = 0; x < c.width; ++x) {
            const Rgb a = out.at(x, y), b = PixelAt(stampedBgr, x, y), o = PixelAt(bgr, x, y);
            if (y >= top && y <= bottom && (a.r != o.r || b.r != o.r) && b.r == 255 && b.g == 0) {
                red += a.r - (a.g + a.b) / 2;
                ++ink;
            }
        }
    }
    ASSERT_GT(ink, 50);
    EXPECT_GT(red / ink, 120) << "caption pixels come out red";

    const auto before = [&](int x, int y) { return PixelAt(stampedBgr, x, y); };
    // Both paths encode the same picture at the same quality; the planes
    // path skips two colour conversions and a resampling, so it must come
    // at least as close to that picture.
    const double planesPsnr = Psnr(out, before), bgrPsnr = Psnr(outBgr, before);
    std::printf("%dx%d subsampling %d: PSNR planes path %.2f dB, BGR path %.2f dB (to the BGR "
                "picture before encoding), between the two JPEGs %.2f dB\n",
                c.width, c.height, c.subsampling, planesPsnr, bgrPsnr,
                Psnr(out, [&](int x, int y) { return outBgr.at(x, y); }));
    EXPECT_GT(planesPsnr, bgrPsnr - 0.5);
    EXPECT_GT(planesPsnr, 30);
}

INSTANTIATE_TEST_SUITE_P(Cameras, PlaneFrames,
                         ::testing::Values(Camera{640, 480, TJSAMP_420},
                                           Camera{642, 362, TJSAMP_422},
                                           Camera{646, 361, TJSAMP_420}));
