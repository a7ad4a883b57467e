// The FFmpeg state of one reader, shared by the parts of the reader that open
// the source, read it and convert its frames.
#pragma once

#include "command.h"
#include "reader.h"

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

struct SourceReader::Av {
    AVFormatContext* input = nullptr;
    AVCodecContext* decoder = nullptr;
    AVFrame* held = nullptr; // the newest decoded frame
    // JPEG streams are held undecoded: a taker decodes the newest frame
    // straight into the block it is handed, most often in YUV planes.
    bool packets = false;
    AVPacket* heldPacket = nullptr;
    int stream = -1;
    AVRational timeBase{1, 1};
    // A command source: the process and our reading of its output.
    std::unique_ptr<CommandProcess> command;
    AVIOContext* pipe = nullptr;
    long long piped = 0; // bytes read from it, by the thread reading

    // Lets go of the frame in hand.
    void Drop()
    {
        av_frame_unref(held);
        if (heldPacket)
            av_packet_unref(heldPacket);
    }

    ~Av()
    {
        av_frame_free(&held);
        av_packet_free(&heldPacket);
        avcodec_free_context(&decoder);
        avformat_close_input(&input);
        if (pipe)
            av_freep(&pipe->buffer);
        avio_context_free(&pipe);
    }
};
