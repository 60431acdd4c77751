// Web callbacks: a global function of the editor's page called with one JSON
// payload. The page may still be starting, so the script retries in the page
// every 50 ms and gives up after its 10th try (about 450 ms in all).
#pragma once

#include "platform/json.h"

#include <optional>
#include <string>

namespace tessivo {

// The payload as compact JSON text, or nullopt when it has no JSON form (a
// non-finite number, text that is not UTF-8): such callbacks are dropped.
std::optional<std::string> webCallbackPayloadText(const Json& payload);

// The script that delivers `payloadJSON` to the function `name`.
std::string webCallbackScript(const std::string& name, const std::string& payloadJSON);

}  // namespace tessivo
