// A picture of every drawing pass, compared with a committed reference and
// read region by region: each pass leaves colours and alphas that no other
// pass makes, so a missing or changed pass fails here even when the picture
// as a whole stays close to the reference.
#include "render/native_text_renderer.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>

namespace tessivo {
namespace {

constexpr int kWidth = 480;
constexpr int kHeight = 270;
constexpr double kTime = 1.0;

struct Rgba {
    double r = 0, g = 0, b = 0;  // straight (not premultiplied), 0...255
    int a = 0;
};

struct Frame {
    int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, kWidth);
    std::vector<unsigned char> bytes = std::vector<unsigned char>(static_cast<size_t>(stride) * kHeight);
    const unsigned char* at(int x, int y) const { return &bytes[static_cast<size_t>(y) * stride + x * 4]; }
    int alpha(int x, int y) const { return at(x, y)[3]; }
    Rgba colour(int x, int y) const {
        const unsigned char* p = at(x, y);  // B, G, R, A on little-endian machines
        Rgba c;
        c.a = p[3];
        if (c.a > 0) {
            c.r = p[2] * 255.0 / c.a;
            c.g = p[1] * 255.0 / c.a;
            c.b = p[0] * 255.0 / c.a;
        }
        return c;
    }
};

Frame draw(const std::vector<NativeTextSequence>& blocks) {
    NativeCaptionRenderer renderer(kWidth, kHeight, blocks);
    Frame f;
    renderer.drawFrame(kTime, f.bytes.data(), f.stride);
    return f;
}

NativeTextSequence caption(const std::string& text, const char* font, double x, double y, double size) {
    NativeTextSequence s;
    s.text = text;
    s.font = font;
    s.x = x;
    s.y = y;
    s.size = size;
    s.duration = 10;
    return s;
}

// Neon glow while fading in: at 1 s a quarter of the 4 s entrance has passed,
// opacity 0.578125, so the glow's own copy of the text shows through the fill.
NativeTextSequence glowBlock() {
    auto b = caption("GLOW", "Anton", 72, 18, 12);
    b.color = "#ffd200";
    b.glowType = "neon";
    b.glowColor = "#00c8ff";
    b.animIn = "fade";
    b.animSpeed = 4;
    return b;
}

// The sweep half-way: a white core, orange glowing letters around it, blue fill elsewhere.
NativeTextSequence shineBlock() {
    auto b = caption("SWEEPING SHINE", "Bebas Neue", 50, 52, 11);
    b.color = "#3366ff";
    b.effect = "shine-sweep";
    b.effectSpeed = 2;
    return b;
}

// Four copies in the glow colour, offset diagonally by 0.035 of the font size.
NativeTextSequence cartoonBlock() {
    auto b = caption("Cartoon", "Bangers", 25, 83, 12);
    b.color = "#7cff4f";
    b.glowType = "cartoon";
    b.glowColor = "#ff3366";
    b.trackId = 2;
    return b;
}

NativeTextSequence outlineBlock() {
    auto b = caption("Outline", "Anton", 75, 83, 9);
    b.color = "#ffd200";
    b.hasOutline = true;
    b.outlineWidth = 4;
    b.outlineColor = "#101010";
    return b;
}

NativeTextSequence shadowBlock() {
    auto b = caption("Shadow", "DM Serif Display", 22, 16, 7);
    b.color = "#ff66cc";
    b.glowType = "shadow";
    b.glowColor = "#2040ff";
    return b;
}

struct Region {
    int left, top, right, bottom;
};
// Each block keeps to its own region, halo included.
constexpr Region kShadowRegion{0, 0, 210, 90};
constexpr Region kGlowRegion{215, 0, 480, 100};
constexpr Region kShineRegion{0, 105, 480, 175};
constexpr Region kCartoonRegion{0, 180, 235, 270};
constexpr Region kOutlineRegion{245, 180, 480, 270};

// Pixels of `f` within `r` that are at least `gap` pixels (in both axes) away
// from every inked pixel of `glyphs` (the same text drawn without its glow).
template <typename Visit>
void forEachOutside(const Frame& f, const Frame& glyphs, const Region& r, int gap, Visit visit) {
    for (int y = r.top; y < r.bottom; ++y) {
        for (int x = r.left; x < r.right; ++x) {
            bool near = false;
            for (int dy = -gap; dy <= gap && !near; ++dy)
                for (int dx = -gap; dx <= gap && !near; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    near = nx >= 0 && ny >= 0 && nx < kWidth && ny < kHeight && glyphs.alpha(nx, ny) > 0;
                }
            if (!near) visit(f.colour(x, y));
        }
    }
}

bool close(const Rgba& c, double r, double g, double b, double tolerance) {
    return std::abs(c.r - r) <= tolerance && std::abs(c.g - g) <= tolerance && std::abs(c.b - b) <= tolerance;
}

int count(const Frame& f, const Region& r, const std::function<bool(const Rgba&)>& test) {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) n += test(f.colour(x, y));
    return n;
}

// The picture every test reads, drawn once.
const Frame& picture() {
    static const Frame drawn = draw({glowBlock(), shineBlock(), cartoonBlock(), outlineBlock(), shadowBlock()});
    return drawn;
}

// The glow's halo outside the glyphs has the glow colour, at the alpha of a
// blurred copy drawn at 0.92 × 0.48 of the block's opacity.
TEST(GoldenPicture, GlowHaloHasTheGlowColourAndAlpha) {
    auto bare = glowBlock();
    bare.glowType = "none";
    const Frame glyphs = draw({bare});
    int tinted = 0, off = 0, strongest = 0;
    forEachOutside(picture(), glyphs, kGlowRegion, 3, [&](const Rgba& c) {
        if (c.a < 8) return;
        ++tinted;
        off += !close(c, 0, 200, 255, 24);
        strongest = std::max(strongest, c.a);
    });
    EXPECT_GT(tinted, 800);
    EXPECT_EQ(off, 0);
    // 0.92 × 0.48 × 0.578 × 255 = 65 where the blurred mask is full; three
    // pixels off the glyphs, where the blur has about halved it, 30 is drawn.
    EXPECT_GE(strongest, 24);
    EXPECT_LE(strongest, 36);
}

// Inside the glyphs the fading fill lets the glow's copy of the text show: the
// alpha there is above the fill's own, and the fill's yellow is tinted blue.
TEST(GoldenPicture, GlowTextCopyShowsThroughTheFadingFill) {
    auto bare = glowBlock();
    bare.glowType = "none";
    const Frame glyphs = draw({bare});
    double alphaSum = 0, blueSum = 0;
    int inside = 0;
    for (int y = kGlowRegion.top; y < kGlowRegion.bottom; ++y) {
        for (int x = kGlowRegion.left; x < kGlowRegion.right; ++x) {
            if (glyphs.alpha(x, y) < 147) continue;  // where the fill covers the pixel fully
            ++inside;
            alphaSum += picture().alpha(x, y);
            blueSum += picture().at(x, y)[0];
        }
    }
    ASSERT_GT(inside, 500);
    // Fill over copy over halo: 1 - (1 - 0.578)(1 - 0.48 × 0.578)(1 - h), the
    // halo h being about 0.16 inside the glyphs, so 190 of 255 (165 without
    // the copy, 220 with the copy at full alpha). The blue is the copy's and
    // the halo's: 43 (17 without the copy).
    const double alpha = alphaSum / inside, blue = blueSum / inside;
    EXPECT_NEAR(alpha, 190, 7);
    EXPECT_NEAR(blue, 43, 8);
}

// The shine sweep: near-white letters at the core, orange letters in the band
// with an orange halo outside them, the blue fill elsewhere.
TEST(GoldenPicture, ShineSweepCoreBandAndHalo) {
    const int white = count(picture(), kShineRegion, [](const Rgba& c) { return c.a >= 250 && close(c, 255, 255, 255, 12); });
    const int orange = count(picture(), kShineRegion, [](const Rgba& c) { return c.a >= 250 && close(c, 255, 122, 0, 12); });
    const int blue = count(picture(), kShineRegion, [](const Rgba& c) { return c.a >= 250 && close(c, 51, 102, 255, 12); });
    EXPECT_GT(white, 200);
    EXPECT_GT(orange, 300);
    EXPECT_GT(blue, 1500);

    auto plain = shineBlock();
    plain.effect = "none";
    const Frame glyphs = draw({plain});
    int halo = 0, off = 0;
    forEachOutside(picture(), glyphs, kShineRegion, 3, [&](const Rgba& c) {
        if (c.a < 8) return;
        ++halo;
        off += !close(c, 255, 122, 0, 24);
    });
    EXPECT_GT(halo, 120);
    EXPECT_EQ(off, 0);
}

// The cartoon glow's copies, the outline and the fills each keep a colour of
// their own; the shadow lies below and to the right in its colour.
TEST(GoldenPicture, HardGlowOutlineAndShadowColours) {
    const auto solid = [](double r, double g, double b) {
        return [=](const Rgba& c) { return c.a >= 250 && close(c, r, g, b, 12); };
    };
    EXPECT_GT(count(picture(), kCartoonRegion, solid(255, 51, 102)), 800);  // glow copies
    EXPECT_GT(count(picture(), kCartoonRegion, solid(124, 255, 79)), 2000);  // fill
    EXPECT_GT(count(picture(), kOutlineRegion, solid(16, 16, 16)), 500);    // outline
    EXPECT_GT(count(picture(), kOutlineRegion, solid(255, 210, 0)), 1200);   // fill

    auto bare = shadowBlock();
    bare.glowType = "none";
    const Frame glyphs = draw({bare});
    int shadow = 0, off = 0;
    forEachOutside(picture(), glyphs, kShadowRegion, 2, [&](const Rgba& c) {
        if (c.a < 8) return;
        ++shadow;
        off += !close(c, 32, 64, 255, 24);
    });
    EXPECT_GT(shadow, 300);
    EXPECT_EQ(off, 0);
}

// The whole picture against the committed reference.
// TESSIVO_UPDATE_GOLDEN=1 rewrites the reference.
TEST(GoldenPicture, MatchesReference) {
    const auto golden = std::filesystem::path(TESSIVO_SOURCE_DIR) / "src/render/tests/golden/native_captions.png";
    Frame copy = picture();
    CairoSurfacePtr drawn = CairoSurfacePtr::adopt(cairo_image_surface_create_for_data(
        copy.bytes.data(), CAIRO_FORMAT_ARGB32, kWidth, kHeight, picture().stride));
    const char* update = std::getenv("TESSIVO_UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        ASSERT_EQ(cairo_surface_write_to_png(drawn.get(), golden.c_str()), CAIRO_STATUS_SUCCESS);
        GTEST_SKIP() << "golden image rewritten: " << golden;
    }
    CairoSurfacePtr reference = CairoSurfacePtr::adopt(cairo_image_surface_create_from_png(golden.c_str()));
    ASSERT_EQ(cairo_surface_status(reference.get()), CAIRO_STATUS_SUCCESS) << golden;
    ASSERT_EQ(cairo_image_surface_get_width(reference.get()), kWidth);
    ASSERT_EQ(cairo_image_surface_get_height(reference.get()), kHeight);
    const unsigned char* ref = cairo_image_surface_get_data(reference.get());
    const int refStride = cairo_image_surface_get_stride(reference.get());
    double sum = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth * 4; ++x) sum += std::abs(int(picture().at(0, y)[x]) - int(ref[y * refStride + x]));
    const double meanAbsoluteDifference = sum / (kWidth * kHeight * 4.0);
    // Below 0.5 of 255 per channel: font or rasteriser updates may move a few
    // edge pixels; a moved line or a wrong colour costs more.
    EXPECT_LT(meanAbsoluteDifference, 0.5);
}

}  // namespace
}  // namespace tessivo
