// The scripts of the conversation with the render page: project hand-over,
// reuse state of a time, and the request to draw a time.
#pragma once

#include <cstdint>
#include <string>

namespace tessivo {

// A time as the render page's scripts receive it: the shortest decimal that
// reads back as the same double, with at least one fractional digit
// (0 → "0.0", 1/60 → "0.016666666666666666").
std::string renderScriptTime(double seconds);
std::string renderLoadScript(const std::string& paramsJSON);
std::string renderReuseStateScript(double time);
std::string renderSetTimeScript(double time, std::int64_t requestID);

}  // namespace tessivo
