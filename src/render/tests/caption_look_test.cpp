// The caption look the native renderer shares with the page's canvas renderer,
// checked against the vectors both test suites read (tests/vectors/caption-look.json).
#include "platform/files.h"
#include "render/native_text_renderer.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>

namespace tessivo {
namespace {

const Json& vectors() {
    static const Json loaded = [] {
        auto text = readFile(TESSIVO_CAPTION_VECTORS);
        if (!text) throw std::runtime_error("cannot read " TESSIVO_CAPTION_VECTORS);
        auto parsed = parseJson(*text);
        if (!parsed || !parsed->is_object()) throw std::runtime_error("not a JSON object: " TESSIVO_CAPTION_VECTORS);
        return *parsed;
    }();
    return loaded;
}

NativeTextSequence decoded(const Json& dictionary) { return NativeTextSequence::decode(dictionary); }

std::string label(const Json& vector) { return vector.dump(); }

TEST(CaptionLook, Decoding) {
    for (const auto& v : vectors().at("decode")) {
        SCOPED_TRACE(label(v["sequence"]));
        const NativeTextSequence s = decoded(v["sequence"]);
        const Json& e = v["decoded"];
        EXPECT_EQ(s.text, e["text"].get<std::string>());
        EXPECT_DOUBLE_EQ(s.startTime, e["startTime"].get<double>());
        EXPECT_DOUBLE_EQ(s.duration, e["duration"].get<double>());
        EXPECT_DOUBLE_EQ(s.x, e["x"].get<double>());
        EXPECT_DOUBLE_EQ(s.y, e["y"].get<double>());
        EXPECT_EQ(s.trackId, e["trackId"].get<std::int64_t>());
        EXPECT_EQ(s.font, e["font"].get<std::string>());
        EXPECT_DOUBLE_EQ(s.size, e["size"].get<double>());
        EXPECT_DOUBLE_EQ(s.textScaleX, e["textScaleX"].get<double>());
        EXPECT_EQ(s.color, e["color"].get<std::string>());
        EXPECT_EQ(s.color2, e["color2"].get<std::string>());
        EXPECT_EQ(s.effect, e["effect"].get<std::string>());
        EXPECT_DOUBLE_EQ(s.effectSpeed, e["effectSpeed"].get<double>());
        EXPECT_EQ(s.effectColor, e["effectColor"].get<std::string>());
        EXPECT_EQ(s.glowType, e["glowType"].get<std::string>());
        EXPECT_DOUBLE_EQ(s.glowIntensity, e["glowIntensity"].get<double>());
        EXPECT_EQ(s.glowColor, e["glowColor"].get<std::string>());
        EXPECT_EQ(s.hasOutline, e["hasOutline"].get<bool>());
        EXPECT_DOUBLE_EQ(s.outlineWidth, e["outlineWidth"].get<double>());
        EXPECT_EQ(s.outlineColor, e["outlineColor"].get<std::string>());
        EXPECT_EQ(s.animIn, e["animIn"].get<std::string>());
        EXPECT_EQ(s.animOut, e["animOut"].get<std::string>());
        EXPECT_DOUBLE_EQ(s.animSpeed, e["animSpeed"].get<double>());
    }
}

TEST(CaptionLook, DrawingOrder) {
    for (const auto& v : vectors().at("drawingOrder")) {
        SCOPED_TRACE(label(v["sequences"]));
        std::vector<std::string> texts;
        for (const auto& s : nativeSequences(Json{{"sequences", v["sequences"]}})) texts.push_back(s.text);
        EXPECT_EQ(texts, v["texts"].get<std::vector<std::string>>());
    }
}

TEST(CaptionLook, Easing) {
    const Json& easing = vectors().at("easing");
    const NativeTextSequence block = decoded(easing["block"]);
    const double a = nativeEntranceLength(block), b = nativeExitLength(block);
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    for (const auto& v : easing["values"]) {
        const double p = v["p"].get<double>();
        SCOPED_TRACE(p);
        EXPECT_NEAR(nativePose(block, p * a).opacity, v["easeOut"].get<double>(), 1e-9);
        EXPECT_NEAR(1 - nativePose(block, block.duration - b + p * b).opacity, v["easeIn"].get<double>(), 1e-9);
    }
}

TEST(CaptionLook, AnimationLengths) {
    for (const auto& v : vectors().at("animationLengths")) {
        SCOPED_TRACE(label(v["sequence"]));
        const NativeTextSequence block = decoded(v["sequence"]);
        EXPECT_NEAR(nativeEntranceLength(block), v["entrance"].get<double>(), 1e-12);
        EXPECT_NEAR(nativeExitLength(block), v["exit"].get<double>(), 1e-12);
    }
}

TEST(CaptionLook, Poses) {
    for (const auto& v : vectors().at("poses")) {
        SCOPED_TRACE(label(v["sequence"]) + " at " + v["elapsed"].dump());
        const NativePose p = nativePose(decoded(v["sequence"]), v["elapsed"].get<double>());
        const Json& e = v["pose"];
        EXPECT_NEAR(p.opacity, e["opacity"].get<double>(), 1e-9);
        EXPECT_NEAR(p.xOffset, e["xOffset"].get<double>(), 1e-9);
        EXPECT_NEAR(p.yOffset, e["yOffset"].get<double>(), 1e-9);
        EXPECT_NEAR(p.rotation, e["rotation"].get<double>(), 1e-9);
        EXPECT_NEAR(p.scale, e["scale"].get<double>(), 1e-9);
    }
}

TEST(CaptionLook, ShineSweep) {
    for (const auto& v : vectors().at("shine")) {
        SCOPED_TRACE(label(v["sequence"]) + " at " + v["elapsed"].dump());
        const NativeShine shine = nativeShine(decoded(v["sequence"]), v["elapsed"].get<double>());
        EXPECT_EQ(shine.active, v["active"].get<bool>());
        if (shine.active && v["active"].get<bool>()) {
            EXPECT_NEAR(shine.phase, v["phase"].get<double>(), 1e-9);
        }
    }
}

std::vector<int> components(const NativeColor& c) {
    EXPECT_EQ(c.alpha, 1);
    return {int(std::lround(c.red * 255)), int(std::lround(c.green * 255)), int(std::lround(c.blue * 255))};
}

TEST(CaptionLook, Colours) {
    for (const auto& v : vectors().at("colors")) {
        SCOPED_TRACE(label(v));
        const auto text = v["text"].get<std::string>();
        const auto fallback = v["default"].get<std::string>();
        EXPECT_EQ(components(cgColor(text, fallback)), v["rgb"].get<std::vector<int>>());
    }
    for (const auto& v : vectors().at("glowColors")) {
        SCOPED_TRACE(label(v));
        const NativeTextSequence block = decoded(Json{{"glowColor", v["glowColor"]}});
        EXPECT_EQ(components(effectiveNativeGlowColor(block)), v["rgb"].get<std::vector<int>>());
    }
}

TEST(CaptionLook, Layout) {
    for (const auto& v : vectors().at("layout")) {
        SCOPED_TRACE(label(v));
        const NativeTextSequence block = decoded(v["sequence"]);
        const double fs = nativeFontSize(block, v["frameWidth"].get<int>());
        EXPECT_NEAR(fs, v["fontSize"].get<double>(), 1e-9);
        EXPECT_NEAR(nativeLineStep(fs), v["lineStep"].get<double>(), 1e-9);
        EXPECT_EQ(nativeLines(block.text), v["lines"].get<std::vector<std::string>>());
    }
    for (const auto& v : vectors().at("lineOrigins")) {
        SCOPED_TRACE(label(v));
        std::vector<NativeLineMetrics> lines;
        for (const auto& m : v["lines"]) {
            lines.push_back({m["width"].get<double>(), m["height"].get<double>(), m["ascent"].get<double>(),
                             m["descent"].get<double>()});
        }
        const auto origins = nativeLineOrigins(lines, v["fontSize"].get<double>());
        ASSERT_EQ(origins.size(), v["origins"].size());
        for (size_t k = 0; k < origins.size(); ++k) {
            EXPECT_NEAR(origins[k].x, v["origins"][k]["x"].get<double>(), 1e-9) << "line " << k;
            EXPECT_NEAR(origins[k].baseline, v["origins"][k]["baseline"].get<double>(), 1e-9) << "line " << k;
        }
    }
}

TEST(CaptionLook, Fonts) {
    for (const auto& v : vectors().at("fontCandidates")) {
        SCOPED_TRACE(v["font"].get<std::string>());
        EXPECT_EQ(nativeFontCandidates(v["font"].get<std::string>()), v["candidates"].get<std::vector<std::string>>());
    }
    for (const auto& v : vectors().at("shippedFaces")["cases"]) {
        SCOPED_TRACE(v["font"].get<std::string>());
        const NativeFontChoice choice = sharedNativeFontLibrary().resolve(v["font"].get<std::string>());
        EXPECT_EQ(choice.face.postscriptName, v["postscriptName"].get<std::string>());
    }
}

// ---------------------------------------------------------------------------
// Placement, seen in the pixels: a block drawn in a pose covers the box of the
// same block standing still, moved to the pose's anchor and scaled about it.

struct Ink {
    double left = 1e9, top = 1e9, right = -1e9, bottom = -1e9;
    int maxAlpha = 0;
    double centreX() const { return (left + right) / 2; }
    double centreY() const { return (top + bottom) / 2; }
};

Ink inkOf(NativeCaptionRenderer& renderer, double time) {
    const int w = renderer.width(), h = renderer.height();
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, w);
    std::vector<unsigned char> bytes(static_cast<size_t>(stride) * h);
    renderer.drawFrame(time, bytes.data(), stride);
    Ink ink;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int a = bytes[static_cast<size_t>(y) * stride + x * 4 + 3];
            if (a == 0) continue;
            ink.maxAlpha = std::max(ink.maxAlpha, a);
            ink.left = std::min<double>(ink.left, x);
            ink.right = std::max<double>(ink.right, x + 1);
            ink.top = std::min<double>(ink.top, y);
            ink.bottom = std::max<double>(ink.bottom, y + 1);
        }
    }
    return ink;
}

TEST(CaptionLook, Placement) {
    const Json& placements = vectors().at("placements");
    const int width = placements["frame"]["width"].get<int>(), height = placements["frame"]["height"].get<int>();
    for (const auto& v : placements["cases"]) {
        SCOPED_TRACE(label(v["sequence"]) + " at " + v["time"].dump());
        const NativeTextSequence block = decoded(v["sequence"]);
        const double time = v["time"].get<double>();
        NativeTextSequence still = block;
        still.animIn = still.animOut = "none";
        NativeCaptionRenderer posed(width, height, {block});
        NativeCaptionRenderer standing(width, height, {still});
        const Ink a = inkOf(posed, time);
        const Ink n = inkOf(standing, time);
        ASSERT_GT(a.maxAlpha, 0);
        ASSERT_GT(n.maxAlpha, 0);

        const double fs = nativeFontSize(block, width);
        const double stillX = block.x / 100 * width, stillY = block.y / 100 * height;
        EXPECT_NEAR(n.centreX(), stillX, 2.0);
        EXPECT_NEAR(n.centreY(), stillY, 0.12 * fs);

        const double anchorX = v["anchor"][0].get<double>(), anchorY = v["anchor"][1].get<double>();
        const double rx = v["scaleX"].get<double>() / (block.textScaleX / 100), ry = v["scaleY"].get<double>();
        const double tolerance = 1.5 + 0.5 * std::abs(v["rotation"].get<double>()) * (n.right - n.left);
        EXPECT_NEAR(a.centreX(), anchorX + rx * (n.centreX() - stillX), tolerance);
        EXPECT_NEAR(a.centreY(), anchorY + ry * (n.centreY() - stillY), tolerance);
        EXPECT_NEAR(a.right - a.left, rx * (n.right - n.left), 2 * tolerance);
        EXPECT_NEAR(a.bottom - a.top, ry * (n.bottom - n.top), 2 * tolerance);
        // The glyphs' solid insides carry the pose's opacity.
        EXPECT_NEAR(a.maxAlpha, v["opacity"].get<double>() * 255, 2.0);
    }
}

// ---------------------------------------------------------------------------
// Frame states.

const char* kindName(FrameKind kind) {
    switch (kind) {
    case FrameKind::Empty: return "empty";
    case FrameKind::Static: return "static";
    case FrameKind::Dynamic: return "dynamic";
    }
    return "?";
}

TEST(CaptionLook, FrameStates) {
    const Json& states = vectors().at("frameStates");
    const int width = states["frame"]["width"].get<int>(), height = states["frame"]["height"].get<int>();
    for (const auto& c : states["cases"]) {
        SCOPED_TRACE(label(c["sequences"]));
        NativeCaptionRenderer renderer(width, height, nativeSequences(Json{{"sequences", c["sequences"]}}));
        // Each block alone tells whether it is drawn at a time.
        std::vector<std::unique_ptr<NativeCaptionRenderer>> alone;
        for (const auto& block : renderer.sequences()) {
            alone.push_back(std::make_unique<NativeCaptionRenderer>(width, height, std::vector{block}));
        }
        for (const auto& t : c["times"]) {
            const double time = t["time"].get<double>();
            SCOPED_TRACE(time);
            EXPECT_EQ(kindName(renderer.frameState(time).kind), t["kind"].get<std::string>());
            Json visible = Json::array();
            for (size_t i = 0; i < alone.size(); ++i) {
                if (alone[i]->frameState(time).kind == FrameKind::Empty) continue;
                const NativeTextSequence& block = renderer.sequences()[i];
                const double elapsed = time - block.startTime;
                const NativeShine shine = nativeShine(block, elapsed);
                visible.push_back({{"text", block.text},
                                   {"opacity", nativePose(block, elapsed).opacity},
                                   {"shine", shine.active ? Json(shine.phase) : Json(nullptr)}});
            }
            ASSERT_EQ(visible.size(), t["visible"].size()) << visible.dump();
            for (size_t i = 0; i < visible.size(); ++i) {
                const Json& e = t["visible"][i];
                EXPECT_EQ(visible[i]["text"], e["text"]);
                EXPECT_NEAR(visible[i]["opacity"].get<double>(), e["opacity"].get<double>(), 1e-9);
                EXPECT_EQ(visible[i]["shine"].is_null(), e["shine"].is_null());
                if (!e["shine"].is_null() && !visible[i]["shine"].is_null()) {
                    EXPECT_NEAR(visible[i]["shine"].get<double>(), e["shine"].get<double>(), 1e-9);
                }
            }
        }
        for (const auto& pair : c["sameKey"]) {
            const FrameState a = renderer.frameState(pair[0].get<double>());
            const FrameState b = renderer.frameState(pair[1].get<double>());
            EXPECT_EQ(a.kind, FrameKind::Static) << pair.dump();
            EXPECT_EQ(a.key, b.key) << pair.dump();
        }
        for (const auto& pair : c["differentKey"]) {
            EXPECT_NE(renderer.frameState(pair[0].get<double>()).key, renderer.frameState(pair[1].get<double>()).key)
                << pair.dump();
        }
    }
}

}  // namespace
}  // namespace tessivo
