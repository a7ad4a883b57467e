// What libjpeg-turbo alone spends on a camera frame: decoded into its YUV
// planes and encoded from them at the benchmark's quality, nothing else.
// The program can come near this but not below it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using JpegFrames = std::vector<std::vector<std::uint8_t>>;

// The JPEG pictures of an MJPEG clip, in order; empty when it cannot be read.
JpegFrames SplitMjpeg(const std::string& path);
// The test USB camera's own frames at that size.
JpegFrames CameraFrames(int width, int height);
// Processor time per frame in ms, frames taken in turn at 30 a second so
// the caches are as cold as in the program; 0 when a frame failed.
double FloorMsPerFrame(const JpegFrames& frames, long count, int quality);
