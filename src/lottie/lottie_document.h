// Lottie documents: one caption block becomes one animation with a single text
// layer whose opacity, position, scale and rotation are keyframed to play the
// block's entrance and exit.
//
// Two frame spaces meet here: source frames (0 is the block's own start, D its
// end) in which the animation is designed, and document frames (0 is the first
// exported frame) into which the keyframes are cropped.
#pragma once

#include "platform/json.h"

#include <cstdint>
#include <vector>

namespace tessivo {

// One keyframe of one property: the frame and the property's values there.
struct LottieState {
    double frame = 0;
    std::vector<double> values;

    bool operator==(const LottieState&) const = default;
};
using LottieStates = std::vector<LottieState>;

// The value at `frame`: the first state's values up to its frame, the last
// state's after its frame, linear interpolation in between. [0] for no states.
std::vector<double> lottieValue(double frame, const LottieStates& states);

// Sorted by frame; of states less than 0.0001 frame apart only the later one
// in the list is kept.
LottieStates deduplicateLottieStates(LottieStates states);

// The states seen through the window [startFrame, startFrame + durationFrames]
// of source frames, in document frames: the value at the window's start, the
// states strictly inside it, and the value at its end.
LottieStates cropLottieStates(const LottieStates& states, double startFrame, double durationFrames);

// An animatable property ({"a", "k"}): static when fewer than two states
// remain after deduplication, else one eased keyframe per state.
SortedJson lottieProperty(const LottieStates& states);

// The four animated properties of the layer, in source frames, before cropping.
struct LottieAnimation {
    LottieStates opacity;
    LottieStates position;
    LottieStates scale;
    LottieStates rotation;
};

// The animation of `sequence` over a block of `sourceDurationFrames` frames.
LottieAnimation makeLottieAnimation(const Json& sequence, std::int64_t width, std::int64_t height, double fps,
                                    std::int64_t sourceDurationFrames);

// The whole Lottie document (version "5.12.2") of the block's exported part:
// `durationFrames` frames starting at source frame `sourceOffsetFrames`. Write it
// with sorted keys (serializeSortedJson).
SortedJson makeLottieDocument(const Json& sequence, std::int64_t width, std::int64_t height, double fps,
                              std::int64_t sourceDurationFrames, std::int64_t sourceOffsetFrames,
                              std::int64_t durationFrames);

}  // namespace tessivo
