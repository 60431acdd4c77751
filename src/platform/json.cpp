#include "platform/json.h"

#include "platform/log.h"

#include <cmath>
#include <string>

namespace tessivo {

bool allNumbersFinite(const Json& value) {
    switch (value.type()) {
    case Json::value_t::number_float:
        return std::isfinite(value.get<double>());
    case Json::value_t::array:
    case Json::value_t::object:
        for (const auto& element : value) {
            if (!allNumbersFinite(element)) return false;
        }
        return true;
    default:
        return true;
    }
}

namespace {
bool allNumbersFiniteSorted(const SortedJson& value) {
    if (value.is_number_float()) return std::isfinite(value.get<double>());
    if (value.is_array() || value.is_object()) {
        for (const auto& element : value) {
            if (!allNumbersFiniteSorted(element)) return false;
        }
    }
    return true;
}

template <typename J>
std::optional<std::string> dumpChecked(const J& value, int indent) {
    try {
        // strict error handler: invalid UTF-8 throws instead of being replaced.
        return value.dump(indent, ' ', false, nlohmann::detail::error_handler_t::strict);
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}
}  // namespace

namespace {
// Text that the serialiser writes as it is: printable ASCII without quotes or
// backslashes (base64 data URLs, identifiers, most keys).
bool isPlainText(const std::string& text) {
    // Branch-free over the whole text, so that the compiler can vectorise it.
    unsigned bad = 0;
    for (unsigned char c : text) bad |= static_cast<unsigned>(c < 0x20) | (c > 0x7e) | (c == '"') | (c == '\\');
    return bad == 0;
}

bool appendString(const std::string& text, std::string& out) {
    if (isPlainText(text)) {
        out += '"';
        out += text;
        out += '"';
        return true;
    }
    auto quoted = dumpChecked(Json(text), -1);
    if (!quoted) return false;
    out += *quoted;
    return true;
}

// The same text as nlohmann's compact dump, without its character-by-character
// pass over long plain strings (library listings inline megabytes of them).
bool appendCompact(const Json& value, std::string& out) {
    switch (value.type()) {
    case Json::value_t::object: {
        out += '{';
        bool first = true;
        for (auto it = value.begin(); it != value.end(); ++it) {
            if (!first) out += ',';
            first = false;
            if (!appendString(it.key(), out)) return false;
            out += ':';
            if (!appendCompact(it.value(), out)) return false;
        }
        out += '}';
        return true;
    }
    case Json::value_t::array: {
        out += '[';
        bool first = true;
        for (const auto& element : value) {
            if (!first) out += ',';
            first = false;
            if (!appendCompact(element, out)) return false;
        }
        out += ']';
        return true;
    }
    case Json::value_t::string:
        return appendString(value.get_ref<const std::string&>(), out);
    default: {
        auto text = dumpChecked(value, -1);
        if (!text) return false;
        out += *text;
        return true;
    }
    }
}

// A lower bound of the compact text's length: the texts and keys with their
// quotes, so that a large value is written into one allocation.
std::size_t textLengthHint(const Json& value) {
    switch (value.type()) {
    case Json::value_t::object: {
        std::size_t total = 2;
        for (auto it = value.begin(); it != value.end(); ++it) total += it.key().size() + 4 + textLengthHint(it.value());
        return total;
    }
    case Json::value_t::array: {
        std::size_t total = 2;
        for (const auto& element : value) total += 1 + textLengthHint(element);
        return total;
    }
    case Json::value_t::string: return value.get_ref<const std::string&>().size() + 2;
    default: return 4;
    }
}
}  // namespace

std::optional<std::string> serializeJson(const Json& value) {
    if (!allNumbersFinite(value)) return std::nullopt;
    std::string out;
    out.reserve(textLengthHint(value));
    if (!appendCompact(value, out)) return std::nullopt;
    return out;
}

std::optional<std::string> serializeSortedJson(const SortedJson& value) {
    if (!allNumbersFiniteSorted(value)) return std::nullopt;
    return dumpChecked(value, -1);
}

std::optional<std::string> serializePrettySortedJson(const SortedJson& value) {
    if (!allNumbersFiniteSorted(value)) return std::nullopt;
    return dumpChecked(value, 4);
}

namespace {
// Thrown from the parser's callback to stop at the first level too deep.
struct NestedTooDeep {};

// The parser builds values iteratively; only the tree it would hand back is
// dangerous. The callback sees each array and object start with the number of
// containers around it (0 for the outermost one).
Json parseLimited(std::string_view text) {
    Json::parser_callback_t limit = [](int depth, Json::parse_event_t event, Json&) {
        if ((event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start) &&
            depth >= kMaxJsonDepth)
            throw NestedTooDeep{};
        return true;
    };
    return Json::parse(text.begin(), text.end(), limit);
}

void logTooDeep(std::size_t length) {
    logLine("JSON refusé : plus de " + std::to_string(kMaxJsonDepth) + " niveaux imbriqués (" +
            std::to_string(length) + " octets)");
}
}  // namespace

std::optional<Json> parseJson(std::string_view text) {
    try {
        return parseLimited(text);
    } catch (const NestedTooDeep&) {
        logTooDeep(text.size());
        return std::nullopt;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

Json parseJsonOrThrow(std::string_view text) {
    try {
        return parseLimited(text);
    } catch (const NestedTooDeep&) {
        logTooDeep(text.size());
        throw Json::out_of_range::create(
            406, "JSON nested deeper than " + std::to_string(kMaxJsonDepth) + " levels", nullptr);
    }
}

const Json* member(const Json& object, std::string_view key) {
    if (!object.is_object()) return nullptr;
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

}  // namespace tessivo
