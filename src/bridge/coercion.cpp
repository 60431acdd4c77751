#include "bridge/coercion.h"

#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>

namespace tessivo {

std::string numberText(double value) {
    if (std::isfinite(value) && std::trunc(value) == value && std::fabs(value) < 1e15) {
        return std::to_string(static_cast<long long>(value));
    }
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec != std::errc()) return "0";
    return std::string(buffer, end);
}

std::string stringValue(const Json* value, const std::string& defaultValue) {
    if (!value) return defaultValue;
    switch (value->type()) {
    case Json::value_t::string: return value->get<std::string>();
    case Json::value_t::boolean: return value->get<bool>() ? "1" : "0";
    case Json::value_t::number_integer: return std::to_string(value->get<std::int64_t>());
    case Json::value_t::number_unsigned: return std::to_string(value->get<std::uint64_t>());
    case Json::value_t::number_float: return numberText(value->get<double>());
    default: return defaultValue;
    }
}

bool boolValue(const Json* value, bool defaultValue) {
    if (!value) return defaultValue;
    switch (value->type()) {
    case Json::value_t::boolean: return value->get<bool>();
    case Json::value_t::number_integer: return value->get<std::int64_t>() != 0;
    case Json::value_t::number_unsigned: return value->get<std::uint64_t>() != 0;
    case Json::value_t::number_float: return value->get<double>() != 0.0;
    case Json::value_t::string: {
        std::string text = value->get<std::string>();
        for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (text == "true" || text == "1" || text == "yes" || text == "on") return true;
        if (text == "false" || text == "0" || text == "no" || text == "off") return false;
        return defaultValue;
    }
    default: return defaultValue;
    }
}

namespace {
std::int64_t saturatedInteger(double value) {
    if (std::isnan(value)) return 0;
    double truncated = std::trunc(value);
    if (truncated >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
    if (truncated <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(truncated);
}
}  // namespace

std::int64_t intValue(const Json* value, std::int64_t defaultValue) {
    if (!value) return defaultValue;
    switch (value->type()) {
    case Json::value_t::boolean: return value->get<bool>() ? 1 : 0;
    case Json::value_t::number_integer: return value->get<std::int64_t>();
    case Json::value_t::number_unsigned: {
        auto u = value->get<std::uint64_t>();
        return u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                   ? std::numeric_limits<std::int64_t>::max()
                   : static_cast<std::int64_t>(u);
    }
    case Json::value_t::number_float: return saturatedInteger(value->get<double>());
    case Json::value_t::string: {
        const std::string& text = value->get_ref<const std::string&>();
        const char* begin = text.data();
        const char* end = begin + text.size();
        bool negative = false;
        if (begin != end && (*begin == '+' || *begin == '-')) {
            negative = *begin == '-';
            ++begin;
        }
        if (begin == end) return defaultValue;
        for (const char* p = begin; p != end; ++p)
            if (*p < '0' || *p > '9') return defaultValue;
        // Accumulate as a negative number so that the minimum fits.
        std::int64_t result = 0;
        for (const char* p = begin; p != end; ++p) {
            int digit = *p - '0';
            if (result < (std::numeric_limits<std::int64_t>::min() + digit) / 10) return defaultValue;
            result = result * 10 - digit;
        }
        if (!negative) {
            if (result == std::numeric_limits<std::int64_t>::min()) return defaultValue;
            result = -result;
        }
        return result;
    }
    default: return defaultValue;
    }
}

double doubleValue(const Json* value, double defaultValue) {
    if (!value) return defaultValue;
    switch (value->type()) {
    case Json::value_t::boolean: return value->get<bool>() ? 1.0 : 0.0;
    case Json::value_t::number_integer: return static_cast<double>(value->get<std::int64_t>());
    case Json::value_t::number_unsigned: return static_cast<double>(value->get<std::uint64_t>());
    case Json::value_t::number_float: return value->get<double>();
    case Json::value_t::string: {
        const std::string& text = value->get_ref<const std::string&>();
        if (text.empty()) return defaultValue;
        switch (text.front()) {
        case ' ': case '\t': case '\n': case '\v': case '\f': case '\r': return defaultValue;
        default: break;
        }
        static locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
        char* end = nullptr;
        double parsed = strtod_l(text.c_str(), &end, cLocale);
        if (end != text.c_str() + text.size()) return defaultValue;
        return parsed;
    }
    default: return defaultValue;
    }
}

double finiteDoubleValue(const Json* value, double defaultValue) {
    double result = doubleValue(value, defaultValue);
    return std::isfinite(result) ? result : defaultValue;
}

}  // namespace tessivo
