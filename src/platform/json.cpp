#include "platform/json.h"

#include <cmath>

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

std::optional<std::string> serializeJson(const Json& value) {
    if (!allNumbersFinite(value)) return std::nullopt;
    return dumpChecked(value, -1);
}

std::optional<std::string> serializeSortedJson(const SortedJson& value) {
    if (!allNumbersFiniteSorted(value)) return std::nullopt;
    return dumpChecked(value, -1);
}

std::optional<std::string> serializePrettySortedJson(const SortedJson& value) {
    if (!allNumbersFiniteSorted(value)) return std::nullopt;
    return dumpChecked(value, 4);
}

std::optional<Json> parseJson(std::string_view text) {
    try {
        return Json::parse(text.begin(), text.end());
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

const Json* member(const Json& object, std::string_view key) {
    if (!object.is_object()) return nullptr;
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

}  // namespace tessivo
