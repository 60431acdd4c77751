// ProRes frames put together from their macroblock rows. A ProRes picture is
// a grid of slices, one row of slices per 16 lines, and with a fixed
// quantiser every slice is coded from its own pixels alone. A caption frame
// is mostly transparent, and a transparent row of slices always codes to the
// same bytes: those are kept once, only the rows with something in them are
// encoded (each as a picture one row high), and the frame is assembled from
// the rows' slices. The result is byte for byte the packet the encoder gives
// for the whole frame, for a fraction of the work.
//
// Threading: used by the writer's encoding thread only.
#pragma once

#include "platform/error.h"
#include "render/ffmpeg_handles.h"

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace tessivo {

class ProResRowEncoder {
public:
    // An encoder of rows with the settings of `whole` (an opened ProRes
    // encoder with a fixed quantiser); nullptr when it cannot be made.
    static std::unique_ptr<ProResRowEncoder> create(const AVCodecContext& whole);
    ~ProResRowEncoder();
    ProResRowEncoder(const ProResRowEncoder&) = delete;
    ProResRowEncoder& operator=(const ProResRowEncoder&) = delete;

    // The packet of `frame` (refcounted, of the whole encoder's size and
    // format), whose macroblock row r has a visible pixel when hasContent[r].
    // nullptr with `error` set when an encoder fails.
    AVPacketPtr encode(const AVFrame& frame, const std::vector<bool>& hasContent, Error* error);

    int rows() const { return rows_; }

private:
    // The coded slices of one row: their sizes and their bytes, in order.
    struct RowSlices {
        std::vector<std::uint16_t> sizes;
        std::vector<std::uint8_t> bytes;
    };
    ProResRowEncoder() = default;
    AVCodecContext* encoderFor(int height, Error* error);
    bool encodeRow(const AVFrame& frame, int firstLine, int height, RowSlices* out, Error* error);
    const RowSlices* transparentRow(const AVFrame& like, int height, Error* error);

    const AVCodecContext* whole_ = nullptr;
    int rows_ = 0;
    std::map<int, AVCodecContextPtr> encoders_;       // by picture height
    std::map<int, RowSlices> transparent_;            // by picture height
    std::vector<std::uint8_t> frameHeader_;           // from a row picture, height not yet set
    std::uint8_t sliceShape_ = 0;                     // the picture header's slice size byte
    std::int64_t rowPictures_ = 0;
};

}  // namespace tessivo
