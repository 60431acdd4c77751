#include "lottie/lottie_document.h"

#include "bridge/coercion.h"
#include "delivery/export_support.h"
#include "lottie/css_color.h"

#include <algorithm>
#include <cmath>

namespace tessivo {

namespace {

constexpr double kFrameTolerance = 0.0001;

void sortByFrame(LottieStates& states) {
    std::stable_sort(states.begin(), states.end(),
                     [](const LottieState& a, const LottieState& b) { return a.frame < b.frame; });
}

// Rebuilds `states` for an exit starting at `exitStart`: the states before it,
// the value reached there (so an exit that begins while the entrance still runs
// carries on from where the entrance is), and `endValues` at `endFrame`.
LottieStates withExit(const LottieStates& states, double exitStart, double endFrame, std::vector<double> endValues) {
    LottieStates result;
    for (const auto& state : states)
        if (state.frame < exitStart) result.push_back(state);
    result.push_back({exitStart, lottieValue(exitStart, states)});
    result.push_back({endFrame, std::move(endValues)});
    return result;
}

SortedJson numberList(const std::vector<double>& values) {
    SortedJson list = SortedJson::array();
    for (double v : values) list.push_back(v);
    return list;
}

}  // namespace

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
        progress = std::clamp(progress, 0.0, 1.0);
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

LottieStates cropLottieStates(const LottieStates& states, double startFrame, double durationFrames) {
    double endFrame = startFrame + durationFrames;
    LottieStates result;
    result.push_back({0, lottieValue(startFrame, states)});
    for (const auto& state : states)
        if (state.frame > startFrame && state.frame < endFrame)
            result.push_back({state.frame - startFrame, state.values});
    result.push_back({durationFrames, lottieValue(endFrame, states)});
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
            keyframe["i"] = {{"x", {0.667}}, {"y", {1}}};
            keyframe["o"] = {{"x", {0.333}}, {"y", {0}}};
        }
        keyframes.push_back(std::move(keyframe));
    }
    property["a"] = 1;
    property["k"] = std::move(keyframes);
    return property;
}

LottieAnimation makeLottieAnimation(const Json& sequence, std::int64_t width, std::int64_t height, double fps,
                                    std::int64_t sourceDurationFrames) {
    const double D = static_cast<double>(std::max<std::int64_t>(sourceDurationFrames, 1));
    const double animSpeed = finiteDoubleValue(sequence, "animSpeed", 0.5);
    const double speedFrames = static_cast<double>(nearestFrameCount(fps * animSpeed));
    // Entrance length A and exit start O, in source frames.
    const double A = std::max(std::min(std::trunc(D * 0.45), speedFrames), 1.0);
    const double O = std::max(D - A, 0.0);

    const double px = std::clamp(finiteDoubleValue(sequence, "x", 50), 0.0, 100.0) / 100.0 * static_cast<double>(width);
    const double py = std::clamp(finiteDoubleValue(sequence, "y", 50), 0.0, 100.0) / 100.0 * static_cast<double>(height);
    const double sx = std::clamp(finiteDoubleValue(sequence, "textScaleX", 100), 40.0, 220.0);

    LottieAnimation animation;
    animation.opacity = {{0, {100}}, {D, {100}}};
    animation.position = {{0, {px, py, 0}}, {D, {px, py, 0}}};
    animation.scale = {{0, {sx, 100, 100}}, {D, {sx, 100, 100}}};
    animation.rotation = {{0, {0}}, {D, {0}}};

    const std::string animIn = stringValue(sequence, "animIn", "none");
    if (animIn != "none") {
        animation.opacity = {{0, {0}}, {A, {100}}, {D, {100}}};
        auto rise = [&](double offset) {
            animation.position = {{0, {px, py + offset, 0}}, {A, {px, py, 0}}, {D, {px, py, 0}}};
        };
        if (animIn == "slide-up" || animIn == "rise") {
            rise(64);
        } else if (animIn == "smooth-rise") {
            rise(38);
        } else if (animIn == "pop") {
            animation.scale = {{0, {sx * 0.6, 60, 100}}, {A, {sx, 100, 100}}, {D, {sx, 100, 100}}};
        } else if (animIn == "scale-down") {
            animation.scale = {{0, {sx * 1.8, 180, 100}}, {A, {sx, 100, 100}}, {D, {sx, 100, 100}}};
        } else if (animIn == "rotate") {
            animation.rotation = {{0, {-18}}, {A, {0}}, {D, {0}}};
        }
    }

    const std::string animOut = stringValue(sequence, "animOut", "none");
    if (animOut != "none") {
        animation.opacity = withExit(animation.opacity, O, D, {0});
        if (animOut == "slide-down" || animOut == "sink") {
            animation.position = withExit(animation.position, O, D, {px, py + 64, 0});
        } else if (animOut == "smooth-sink") {
            animation.position = withExit(animation.position, O, D, {px, py + 38, 0});
        } else if (animOut == "pop-out") {
            animation.scale = withExit(animation.scale, O, D, {sx * 0.65, 65, 100});
        } else if (animOut == "rotate-out") {
            animation.rotation = withExit(animation.rotation, O, D, {18});
        }
    }
    return animation;
}

SortedJson makeLottieDocument(const Json& sequence, std::int64_t width, std::int64_t height, double fps,
                              std::int64_t sourceDurationFrames, std::int64_t sourceOffsetFrames,
                              std::int64_t durationFrames) {
    const std::int64_t N = std::max<std::int64_t>(durationFrames, 1);
    const double S = static_cast<double>(std::max<std::int64_t>(sourceOffsetFrames, 0));
    const double frames = static_cast<double>(N);
    LottieAnimation animation = makeLottieAnimation(sequence, width, height, fps, sourceDurationFrames);

    const std::string text = stringValue(sequence, "text", "");
    const std::string font = stringValue(sequence, "font", "Helvetica Neue");
    const double fontSize = std::max(finiteDoubleValue(sequence, "size", 8) / 100.0 * static_cast<double>(width), 8.0);

    SortedJson document = SortedJson::object();
    auto fill = lottieColorComponents(cssColor(member(sequence, "color"), "#ffffff"));
    SortedJson textDocument = {
        {"s", fontSize}, {"f", font}, {"t", text}, {"j", 2}, {"tr", 0}, {"lh", fontSize * 1.08}, {"ls", 0},
        {"fc", {fill[0], fill[1], fill[2]}},
    };
    if (boolValue(sequence, "hasOutline", false)) {
        auto stroke = lottieColorComponents(cssColor(member(sequence, "outlineColor"), "#000000"));
        textDocument["sc"] = {stroke[0], stroke[1], stroke[2]};
        textDocument["sw"] = std::max(finiteDoubleValue(sequence, "outlineWidth", 2), 0.5);
    }

    SortedJson transform = {
        {"o", lottieProperty(cropLottieStates(animation.opacity, S, frames))},
        {"r", lottieProperty(cropLottieStates(animation.rotation, S, frames))},
        {"p", lottieProperty(cropLottieStates(animation.position, S, frames))},
        {"a", {{"a", 0}, {"k", {0, 0, 0}}}},
        {"s", lottieProperty(cropLottieStates(animation.scale, S, frames))},
    };
    SortedJson keyframe = {{"s", std::move(textDocument)}, {"t", 0}};
    SortedJson textData = {
        {"d", {{"k", SortedJson::array({std::move(keyframe)})}}},
        {"p", SortedJson::object()},
        {"m", {{"g", 1}, {"a", {{"a", 0}, {"k", {0, 0}}}}}},
        // Players iterate the text animators unconditionally; an absent list
        // makes them fail on the layer, so an empty one is always written.
        {"a", SortedJson::array()},
    };
    SortedJson layer = {
        {"ddd", 0}, {"ind", 1}, {"ty", 5}, {"nm", "Tessivo Text"}, {"sr", 1},
        {"ks", std::move(transform)}, {"ao", 0}, {"t", std::move(textData)},
        {"ip", 0}, {"op", N}, {"st", 0}, {"bm", 0},
    };
    SortedJson fontEntry = {{"fName", font}, {"fFamily", font}, {"fStyle", "Regular"}, {"ascent", 75}};

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
    document["layers"] = SortedJson::array({std::move(layer)});
    return document;
}

}  // namespace tessivo
