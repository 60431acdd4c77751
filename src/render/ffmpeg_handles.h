// Move-only owners for the FFmpeg handles of the video writer. Each owner
// releases its handle with the library's own free function; ownership is
// taken over on construction (the caller gives up its pointer).
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <memory>

namespace tessivo {

struct AVFrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct AVPacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct AVCodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
// An output format context: closes its file (when the muxer uses one) and frees it.
struct AVOutputFormatContextDeleter {
    void operator()(AVFormatContext* context) const {
        if (!context) return;
        if (context->oformat && !(context->oformat->flags & AVFMT_NOFILE) && context->pb)
            avio_closep(&context->pb);
        avformat_free_context(context);
    }
};
// An input format context opened with avformat_open_input.
struct AVInputFormatContextDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct SwsContextDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};

using AVFramePtr = std::unique_ptr<AVFrame, AVFrameDeleter>;
using AVPacketPtr = std::unique_ptr<AVPacket, AVPacketDeleter>;
using AVCodecContextPtr = std::unique_ptr<AVCodecContext, AVCodecContextDeleter>;
using AVOutputFormatContextPtr = std::unique_ptr<AVFormatContext, AVOutputFormatContextDeleter>;
using AVInputFormatContextPtr = std::unique_ptr<AVFormatContext, AVInputFormatContextDeleter>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;

inline AVFramePtr makeAVFrame() { return AVFramePtr(av_frame_alloc()); }
inline AVPacketPtr makeAVPacket() { return AVPacketPtr(av_packet_alloc()); }

}  // namespace tessivo
