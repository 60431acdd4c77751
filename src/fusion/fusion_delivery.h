// Fusion title files for Resolve: one ".setting" composition per caption block
// that lies in the exported range.
#pragma once

#include "platform/error.h"
#include "platform/json.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tessivo {

// One written composition, as the Fusion import script receives it.
struct FusionClip {
    std::filesystem::path filePath;
    double start = 0;     // clipped start, seconds
    double end = 0;       // clipped end, seconds
    double duration = 0;  // end - start
    std::string text;
};

// Error codes of this route (domain "Tessivo").
inline constexpr std::int64_t kFusionNoBlockError = -70;
inline constexpr std::int64_t kFusionEmptyRangeError = -81;
inline constexpr std::int64_t kFusionNoSequencesError = -82;

// The error value of a code above, with its French description.
Error fusionError(std::int64_t code);

// Creates and returns the export folder: `baseFolder`/"Export_<seconds>" (with a
// suffix when an export of the same second already made it). The default base
// is Movies/Tessivo/DaVinciFusion; without a Movies folder the folder is
// temporary/"TessivoFusion-<seconds>".
Result<std::filesystem::path> makeResolveFusionFolder();
Result<std::filesystem::path> makeResolveFusionFolder(const std::filesystem::path& baseFolder);

using FusionFolderMaker = std::function<Result<std::filesystem::path>()>;

// Writes "Tessivo_Fusion_NNN.setting" for each block of the request `params`
// ("start", "end", "width", "height", "fps", "sequences") that overlaps the
// range, in time order, and returns their records. Errors -81 (empty range),
// -82 (no sequence list) or a file error end the run. An empty result is not
// an error here: the caller reports it as -70. `makeFolder` replaces the
// default folder choice (used by headless commands).
Result<std::vector<FusionClip>> makeResolveFusionClips(const Json& params, const FusionFolderMaker& makeFolder = {});

// The records as the import script reads them.
Json fusionClipRecords(const std::vector<FusionClip>& clips);

}  // namespace tessivo
