#include "lottie/css_color.h"

#include "bridge/coercion.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

namespace tessivo {

namespace {

// Length of the white space character that starts `text`, or 0.
std::size_t leadingSpaceLength(std::string_view text) {
    if (text.empty()) return 0;
    unsigned char c = static_cast<unsigned char>(text[0]);
    if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
    auto starts = [&](std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; };
    // U+0085, U+00A0
    if (starts("\xC2\x85") || starts("\xC2\xA0")) return 2;
    // U+1680
    if (starts("\xE1\x9A\x80")) return 3;
    // U+2000...U+200A, U+2028, U+2029, U+202F, U+205F
    if (text.size() >= 3 && c == 0xE2) {
        unsigned char b1 = static_cast<unsigned char>(text[1]);
        unsigned char b2 = static_cast<unsigned char>(text[2]);
        if (b1 == 0x80 && ((b2 >= 0x80 && b2 <= 0x8A) || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF)) return 3;
        if (b1 == 0x81 && b2 == 0x9F) return 3;
    }
    // U+3000
    if (starts("\xE3\x80\x80")) return 3;
    return 0;
}

// Length of the white space character that ends `text`, or 0.
std::size_t trailingSpaceLength(std::string_view text) {
    for (std::size_t length = 1; length <= 3 && length <= text.size(); ++length) {
        std::string_view tail = text.substr(text.size() - length);
        if (leadingSpaceLength(tail) == length) return length;
    }
    return 0;
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

std::string componentText(int byte) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.6f", byte / 255.0);
    return buffer;
}

}  // namespace

std::string_view trimWhitespace(std::string_view text) {
    while (std::size_t n = leadingSpaceLength(text)) text.remove_prefix(n);
    while (std::size_t n = trailingSpaceLength(text)) text.remove_suffix(n);
    return text;
}

std::string cssColor(const Json* value, const std::string& defaultValue) {
    std::string text = stringValue(value, defaultValue);
    std::string_view trimmed = trimWhitespace(text);
    if (trimmed.empty()) return defaultValue;
    if (trimmed.starts_with("#") || trimmed.starts_with("rgb") || trimmed.starts_with("hsl") ||
        trimmed == "transparent")
        return std::string(trimmed);
    return defaultValue;
}

std::array<std::string, 3> fusionColorComponents(std::string_view color) {
    const std::array<std::string, 3> white{"1", "1", "1"};
    std::string_view trimmed = trimWhitespace(color);
    if (!trimmed.starts_with("#")) return white;
    trimmed.remove_prefix(1);
    std::string hex;
    if (trimmed.size() == 3) {
        for (char c : trimmed) hex.append(2, c);
    } else if (trimmed.size() == 6) {
        hex = trimmed;
    } else {
        return white;
    }
    // Only hexadecimal digits: a sign or anything else makes the colour unreadable.
    for (char c : hex)
        if (!isHexDigit(c)) return white;
    int bytes[3];
    for (int i = 0; i < 3; ++i) bytes[i] = hexDigitValue(hex[2 * i]) * 16 + hexDigitValue(hex[2 * i + 1]);
    return {componentText(bytes[0]), componentText(bytes[1]), componentText(bytes[2])};
}

std::array<double, 3> lottieColorComponents(std::string_view color) {
    static locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    std::array<double, 3> result{};
    auto components = fusionColorComponents(color);
    for (int i = 0; i < 3; ++i) {
        const std::string& text = components[i];
        char* end = nullptr;
        double parsed = strtod_l(text.c_str(), &end, cLocale);
        result[i] = (end == text.c_str() + text.size() && !text.empty()) ? parsed : 1.0;
    }
    return result;
}

}  // namespace tessivo
