// Colours and previews read out of effect files: the gradient stops of a
// template, and preview frames as data URLs.
#include "library/library_store.h"

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tessivo {

namespace fs = std::filesystem;

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

std::size_t skipSpace(const std::string& text, std::size_t at) {
    while (at < text.size() && isSpace(text[at])) ++at;
    return at;
}

// True when `word` stands at `at` (after white space); `at` moves past it.
bool expect(const std::string& text, std::size_t& at, std::string_view word) {
    const std::size_t start = skipSpace(text, at);
    if (text.compare(start, word.size(), word) != 0) return false;
    at = start + word.size();
    return true;
}

}  // namespace

std::vector<std::string> fusionGradientColors(const std::string& text) {
    std::vector<std::string> colors;
    const std::size_t start = text.find("ShadingGradient1");
    if (start == std::string::npos) return colors;
    const std::string window = text.substr(start, 1800);
    // Each stop reads "[position] = { r, g, b, a }".
    std::size_t at = 0;
    while ((at = window.find('[', at)) != std::string::npos) {
        std::size_t close = window.find(']', at + 1);
        if (close == std::string::npos) break;
        std::size_t cursor = close + 1;
        const bool bracketed = close > at + 1;
        ++at;
        if (!bracketed || !expect(window, cursor, "=") || !expect(window, cursor, "{")) continue;
        double channels[3];
        bool ok = true;
        for (double& channel : channels) {
            cursor = skipSpace(window, cursor);
            const std::size_t first = cursor;
            while (cursor < window.size() && ((window[cursor] >= '0' && window[cursor] <= '9') || window[cursor] == '.'))
                ++cursor;
            if (cursor == first || !expect(window, cursor, ",")) {
                ok = false;
                break;
            }
            channel = g_ascii_strtod(window.substr(first, cursor - 1 - first).c_str(), nullptr);
        }
        if (!ok) continue;
        char hex[8];
        int bytes[3];
        for (int i = 0; i < 3; ++i) {
            const double scaled = std::round(channels[i] * 255);
            bytes[i] = static_cast<int>(std::clamp(std::isfinite(scaled) ? scaled : 0.0, 0.0, 255.0));
        }
        std::snprintf(hex, sizeof hex, "#%02x%02x%02x", bytes[0], bytes[1], bytes[2]);
        colors.push_back(hex);
    }
    return colors;
}

bool fusionTemplateUsesGradient(const std::string& text) {
    if (text.find("ShadingGradient1") == std::string::npos) return false;
    // "Type1 = Input { ... Value = 2" with no closing brace in between.
    for (std::size_t at = text.find("Type1"); at != std::string::npos; at = text.find("Type1", at + 1)) {
        std::size_t cursor = at + 5;
        if (!expect(text, cursor, "=") || !expect(text, cursor, "Input") || !expect(text, cursor, "{")) continue;
        const std::size_t close = text.find('}', cursor);
        const std::string body = text.substr(cursor, close == std::string::npos ? std::string::npos : close - cursor);
        for (std::size_t v = body.find("Value"); v != std::string::npos; v = body.find("Value", v + 1)) {
            std::size_t c = v + 5;
            if (expect(body, c, "=") && expect(body, c, "2")) return true;
        }
    }
    return false;
}

std::string previewDataURL(const fs::path& file, const std::string& bytes) {
    std::string extension = file.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
    gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
    std::string url = std::string("data:") + (extension == ".png" ? "image/png" : "image/jpeg") + ";base64," + encoded;
    g_free(encoded);
    return url;
}

}  // namespace tessivo
