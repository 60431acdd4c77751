// Sound-effect files: the editor sends its sound effects as data URLs, Resolve
// imports only files. Each event's audio becomes one file in a fresh folder.
#pragma once

#include "platform/json.h"
#include "platform/paths.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessivo {

struct SFXFile {
    std::filesystem::path filePath;
    double start = 0;
    std::string name;
    double volume = 0.85;
};

// Writes one file per usable event into `baseFolder`/"TessivoSFX-<UUID>" (a new
// folder per call, created only when there is at least one event), named
// "Tessivo_SFX_NNN.<ext>" after the event's position from 1, so skipped events
// leave gaps in the numbering. An event is skipped when its "dataUrl" is not a
// text with a comma, its audio is not strict Base64 or is empty, or the write
// fails. Never fails as a whole.
std::vector<SFXFile> makeResolveSFXFiles(const Json& events,
                                         const std::filesystem::path& baseFolder = temporaryDirectory());

// The records as the insert scripts read them: "filePath", "start", "name", "volume".
Json sfxFileRecords(const std::vector<SFXFile>& files);

// Strict standard Base64: the alphabet A-Z a-z 0-9 + /, padded to a multiple of
// four with at most two "=" at the end, nothing else (no white space). nullopt
// when the text does not follow these rules.
std::optional<std::string> decodeStrictBase64(std::string_view text);

// "mp3", "m4a" or "wav", from the start of the data URL.
std::string sfxExtension(std::string_view dataUrl);

}  // namespace tessivo
