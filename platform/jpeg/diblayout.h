// Where the parts of a packed bitmap lie, checked against the block that holds
// it. Shared by the writer and the caption step so that neither reads past a
// block whose header lies about its size.
#pragma once

#include "planes.h"
#include "wintypes.h"

#include <cstddef>

struct DibLayout {
    BITMAPINFOHEADER header;
    int width = 0;
    int height = 0; // rows, always positive
    bool topDown = false;
    int bitCount = 0;
    std::size_t colours = 0;     // colour-table entries (8 bit only)
    std::size_t pixelOffset = 0; // header plus colour table
    std::size_t stride = 0;      // row bytes, padded to 4
    std::size_t pixelBytes = 0;  // biSizeImage, or the rows' size when it is 0
    // A frame in YUV planes: stride is then a picture row's slot.
    bool planar = false;
    PlaneLayout planes;

    // Byte offset from the first pixel row in memory to picture row y (0 = top).
    std::size_t RowOffset(int y) const
    {
        return stride * static_cast<std::size_t>(topDown ? y : height - 1 - y);
    }
};

// True when the block of blockSize bytes holds a header of at least 40 bytes.
bool ReadDibHeader(const void* block, std::size_t blockSize, BITMAPINFOHEADER* header);

// False when the header is unreadable or the block cannot hold the colour
// table and rows it describes. Any bit count is laid out; only 8 bit has a
// colour table (biClrUsed entries, 256 when 0, more than 256 refused).
bool ReadDibLayout(const void* block, std::size_t blockSize, DibLayout* layout);
