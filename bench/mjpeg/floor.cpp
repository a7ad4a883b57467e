#include "floor.h"

#include "../benchmath.h"

#include "../../tests/uvcfake/frames.h"
#include "../../tests/uvcfake/pattern.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>
#include <turbojpeg.h>

JpegFrames SplitMjpeg(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
    JpegFrames frames;
    std::size_t start = 0;
    // Each picture ends at its end-of-image marker; entropy-coded data never
    // holds one (0xff is always stuffed there).
    for (std::size_t i = 0; i + 1 < data.size(); ++i) {
        if (data[i] == 0xff && data[i + 1] == 0xd9) {
            frames.emplace_back(data.begin() + long(start), data.begin() + long(i + 2));
            start = ++i + 1;
        }
    }
    return frames;
}

JpegFrames CameraFrames(int width, int height)
{
    JpegFrames frames;
    for (int i = 0; i < uvcfake::kJpegCycle; ++i)
        frames.push_back(uvcfake::JpegFrame(width, height, std::uint64_t(i)));
    return frames;
}

double FloorMsPerFrame(const JpegFrames& frames, long count, int quality)
{
    tjhandle decoder = tjInitDecompress(), encoder = tjInitCompress();
    std::vector<std::uint8_t> planes, jpeg;
    bool ok = decoder && encoder && !frames.empty();
    double spent = 0;
    const auto start = std::chrono::steady_clock::now();
    for (long n = 0; ok && n < count; ++n) {
        std::this_thread::sleep_until(start + std::chrono::microseconds(33333 * n));
        const std::vector<std::uint8_t>& f = frames[std::size_t(n) % frames.size()];
        const double before = ThreadCpuMs();
        int w = 0, h = 0, sampling = 0, colours = 0;
        ok = tjDecompressHeader3(decoder, f.data(), f.size(), &w, &h, &sampling, &colours) == 0;
        if (!ok)
            break;
        planes.resize(tjBufSizeYUV2(w, 1, h, sampling));
        jpeg.resize(tjBufSize(w, h, sampling));
        unsigned char* out = jpeg.data();
        unsigned long size = jpeg.size();
        // Written 4:2:0 as the program writes it; from a 4:2:2 frame by taking
        // every other chroma row, a shade cheaper than the program's mean.
        const int chroma = sampling == TJSAMP_422 ? 2 * ((w + 1) / 2) : (w + 1) / 2;
        const unsigned char* p[3] = {planes.data(), planes.data() + std::size_t(w) * h,
                                     planes.data() + std::size_t(w) * h +
                                         tjPlaneSizeYUV(1, w, 0, h, sampling)};
        const int strides[3] = {w, chroma, chroma};
        ok = tjDecompressToYUV2(decoder, f.data(), f.size(), planes.data(), w, 1, h,
                                TJFLAG_FASTDCT) == 0 &&
             (sampling == TJSAMP_420 || sampling == TJSAMP_422) &&
             tjCompressFromYUVPlanes(encoder, p, w, strides, h, TJSAMP_420, &out, &size, quality,
                                     TJFLAG_FASTDCT | TJFLAG_NOREALLOC) == 0;
        spent += ThreadCpuMs() - before;
    }
    if (decoder)
        tjDestroy(decoder);
    if (encoder)
        tjDestroy(encoder);
    return ok ? spent / double(count) : 0;
}
