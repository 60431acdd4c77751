#include "platform/confined_path.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace tessivo {

namespace fs = std::filesystem;

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Percent-decodes `text`; false on a broken escape or a NUL byte, which no
// file name can hold.
bool percentDecode(std::string_view text, std::string& out) {
    out.clear();
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size()) return false;
            const int high = hexValue(text[i + 1]);
            const int low = hexValue(text[i + 2]);
            if (high < 0 || low < 0) return false;
            c = static_cast<char>(high * 16 + low);
            i += 2;
        }
        if (c == '\0') return false;
        out.push_back(c);
    }
    return true;
}

// Whether `path` lies strictly inside `root`, element by element (both
// canonical): "/a/bc" is not inside "/a/b".
bool strictlyInside(const fs::path& root, const fs::path& path) {
    auto [r, p] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
    return r == root.end() && p != path.end();
}

}  // namespace

ConfinedFile resolveConfinedPath(const fs::path& root, std::string_view encodedPath) {
    using Status = ConfinedFile::Status;
    if (encodedPath.empty() || encodedPath.front() != '/') return {Status::Malformed, {}};
    std::string decoded;
    if (!percentDecode(encodedPath.substr(1), decoded)) return {Status::Malformed, {}};
    // "/" names the root folder itself.
    if (decoded.empty()) return {Status::NotFound, {}};

    // Decoded, so "%2F" separates like "/". Each segment must name an entry:
    // "." and ".." would walk, an empty segment would make the rest absolute.
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = decoded.find('/', start);
        const bool last = slash == std::string::npos;
        std::string segment = decoded.substr(start, last ? std::string::npos : slash - start);
        if (segment == "." || segment == "..") return {Status::Forbidden, {}};
        if (segment.empty()) {
            // A trailing "/" names a folder, which is never served.
            if (last) return {Status::NotFound, {}};
            return {Status::Forbidden, {}};
        }
        segments.push_back(std::move(segment));
        if (last) break;
        start = slash + 1;
    }

    std::error_code ec;
    const fs::path canonicalRoot = fs::canonical(root, ec);
    if (ec) return {Status::NotFound, {}};
    fs::path candidate = canonicalRoot;
    for (const std::string& segment : segments) candidate /= segment;

    const fs::path file = fs::canonical(candidate, ec);
    if (ec) return {Status::NotFound, {}};
    if (!strictlyInside(canonicalRoot, file)) return {Status::Forbidden, {}};
    if (!fs::is_regular_file(file, ec)) return {Status::NotFound, {}};
    return {Status::Found, file};
}

fs::path servedRootFor(const fs::path& page, const fs::path& resources) {
    std::error_code ec;
    const fs::path canonicalPage = fs::weakly_canonical(fs::absolute(page, ec), ec);
    const fs::path canonicalResources = fs::weakly_canonical(fs::absolute(resources, ec), ec);
    if (!resources.empty() && strictlyInside(canonicalResources, canonicalPage)) return canonicalResources;
    return canonicalPage.parent_path();
}

std::string_view mimeTypeFor(const fs::path& file) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 24> kTypes{{
        {".html", "text/html"},
        {".htm", "text/html"},
        {".js", "text/javascript"},
        {".mjs", "text/javascript"},
        {".css", "text/css"},
        {".json", "application/json"},
        {".map", "application/json"},
        {".txt", "text/plain"},
        {".ttf", "font/ttf"},
        {".otf", "font/otf"},
        {".woff", "font/woff"},
        {".woff2", "font/woff2"},
        {".png", "image/png"},
        {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},
        {".gif", "image/gif"},
        {".webp", "image/webp"},
        {".svg", "image/svg+xml"},
        {".ico", "image/x-icon"},
        {".wasm", "application/wasm"},
        {".mp3", "audio/mpeg"},
        {".wav", "audio/wav"},
        {".mp4", "video/mp4"},
        {".webm", "video/webm"},
    }};
    std::string extension = file.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const auto& [known, type] : kTypes) {
        if (extension == known) return type;
    }
    return "application/octet-stream";
}

}  // namespace tessivo
