// A camera's JPEG frames decoded straight into a plane frame block: no
// colour conversion and no resampling, so the encoder later takes the same
// planes back. One object per thread at a time.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <vector>

class JpegPlanes
{
public:
    JpegPlanes() = default;
    ~JpegPlanes();
    JpegPlanes(const JpegPlanes&) = delete;
    JpegPlanes& operator=(const JpegPlanes&) = delete;

    enum class Result { Decoded, NotPlanes, Failed };
    // Decoded: block holds the frame. NotPlanes: the frame is sound but not
    // of width x height in 4:2:0 or 4:2:2 YCbCr, so it takes the BGR path.
    // Failed: the data is not a whole JPEG picture; *error says why.
    Result Decode(const std::uint8_t* jpeg, std::size_t size, int width, int height,
                  std::vector<std::uint8_t>& block, QString* error);

private:
    void* m_tj = nullptr;
};
