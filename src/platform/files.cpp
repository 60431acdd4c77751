#include "platform/files.h"

#include "platform/glib_ptr.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

bool writePrivateFile(const fs::path& path, std::string_view data, Error* error) {
    auto fail = [&](int code) {
        if (error) *error = Error{kDomainPlatform, code, "Écriture impossible : " + path.string() + " (" + g_strerror(code) + ")"};
        return false;
    };
    // O_EXCL with O_CREAT also refuses a symbolic link in the way; the mode is
    // the file's from its creation, and fchmod() undoes a umask that is wider.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR);
    if (fd < 0) return fail(errno);
    std::size_t written = 0;
    int failure = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 ? 0 : errno;
    while (failure == 0 && written < data.size()) {
        ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failure = errno;
        else written += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && failure == 0) failure = errno;
    if (failure == 0) return true;
    ::unlink(path.c_str());
    return fail(failure);
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
    // GLib's validation refuses every NUL byte, which UTF-8 allows: check the
    // runs between them.
    while (!text.empty()) {
        auto nul = text.find('\0');
        auto run = text.substr(0, nul);
        if (!g_utf8_validate_len(run.data(), run.size(), nullptr)) return false;
        if (nul == std::string_view::npos) break;
        text.remove_prefix(nul + 1);
    }
    return true;
}

}  // namespace tessivo
