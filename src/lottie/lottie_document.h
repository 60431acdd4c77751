// Lottie documents: one caption block becomes one animation with a single text
// layer whose opacity, position, scale and rotation are keyframed to play the
// block's entrance and exit.
//
// Two frame spaces meet here: source frames (0 is the block's own start, D its
// end) in which the animation is designed, and document frames (0 is the first
// exported frame) into which the keyframes are cropped.
#pragma once

#include "platform/json.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessivo {

// The timing curve of the segment that leaves a keyframe, as the y values of
// the Bezier's two control points; their x values are always 1/3 and 2/3, so
// the curve is a cubic polynomial of the elapsed fraction of the segment.
using LottieEase = std::array<double, 2>;
inline constexpr LottieEase kLottieLinear = {1.0 / 3.0, 2.0 / 3.0};
// The native renderer's entrance curve 1 - (1 - p)^3 and exit curve p^3.
inline constexpr LottieEase kLottieEaseOut = {1.0, 1.0};
inline constexpr LottieEase kLottieEaseIn = {0.0, 0.0};

// The value of an eased segment's curve at fraction p (0...1) of its time.
double lottieEased(const LottieEase& ease, double p);

// One keyframe of one property: the frame, the property's values there, and
// the curve towards the next keyframe.
struct LottieState {
    double frame = 0;
    std::vector<double> values;
    LottieEase ease = kLottieLinear;

    bool operator==(const LottieState&) const = default;
};
using LottieStates = std::vector<LottieState>;

// The value at `frame`: the first state's values up to its frame, the last
// state's after its frame, the segment's curve in between. [0] for no states.
std::vector<double> lottieValue(double frame, const LottieStates& states);

// Sorted by frame; of states less than 0.0001 frame apart only the later one
// in the list is kept.
LottieStates deduplicateLottieStates(LottieStates states);

// The states seen through the window [startFrame, startFrame + durationFrames]
// of source frames, in document frames: the value at the window's start, the
// states strictly inside it, and the value at its end; a segment cut by the
// window keeps the part of its curve that lies inside.
LottieStates cropLottieStates(const LottieStates& states, double startFrame, double durationFrames);

// An animatable property ({"a", "k"}): static when fewer than two states
// remain after deduplication, else one keyframe per state carrying its curve.
SortedJson lottieProperty(const LottieStates& states);

// The four animated properties of the layer, in source frames, before cropping.
struct LottieAnimation {
    LottieStates opacity;
    LottieStates position;
    LottieStates scale;
    LottieStates rotation;
};

// The animation of `sequence` over a block of `sourceDurationFrames` frames:
// the native renderer's poses (nativePose) as keyframes. Entrance and exit last
// what they last natively, in fractional frames; every pose is linear in the
// eased progress, so two keyframes with the native curve between them give the
// native pose at every frame.
LottieAnimation makeLottieAnimation(const Json& sequence, std::int64_t width, std::int64_t height, double fps,
                                    std::int64_t sourceDurationFrames);

// How the text of a block is set in its document.
struct LottieTextLayout {
    std::vector<std::string> lines;
    double fontSize = 8;
    double lineStep = 0;  // the text document's lh
    // The block's centre in layer coordinates, where the first line's baseline
    // is y = 0 and the lines are centred on x = 0: the layer's anchor point, so
    // that (x, y) is the centre of the text block and scaling and rotation
    // pivot around it as they do natively.
    double centreY = 0;
};
LottieTextLayout lottieTextLayout(const Json& sequence, std::int64_t width);

// The whole Lottie document (version "5.12.2") of the block's exported part:
// `durationFrames` frames starting at source frame `sourceOffsetFrames`. Write it
// with sorted keys (serializeSortedJson).
//
// The text is laid out as the native renderer lays it out: its lines (split at
// every newline character, written with "\r", the Lottie line break), the
// native line step, the block centred on (x, y), the outline under the fill.
// The glyphs it uses travel in the document as `chars`, drawn from the face the
// native renderer resolves, which the font list names exactly.
//
// Layers, top first, all with the block's transform: for an outlined block the
// text's fill alone, then the outlined text (the native passes fill, stroke and
// fill again, so a fading block's letters are denser than their outline);
// else the text; then, for the "hard" and "cartoon" glows, four copies of the
// text in the glow colour moved by 3.5 % of the font size along the diagonals.
// Effects and the blurred glows are not drawn.
SortedJson makeLottieDocument(const Json& sequence, std::int64_t width, std::int64_t height, double fps,
                              std::int64_t sourceDurationFrames, std::int64_t sourceOffsetFrames,
                              std::int64_t durationFrames);

// The same document as compact text with sorted keys, as the archives hold it,
// assembled from the glyph entries written once per process; nullopt where
// serializeSortedJson fails (text that is not UTF-8).
std::optional<std::string> makeLottieDocumentText(const Json& sequence, std::int64_t width, std::int64_t height,
                                                  double fps, std::int64_t sourceDurationFrames,
                                                  std::int64_t sourceOffsetFrames, std::int64_t durationFrames);

}  // namespace tessivo
