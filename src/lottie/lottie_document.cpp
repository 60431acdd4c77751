#include "lottie/lottie_document.h"

#include "bridge/coercion.h"
#include "delivery/export_support.h"
#include "lottie/css_color.h"
#include "lottie/lottie_glyphs.h"
#include "render/native_color.h"
#include "render/native_pose.h"
#include "render/native_text_renderer.h"

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace tessivo {

namespace {

constexpr double kFrameTolerance = 0.0001;

void sortByFrame(LottieStates& states) {
    std::stable_sort(states.begin(), states.end(),
                     [](const LottieState& a, const LottieState& b) { return a.frame < b.frame; });
}

SortedJson numberList(const std::vector<double>& values) {
    SortedJson list = SortedJson::array();
    for (double v : values) list.push_back(v);
    return list;
}

}  // namespace

double lottieEased(const LottieEase& ease, double p) {
    const double r = 1 - p;
    return 3 * r * r * p * ease[0] + 3 * r * p * p * ease[1] + p * p * p;
}

std::vector<double> lottieValue(double frame, const LottieStates& states) {
    if (states.empty()) return {0};
    LottieStates sorted = states;
    sortByFrame(sorted);
    if (frame <= sorted.front().frame) return sorted.front().values;
    for (std::size_t k = 1; k < sorted.size(); ++k) {
        if (frame > sorted[k].frame) continue;
        const LottieState& from = sorted[k - 1];
        const LottieState& to = sorted[k];
        double progress = (frame - from.frame) / std::max(to.frame - from.frame, kFrameTolerance);
        progress = lottieEased(from.ease, std::clamp(progress, 0.0, 1.0));
        std::size_t count = std::min(from.values.size(), to.values.size());
        std::vector<double> values(count);
        for (std::size_t i = 0; i < count; ++i)
            values[i] = from.values[i] + progress * (to.values[i] - from.values[i]);
        return values;
    }
    return sorted.back().values;
}

LottieStates deduplicateLottieStates(LottieStates states) {
    sortByFrame(states);
    LottieStates result;
    for (auto& state : states) {
        if (!result.empty() && std::fabs(result.back().frame - state.frame) < kFrameTolerance)
            result.back() = std::move(state);
        else
            result.push_back(std::move(state));
    }
    return result;
}

namespace {

// The curve of the part [s0, s1] of a segment eased by `ease`, stretched over a
// whole segment: the same motion, so a cropped keyframe moves as the original did.
LottieEase partOfEase(const LottieEase& ease, double s0, double s1) {
    const double rise = lottieEased(ease, s1) - lottieEased(ease, s0);
    if (std::fabs(rise) < 1e-12 || s1 - s0 < 1e-12) return kLottieLinear;
    auto slope = [&](double s) {
        const double r = 1 - s;
        return 3 * r * r * ease[0] + 6 * r * s * (ease[1] - ease[0]) + 3 * s * s * (1 - ease[1]);
    };
    const double scale = (s1 - s0) / rise;
    return {slope(s0) * scale / 3, 1 - slope(s1) * scale / 3};
}

// The curve of the original segment between source frames a and b.
LottieEase easeBetween(const LottieStates& sorted, double a, double b) {
    for (std::size_t k = 1; k < sorted.size(); ++k) {
        const double f0 = sorted[k - 1].frame, f1 = sorted[k].frame;
        if (a >= f0 - kFrameTolerance && b <= f1 + kFrameTolerance && f1 - f0 > kFrameTolerance)
            return partOfEase(sorted[k - 1].ease, std::clamp((a - f0) / (f1 - f0), 0.0, 1.0),
                              std::clamp((b - f0) / (f1 - f0), 0.0, 1.0));
    }
    return kLottieLinear;
}

}  // namespace

LottieStates cropLottieStates(const LottieStates& states, double startFrame, double durationFrames) {
    LottieStates sorted = states;
    sortByFrame(sorted);
    const double endFrame = startFrame + durationFrames;
    std::vector<double> cuts = {startFrame};
    for (const auto& state : sorted)
        if (state.frame > startFrame && state.frame < endFrame) cuts.push_back(state.frame);
    cuts.push_back(endFrame);

    LottieStates result;
    for (std::size_t k = 0; k < cuts.size(); ++k) {
        LottieState state{cuts[k] - startFrame, lottieValue(cuts[k], sorted), kLottieLinear};
        if (k + 1 < cuts.size()) state.ease = easeBetween(sorted, cuts[k], cuts[k + 1]);
        result.push_back(std::move(state));
    }
    return deduplicateLottieStates(std::move(result));
}

SortedJson lottieProperty(const LottieStates& input) {
    LottieStates states = deduplicateLottieStates(input);
    SortedJson property = SortedJson::object();
    if (states.size() < 2) {
        std::vector<double> value = states.empty() ? std::vector<double>{0} : states.front().values;
        property["a"] = 0;
        if (value.size() == 1)
            property["k"] = value.front();
        else
            property["k"] = numberList(value);
        return property;
    }
    SortedJson keyframes = SortedJson::array();
    for (std::size_t i = 0; i < states.size(); ++i) {
        SortedJson keyframe = SortedJson::object();
        keyframe["t"] = states[i].frame;
        keyframe["s"] = numberList(states[i].values);
        if (i + 1 < states.size()) {
            keyframe["e"] = numberList(states[i + 1].values);
            keyframe["o"] = {{"x", {1.0 / 3.0}}, {"y", {states[i].ease[0]}}};
            keyframe["i"] = {{"x", {2.0 / 3.0}}, {"y", {states[i].ease[1]}}};
        }
        keyframes.push_back(std::move(keyframe));
    }
    property["a"] = 1;
    property["k"] = std::move(keyframes);
    return property;
}

namespace {

// The layer's transform for a native pose of the block anchored at (px, py)
// with horizontal stretch sx (percent).
struct PoseValues {
    std::vector<double> opacity, position, scale, rotation;
};

PoseValues poseValues(const NativePose& pose, double px, double py, double sx) {
    constexpr double kDegreesPerRadian = 180.0 / 3.14159265358979323846;
    return {{100 * pose.opacity},
            {px + pose.xOffset, py + pose.yOffset, 0},
            {sx * pose.scale, 100 * pose.scale, 100},
            // Lottie turns clockwise on screen for positive angles.
            {-pose.rotation * kDegreesPerRadian}};
}

void appendState(LottieAnimation& animation, double frame, const PoseValues& values, const LottieEase& ease) {
    animation.opacity.push_back({frame, values.opacity, ease});
    animation.position.push_back({frame, values.position, ease});
    animation.scale.push_back({frame, values.scale, ease});
    animation.rotation.push_back({frame, values.rotation, ease});
}

// Unicode scalars of a UTF-8 text; bytes that are not UTF-8 are skipped.
std::vector<char32_t> scalarsOf(const std::string& text) {
    std::vector<char32_t> scalars;
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        gunichar c = g_utf8_get_char_validated(p, end - p);
        if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) {
            ++p;
            continue;
        }
        scalars.push_back(c);
        p = g_utf8_next_char(p);
    }
    return scalars;
}

std::string asciiLowercase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

double fontSizeOf(const Json& sequence, std::int64_t width) {
    return std::max(finiteDoubleValue(sequence, "size", 8) / 100.0 * static_cast<double>(width), 8.0);
}

}  // namespace

LottieAnimation makeLottieAnimation(const Json& sequence, std::int64_t width, std::int64_t height, double fps,
                                    std::int64_t sourceDurationFrames) {
    const double D = static_cast<double>(std::max<std::int64_t>(sourceDurationFrames, 1));
    // The block as the native renderer sees it, lasting what the clip lasts.
    NativeTextSequence block = NativeTextSequence::decode(sequence);
    block.animIn = stringValue(sequence, "animIn", "none");
    block.animOut = stringValue(sequence, "animOut", "none");
    block.animSpeed = finiteDoubleValue(sequence, "animSpeed", 0.5);
    block.duration = D / fps;
    const double A = nativeEntranceLength(block) * fps;  // entrance length, frames
    const double B = nativeExitLength(block) * fps;      // exit length, frames

    const double px = std::clamp(finiteDoubleValue(sequence, "x", 50), 0.0, 100.0) / 100.0 * static_cast<double>(width);
    const double py = std::clamp(finiteDoubleValue(sequence, "y", 50), 0.0, 100.0) / 100.0 * static_cast<double>(height);
    const double sx = std::clamp(finiteDoubleValue(sequence, "textScaleX", 100), 40.0, 220.0);
    const PoseValues neutral = poseValues(NativePose{}, px, py, sx);

    LottieAnimation animation;
    if (A > 0) {
        appendState(animation, 0, poseValues(nativePose(block, 0), px, py, sx), kLottieEaseOut);
        appendState(animation, A, neutral, kLottieLinear);
    } else {
        appendState(animation, 0, neutral, kLottieLinear);
    }
    if (B > 0) {
        appendState(animation, D - B, neutral, kLottieEaseIn);
        appendState(animation, D, poseValues(nativePose(block, block.duration), px, py, sx), kLottieLinear);
    } else {
        appendState(animation, D, neutral, kLottieLinear);
    }
    return animation;
}

LottieTextLayout lottieTextLayout(const Json& sequence, std::int64_t width) {
    LottieTextLayout layout;
    layout.lines = nativeLines(stringValue(sequence, "text", ""));
    layout.fontSize = fontSizeOf(sequence, width);
    layout.lineStep = nativeLineStep(layout.fontSize);
    const LottieFace& face = lottieFace(stringValue(sequence, "font", "Helvetica Neue"));
    // Every line has the face's metrics, so the native origins of the lines
    // are one line step apart and the first one sets where the centre is.
    NativeLineMetrics metrics;
    metrics.ascent = face.ascent * layout.fontSize;
    metrics.descent = face.descent * layout.fontSize;
    metrics.height = metrics.ascent + metrics.descent + face.lineGap * layout.fontSize;
    const auto origins = nativeLineOrigins(std::vector<NativeLineMetrics>(layout.lines.size(), metrics), layout.fontSize);
    layout.centreY = -origins.front().baseline;
    return layout;
}

namespace {

// The document without its `chars`, and the glyphs its text uses, each
// character once, in the order of first use.
SortedJson documentWithoutGlyphs(const Json& sequence, std::int64_t width, std::int64_t height, double fps,
                                 std::int64_t sourceDurationFrames, std::int64_t sourceOffsetFrames,
                                 std::int64_t durationFrames, std::vector<const LottieGlyph*>& glyphs) {
    const std::int64_t N = std::max<std::int64_t>(durationFrames, 1);
    const double S = static_cast<double>(std::max<std::int64_t>(sourceOffsetFrames, 0));
    const double frames = static_cast<double>(N);
    LottieAnimation animation = makeLottieAnimation(sequence, width, height, fps, sourceDurationFrames);
    const LottieTextLayout layout = lottieTextLayout(sequence, width);
    const LottieFace& face = lottieFace(stringValue(sequence, "font", "Helvetica Neue"));

    std::string text;
    for (const auto& line : layout.lines) text += (text.empty() ? "" : "\r") + line;

    auto fill = lottieColorComponents(cssColor(member(sequence, "color"), "#ffffff"));
    SortedJson textDocument = {
        {"s", layout.fontSize}, {"f", face.postscriptName}, {"t", text}, {"j", 2}, {"tr", 0},
        {"lh", layout.lineStep}, {"ls", 0}, {"fc", {fill[0], fill[1], fill[2]}},
    };
    // The outline as the native renderer draws it: a stroke of at least one
    // pixel centred on the glyph outlines, under the fill, so that only its
    // outer half shows; no outline at a width of 0.
    const double outlineWidth = finiteDoubleValue(sequence, "outlineWidth", 2);
    if (boolValue(sequence, "hasOutline", false) && outlineWidth > 0) {
        auto stroke = lottieColorComponents(cssColor(member(sequence, "outlineColor"), "#000000"));
        textDocument["sc"] = {stroke[0], stroke[1], stroke[2]};
        textDocument["sw"] = std::max(outlineWidth, 1.0);
        textDocument["of"] = false;
    }

    std::vector<char32_t> seen;
    if (layout.lines.size() > 1) {
        seen.push_back(U'\r');
        glyphs.push_back(&lottieGlyph(face, U'\r'));
    }
    for (const auto& line : layout.lines) {
        for (char32_t c : scalarsOf(line)) {
            if (std::find(seen.begin(), seen.end(), c) != seen.end()) continue;
            seen.push_back(c);
            glyphs.push_back(&lottieGlyph(face, c));
        }
    }

    SortedJson transform = {
        {"o", lottieProperty(cropLottieStates(animation.opacity, S, frames))},
        {"r", lottieProperty(cropLottieStates(animation.rotation, S, frames))},
        {"p", lottieProperty(cropLottieStates(animation.position, S, frames))},
        {"a", {{"a", 0}, {"k", SortedJson::array()}}},
        {"s", lottieProperty(cropLottieStates(animation.scale, S, frames))},
    };
    // A text layer showing `shown`, stacked as layer `index` (1 on top), its
    // glyphs moved by (dx, dy) pixels of the text's own space (before the
    // block's scale and rotation), as the native glow copies are.
    auto textLayer = [&](const SortedJson& shown, int index, double dx = 0, double dy = 0) {
        SortedJson ks = transform;
        ks["a"]["k"] = {-dx, layout.centreY - dy, 0.0};
        SortedJson keyframe = {{"s", shown}, {"t", 0}};
        SortedJson textData = {
            {"d", {{"k", SortedJson::array({std::move(keyframe)})}}},
            {"p", SortedJson::object()},
            {"m", {{"g", 1}, {"a", {{"a", 0}, {"k", {0, 0}}}}}},
            // Players iterate the text animators unconditionally; an absent list
            // makes them fail on the layer, so an empty one is always written.
            {"a", SortedJson::array()},
        };
        return SortedJson{
            {"ddd", 0}, {"ind", index}, {"ty", 5}, {"nm", "Tessivo Text"}, {"sr", 1},
            {"ks", std::move(ks)}, {"ao", 0}, {"t", std::move(textData)},
            {"ip", 0}, {"op", N}, {"st", 0}, {"bm", 0},
        };
    };
    SortedJson layers = SortedJson::array();
    SortedJson plain = textDocument;
    plain.erase("sc");
    plain.erase("sw");
    plain.erase("of");
    if (textDocument.contains("sc")) {
        // The native renderer fills an outlined line, strokes it, then fills it
        // again, each pass at the block's opacity: while the block fades, the
        // letters are denser than their outline. A layer of the fill alone over
        // the outlined one composes the same way.
        layers.push_back(textLayer(plain, 1));
        layers.push_back(textLayer(textDocument, 2));
    } else {
        layers.push_back(textLayer(textDocument, 1));
    }
    // The hard and cartoon glows: four copies of the text in the glow colour,
    // moved diagonally by 3.5 % of the font size, under the text, each drawn
    // at the block's opacity as the native pass draws them.
    const NativeTextSequence native = NativeTextSequence::decode(sequence);
    const std::string glow = asciiLowercase(native.glowType);
    if (glow == "hard" || glow == "cartoon") {
        const NativeColor colour = effectiveNativeGlowColor(native);
        SortedJson copy = plain;
        copy["fc"] = {colour.red, colour.green, colour.blue};
        const double d = 0.035 * layout.fontSize;
        for (auto [dx, dy] : {std::pair{d, -d}, std::pair{-d, -d}, std::pair{d, d}, std::pair{-d, d}})
            layers.push_back(textLayer(copy, static_cast<int>(layers.size()) + 1, dx, dy));
    }
    SortedJson fontEntry = {{"fName", face.postscriptName}, {"fFamily", face.family}, {"fStyle", face.style},
                            {"ascent", std::round(face.ascent * 10000) / 100}};

    SortedJson document = SortedJson::object();
    document["v"] = "5.12.2";
    document["fr"] = fps;
    document["ip"] = 0;
    document["op"] = N;
    document["w"] = width;
    document["h"] = height;
    document["nm"] = "Tessivo";
    document["ddd"] = 0;
    document["assets"] = SortedJson::array();
    document["fonts"] = {{"list", SortedJson::array({std::move(fontEntry)})}};
    document["layers"] = std::move(layers);
    return document;
}

}  // namespace

SortedJson makeLottieDocument(const Json& sequence, std::int64_t width, std::int64_t height, double fps,
                              std::int64_t sourceDurationFrames, std::int64_t sourceOffsetFrames,
                              std::int64_t durationFrames) {
    std::vector<const LottieGlyph*> glyphs;
    SortedJson document = documentWithoutGlyphs(sequence, width, height, fps, sourceDurationFrames,
                                                sourceOffsetFrames, durationFrames, glyphs);
    SortedJson chars = SortedJson::array();
    for (const LottieGlyph* glyph : glyphs) chars.push_back(glyph->entry);
    document["chars"] = std::move(chars);
    return document;
}

std::optional<std::string> makeLottieDocumentText(const Json& sequence, std::int64_t width, std::int64_t height,
                                                  double fps, std::int64_t sourceDurationFrames,
                                                  std::int64_t sourceOffsetFrames, std::int64_t durationFrames) {
    std::vector<const LottieGlyph*> glyphs;
    const SortedJson document = documentWithoutGlyphs(sequence, width, height, fps, sourceDurationFrames,
                                                      sourceOffsetFrames, durationFrames, glyphs);
    auto text = serializeSortedJson(document);
    // Sorted, the keys start with "assets" (always an empty list) and "chars"
    // comes next: the glyph entries go in right there.
    static constexpr std::string_view kHead = R"({"assets":[],)";
    if (!text || !text->starts_with(kHead)) return text;
    std::string chars = R"("chars":[)";
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
        if (i) chars += ',';
        chars += glyphs[i]->entryText;
    }
    chars += "],";
    text->insert(kHead.size(), chars);
    return text;
}

}  // namespace tessivo
