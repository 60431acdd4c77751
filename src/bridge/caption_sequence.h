// One caption block as the editor sends it, decoded for the native renderer.
#pragma once

#include "platform/json.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tessivo {

// Decoding never fails: every field takes the coerced value or its default.
// Numbers are always finite: a value that is not ("nan", "inf", "1e400") takes
// the default. Only textScaleX is altered (clamped to 40...220).
struct NativeTextSequence {
    std::string text;
    double startTime = 0;
    double duration = 1;
    double x = 50;
    double y = 50;
    std::int64_t trackId = 0;
    std::string font = "HelveticaNeue-CondensedBlack";
    double size = 8;
    double textScaleX = 100;
    std::string color = "#ffffff";
    std::string color2 = "#ffffff";
    std::string effect = "none";
    double effectSpeed = 1;
    std::string effectColor = "#ff7a00";
    std::string glowType = "none";
    double glowIntensity = 20;
    std::string glowColor = "#ffffff";
    bool hasOutline = false;
    double outlineWidth = 0;
    std::string outlineColor = "#000000";
    std::string animIn = "none";
    std::string animOut = "none";
    double animSpeed = 0.35;

    static NativeTextSequence decode(const Json& dictionary);
};

// params["sequences"] decoded, sorted stably by trackId then startTime. Empty
// when the key is absent or is not a list made only of dictionaries.
std::vector<NativeTextSequence> nativeSequences(const Json& params);

}  // namespace tessivo
