// Colour parsing of the native caption renderer: only the hexadecimal forms
// are understood; everything else draws white.
#pragma once

#include "bridge/caption_sequence.h"

#include <string_view>

namespace tessivo {

// Straight (not premultiplied) RGBA, each component 0...1.
struct NativeColor {
    double red = 1;
    double green = 1;
    double blue = 1;
    double alpha = 1;

    bool operator==(const NativeColor&) const = default;
    NativeColor withAlpha(double a) const { return {red, green, blue, a}; }
};

// `text` (or `defaultHex` when text is empty) as "#rgb" / "#rrggbb", with or
// without the "#", any case, surrounding white space ignored. Named colours,
// functional forms, 8-digit forms and bad digits give opaque white, not the
// default. The result's alpha is `alpha`.
NativeColor cgColor(std::string_view text, std::string_view defaultHex, double alpha = 1);

// The glow colour of a block: black (or empty) glow colours glow white, since a
// black glow would read as a dark smudge; otherwise the parsed "glowColor".
NativeColor effectiveNativeGlowColor(const NativeTextSequence& block);

}  // namespace tessivo
