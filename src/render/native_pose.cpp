#include "render/native_pose.h"

#include <algorithm>
#include <cmath>

namespace tessivo {

namespace {

double animationLength(const NativeTextSequence& block, const std::string& name) {
    if (name == "none") return 0;
    return std::min(std::max(block.animSpeed, 0.01), 0.45 * block.duration);
}

double clamp01(double v) { return std::clamp(v, 0.0, 1.0); }

NativePose entrancePose(const std::string& name, double e) {
    const double r = 1 - e;
    NativePose p;
    p.opacity = e;
    if (name == "pop") {
        p.scale = 0.5 + 0.5 * e;
    } else if (name == "slide-up" || name == "rise") {
        p.yOffset = 64 * r;
    } else if (name == "smooth-rise") {
        p.yOffset = 38 * r;
        p.scale = 0.94 + 0.06 * e;
    } else if (name == "zoom-blur" || name == "scale-down") {
        p.scale = 1 + 1.2 * r;
    } else if (name == "ghost-reveal") {
        p.xOffset = -92 * r;
        p.yOffset = 22 * r;
    } else if (name == "whip-left") {
        p.xOffset = -180 * r;
        p.rotation = -0.02 * r;
    } else if (name == "slam") {
        p.scale = 1.85 - 0.85 * e;
    }
    return p;
}

// The downward exits ("slide-down", "sink", "smooth-sink") move the block down
// the screen, as their names say and as the Lottie route draws them.
NativePose exitPose(const std::string& name, double c) {
    NativePose p;
    p.opacity = 1 - c;
    if (name == "pop-out") {
        p.scale = 1 - 0.35 * c;
    } else if (name == "slide-down" || name == "sink") {
        p.yOffset = 64 * c;
    } else if (name == "smooth-sink") {
        p.yOffset = 38 * c;
        p.scale = 1 - 0.06 * c;
    } else if (name == "zoom-blur-out") {
        p.scale = 1 + 1.2 * c;
    } else if (name == "ghost-out") {
        p.xOffset = 110 * c;
        p.yOffset = -22 * c;
    } else if (name == "whip-right-out") {
        p.xOffset = 180 * c;
        p.rotation = 0.02 * c;
    }
    return p;
}

}  // namespace

double nativeEntranceLength(const NativeTextSequence& block) { return animationLength(block, block.animIn); }
double nativeExitLength(const NativeTextSequence& block) { return animationLength(block, block.animOut); }

NativePose nativePose(const NativeTextSequence& block, double u) {
    const double a = nativeEntranceLength(block);
    const double b = nativeExitLength(block);
    if (a > 0 && u < a) {
        const double p = clamp01(u / a);
        return entrancePose(block.animIn, 1 - std::pow(1 - p, 3));
    }
    if (b > 0 && u > block.duration - b) {
        const double q = clamp01((u - (block.duration - b)) / b);
        return exitPose(block.animOut, q * q * q);
    }
    return {};
}

NativeShine nativeShine(const NativeTextSequence& block, double u) {
    if (block.effect != "shine-sweep") return {};
    const double te = block.animIn != "none" ? u - nativeEntranceLength(block) : u;
    const double phase = te / std::max(block.effectSpeed, 0.05);
    if (!(phase >= 0 && phase <= 1)) return {};
    return {true, phase};
}

}  // namespace tessivo
