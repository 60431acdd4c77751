// The time-dependent pose of one caption block in the native renderer: the
// entrance and exit animations and the window of the shine sweep.
#pragma once

#include "bridge/caption_sequence.h"

namespace tessivo {

struct NativePose {
    double opacity = 1;
    double xOffset = 0;   // pixels, positive = right
    double yOffset = 0;   // pixels, positive = down on screen
    double rotation = 0;  // radians, positive = counter-clockwise on screen
    double scale = 1;

    bool operator==(const NativePose&) const = default;
    bool isNeutral() const { return *this == NativePose{}; }
};

// Length of the entrance (A) and of the exit (B), seconds; 0 for "none".
double nativeEntranceLength(const NativeTextSequence& block);
double nativeExitLength(const NativeTextSequence& block);

// The pose at `elapsed` seconds into the block (0...duration).
NativePose nativePose(const NativeTextSequence& block, double elapsed);

// Where the shine sweep stands at `elapsed`: its phase 0...1 while it runs,
// nothing when the block has no sweep or it is outside its single pass.
struct NativeShine {
    bool active = false;
    double phase = 0;
};
NativeShine nativeShine(const NativeTextSequence& block, double elapsed);

// A block is drawn at all only above this opacity.
inline constexpr double kNativeMinimumOpacity = 0.001;

}  // namespace tessivo
