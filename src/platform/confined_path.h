// Files served to the web pages from one folder, never from outside it: the
// path of a request (as it stands in the address, percent-encoded) turned
// into a file under the folder, and the MIME type the file is served with.
#pragma once

#include <filesystem>
#include <string_view>

namespace tessivo {

struct ConfinedFile {
    enum class Status {
        Found,      // `file` is a regular file inside the root
        Malformed,  // not a path, a broken %-escape, a NUL byte
        Forbidden,  // ".", "..", an empty segment, or leads outside the root
        NotFound,   // nothing there, or not a regular file
    };
    Status status = Status::NotFound;
    // Found: the canonical path of the file (symbolic links resolved).
    std::filesystem::path file;
};

// Resolves `encodedPath` ("/web/index.html", "/fonts/A%20B.ttf") against
// `root`. The path is percent-decoded first, so an encoded "/" separates
// segments and an encoded ".." is refused like a plain one. The file found is
// canonicalised and must still lie inside the canonical root, so a symbolic
// link inside the root that points out of it is refused too.
ConfinedFile resolveConfinedPath(const std::filesystem::path& root, std::string_view encodedPath);

// The folder a page is served from: `resources` when the page lies inside it
// (so the page reaches the fonts beside its own folder), else the folder that
// holds the page.
std::filesystem::path servedRootFor(const std::filesystem::path& page, const std::filesystem::path& resources);

// The MIME type of a served file, from its extension (case-insensitive);
// "application/octet-stream" for one that is not known.
std::string_view mimeTypeFor(const std::filesystem::path& file);

}  // namespace tessivo
