// The render params of a job: the payload of "startRender" (and of the Exact
// Web deliveries), its frame rate and its frame count.
#pragma once

#include "platform/json.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tessivo {

// The render params, read by direct type test: a number key needs a JSON
// number (an integral one for "width" and "height"), a text key a JSON string;
// anything else counts as absent.
struct RenderParams {
    int width = 1920;
    int height = 1080;
    double start = 0;
    double end = 10;
    double fps = 60;
    std::string format = "mov";
    std::string encoding = "quality";
    std::string renderer = "web";
    std::string background = "transparent";

    static RenderParams read(const Json& params);
};

// The text under `key` when it is a JSON string.
std::optional<std::string> renderTextParam(const Json& params, const char* key);

// The frame rate in `value` (a number, or a text whose leading decimal number
// is read after "," became "."), else the one in `fallback`, else 30. Only
// values in (0, 240] count; booleans read as 1 and 0.
double normalizedFrameRate(const Json* value, const Json* fallback);
double normalizedFrameRate(const Json* value, double fallback);

// The longest range a job renders; longer (or non-finite) ranges are refused
// rather than left to run for days.
inline constexpr double kMaximumRenderSeconds = 24 * 3600;
// max(1, ceil((end - start) * fps)), or nullopt when the range is longer than
// kMaximumRenderSeconds or not finite.
std::optional<std::int64_t> renderFrameCount(double start, double end, double fps);

}  // namespace tessivo
