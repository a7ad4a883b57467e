#include "jpegplanes.h"

#include "planes.h"

#include <climits>
#include <new>
#include <turbojpeg.h>

JpegPlanes::~JpegPlanes()
{
    if (m_tj)
        tjDestroy(m_tj);
}

JpegPlanes::Result JpegPlanes::Decode(const std::uint8_t* jpeg, std::size_t size, int width,
                                      int height, std::vector<std::uint8_t>& block, QString* error)
{
    if (!m_tj && !(m_tj = tjInitDecompress())) {
        *error = QStringLiteral("the JPEG decoder could not be started");
        return Result::Failed;
    }
    if (!jpeg || size == 0 || size > ULONG_MAX) {
        *error = QStringLiteral("an empty frame");
        return Result::Failed;
    }
    int w = 0, h = 0, subsampling = 0, colours = 0;
    if (tjDecompressHeader3(m_tj, jpeg, static_cast<unsigned long>(size), &w, &h, &subsampling,
                            &colours) != 0) {
        *error = QString::fromLocal8Bit(tjGetErrorStr2(m_tj));
        return Result::Failed;
    }
    const DWORD compression = subsampling == TJSAMP_420   ? kPlanes420
                              : subsampling == TJSAMP_422 ? kPlanes422
                                                          : 0;
    PlaneLayout p;
    if (w != width || h != height || colours != TJCS_YCbCr ||
        !MakePlaneLayout(w, h, compression, &p))
        return Result::NotPlanes;
    try {
        block.resize(PlaneBlockBytes(p));
    } catch (const std::bad_alloc&) {
        *error = QStringLiteral("out of memory");
        return Result::Failed;
    }
    WritePlaneHeader(block.data(), p, compression);
    unsigned char* pixels = block.data() + sizeof(BITMAPINFOHEADER);
    unsigned char* planes[3] = {pixels, pixels + p.CbRow(0), pixels + p.CrRow(0)};
    int strides[3] = {int(p.slot), int(p.ChromaStride()), int(p.ChromaStride())};
    // A damaged frame decodes with a warning into a partly grey picture;
    // stopping at the warning drops it like any other broken frame.
    if (tjDecompressToYUVPlanes(m_tj, jpeg, static_cast<unsigned long>(size), planes, w, strides, h,
                                TJFLAG_FASTDCT | TJFLAG_STOPONWARNING) != 0) {
        *error = QString::fromLocal8Bit(tjGetErrorStr2(m_tj));
        return Result::Failed;
    }
    PadPlaneRows(p, pixels);
    return Result::Decoded;
}
