#include "render/native_blur.h"
#include "render/native_text_renderer.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

namespace tessivo {
namespace {

struct Frame {
    int width, height, stride;
    std::vector<unsigned char> bytes;
    Frame(int w, int h) : width(w), height(h), stride(cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, w)) {
        // Garbage in, so that a missing clear shows.
        bytes.assign(static_cast<size_t>(stride) * h, 0xAB);
    }
    const unsigned char* pixel(int x, int y) const { return &bytes[static_cast<size_t>(y) * stride + x * 4]; }
    // B, G, R, A on little-endian machines.
    int alpha(int x, int y) const { return pixel(x, y)[3]; }
};

Frame draw(NativeCaptionRenderer& renderer, double time) {
    Frame f(renderer.width(), renderer.height());
    renderer.drawFrame(time, f.bytes.data(), f.stride);
    return f;
}

struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    bool empty() const { return right < 0; }
    double centreX() const { return (left + right + 1) / 2.0; }
    double centreY() const { return (top + bottom + 1) / 2.0; }
};

Box alphaBox(const Frame& f, int threshold = 0) {
    Box b;
    for (int y = 0; y < f.height; ++y) {
        for (int x = 0; x < f.width; ++x) {
            if (f.alpha(x, y) > threshold) {
                b.left = std::min(b.left, x);
                b.right = std::max(b.right, x);
                b.top = std::min(b.top, y);
                b.bottom = std::max(b.bottom, y);
            }
        }
    }
    return b;
}

NativeTextSequence caption(const std::string& text) {
    NativeTextSequence s;
    s.text = text;
    s.font = "Anton";
    s.startTime = 0;
    s.duration = 10;
    return s;
}

TEST(NativeLayout, FontSizeLinesAndStep) {
    NativeTextSequence block;
    EXPECT_DOUBLE_EQ(nativeFontSize(block, 1920), 153.6);
    EXPECT_NEAR(nativeLineStep(153.6), 125.952, 1e-9);

    const struct {
        std::string text;
        std::vector<std::string> lines;
    } cases[] = {
        {"", {" "}},
        {"A\n\nB", {"A", " ", "B"}},
        {"A\r\nB", {"A", " ", "B"}},  // CR and LF each end a line
        {"A\rB\u2028C\u2029D\u0085E\vF\fG", {"A", "B", "C", "D", "E", "F", "G"}},
        {"héllo\n", {"héllo", " "}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(nativeLines(c.text), c.lines);
    }
}

TEST(NativeLayout, LinesAreStackedAroundTheAnchor) {
    const double fs = 100, step = nativeLineStep(fs);
    const NativeLineMetrics m{200, 120, 90, 25};  // 5 px of leading
    const auto origins = nativeLineOrigins({m, m, m}, fs);
    ASSERT_EQ(origins.size(), 3u);
    for (const auto& o : origins) EXPECT_DOUBLE_EQ(o.x, -100);
    EXPECT_NEAR(origins[1].baseline - origins[0].baseline, step, 1e-9);
    EXPECT_NEAR(origins[2].baseline - origins[1].baseline, step, 1e-9);
    // The middle line's box (leading, ascent, descent from top to bottom) is
    // centred on the anchor.
    EXPECT_NEAR(origins[1].baseline + m.descent - m.height / 2, 0, 1e-9);
}

// The drawn text's bounding box is centred on (x, y) for one and several lines.
TEST(NativeRenderer, TextIsCentredOnTheAnchor) {
    const struct {
        const char* text;
        double x, y;
    } cases[] = {{"HOH", 50, 50}, {"HOH\nHOHOH", 30, 60}, {"HOH\n\nHOH", 70, 40}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto block = caption(c.text);
        block.x = c.x;
        block.y = c.y;
        block.size = 6;
        NativeCaptionRenderer renderer(960, 540, {block});
        const Box box = alphaBox(draw(renderer, 1));
        ASSERT_FALSE(box.empty());
        const double fs = 0.06 * 960;
        EXPECT_NEAR(box.centreX(), c.x / 100 * 960, 2.0);
        // Capitals sit a little above the middle of their line box.
        EXPECT_NEAR(box.centreY(), c.y / 100 * 540, 0.12 * fs);
    }
}

// Higher tracks draw over lower ones whatever the list order; on one track the later start wins.
TEST(NativeRenderer, StackingOrder) {
    auto red = caption("██");
    red.color = "#ff0000";
    red.trackId = 2;
    auto green = caption("██");
    green.color = "#00ff00";
    green.trackId = 1;
    auto blue = caption("██");
    blue.color = "#0000ff";
    blue.trackId = 1;
    blue.startTime = 0.5;
    const struct {
        std::vector<NativeTextSequence> blocks;
        int channel;  // byte index of the expected colour: B=0, G=1, R=2
    } cases[] = {
        {{red, green}, 2},
        {{green, red}, 2},
        {{blue, green}, 0},
        {{green, blue}, 0},
    };
    for (const auto& c : cases) {
        NativeCaptionRenderer renderer(320, 180, c.blocks);
        const Frame f = draw(renderer, 1);
        const unsigned char* p = f.pixel(160, 90);
        EXPECT_EQ(p[3], 255);
        for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(p[ch], ch == c.channel ? 255 : 0) << "channel " << ch;
    }
}

TEST(NativeRenderer, ColoursReachThePixels) {
    const struct {
        const char* color;
        unsigned char b, g, r;
    } cases[] = {{"#f80", 0x00, 0x88, 0xff}, {"red", 0xff, 0xff, 0xff}, {"", 0xff, 0xff, 0xff}, {"#123456", 0x56, 0x34, 0x12}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.color);
        auto block = caption("█");
        block.color = c.color;
        NativeCaptionRenderer renderer(320, 180, {block});
        const Frame f = draw(renderer, 1);
        const unsigned char* p = f.pixel(160, 90);
        EXPECT_EQ(p[0], c.b);
        EXPECT_EQ(p[1], c.g);
        EXPECT_EQ(p[2], c.r);
        EXPECT_EQ(p[3], 255);
    }
}

TEST(NativeRenderer, FrameStates) {
    auto still = caption("Still");
    still.startTime = 1;
    still.duration = 2;  // 1 ... 3
    auto faded = caption("Fade");
    faded.startTime = 4;
    faded.duration = 2;  // 4 ... 6
    faded.animIn = "fade";
    faded.animOut = "fade";
    auto shiny = caption("Shine");
    shiny.startTime = 7;
    shiny.duration = 3;  // 7 ... 10, sweep from 7 to 8
    shiny.effect = "shine-sweep";
    NativeCaptionRenderer renderer(320, 180, {still, faded, shiny});

    const struct {
        double time;
        FrameKind kind;
    } cases[] = {
        {0.5, FrameKind::Empty},   {1, FrameKind::Static},    {2, FrameKind::Static},
        {3, FrameKind::Static},    {3.01, FrameKind::Empty},  {4, FrameKind::Empty},  // opacity 0 at the start
        {4.1, FrameKind::Dynamic}, {5, FrameKind::Static},    {5.9, FrameKind::Dynamic},
        {6, FrameKind::Empty},     {7.5, FrameKind::Dynamic}, {8.5, FrameKind::Static},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.time);
        EXPECT_EQ(renderer.frameState(c.time).kind, c.kind);
        // An Empty frame draws nothing, whatever the buffer held.
        if (c.kind == FrameKind::Empty) {
            EXPECT_TRUE(alphaBox(draw(renderer, c.time)).empty());
        }
    }
    EXPECT_EQ(renderer.frameState(1).key, renderer.frameState(2.5).key);
    EXPECT_NE(renderer.frameState(2).key, renderer.frameState(5).key);
    EXPECT_NE(renderer.frameState(5).key, renderer.frameState(8.5).key);
    // Equal keys mean equal pixels.
    EXPECT_EQ(draw(renderer, 1).bytes, draw(renderer, 2.5).bytes);
}

NativeTextSequence effectsBlock() {
    auto block = caption("Glow & outline\nShine sweep");
    block.font = "Bebas Neue";
    block.glowType = "neon";
    block.glowColor = "#00c8ff";
    block.hasOutline = true;
    block.outlineWidth = 6;
    block.outlineColor = "#101010";
    block.effect = "shine-sweep";
    block.effectSpeed = 2;
    block.animIn = "pop";
    block.animOut = "whip-right-out";
    return block;
}

TEST(NativeRenderer, RepeatDrawsAreByteIdentical) {
    NativeCaptionRenderer first(640, 360, {effectsBlock()});
    NativeCaptionRenderer second(640, 360, {effectsBlock()});
    for (double t : {0.1, 1.0, 9.8}) {
        SCOPED_TRACE(t);
        const Frame a = draw(first, t);
        EXPECT_FALSE(alphaBox(a).empty());
        EXPECT_EQ(a.bytes, draw(first, t).bytes);
        EXPECT_EQ(a.bytes, draw(second, t).bytes);
    }
}

// Renderers share no drawing state: two threads draw what one draws alone.
TEST(NativeRenderer, ConcurrentRenderersAgree) {
    NativeCaptionRenderer reference(640, 360, {effectsBlock()});
    const Frame expected = draw(reference, 1.0);
    std::vector<Frame> results(2, Frame(640, 360));
    std::vector<std::thread> threads;
    for (auto& result : results) {
        threads.emplace_back([&result] {
            NativeCaptionRenderer renderer(640, 360, {effectsBlock()});
            for (int i = 0; i < 5; ++i) renderer.drawFrame(1.0, result.bytes.data(), result.stride);
        });
    }
    for (auto& t : threads) t.join();
    for (const auto& result : results) EXPECT_EQ(result.bytes, expected.bytes);
}

// Values the editor should never send still draw without crashing or
// exhausting memory.
TEST(NativeRenderer, ExtremeValuesDrawSafely) {
    static constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* name;
        void (*change)(NativeTextSequence&);
        bool drawsSomething;
        FrameKind kind;
    } cases[] = {
        {"size 0", [](auto& b) { b.size = 0; }, false, FrameKind::Empty},
        {"negative size", [](auto& b) { b.size = -5; }, false, FrameKind::Empty},
        {"enormous size", [](auto& b) { b.size = 1e7; }, false, FrameKind::Empty},
        {"NaN anchor", [](auto& b) { b.x = nan; }, false, FrameKind::Empty},
        {"NaN duration", [](auto& b) { b.duration = nan; }, false, FrameKind::Empty},
        {"huge glow", [](auto& b) { b.glowType = "neon"; b.glowIntensity = 1e9; }, true, FrameKind::Static},
        {"huge shadow", [](auto& b) { b.glowType = "shadow"; b.glowIntensity = 1e9; }, true, FrameKind::Static},
        {"huge outline", [](auto& b) { b.hasOutline = true; b.outlineWidth = 1e5; }, true, FrameKind::Static},
        {"invalid UTF-8", [](auto& b) { b.text = "ok \xff\xfe done"; }, true, FrameKind::Static},
        {"off screen", [](auto& b) { b.x = -500; b.glowType = "neon"; }, false, FrameKind::Static},
        {"zero effect speed", [](auto& b) { b.effect = "shine-sweep"; b.effectSpeed = 0; }, true, FrameKind::Static},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto block = caption("Extreme");
        c.change(block);
        NativeCaptionRenderer renderer(480, 270, {block});
        const Frame f = draw(renderer, 1);
        EXPECT_EQ(!alphaBox(f).empty(), c.drawsSomething);
        EXPECT_EQ(renderer.frameState(1).kind, c.kind);
    }
}

// Effect options that must or must not change the picture.
TEST(NativeRenderer, EffectVariants) {
    auto base = caption("Neon");
    base.glowIntensity = 30;
    auto with = [&](auto change) {
        auto b = base;
        change(b);
        NativeCaptionRenderer renderer(480, 270, {b});
        return draw(renderer, 1).bytes;
    };
    const auto neon = with([](auto& b) { b.glowType = "neon"; });
    EXPECT_EQ(with([](auto& b) { b.glowType = "NEON"; }), neon);
    EXPECT_NE(with([](auto& b) { b.glowType = "glow-x"; }), neon);
    EXPECT_EQ(with([](auto& b) { b.glowType = "glow-x"; }), with([](auto& b) { b.glowType = "soft"; }));
    const auto black = with([](auto& b) { b.glowType = "neon"; b.glowColor = "#000000"; });
    EXPECT_EQ(black, with([](auto& b) { b.glowType = "neon"; b.glowColor = "#ffffff"; }));

    const auto plain = with([](auto& b) { b.hasOutline = false; b.outlineWidth = 4; });
    EXPECT_EQ(with([](auto& b) { b.hasOutline = true; b.outlineWidth = 0; }), plain);
    const auto thin = with([](auto& b) { b.hasOutline = true; b.outlineWidth = 0.5; });
    EXPECT_NE(thin, plain);
    EXPECT_EQ(thin, with([](auto& b) { b.hasOutline = true; b.outlineWidth = 1; }));
}

// The glow spreads beyond the text; a shadow lies down and to the right.
TEST(NativeRenderer, GlowAndShadowSpread) {
    auto block = caption("█");
    block.size = 10;
    NativeCaptionRenderer plainRenderer(480, 270, {block});
    const Box plain = alphaBox(draw(plainRenderer, 1), 8);
    block.glowType = "wide";
    block.glowIntensity = 40;  // blur 24.8 px
    NativeCaptionRenderer glowRenderer(480, 270, {block});
    const Box glow = alphaBox(draw(glowRenderer, 1), 8);
    EXPECT_LT(glow.left, plain.left - 8);
    EXPECT_GT(glow.right, plain.right + 8);
    EXPECT_LT(glow.top, plain.top - 8);
    block.glowType = "shadow";  // offset 9.6 px right and down, blur 6.4 px
    NativeCaptionRenderer shadowRenderer(480, 270, {block});
    const Box shadow = alphaBox(draw(shadowRenderer, 1), 8);
    EXPECT_GT(shadow.right, plain.right + 8);
    EXPECT_GT(shadow.bottom, plain.bottom + 8);
    EXPECT_GE(shadow.left, plain.left - 2);
}

TEST(NativeBlur, SpreadsLikeAGaussian) {
    for (double sigma : {2.0, 6.2, 15.0}) {
        SCOPED_TRACE(sigma);
        const int size = 161, stride = 164, c = size / 2;
        std::vector<std::uint8_t> mask(static_cast<size_t>(stride) * size, 0);
        // A filled square, so rounding does not swallow the result.
        for (int y = c - 5; y <= c + 5; ++y)
            for (int x = c - 5; x <= c + 5; ++x) mask[y * stride + x] = 255;
        nativeBlurA8(mask.data(), size, size, stride, sigma);
        double total = 0, varianceX = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const double v = mask[y * stride + x];
                total += v;
                varianceX += v * (x - c) * (x - c);
                EXPECT_EQ(mask[y * stride + x], mask[(size - 1 - y) * stride + (size - 1 - x)]);
            }
        }
        EXPECT_NEAR(total, 121 * 255.0, 121 * 255.0 * 0.03);
        // A square of side 11 has variance 10; the blur adds sigma².
        EXPECT_NEAR(varianceX / total, 10 + sigma * sigma, 0.1 * (10 + sigma * sigma));
    }
}

}  // namespace
}  // namespace tessivo
