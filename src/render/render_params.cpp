#include "render/render_params.h"

#include "bridge/coercion.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <locale>
#include <sstream>

namespace tessivo {

namespace {

const Json* jsonMember(const Json& params, const char* key) { return member(params, key); }

std::optional<double> numberParam(const Json& params, const char* key) {
    const Json* value = jsonMember(params, key);
    if (value && value->is_number()) return value->get<double>();
    return std::nullopt;
}

std::optional<int> integerParam(const Json& params, const char* key) {
    const Json* value = jsonMember(params, key);
    if (!value || !value->is_number()) return std::nullopt;
    if (value->is_number_integer()) {
        if (value->is_number_unsigned()) {
            auto v = value->get<std::uint64_t>();
            if (v > std::uint64_t(std::numeric_limits<int>::max())) return std::nullopt;
            return int(v);
        }
        auto v = value->get<std::int64_t>();
        if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) return std::nullopt;
        return int(v);
    }
    // A real with an integral value (1280.0) is an integer too.
    double v = value->get<double>();
    if (!std::isfinite(v) || v != std::trunc(v) || v < std::numeric_limits<int>::min() ||
        v > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(v);
}

// The leading decimal number of `text` (white space before it skipped), in the C locale.
std::optional<double> leadingNumber(std::string text) {
    std::replace(text.begin(), text.end(), ',', '.');
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    size_t begin = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t digits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        size_t exponentDigits = 0;
        while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) ++j, ++exponentDigits;
        if (exponentDigits > 0) i = j;
    }
    std::istringstream stream(text.substr(begin, i - begin));
    stream.imbue(std::locale::classic());
    double value = 0;
    stream >> value;
    if (stream.fail()) return std::nullopt;
    return value;
}

std::optional<double> parseFrameRate(const Json* value) {
    if (!value) return std::nullopt;
    std::optional<double> parsed;
    if (value->is_boolean()) parsed = value->get<bool>() ? 1.0 : 0.0;
    else if (value->is_number()) parsed = value->get<double>();
    else if (value->is_string()) parsed = leadingNumber(value->get<std::string>());
    if (parsed && *parsed > 0 && *parsed <= 240) return parsed;
    return std::nullopt;
}

}  // namespace

std::optional<std::string> renderTextParam(const Json& params, const char* key) {
    const Json* value = jsonMember(params, key);
    if (value && value->is_string()) return value->get<std::string>();
    return std::nullopt;
}

RenderParams RenderParams::read(const Json& params) {
    RenderParams p;
    if (auto v = integerParam(params, "width")) p.width = *v;
    if (auto v = integerParam(params, "height")) p.height = *v;
    if (auto v = numberParam(params, "start")) p.start = *v;
    if (auto v = numberParam(params, "end")) p.end = *v;
    p.fps = normalizedFrameRate(member(params, "fps"), 60);
    if (auto v = renderTextParam(params, "format")) p.format = *v;
    if (auto v = renderTextParam(params, "encoding")) p.encoding = *v;
    if (auto v = renderTextParam(params, "renderer")) p.renderer = *v;
    p.background = p.format == "mov" ? "transparent" : "black";
    if (auto v = renderTextParam(params, "bg")) p.background = *v;
    return p;
}

double normalizedFrameRate(const Json* value, const Json* fallback) {
    if (auto parsed = parseFrameRate(value)) return *parsed;
    if (auto parsed = parseFrameRate(fallback)) return *parsed;
    return 30;
}

double normalizedFrameRate(const Json* value, double fallback) {
    const Json fallbackValue = fallback;
    return normalizedFrameRate(value, &fallbackValue);
}

std::optional<std::int64_t> renderFrameCount(double start, double end, double fps) {
    const double length = end - start;
    if (!std::isfinite(length) || !std::isfinite(fps) || fps <= 0) return std::nullopt;
    if (length > kMaximumRenderSeconds) return std::nullopt;
    const double frames = std::ceil(length * fps);
    return std::max<std::int64_t>(1, frames > 1 ? static_cast<std::int64_t>(frames) : 1);
}

}  // namespace tessivo
