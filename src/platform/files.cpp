#include "platform/files.h"

#include "platform/glib_ptr.h"

#include <fstream>
#include <sstream>

namespace tessivo {

bool writeFileAtomically(const fs::path& path, std::string_view data, Error* error) {
    GErrorOut gerror;
    // g_file_set_contents writes a sibling temporary file, syncs and renames it.
    if (g_file_set_contents(path.c_str(), data.data(), static_cast<gssize>(data.size()), gerror.out()))
        return true;
    if (error) *error = Error{kDomainPlatform, gerror.get() ? gerror.get()->code : -1, gerror.message()};
    return false;
}

std::optional<std::string> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream out;
    out << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return std::move(out).str();
}

std::string makeUUID() {
    GUniquePtr<gchar> raw(g_uuid_string_random());
    std::string text(raw.get());
    for (auto& c : text) c = static_cast<char>(g_ascii_toupper(c));
    return text;
}

void removeFileQuietly(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

bool isValidUTF8(std::string_view text) {
    return g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr);
}

}  // namespace tessivo
