// Colour values of the Lottie and Fusion routes.
//
// The editor writes colours as CSS-like strings. Both routes accept the same
// forms and turn them into red, green and blue components: only hexadecimal
// colours ("#rgb" or "#rrggbb") carry their value; rgb(), hsl() and
// "transparent" pass the first check but come out white.
#pragma once

#include "platform/json.h"

#include <array>
#include <string>
#include <string_view>

namespace tessivo {

// The value as text, trimmed, when it is a colour form the routes know (starts
// with "#", "rgb" or "hsl", or is "transparent"); otherwise `defaultValue`.
std::string cssColor(const Json* value, const std::string& defaultValue);

// Red, green and blue of a hexadecimal colour, each a fraction 0...1 written
// with six decimals ("%.6f"). Anything else gives {"1", "1", "1"}.
std::array<std::string, 3> fusionColorComponents(std::string_view color);

// The same components as numbers; a component that does not read gives 1.0.
std::array<double, 3> lottieColorComponents(std::string_view color);

// The string without leading and trailing white space and line breaks
// (ASCII and the Unicode space separators).
std::string_view trimWhitespace(std::string_view text);

}  // namespace tessivo
