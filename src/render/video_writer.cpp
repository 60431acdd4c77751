#include "render/video_writer.h"

#include "platform/files.h"
#include "platform/log.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <malloc.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <system_error>

namespace tessivo {

namespace fs = std::filesystem;

// The encoded packet of one appended frame; filled when the encoder hands it back.
struct PixelBuffer::EncodedSlot {
    AVPacketPtr packet;
};

namespace {

// ProRes quantiser: 11 sits in the 9...13 range where prores_ks keeps glow
// gradients clean at a fraction of the time of its bitrate mode.
constexpr int kProResQuantiser = 11;
// The largest frame side the writer accepts.
constexpr int kMaximumSide = 16384;
// The fastest frame rate the writer accepts (the render job allows up to 240).
constexpr double kMaximumFrameRate = 1000;

std::string avErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// straight = premultiplied * 255 / alpha, rounded, for every alpha and value.
const std::array<std::uint8_t, 256 * 256>& unpremultiplyTable() {
    static const auto table = [] {
        std::array<std::uint8_t, 256 * 256> t{};
        for (int a = 1; a < 256; ++a)
            for (int c = 0; c < 256; ++c) t[a * 256 + c] = static_cast<std::uint8_t>(std::min(255, (c * 255 + a / 2) / a));
        return t;
    }();
    return table;
}

// Cairo's premultiplied ARGB32 pixels straight into the planes of a 10-bit
// 4:4:4 frame with alpha (BT.709, video range), un-premultiplying on the way:
// FFmpeg reads alpha as straight, and soft edges would otherwise turn dark.
// Transparent pixels, most of a caption frame, cost a few stores.
void premultipliedToYUVA444P10(const unsigned char* source, int sourceStride, AVFrame* frame, int width, int height) {
    const auto& table = unpremultiplyTable();
    // Coefficients scaled by 2^16, applied to 8-bit straight R, G, B.
    constexpr double kY = 876.0 / 255.0, kC = 896.0 / 255.0;
    constexpr std::int64_t yr = std::int64_t(0.2126 * kY * 65536 + 0.5), yg = std::int64_t(0.7152 * kY * 65536 + 0.5),
                           yb = std::int64_t(0.0722 * kY * 65536 + 0.5);
    constexpr std::int64_t ur = std::int64_t(-0.1145721 * kC * 65536 - 0.5), ug = std::int64_t(-0.3854279 * kC * 65536 - 0.5),
                           ub = std::int64_t(0.5 * kC * 65536 + 0.5);
    constexpr std::int64_t vr = std::int64_t(0.5 * kC * 65536 + 0.5), vg = std::int64_t(-0.4541529 * kC * 65536 - 0.5),
                           vb = std::int64_t(-0.0458471 * kC * 65536 - 0.5);
    for (int y = 0; y < height; ++y) {
        const auto* in = reinterpret_cast<const std::uint32_t*>(source + static_cast<std::ptrdiff_t>(y) * sourceStride);
        auto* outY = reinterpret_cast<std::uint16_t*>(frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0]);
        auto* outU = reinterpret_cast<std::uint16_t*>(frame->data[1] + static_cast<std::ptrdiff_t>(y) * frame->linesize[1]);
        auto* outV = reinterpret_cast<std::uint16_t*>(frame->data[2] + static_cast<std::ptrdiff_t>(y) * frame->linesize[2]);
        auto* outA = reinterpret_cast<std::uint16_t*>(frame->data[3] + static_cast<std::ptrdiff_t>(y) * frame->linesize[3]);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t p = in[x];
            const std::uint32_t a = p >> 24;
            if (a == 0) {
                outY[x] = 64;
                outU[x] = 512;
                outV[x] = 512;
                outA[x] = 0;
                continue;
            }
            const std::uint8_t* row = table.data() + a * 256;
            const std::int64_t r = row[(p >> 16) & 0xff], g = row[(p >> 8) & 0xff], b = row[p & 0xff];
            outY[x] = static_cast<std::uint16_t>(64 + ((yr * r + yg * g + yb * b + 32768) >> 16));
            outU[x] = static_cast<std::uint16_t>(std::clamp<std::int64_t>(512 + ((ur * r + ug * g + ub * b + 32768) >> 16), 64, 960));
            outV[x] = static_cast<std::uint16_t>(std::clamp<std::int64_t>(512 + ((vr * r + vg * g + vb * b + 32768) >> 16), 64, 960));
            outA[x] = static_cast<std::uint16_t>((a * 1023 + 127) / 255);
        }
    }
}

}  // namespace

Error writerUnavailableError(const std::string& codecName) {
    return Error{kDomainWriter, 1, "Codec " + codecName + " indisponible pour cette résolution."};
}

Error writerNotStartedError(const std::string& codecName) {
    return Error{kDomainWriter, 2, "Le codec " + codecName + " n'a pas démarré."};
}

AVRational exactFrameRate(double fps) {
    if (!(fps > 0) || !std::isfinite(fps) || fps > kMaximumFrameRate) return AVRational{0, 1};
    // A fifth of the gap between n and n * 1000/1001: close enough to take the
    // rates as they are usually written (29.97, 23.976, 23.98), far from the other.
    constexpr double kTolerance = 2e-4;
    const double whole = std::round(fps);
    if (whole >= 1 && std::abs(fps - whole) <= kTolerance * whole) return AVRational{static_cast<int>(whole), 1};
    const double below = std::round(fps * 1.001);
    const double broadcast = below * 1000 / 1001;
    if (below >= 1 && std::abs(fps - broadcast) <= kTolerance * broadcast)
        return AVRational{static_cast<int>(below) * 1000, 1001};
    return av_d2q(fps, 1000000);
}

WriterChoice writerChoice(const std::string& background, const std::string& format) {
    WriterChoice choice;
    if (background == "transparent") {
        choice.encoder = "prores_ks";
        choice.codecName = kProRes4444Name;
        choice.pixelFormat = AV_PIX_FMT_YUVA444P10LE;
        choice.transparent = true;
    } else {
        choice.encoder = "libx264";
        choice.codecName = kH264Name;
        choice.pixelFormat = AV_PIX_FMT_YUV420P;
        choice.transparent = false;
    }
    choice.muxer = format == "mov" ? "mov" : "mp4";
    return choice;
}

std::shared_ptr<PixelBuffer> PixelBuffer::create(int width, int height) {
    if (width <= 0 || height <= 0) return nullptr;
    auto surface = CairoSurfacePtr::adopt(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
    // Cairo hands out zeroed memory: the buffer starts transparent.
    return std::shared_ptr<PixelBuffer>(new PixelBuffer(std::move(surface)));
}

namespace {
// Frames of several megabytes are allocated on one thread and released on the
// encoder's threads; glibc's per-thread arenas keep such freed memory, and a
// 1080p render then held five times its live heap. Handing the free memory
// back every few seconds of video keeps the footprint near the live heap at a
// negligible cost (a mapping per frame instead would cost a fifth of the speed).
constexpr std::int64_t kTrimEveryFrames = 120;
}  // namespace

Result<std::unique_ptr<VideoWriter>> VideoWriter::configure(const fs::path& path, const VideoWriterSettings& settings) {
    // The libraries' chatter (encoder statistics, profile notes) stays out of the
    // process log; their errors still reach it.
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_ERROR);
        return true;
    }();
    (void)quiet;
    std::unique_ptr<VideoWriter> writer(new VideoWriter());
    writer->settings_ = settings;
    writer->choice_ = writerChoice(settings.background, settings.format);
    writer->path_ = path;
    writer->temporaryPath_ = path.parent_path() / ("." + path.filename().string() + ".partial");
    const std::string& name = writer->choice_.codecName;

    if (settings.width <= 0 || settings.height <= 0 || settings.width > kMaximumSide || settings.height > kMaximumSide)
        return writerUnavailableError(name);
    writer->frameRate_ = exactFrameRate(settings.fps);
    if (writer->frameRate_.num <= 0) return writerNotStartedError(name);
    // Subsampled colour needs whole colour samples: 4:2:0 pictures get even sides.
    int chromaShiftX = 0, chromaShiftY = 0;
    av_pix_fmt_get_chroma_sub_sample(writer->choice_.pixelFormat, &chromaShiftX, &chromaShiftY);
    writer->codedWidth_ = (settings.width + (1 << chromaShiftX) - 1) >> chromaShiftX << chromaShiftX;
    writer->codedHeight_ = (settings.height + (1 << chromaShiftY) - 1) >> chromaShiftY << chromaShiftY;

    AVFormatContext* rawMuxer = nullptr;
    int status = avformat_alloc_output_context2(&rawMuxer, nullptr, writer->choice_.muxer.c_str(),
                                                writer->temporaryPath_.c_str());
    if (status < 0 || !rawMuxer) return Error{kDomainPlatform, status, avErrorText(status)};
    writer->muxer_.reset(rawMuxer);

    const AVCodec* codec = avcodec_find_encoder_by_name(writer->choice_.encoder.c_str());
    if (!codec) return writerNotStartedError(name);
    // The container must be able to carry the codec at all (MPEG-4 cannot carry ProRes).
    if (avformat_query_codec(writer->muxer_->oformat, codec->id, FF_COMPLIANCE_NORMAL) != 1)
        return writerUnavailableError(name);
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(codec->id);
    writer->intraOnly_ = descriptor && (descriptor->props & AV_CODEC_PROP_INTRA_ONLY);

    AVCodecContextPtr encoder(avcodec_alloc_context3(codec));
    if (!encoder) return writerNotStartedError(name);
    encoder->width = writer->codedWidth_;
    encoder->height = writer->codedHeight_;
    encoder->pix_fmt = writer->choice_.pixelFormat;
    // Times count whole frames: every frame lasts one unit, and the container
    // (whose own time scale is a multiple of the rate's numerator) stores equal
    // durations, which editing software reads as a constant rate.
    encoder->time_base = av_inv_q(writer->frameRate_);
    encoder->framerate = writer->frameRate_;
    encoder->sample_aspect_ratio = AVRational{1, 1};
    encoder->color_range = AVCOL_RANGE_MPEG;
    encoder->colorspace = AVCOL_SPC_BT709;
    encoder->color_primaries = AVCOL_PRI_BT709;
    encoder->color_trc = AVCOL_TRC_BT709;
    encoder->thread_count = 0;  // one per core
    if (writer->choice_.transparent) {
        encoder->profile = FF_PROFILE_PRORES_4444;
        encoder->flags |= AV_CODEC_FLAG_QSCALE;
        encoder->global_quality = FF_QP2LAMBDA * kProResQuantiser;
        av_opt_set(encoder->priv_data, "profile", "4444", 0);
        av_opt_set(encoder->priv_data, "vendor", "apl0", 0);
    } else {
        encoder->max_b_frames = 0;  // no frame reordering
        encoder->gop_size = static_cast<int>(std::clamp(std::lround(settings.fps * 2), 1L, 600L));
        av_opt_set(encoder->priv_data, "preset", "fast", 0);
        av_opt_set(encoder->priv_data, "crf", "18", 0);
        // A forced key frame is an IDR frame, so nothing after it refers to frames before it.
        av_opt_set(encoder->priv_data, "forced-idr", "1", 0);
    }
    if (writer->muxer_->oformat->flags & AVFMT_GLOBALHEADER) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    status = avcodec_open2(encoder.get(), codec, nullptr);
    if (status < 0) {
        logLine("Erreur AVFoundation: " + writer->choice_.encoder + ": " + avErrorText(status));
        return writerUnavailableError(name);
    }

    AVStream* stream = avformat_new_stream(writer->muxer_.get(), nullptr);
    if (!stream) return writerNotStartedError(name);
    status = avcodec_parameters_from_context(stream->codecpar, encoder.get());
    if (status < 0) return writerNotStartedError(name);
    stream->time_base = encoder->time_base;
    stream->avg_frame_rate = encoder->framerate;
    stream->r_frame_rate = encoder->framerate;
    writer->stream_ = stream;
    writer->encoder_ = std::move(encoder);

    // Any leftover of an earlier failed run under the temporary name goes first.
    removeFileQuietly(writer->temporaryPath_);
    status = avio_open(&writer->muxer_->pb, writer->temporaryPath_.c_str(), AVIO_FLAG_WRITE);
    if (status < 0) return Error{kDomainPlatform, status, "Fichier " + path.string() + ": " + avErrorText(status)};
    writer->open_ = true;

    status = avformat_write_header(writer->muxer_.get(), nullptr);
    if (status < 0) {
        logLine("Erreur AVFoundation: " + writer->choice_.muxer + ": " + avErrorText(status));
        writer->cancel();
        return writerUnavailableError(name);
    }

    // Frames with alpha are converted by premultipliedToYUVA444P10; the others by swscale.
    if (!writer->choice_.transparent) {
        writer->scaler_.reset(sws_getContext(writer->codedWidth_, writer->codedHeight_, AV_PIX_FMT_BGR0,
                                             writer->codedWidth_, writer->codedHeight_, writer->choice_.pixelFormat,
                                             SWS_POINT, nullptr, nullptr, nullptr));
        if (!writer->scaler_) {
            writer->cancel();
            return writerNotStartedError(name);
        }
        // Full-range RGB in, BT.709 video range out, as the stream is tagged.
        const int* matrix = sws_getCoefficients(SWS_CS_ITU709);
        sws_setColorspaceDetails(writer->scaler_.get(), matrix, 1, matrix, 0, 0, 1 << 16, 1 << 16);
    }
    return writer;
}

VideoWriter::~VideoWriter() {
    if (!finished_) cancel();
}

// In the encoder's time base, one unit a frame.
std::int64_t VideoWriter::presentationTime(std::int64_t frameIndex) const { return frameIndex; }

std::shared_ptr<PixelBuffer> VideoWriter::makePixelBuffer() const {
    return PixelBuffer::create(settings_.width, settings_.height);
}

std::shared_ptr<PixelBuffer> VideoWriter::blankPixelBuffer() {
    if (blank_) return blank_;
    auto buffer = makePixelBuffer();
    if (!buffer) return nullptr;
    if (!choice_.transparent) {
        auto cr = CairoPtr::adopt(cairo_create(buffer->surface()));
        cairo_set_source_rgb(cr.get(), 0, 0, 0);
        cairo_paint(cr.get());
        cairo_surface_flush(buffer->surface());
    }
    blank_ = buffer;
    return blank_;
}

std::shared_ptr<PixelBuffer> VideoWriter::drawImage(cairo_surface_t* image) const {
    auto buffer = makePixelBuffer();
    if (!buffer) return nullptr;
    auto cr = CairoPtr::adopt(cairo_create(buffer->surface()));
    if (cairo_status(cr.get()) == CAIRO_STATUS_SUCCESS) {
        if (!choice_.transparent) {
            cairo_set_source_rgb(cr.get(), 0, 0, 0);
            cairo_paint(cr.get());
        }
        const int imageWidth = image ? cairo_image_surface_get_width(image) : 0;
        const int imageHeight = image ? cairo_image_surface_get_height(image) : 0;
        if (imageWidth > 0 && imageHeight > 0) {
            cairo_scale(cr.get(), double(settings_.width) / imageWidth, double(settings_.height) / imageHeight);
            cairo_set_source_surface(cr.get(), image, 0, 0);
            cairo_paint(cr.get());
        }
    }
    cr.reset();
    cairo_surface_flush(buffer->surface());
    return buffer;
}

AVFramePtr VideoWriter::convert(const PixelBuffer& buffer, Error* error) {
    // A fresh frame each time: the encoder may still hold earlier ones.
    AVFramePtr frame = makeAVFrame();
    if (!frame) {
        *error = writerNotStartedError(choice_.codecName);
        return nullptr;
    }
    frame->format = choice_.pixelFormat;
    frame->width = codedWidth_;
    frame->height = codedHeight_;
    frame->color_range = AVCOL_RANGE_MPEG;
    frame->colorspace = AVCOL_SPC_BT709;
    frame->color_primaries = AVCOL_PRI_BT709;
    frame->color_trc = AVCOL_TRC_BT709;
    int status = av_frame_get_buffer(frame.get(), 0);
    if (status < 0) {
        *error = Error{kDomainPlatform, status, avErrorText(status)};
        return nullptr;
    }
    cairo_surface_flush(buffer.surface());
    if (choice_.transparent) {
        premultipliedToYUVA444P10(buffer.data(), buffer.stride(), frame.get(), settings_.width, settings_.height);
        return frame;
    }
    // Without alpha the premultiplied colours are the frame composed over black.
    const bool padded = codedWidth_ != settings_.width || codedHeight_ != settings_.height;
    const uint8_t* planes[4] = {padded ? padToCodedSize(buffer) : buffer.data(), nullptr, nullptr, nullptr};
    const int strides[4] = {padded ? codedWidth_ * 4 : buffer.stride(), 0, 0, 0};
    sws_scale(scaler_.get(), planes, strides, 0, codedHeight_, frame->data, frame->linesize);
    return frame;
}

// H.264 codes 4:2:0 colour per 2x2 block and can crop a picture only by whole
// blocks, so an odd side cannot be stored exactly: the picture gains one
// column or row. It repeats the edge rather than the black background, so
// the colour of the last, half-covered blocks is the edge's own instead of
// being pulled towards black; and the scaler reads whole blocks, never past
// the end of a row.
const std::uint8_t* VideoWriter::padToCodedSize(const PixelBuffer& buffer) {
    const int width = settings_.width, height = settings_.height;
    paddedPixels_.resize(static_cast<size_t>(codedWidth_) * codedHeight_);
    for (int y = 0; y < codedHeight_; ++y) {
        const auto* in = reinterpret_cast<const std::uint32_t*>(buffer.data() + std::min(y, height - 1) * buffer.stride());
        std::uint32_t* out = paddedPixels_.data() + static_cast<size_t>(y) * codedWidth_;
        std::copy(in, in + width, out);
        std::fill(out + width, out + codedWidth_, in[width - 1]);
    }
    return reinterpret_cast<const std::uint8_t*>(paddedPixels_.data());
}

std::optional<Error> VideoWriter::appendPixelBuffer(const std::shared_ptr<PixelBuffer>& buffer, std::int64_t frameIndex) {
    if (!open_ || finished_) return writerNotStartedError(choice_.codecName);
    if (!buffer || buffer->width() != settings_.width || buffer->height() != settings_.height)
        return writerUnavailableError(choice_.codecName);
    if (frameIndex <= lastFrameIndex_) return Error{kDomainWriter, 3, "Image hors d'ordre."};
    const std::int64_t pts = presentationTime(frameIndex);
    const std::int64_t duration = std::max<std::int64_t>(1, presentationTime(frameIndex + 1) - pts);
    lastFrameIndex_ = frameIndex;

    if (intraOnly_ && buffer->encoded_) {
        // Every frame stands alone: the same pixels give the same packet.
        pending_.push_back(PendingWrite{buffer->encoded_, pts, duration});
        ++packetsReused_;
        ++framesAppended_;
        return writeReadyPackets();
    }

    Error error;
    AVFramePtr frame = convert(*buffer, &error);
    if (!frame) return error;
    frame->pts = pts;
    frame->pkt_duration = duration;
    if (std::binary_search(settings_.keyFrames.begin(), settings_.keyFrames.end(), frameIndex))
        frame->pict_type = AV_PICTURE_TYPE_I;

    auto slot = std::make_shared<PixelBuffer::EncodedSlot>();
    const int status = avcodec_send_frame(encoder_.get(), frame.get());
    if (status < 0) return Error{kDomainWriter, status, "Encodage: " + avErrorText(status)};
    awaiting_.push_back(slot);
    pending_.push_back(PendingWrite{slot, pts, duration});
    if (intraOnly_) buffer->encoded_ = slot;
    ++framesEncoded_;
    ++framesAppended_;
    if (framesEncoded_ % kTrimEveryFrames == 0) malloc_trim(0);
    if (auto failed = receivePackets()) return failed;
    return writeReadyPackets();
}

std::optional<Error> VideoWriter::receivePackets() {
    while (true) {
        AVPacketPtr packet = makeAVPacket();
        if (!packet) return Error{kDomainPlatform, AVERROR(ENOMEM), avErrorText(AVERROR(ENOMEM))};
        const int status = avcodec_receive_packet(encoder_.get(), packet.get());
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return std::nullopt;
        if (status < 0) return Error{kDomainWriter, status, "Encodage: " + avErrorText(status)};
        // One packet per frame, in the order the frames went in (no reordering).
        if (awaiting_.empty()) return Error{kDomainWriter, 3, "Paquet inattendu de l'encodeur."};
        awaiting_.front()->packet = std::move(packet);
        awaiting_.pop_front();
    }
}

std::optional<Error> VideoWriter::writeReadyPackets() {
    while (!pending_.empty() && pending_.front().slot->packet) {
        const PendingWrite& next = pending_.front();
        AVPacketPtr packet(av_packet_clone(next.slot->packet.get()));
        if (!packet) return Error{kDomainPlatform, AVERROR(ENOMEM), avErrorText(AVERROR(ENOMEM))};
        if (intraOnly_) {
            // A frame coded alone is shown when it is decoded.
            packet->pts = next.pts;
            packet->dts = next.pts;
            packet->duration = next.duration;
            packet->flags |= AV_PKT_FLAG_KEY;
        }
        packet->stream_index = stream_->index;
        av_packet_rescale_ts(packet.get(), encoder_->time_base, stream_->time_base);
        pending_.pop_front();
        const int status = av_write_frame(muxer_.get(), packet.get());
        if (status < 0) return Error{kDomainPlatform, status, "Écriture: " + avErrorText(status)};
    }
    return std::nullopt;
}

std::optional<Error> VideoWriter::finish() {
    if (!open_ || finished_) return writerNotStartedError(choice_.codecName);
    auto fail = [this](Error error) -> std::optional<Error> {
        cancel();
        return error;
    };
    int status = avcodec_send_frame(encoder_.get(), nullptr);
    if (status < 0 && status != AVERROR_EOF) return fail(Error{kDomainWriter, status, "Encodage: " + avErrorText(status)});
    if (auto failed = receivePackets()) return fail(*failed);
    if (auto failed = writeReadyPackets()) return fail(*failed);
    if (!pending_.empty()) return fail(Error{kDomainWriter, 3, "Images perdues par l'encodeur."});
    status = av_write_trailer(muxer_.get());
    if (status < 0) return fail(Error{kDomainPlatform, status, "Écriture: " + avErrorText(status)});
    status = avio_closep(&muxer_->pb);
    open_ = false;
    if (status < 0) return fail(Error{kDomainPlatform, status, "Écriture: " + avErrorText(status)});

    std::error_code renameError;
    fs::rename(temporaryPath_, path_, renameError);
    if (renameError) return fail(Error{kDomainPlatform, renameError.value(), renameError.message()});
    finished_ = true;
    return std::nullopt;
}

void VideoWriter::closeFile() {
    if (open_ && muxer_ && muxer_->pb) avio_closep(&muxer_->pb);
    open_ = false;
}

void VideoWriter::cancel() {
    if (finished_) return;
    closeFile();
    removeFileQuietly(temporaryPath_);
    awaiting_.clear();
    pending_.clear();
}

}  // namespace tessivo
