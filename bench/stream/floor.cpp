// The floor of the stream benchmark: the test source decoded, converted to
// 24-bit BGR and encoded once per frame with TurboJPEG, paced to the source's
// time stamps, and nothing else. One line "frame" per encoded frame.
#include <turbojpeg.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

int RunFloor(int width, int height, const char* source, int quality)
{
    avdevice_register_all();
    av_log_set_level(AV_LOG_FATAL);
    AVFormatContext* in = nullptr;
    if (avformat_open_input(&in, source, av_find_input_format("lavfi"), nullptr) < 0 ||
        avformat_find_stream_info(in, nullptr) < 0)
        return 1;
    const AVCodec* codec = nullptr;
    const int stream = av_find_best_stream(in, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (stream < 0 || !codec)
        return 1;
    AVCodecContext* dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(dec, in->streams[stream]->codecpar);
    if (avcodec_open2(dec, codec, nullptr) < 0)
        return 1;
    const double timeBase = av_q2d(in->streams[stream]->time_base);
    const int pitch = (width * 3 + 63) / 64 * 64;
    std::vector<unsigned char> bgr(std::size_t(pitch) * height + 64);
    std::vector<unsigned char> jpeg(tjBufSize(width, height, TJSAMP_420));
    tjhandle tj = tjInitCompress();
    SwsContext* sws = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    const Clock::time_point start = Clock::now();
    while (av_read_frame(in, packet) >= 0) {
        if (packet->stream_index == stream && avcodec_send_packet(dec, packet) == 0) {
            while (avcodec_receive_frame(dec, frame) == 0) {
                std::this_thread::sleep_until(
                    start +
                    std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(frame->best_effort_timestamp * timeBase)));
                sws = sws_getCachedContext(
                    sws, frame->width, frame->height, AVPixelFormat(frame->format), width, height,
                    AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
                uint8_t* planes[4] = {bgr.data(), nullptr, nullptr, nullptr};
                const int strides[4] = {pitch, 0, 0, 0};
                sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, strides);
                unsigned char* out = jpeg.data();
                unsigned long outSize = jpeg.size();
                if (tjCompress2(tj, bgr.data(), width, pitch, height, TJPF_BGR, &out, &outSize,
                                TJSAMP_420, quality, TJFLAG_NOREALLOC) != 0)
                    return 1;
                std::printf("frame\n");
                std::fflush(stdout);
                av_frame_unref(frame);
            }
        }
        av_packet_unref(packet);
    }
    return 0;
}
