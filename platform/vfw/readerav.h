// The FFmpeg state of one reader, shared by the parts of the reader that open
// the source, read it and convert its frames.
#pragma once

#include "reader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

struct SourceReader::Av {
    AVFormatContext* input = nullptr;
    AVCodecContext* decoder = nullptr;
    AVFrame* held = nullptr; // the newest decoded frame
    int stream = -1;
    AVRational timeBase{1, 1};

    ~Av()
    {
        av_frame_free(&held);
        avcodec_free_context(&decoder);
        avformat_close_input(&input);
    }
};
