#include "render/prores_rows.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/opt.h>
}

#include <random>
#include <string>
#include <vector>

namespace tessivo {
namespace {

// A ProRes 4444 encoder as the writer opens it for a transparent render.
AVCodecContextPtr openWholeEncoder(int width, int height) {
    const AVCodec* codec = avcodec_find_encoder_by_name("prores_ks");
    AVCodecContextPtr encoder(avcodec_alloc_context3(codec));
    encoder->width = width;
    encoder->height = height;
    encoder->pix_fmt = AV_PIX_FMT_YUVA444P10LE;
    encoder->time_base = AVRational{1, 600};
    encoder->color_range = AVCOL_RANGE_MPEG;
    encoder->colorspace = AVCOL_SPC_BT709;
    encoder->color_primaries = AVCOL_PRI_BT709;
    encoder->color_trc = AVCOL_TRC_BT709;
    encoder->profile = FF_PROFILE_PRORES_4444;
    encoder->flags |= AV_CODEC_FLAG_QSCALE | AV_CODEC_FLAG_GLOBAL_HEADER;
    encoder->global_quality = FF_QP2LAMBDA * 11;
    av_opt_set(encoder->priv_data, "profile", "4444", 0);
    av_opt_set(encoder->priv_data, "vendor", "apl0", 0);
    if (avcodec_open2(encoder.get(), codec, nullptr) < 0) return nullptr;
    return encoder;
}

// A frame transparent except the lines listed, which get noise (and partial alpha).
AVFramePtr frameWithLines(int width, int height, const std::vector<int>& lines, std::mt19937& random) {
    AVFramePtr frame = makeAVFrame();
    frame->format = AV_PIX_FMT_YUVA444P10LE;
    frame->width = width;
    frame->height = height;
    frame->color_range = AVCOL_RANGE_MPEG;
    frame->colorspace = AVCOL_SPC_BT709;
    frame->color_primaries = AVCOL_PRI_BT709;
    frame->color_trc = AVCOL_TRC_BT709;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
    const std::uint16_t transparent[4] = {64, 512, 512, 0};
    for (int plane = 0; plane < 4; ++plane)
        for (int y = 0; y < height; ++y) {
            auto* line = reinterpret_cast<std::uint16_t*>(frame->data[plane] + y * frame->linesize[plane]);
            std::fill_n(line, width, transparent[plane]);
        }
    for (int y : lines)
        for (int plane = 0; plane < 4; ++plane) {
            auto* line = reinterpret_cast<std::uint16_t*>(frame->data[plane] + y * frame->linesize[plane]);
            for (int x = 0; x < width; x += 3) line[x] = static_cast<std::uint16_t>(64 + random() % 897);
        }
    return frame;
}

std::vector<std::uint8_t> wholePacket(AVCodecContext* encoder, const AVFrame& frame) {
    AVPacketPtr packet = makeAVPacket();
    if (avcodec_send_frame(encoder, &frame) < 0 || avcodec_receive_packet(encoder, packet.get()) < 0) return {};
    return std::vector<std::uint8_t>(packet->data, packet->data + packet->size);
}

// Whatever rows hold something, at sizes whose last row is whole or cut
// short and whose rows end in narrower slices, the assembled frame is the
// whole encoder's packet byte for byte.
TEST(ProResRowEncoderTest, AssembledFramesAreTheWholeEncodersBytes) {
    struct Case {
        std::string name;
        int width, height;
        std::vector<int> lines;  // lines with something visible
    } cases[] = {
        {"all transparent", 320, 180, {}},
        {"one line in the first row", 320, 180, {3}},
        {"a band in the middle", 320, 180, {70, 71, 72, 90, 95}},
        {"the short last row", 320, 180, {177, 179}},
        {"rows far apart", 320, 180, {0, 60, 130, 176}},
        {"every row", 320, 180, {0, 16, 32, 48, 64, 80, 96, 112, 128, 144, 160, 176}},
        {"whole rows, narrow end slices", 344, 64, {20, 63}},
        {"one macroblock wide", 16, 40, {33}},
    };
    std::mt19937 random(11);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AVCodecContextPtr whole = openWholeEncoder(c.width, c.height);
        ASSERT_TRUE(whole);
        auto rows = ProResRowEncoder::create(*whole);
        ASSERT_TRUE(rows);
        ASSERT_EQ(rows->rows(), (c.height + 15) / 16);
        // Twice: the second frame uses the transparent rows kept from the first.
        for (int round = 0; round < 2; ++round) {
            AVFramePtr frame = frameWithLines(c.width, c.height, c.lines, random);
            ASSERT_TRUE(frame);
            std::vector<bool> hasContent(static_cast<size_t>(rows->rows()), false);
            for (int y : c.lines) hasContent[static_cast<size_t>(y / 16)] = true;
            Error error;
            AVPacketPtr assembled = rows->encode(*frame, hasContent, &error);
            ASSERT_TRUE(assembled) << error.message;
            const std::vector<std::uint8_t> expected = wholePacket(whole.get(), *frame);
            ASSERT_FALSE(expected.empty());
            const std::vector<std::uint8_t> got(assembled->data, assembled->data + assembled->size);
            EXPECT_EQ(got.size(), expected.size());
            EXPECT_TRUE(got == expected) << "round " << round;
        }
    }
}

TEST(ProResRowEncoderTest, OnlyProResWithAFixedQuantiserIsTaken) {
    AVCodecContextPtr whole = openWholeEncoder(64, 32);
    ASSERT_TRUE(whole);
    EXPECT_TRUE(ProResRowEncoder::create(*whole));
    whole->flags &= ~AV_CODEC_FLAG_QSCALE;
    EXPECT_FALSE(ProResRowEncoder::create(*whole));
}

}  // namespace
}  // namespace tessivo
