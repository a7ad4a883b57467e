#include "TimelapseEncoder.h"

#include "platform/vfw/ffmpeg.h"

#include <QFile>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace
{
struct Deleters {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
    void operator()(AVFrame* f) const { av_frame_free(&f); }
    void operator()(AVPacket* p) const { av_packet_free(&p); }
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
template <typename T> using Owned = std::unique_ptr<T, Deleters>;

// Decodes one JPEG file into frame; the reason when it cannot.
bool DecodePicture(AVCodecContext* dec, AVPacket* pkt, AVFrame* frame, const QString& path,
                   QString* reason)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = file.errorString();
        return false;
    }
    const QByteArray data = file.readAll();
    if (data.isEmpty()) {
        *reason = QStringLiteral("empty file");
        return false;
    }
    avcodec_flush_buffers(dec);
    av_packet_unref(pkt);
    if (av_new_packet(pkt, int(data.size())) < 0) {
        *reason = QStringLiteral("out of memory");
        return false;
    }
    memcpy(pkt->data, data.constData(), size_t(data.size()));
    int rc = avcodec_send_packet(dec, pkt);
    if (rc >= 0)
        rc = avcodec_receive_frame(dec, frame);
    if (rc == AVERROR(EAGAIN)) {
        avcodec_send_packet(dec, nullptr);
        rc = avcodec_receive_frame(dec, frame);
    }
    if (rc >= 0 && (frame->decode_error_flags || (frame->flags & AV_FRAME_FLAG_CORRUPT)))
        rc = AVERROR_INVALIDDATA;
    if (rc < 0 || frame->width <= 0 || frame->height <= 0) {
        *reason = rc < 0 ? AvErrorText(rc) : QStringLiteral("no picture");
        return false;
    }
    return true;
}

// JPEG decodes to the full-range ("J") formats; the scaler wants the plain
// format with the range said separately.
AVPixelFormat PlainFormat(AVPixelFormat f, bool* fullRange)
{
    *fullRange = true;
    switch (f) {
    case AV_PIX_FMT_YUVJ420P:
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        return AV_PIX_FMT_YUV411P;
    default:
        *fullRange = false;
        return f;
    }
}

// Full-range picture into the video's limited range, BT.601 both sides.
void SetRanges(SwsContext* s, bool srcFull)
{
    const int* table = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(s, table, srcFull ? 1 : 0, table, 0, 0, 1 << 16, 1 << 16);
}

class Writer
{
public:
    ~Writer()
    {
        if (m_out) {
            if (m_out->pb)
                avio_closep(&m_out->pb);
            avformat_free_context(m_out);
        }
    }

    bool Open(const QString& path, int width, int height, int fps, QString* error)
    {
        const QByteArray name = QFile::encodeName(path);
        int rc = avformat_alloc_output_context2(&m_out, nullptr, "mp4", name.constData());
        const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
        if (rc < 0 || !codec) {
            *error = codec ? AvErrorText(rc) : QStringLiteral("the libx264 encoder is missing");
            return false;
        }
        m_enc.reset(avcodec_alloc_context3(codec));
        m_enc->width = width;
        m_enc->height = height;
        m_enc->pix_fmt = AV_PIX_FMT_YUV420P;
        m_enc->color_range = AVCOL_RANGE_MPEG; // what SetRanges converts to
        m_enc->time_base = AVRational{1, fps};
        m_enc->framerate = AVRational{fps, 1};
        if (m_out->oformat->flags & AVFMT_GLOBALHEADER)
            m_enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        av_opt_set(m_enc->priv_data, "preset", kTimelapsePreset, 0);
        av_opt_set_int(m_enc->priv_data, "crf", kTimelapseCrf, 0);
        if ((rc = avcodec_open2(m_enc.get(), codec, nullptr)) < 0) {
            *error = QStringLiteral("encoder: ") + AvErrorText(rc);
            return false;
        }
        m_stream = avformat_new_stream(m_out, nullptr);
        avcodec_parameters_from_context(m_stream->codecpar, m_enc.get());
        m_stream->time_base = m_enc->time_base;
        m_stream->avg_frame_rate = m_enc->framerate;
        if ((rc = avio_open(&m_out->pb, name.constData(), AVIO_FLAG_WRITE)) < 0) {
            *error = AvErrorText(rc);
            return false;
        }
        AVDictionary* options = nullptr;
        // The index up front: browsers start playing while the video loads.
        av_dict_set(&options, "movflags", "+faststart", 0);
        rc = avformat_write_header(m_out, &options);
        av_dict_free(&options);
        if (rc < 0) {
            *error = AvErrorText(rc);
            return false;
        }
        m_pkt.reset(av_packet_alloc());
        return true;
    }

    // A null frame drains the encoder.
    bool Encode(AVFrame* frame, QString* error)
    {
        int rc = avcodec_send_frame(m_enc.get(), frame);
        while (rc >= 0) {
            rc = avcodec_receive_packet(m_enc.get(), m_pkt.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                return true;
            if (rc < 0)
                break;
            av_packet_rescale_ts(m_pkt.get(), m_enc->time_base, m_stream->time_base);
            m_pkt->stream_index = m_stream->index;
            rc = av_interleaved_write_frame(m_out, m_pkt.get());
        }
        *error = AvErrorText(rc);
        return false;
    }

    bool Finish(QString* error)
    {
        if (!Encode(nullptr, error))
            return false;
        const int rc = av_write_trailer(m_out);
        if (rc < 0)
            *error = AvErrorText(rc);
        if (avio_closep(&m_out->pb) < 0 && rc >= 0) {
            *error = QStringLiteral("cannot finish writing");
            return false;
        }
        return rc >= 0;
    }

private:
    AVFormatContext* m_out = nullptr;
    AVStream* m_stream = nullptr;
    Owned<AVCodecContext> m_enc;
    Owned<AVPacket> m_pkt;
};
} // namespace

TimelapseOutcome EncodeTimelapse(const std::vector<QString>& pictures, const QString& output,
                                 int fps, const std::function<void(int, int)>& progress,
                                 const std::atomic<bool>* cancel)
{
    TimelapseOutcome r;
    // Reasons reach the status lines; the libraries' own warnings go through
    // the shared route, never by changing the process-wide level from here.
    InitFfmpeg();
    const AVCodec* mjpeg = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    Owned<AVCodecContext> dec(mjpeg ? avcodec_alloc_context3(mjpeg) : nullptr);
    // A picture cut short (a full disk, a crash) is skipped, not half shown.
    if (dec)
        dec->err_recognition = AV_EF_EXPLODE | AV_EF_BUFFER | AV_EF_COMPLIANT;
    if (!dec || avcodec_open2(dec.get(), mjpeg, nullptr) < 0) {
        r.error = QStringLiteral("the JPEG decoder is missing");
        return r;
    }
    Owned<AVPacket> pkt(av_packet_alloc());
    Owned<AVFrame> in(av_frame_alloc());
    Owned<AVFrame> out(av_frame_alloc());
    Owned<SwsContext> sws;
    Writer writer;
    const int total = int(pictures.size());
    for (int i = 0; i < total; ++i) {
        if (cancel && cancel->load()) {
            r.error = QStringLiteral("cancelled");
            return r;
        }
        QString reason;
        av_frame_unref(in.get());
        if (!DecodePicture(dec.get(), pkt.get(), in.get(), pictures[size_t(i)], &reason)) {
            r.skipped << pictures[size_t(i)] + QStringLiteral(": ") + reason;
            if (progress)
                progress(i + 1, total);
            continue;
        }
        if (r.width == 0) {
            r.width = in->width & ~1;
            r.height = in->height & ~1;
            if (r.width < 2 || r.height < 2) {
                r.skipped << pictures[size_t(i)] + QStringLiteral(": too small");
                r.width = r.height = 0;
                continue;
            }
            out->format = AV_PIX_FMT_YUV420P;
            out->width = r.width;
            out->height = r.height;
            if (av_frame_get_buffer(out.get(), 0) < 0) {
                r.error = QStringLiteral("out of memory");
                return r;
            }
            if (!writer.Open(output, r.width, r.height, fps, &r.error))
                return r;
        }
        bool fullRange = false;
        const AVPixelFormat format = PlainFormat(AVPixelFormat(in->format), &fullRange);
        SwsContext* s =
            sws_getCachedContext(sws.release(), in->width, in->height, format, r.width, r.height,
                                 AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
        sws.reset(s);
        if (s)
            SetRanges(s, fullRange || in->color_range == AVCOL_RANGE_JPEG);
        // The encoder may still hold the previous frame's buffer.
        if (!s || av_frame_make_writable(out.get()) < 0) {
            r.error = QStringLiteral("cannot convert %1").arg(pictures[size_t(i)]);
            return r;
        }
        sws_scale(s, in->data, in->linesize, 0, in->height, out->data, out->linesize);
        out->pts = r.frames;
        if (!writer.Encode(out.get(), &r.error))
            return r;
        ++r.frames;
        if (progress)
            progress(i + 1, total);
    }
    if (r.frames == 0) {
        r.error = QStringLiteral("no readable pictures");
        return r;
    }
    r.ok = writer.Finish(&r.error);
    return r;
}

namespace
{
struct InputCloser {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};

// Decodes what pkt holds (null: drains); counts the frames that came out.
bool DecodeCount(AVCodecContext* dec, const AVPacket* pkt, AVFrame* frame, int* frames,
                 QString* reason)
{
    int rc = avcodec_send_packet(dec, pkt);
    while (rc >= 0) {
        rc = avcodec_receive_frame(dec, frame);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return true;
        if (rc >= 0 && (frame->decode_error_flags || (frame->flags & AV_FRAME_FLAG_CORRUPT)))
            rc = AVERROR_INVALIDDATA;
        if (rc >= 0)
            ++*frames;
    }
    *reason = QStringLiteral("frame %1: %2").arg(*frames + 1).arg(AvErrorText(rc));
    return false;
}
} // namespace

bool CheckVideo(const QString& path, int expectedFrames, const std::atomic<bool>* cancel,
                QString* reason, bool decode)
{
    AVFormatContext* raw = nullptr;
    const QByteArray name = QFile::encodeName(path);
    int rc = avformat_open_input(&raw, name.constData(), nullptr, nullptr);
    std::unique_ptr<AVFormatContext, InputCloser> fmt(raw);
    if (rc >= 0)
        rc = avformat_find_stream_info(fmt.get(), nullptr);
    if (rc < 0) {
        *reason = AvErrorText(rc);
        return false;
    }
    const AVCodec* codec = nullptr;
    const int index = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    Owned<AVCodecContext> dec(index >= 0 && codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!dec || avcodec_parameters_to_context(dec.get(), fmt->streams[index]->codecpar) < 0 ||
        avcodec_open2(dec.get(), codec, nullptr) < 0) {
        *reason = QStringLiteral("no video stream");
        return false;
    }
    dec->err_recognition = AV_EF_EXPLODE;
    Owned<AVPacket> pkt(av_packet_alloc());
    Owned<AVFrame> frame(av_frame_alloc());
    int packets = 0, frames = 0;
    while ((rc = av_read_frame(fmt.get(), pkt.get())) >= 0) {
        const bool ours = pkt->stream_index == index;
        const bool ok =
            !ours || !decode || DecodeCount(dec.get(), pkt.get(), frame.get(), &frames, reason);
        packets += ours;
        av_packet_unref(pkt.get());
        if (!ok)
            return false;
        if (cancel && cancel->load()) {
            *reason = QStringLiteral("cancelled");
            return false;
        }
    }
    if (rc != AVERROR_EOF) {
        *reason = AvErrorText(rc);
        return false;
    }
    if (!decode)
        frames = packets;
    else if (!DecodeCount(dec.get(), nullptr, frame.get(), &frames, reason))
        return false;
    const int want = expectedFrames > 0 ? expectedFrames : qMax(1, packets);
    if (frames != want || packets != want) {
        *reason = QStringLiteral("%1 of %2 frames readable").arg(frames).arg(want);
        return false;
    }
    return true;
}
