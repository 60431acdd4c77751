// dotLottie files for Resolve: one archive per caption block that lies in the
// exported range, each holding the block's Lottie document.
#pragma once

#include "platform/error.h"
#include "platform/json.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tessivo {

// One written archive, as the Lottie import script receives it.
struct LottieClip {
    std::filesystem::path filePath;
    double start = 0;     // clipped start of the block, seconds
    double end = 0;       // clipped end, seconds
    double duration = 0;  // end - start
    std::int64_t durationFrames = 1;
    std::string text;
    std::string font;
};

// Error codes of this route (domain "Tessivo").
inline constexpr std::int64_t kLottieNoBlockError = -90;
inline constexpr std::int64_t kLottieEmptyRangeError = -91;
inline constexpr std::int64_t kLottieNoSequencesError = -92;
inline constexpr std::int64_t kLottieArchiveError = -93;

// The error value of a code above, with its French description.
Error lottieError(std::int64_t code, const std::string& detail = {});

// Movies/Tessivo/DaVinciLottie (the temporary folder's when there is no Movies folder).
std::filesystem::path defaultLottieBaseFolder();

// Creates and returns `baseFolder`/"Export_<seconds since 1970>" (with a suffix
// when an export of the same second already made that folder).
Result<std::filesystem::path> makeResolveLottieFolder(const std::filesystem::path& baseFolder = defaultLottieBaseFolder());

// Makes the folder that receives the archives of one export.
using ExportFolderMaker = std::function<Result<std::filesystem::path>()>;

// Writes the archives for the request `params` ("start", "end", "width",
// "height", "fps", "sequences", "_debugOutputDirectory") and returns their
// records in time order. Errors -91 (empty range), -92 (no sequence list),
// -93 (archive) or a file error end the run; archives already written stay.
// An empty result is not an error here: the caller reports it as -90.
// `makeFolder` replaces the default folder choice (used by headless commands).
Result<std::vector<LottieClip>> makeResolveLottieClips(const Json& params, const ExportFolderMaker& makeFolder = {});

// The records as the import script reads them.
Json lottieClipRecords(const std::vector<LottieClip>& clips);

// A name usable in a file name: Unicode letters and digits, "-" and "_" stay,
// every other character becomes "-"; at most 48 characters; dashes trimmed from
// both ends; "caption" when nothing is left.
std::string sanitizeLottieIdentifier(std::string_view identifier);

// The archive's "manifest.json", compact with sorted keys.
std::string dotLottieManifest();

// Writes a dotLottie archive at `destination`: "manifest.json" and
// "animations/caption.json" at its root, made in memory and put in place
// atomically, so no half-written archive is ever left. Error -93 on failure.
Result<std::filesystem::path> packageDotLottie(std::string_view manifest, std::string_view document,
                                               const std::filesystem::path& destination);

}  // namespace tessivo
