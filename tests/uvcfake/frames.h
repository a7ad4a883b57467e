// Frames of the fake camera's pattern in the encodings it offers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace uvcfake
{

// Writes frame `sequence` as YUYV 4:2:2 (limited range, as cameras send it):
// width * height * 2 bytes.
void DrawYuyv(std::uint8_t* out, int width, int height, std::uint64_t sequence);

// The JPEG of frame `sequence`. Frames of a size are encoded once, at the
// first call for that size, so serving them costs the camera no processor
// time. Empty when encoding failed.
const std::vector<std::uint8_t>& JpegFrame(int width, int height, std::uint64_t sequence);

} // namespace uvcfake
