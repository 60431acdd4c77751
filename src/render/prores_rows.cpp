#include "render/prores_rows.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstring>
#include <numeric>

namespace tessivo {

namespace {

constexpr int kMacroblockLines = 16;

std::uint16_t readBE16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }
void writeBE16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
void writeBE32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

Error codingError(const char* what) { return Error{kDomainWriter, 3, std::string("Encodage par rangées: ") + what}; }

}  // namespace

std::unique_ptr<ProResRowEncoder> ProResRowEncoder::create(const AVCodecContext& whole) {
    if (!whole.codec || whole.codec_id != AV_CODEC_ID_PRORES || !(whole.flags & AV_CODEC_FLAG_QSCALE) ||
        whole.height <= 0)
        return nullptr;
    std::unique_ptr<ProResRowEncoder> encoder(new ProResRowEncoder());
    encoder->whole_ = &whole;
    encoder->rows_ = (whole.height + kMacroblockLines - 1) / kMacroblockLines;
    return encoder;
}

ProResRowEncoder::~ProResRowEncoder() = default;

AVCodecContext* ProResRowEncoder::encoderFor(int height, Error* error) {
    if (auto found = encoders_.find(height); found != encoders_.end()) return found->second.get();
    AVCodecContextPtr encoder(avcodec_alloc_context3(whole_->codec));
    if (!encoder) {
        *error = codingError("contexte");
        return nullptr;
    }
    encoder->width = whole_->width;
    encoder->height = height;
    encoder->pix_fmt = whole_->pix_fmt;
    encoder->time_base = whole_->time_base;
    encoder->framerate = whole_->framerate;
    encoder->sample_aspect_ratio = whole_->sample_aspect_ratio;
    encoder->color_range = whole_->color_range;
    encoder->colorspace = whole_->colorspace;
    encoder->color_primaries = whole_->color_primaries;
    encoder->color_trc = whole_->color_trc;
    encoder->profile = whole_->profile;
    encoder->flags = whole_->flags & ~AV_CODEC_FLAG_GLOBAL_HEADER;
    encoder->global_quality = whole_->global_quality;
    encoder->thread_count = 1;  // a fixed quantiser codes the slices one after another anyway
    if (av_opt_copy(encoder->priv_data, whole_->priv_data) < 0 || avcodec_open2(encoder.get(), whole_->codec, nullptr) < 0) {
        *error = codingError("ouverture");
        return nullptr;
    }
    return encoders_.emplace(height, std::move(encoder)).first->second.get();
}

// Encodes lines [firstLine, firstLine + height) of `frame` as a picture of its own.
bool ProResRowEncoder::encodeRow(const AVFrame& frame, int firstLine, int height, RowSlices* out, Error* error) {
    AVCodecContext* encoder = encoderFor(height, error);
    if (!encoder) return false;
    AVFramePtr row = makeAVFrame();
    if (!row || av_frame_ref(row.get(), &frame) < 0) {
        *error = codingError("image");
        return false;
    }
    // A view of the lines, on the same buffers.
    for (int plane = 0; plane < AV_NUM_DATA_POINTERS && row->data[plane]; ++plane)
        row->data[plane] += static_cast<std::ptrdiff_t>(firstLine) * row->linesize[plane];
    row->height = height;
    row->pts = rowPictures_++;
    int status = avcodec_send_frame(encoder, row.get());
    row.reset();
    AVPacketPtr packet = makeAVPacket();
    if (status >= 0 && packet) status = avcodec_receive_packet(encoder, packet.get());
    if (status < 0 || !packet) {
        *error = codingError("rangée");
        return false;
    }
    // Frame: size, 'icpf', header; picture: header, slice size table, slices.
    const std::uint8_t* data = packet->data;
    const int size = packet->size;
    if (size < 10) {
        *error = codingError("paquet court");
        return false;
    }
    const int headerSize = readBE16(data + 8);
    const int picture = 8 + headerSize;
    if (picture + 8 > size || headerSize < 12) {
        *error = codingError("en-tête");
        return false;
    }
    const int pictureHeaderSize = data[picture] >> 3;
    const int slices = readBE16(data + picture + 5);
    const int table = picture + pictureHeaderSize;
    const int slicesStart = table + 2 * slices;
    if (slicesStart > size) {
        *error = codingError("table des tranches");
        return false;
    }
    out->sizes.resize(slices);
    std::size_t total = 0;
    for (int i = 0; i < slices; ++i) total += out->sizes[i] = readBE16(data + table + 2 * i);
    if (slicesStart + total > static_cast<std::size_t>(size)) {
        *error = codingError("tranches");
        return false;
    }
    out->bytes.assign(data + slicesStart, data + slicesStart + total);
    if (frameHeader_.empty()) {
        frameHeader_.assign(data + 8, data + picture);
        sliceShape_ = data[picture + 7];
    }
    return true;
}

// The slices of a transparent row of `height` lines, coded once.
const ProResRowEncoder::RowSlices* ProResRowEncoder::transparentRow(const AVFrame& like, int height, Error* error) {
    if (auto found = transparent_.find(height); found != transparent_.end()) return &found->second;
    AVFramePtr blank = makeAVFrame();
    if (!blank) {
        *error = codingError("image");
        return nullptr;
    }
    blank->format = like.format;
    blank->width = like.width;
    blank->height = height;
    blank->color_range = like.color_range;
    blank->colorspace = like.colorspace;
    blank->color_primaries = like.color_primaries;
    blank->color_trc = like.color_trc;
    if (av_frame_get_buffer(blank.get(), 0) < 0 || like.format != AV_PIX_FMT_YUVA444P10LE) {
        *error = codingError("image transparente");
        return nullptr;
    }
    // What a transparent pixel becomes: black at video range, alpha 0.
    const std::uint16_t values[4] = {64, 512, 512, 0};
    for (int plane = 0; plane < 4; ++plane)
        for (int y = 0; y < height; ++y) {
            auto* line = reinterpret_cast<std::uint16_t*>(blank->data[plane] + static_cast<std::ptrdiff_t>(y) * blank->linesize[plane]);
            std::fill_n(line, blank->width, values[plane]);
        }
    RowSlices slices;
    if (!encodeRow(*blank, 0, height, &slices, error)) return nullptr;
    return &transparent_.emplace(height, std::move(slices)).first->second;
}

AVPacketPtr ProResRowEncoder::encode(const AVFrame& frame, const std::vector<bool>& hasContent, Error* error) {
    if (frame.width != whole_->width || frame.height != whole_->height ||
        hasContent.size() != static_cast<std::size_t>(rows_)) {
        *error = codingError("dimensions");
        return nullptr;
    }
    std::vector<RowSlices> encoded(rows_);
    std::vector<const RowSlices*> rows(rows_);
    for (int r = 0; r < rows_; ++r) {
        const int firstLine = r * kMacroblockLines;
        const int height = std::min(kMacroblockLines, frame.height - firstLine);
        if (hasContent[r]) {
            if (!encodeRow(frame, firstLine, height, &encoded[r], error)) return nullptr;
            rows[r] = &encoded[r];
        } else {
            rows[r] = transparentRow(frame, height, error);
            if (!rows[r]) return nullptr;
        }
    }
    std::size_t slices = 0, sliceBytes = 0;
    for (const RowSlices* row : rows) {
        slices += row->sizes.size();
        sliceBytes += row->bytes.size();
    }
    constexpr int kPictureHeaderSize = 8;
    const std::size_t pictureSize = kPictureHeaderSize + 2 * slices + sliceBytes;
    const std::size_t frameSize = 8 + frameHeader_.size() + pictureSize;
    if (slices > 0xffff || frameSize > 0x7fffffff) {
        *error = codingError("image trop grande");
        return nullptr;
    }
    AVPacketPtr packet = makeAVPacket();
    if (!packet || av_new_packet(packet.get(), static_cast<int>(frameSize)) < 0) {
        *error = codingError("mémoire");
        return nullptr;
    }
    std::uint8_t* out = packet->data;
    writeBE32(out, static_cast<std::uint32_t>(frameSize));
    std::memcpy(out + 4, "icpf", 4);
    std::memcpy(out + 8, frameHeader_.data(), frameHeader_.size());
    writeBE16(out + 8 + 10, static_cast<std::uint32_t>(frame.height));  // the whole picture's height
    std::uint8_t* picture = out + 8 + frameHeader_.size();
    picture[0] = kPictureHeaderSize << 3;
    writeBE32(picture + 1, static_cast<std::uint32_t>(pictureSize));
    writeBE16(picture + 5, static_cast<std::uint32_t>(slices));
    picture[7] = sliceShape_;
    std::uint8_t* table = picture + kPictureHeaderSize;
    std::uint8_t* bytes = table + 2 * slices;
    for (const RowSlices* row : rows) {
        for (std::uint16_t size : row->sizes) {
            writeBE16(table, size);
            table += 2;
        }
        std::memcpy(bytes, row->bytes.data(), row->bytes.size());
        bytes += row->bytes.size();
    }
    return packet;
}

}  // namespace tessivo
