// Files, folders and identifiers.
#pragma once

#include "platform/error.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tessivo {

namespace fs = std::filesystem;

// Replaces `path` with `data` atomically: a temporary file in the same folder,
// then a rename, so that readers see the old or the new contents, never half.
// Creates no folders.
bool writeFileAtomically(const fs::path& path, std::string_view data, Error* error = nullptr);

// Creates `path` readable and writable by the user alone (mode 0600 from the
// moment it exists, whatever the umask) and writes `data` to it. Refuses a path
// that already exists, a symbolic link included. Creates no folders.
bool writePrivateFile(const fs::path& path, std::string_view data, Error* error = nullptr);

// Whole file contents, or nullopt.
std::optional<std::string> readFile(const fs::path& path);

// A fresh random UUID in canonical upper-case form (8-4-4-4-12 hex digits).
std::string makeUUID();

// Removes a file, ignoring every error.
void removeFileQuietly(const fs::path& path);

// True when `text` is valid UTF-8 (a NUL byte is valid UTF-8).
bool isValidUTF8(std::string_view text);

}  // namespace tessivo
