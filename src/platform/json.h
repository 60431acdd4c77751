// JSON values as the web editor and the Python scripts exchange them.
//
// Payloads keep their keys in insertion order (the editor's and Resolve's order
// matter when a dictionary is written back), so the working type is ordered_json.
// Lottie documents and library files are written with sorted keys through
// nlohmann::json instead.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace tessivo {

using Json = nlohmann::ordered_json;
using SortedJson = nlohmann::json;

// Compact, insertion-ordered text. Fails (nullopt) where the platform serialiser
// fails: a non-finite number anywhere in the value, or text that is not UTF-8.
std::optional<std::string> serializeJson(const Json& value);

// Compact text with keys sorted; same failure rules.
std::optional<std::string> serializeSortedJson(const SortedJson& value);

// Pretty-printed (4 spaces) text with sorted keys, for library files.
std::optional<std::string> serializePrettySortedJson(const SortedJson& value);

// The deepest nesting of arrays and objects a parsed text may hold. Copying,
// comparing and writing a value recurse once per level, so a text nested tens
// of thousands of levels deep would exhaust the stack; no payload of the editor
// or of a script comes anywhere near this.
inline constexpr int kMaxJsonDepth = 256;

// Parses untrusted text: every JSON text from the page, a script, standard
// input or a file goes through here. nullopt when it is not JSON or is nested
// deeper than kMaxJsonDepth (that refusal is logged). Never throws.
std::optional<Json> parseJson(std::string_view text);

// The same parse for callers that report the parser's message: throws
// nlohmann::json::exception when the text is not JSON or is nested too deep.
Json parseJsonOrThrow(std::string_view text);

// The member `key` of an object, or nullptr when `object` is not an object or
// has no such key. This is the "absent" value the coercion functions take.
const Json* member(const Json& object, std::string_view key);

// True when every number inside `value` is finite.
bool allNumbersFinite(const Json& value);

}  // namespace tessivo
