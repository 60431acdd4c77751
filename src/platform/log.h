// The process log: diagnostic lines on standard error, never shown to the user.
#pragma once

#include <string_view>

namespace tessivo {

// Thread-safe; one line per call.
void logLine(std::string_view text);

}  // namespace tessivo
