#include "render/tests/movie_probe.h"

#include "render/ffmpeg_handles.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <fstream>

namespace tessivo::testing {

std::optional<ProbedMovie> probeMovie(const std::filesystem::path& path) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return std::nullopt;
    AVInputFormatContextPtr input(raw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0) return std::nullopt;
    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) return std::nullopt;
    AVStream* stream = input->streams[index];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) return std::nullopt;
    AVCodecContextPtr decoder(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(decoder.get(), stream->codecpar);
    decoder->thread_count = 1;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0) return std::nullopt;

    ProbedMovie movie;
    movie.codec = codec->name;
    if (const char* profile = avcodec_profile_name(codec->id, stream->codecpar->profile)) movie.profile = profile;
    char tag[AV_FOURCC_MAX_STRING_SIZE] = {};
    av_fourcc_make_string(tag, stream->codecpar->codec_tag);
    movie.codecTag = tag;
    if (const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(stream->codecpar->format)))
        movie.pixelFormat = name;
    {
        std::ifstream file(path, std::ios::binary);
        char header[12] = {};
        file.read(header, sizeof header);
        movie.brand.assign(header + 8, 4);
    }

    movie.timeBase = {stream->time_base.num, stream->time_base.den};
    movie.averageFrameRate = {stream->avg_frame_rate.num, stream->avg_frame_rate.den};
    movie.realFrameRate = {stream->r_frame_rate.num, stream->r_frame_rate.den};

    SwsContextPtr scaler;
    auto take = [&](AVFrame* frame) {
        ProbedFrame out;
        out.seconds = frame->best_effort_timestamp * av_q2d(stream->time_base);
        out.pts = frame->best_effort_timestamp;
        out.width = frame->width;
        out.height = frame->height;
        out.rgba.resize(static_cast<size_t>(frame->width) * frame->height * 4);
        // The fast 4:2:0-to-RGB path leaves the last pixels of a row unconverted
        // at some widths (642 for one); other widths than multiples of 16 take
        // the exact path.
        const int flags = SWS_POINT | (frame->width % 16 ? SWS_ACCURATE_RND : 0);
        scaler.reset(sws_getCachedContext(scaler.release(), frame->width, frame->height,
                                          static_cast<AVPixelFormat>(frame->format), frame->width, frame->height,
                                          AV_PIX_FMT_RGBA, flags, nullptr, nullptr, nullptr));
        const int* matrix = sws_getCoefficients(SWS_CS_ITU709);
        sws_setColorspaceDetails(scaler.get(), matrix, 0, matrix, 1, 0, 1 << 16, 1 << 16);
        uint8_t* planes[4] = {out.rgba.data(), nullptr, nullptr, nullptr};
        int strides[4] = {frame->width * 4, 0, 0, 0};
        sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
        movie.frames.push_back(std::move(out));
    };

    AVPacketPtr packet = makeAVPacket();
    AVFramePtr frame = makeAVFrame();
    auto drain = [&]() {
        while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
            take(frame.get());
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == index) {
            movie.packetDurations.push_back(packet->duration);
            if (avcodec_send_packet(decoder.get(), packet.get()) < 0) return std::nullopt;
            drain();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(decoder.get(), nullptr);
    drain();
    return movie;
}

}  // namespace tessivo::testing
