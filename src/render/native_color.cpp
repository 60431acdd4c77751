#include "render/native_color.h"

#include <cctype>
#include <string>

namespace tessivo {

namespace {

bool isTrimmed(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Strips ASCII white space plus U+0085, U+00A0, U+2028 and U+2029 at both ends.
std::string trimmed(std::string_view s) {
    auto startsWith = [](std::string_view v, std::string_view p) { return v.substr(0, p.size()) == p; };
    auto endsWith = [](std::string_view v, std::string_view p) {
        return v.size() >= p.size() && v.substr(v.size() - p.size()) == p;
    };
    static constexpr std::string_view kWide[] = {"\xC2\x85", "\xC2\xA0", "\xE2\x80\xA8", "\xE2\x80\xA9"};
    bool changed = true;
    while (changed && !s.empty()) {
        changed = false;
        if (isTrimmed(static_cast<unsigned char>(s.front()))) {
            s.remove_prefix(1);
            changed = true;
            continue;
        }
        if (isTrimmed(static_cast<unsigned char>(s.back()))) {
            s.remove_suffix(1);
            changed = true;
            continue;
        }
        for (auto w : kWide) {
            if (startsWith(s, w)) {
                s.remove_prefix(w.size());
                changed = true;
            } else if (endsWith(s, w)) {
                s.remove_suffix(w.size());
                changed = true;
            }
        }
    }
    return std::string(s);
}

std::string lowercased(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

NativeColor cgColor(std::string_view text, std::string_view defaultHex, double alpha) {
    std::string s = lowercased(trimmed(text.empty() ? defaultHex : text));
    if (!s.empty() && s.front() == '#') s.erase(0, 1);
    if (s.size() == 3) s = {s[0], s[0], s[1], s[1], s[2], s[2]};
    NativeColor white{1, 1, 1, alpha};
    if (s.size() != 6) return white;
    // Every character must be a hexadecimal digit: no sign, no prefix.
    int value = 0;
    for (char c : s) {
        int d = hexDigit(c);
        if (d < 0) return white;
        value = value * 16 + d;
    }
    return {((value >> 16) & 0xff) / 255.0, ((value >> 8) & 0xff) / 255.0, (value & 0xff) / 255.0, alpha};
}

NativeColor effectiveNativeGlowColor(const NativeTextSequence& block) {
    std::string key = lowercased(trimmed(block.glowColor));
    if (key.empty() || key == "black" || key == "#000" || key == "#000000") return {1, 1, 1, 1};
    return cgColor(block.glowColor, "#ffffff");
}

}  // namespace tessivo
