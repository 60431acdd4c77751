// Fusion ".setting" documents: one caption block as a Fusion composition with a
// Text+ tool named "Template" (text, font, size, position, fill colour and an
// optional outline) feeding one Saver. Static: the block's length only sets the
// composition's frame range.
#pragma once

#include "platform/json.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tessivo {

// The document text, lines joined by line feeds, no line feed at the end.
std::string makeResolveFusionSettingDocument(const Json& sequence, std::int64_t width, std::int64_t height,
                                             std::int64_t durationFrames);

// A number as the document writes it: the shortest decimal form that reads back
// to the same value, always with a fractional part ("0.5", "1.0").
std::string fusionFloat(double value);

// A text as a double-quoted literal of the document: backslashes and double
// quotes escaped, line feeds written as \n, carriage returns dropped.
std::string fusionQuoted(std::string_view text);

}  // namespace tessivo
