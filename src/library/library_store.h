// The Fusion effect library on disk: one folder per effect under
// "Tessivo/FusionEffects" in the user's data folder, each holding
// "metadata.json", "template.setting" and its preview frames; ".Trash" for
// removed effects and ".hidden-effects.json" for removed built-ins. The two
// included effects live read-only among the application's resources.
//
// The store keeps no state in memory: every call reads the folders anew, and
// every file it writes is replaced atomically, so a concurrent reader sees the
// old or the new contents, never half of them.
#pragma once

#include "platform/error.h"
#include "platform/json.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tessivo {

// Error codes of the effect library (domain "TessivoFusion").
inline constexpr std::int64_t kLibraryNoDataFolder = 1;
inline constexpr std::int64_t kLibraryInvalidID = 2;
inline constexpr std::int64_t kLibraryBadMetadata = 3;
inline constexpr std::int64_t kLibraryInsertTemplateMissing = 5;
inline constexpr std::int64_t kLibraryInsertJobText = 6;
inline constexpr std::int64_t kLibraryApplyTemplateMissing = 15;
inline constexpr std::int64_t kLibraryApplyJobText = 16;
inline constexpr std::int64_t kLibraryNoNativeTitle = 18;

// The error value of a code above, with its French description.
Error fusionLibraryError(std::int64_t code);

// The IDs of the included effects, in ascending order.
const std::vector<std::string>& includedFusionEffectIDs();

// `value` as text (absent: empty), trimmed of white space and newlines; it
// must consist of ASCII letters, digits, "_" and "-" only, else code 2.
Result<std::string> validatedFusionEffectID(const Json* value);

// Writes `value` pretty-printed with sorted keys, atomically.
bool writeLibraryJson(const std::filesystem::path& file, const Json& value, Error* error);

// `path` made absolute and lexically normal ("." and ".." resolved, links kept).
std::filesystem::path standardizedPath(const std::filesystem::path& path);
// True when `path`, standardized, lies strictly inside `folder`, standardized,
// and stays inside it once symbolic links are resolved.
bool isInsideFolder(const std::filesystem::path& path, const std::filesystem::path& folder);

class FusionLibraryStore {
public:
    // `dataFolder`: the user's data folder (empty: none, every call fails with
    // code 1). `resourcesFolder`: the application's resources.
    FusionLibraryStore(std::filesystem::path dataFolder, std::filesystem::path resourcesFolder)
        : dataFolder_(std::move(dataFolder)), resourcesFolder_(std::move(resourcesFolder)) {}

    // The library root, created with its ".Trash" when missing; the built-ins
    // are seeded on every call. A failure of either is the call's failure.
    Result<std::filesystem::path> fusionLibraryRoot() const;
    // "BundledFusionEffects" among the resources.
    Result<std::filesystem::path> bundledFusionRoot() const;
    // The folder of an effect: among the bundled ones for an included ID,
    // else under `root`.
    std::filesystem::path fusionEffectDirectory(const std::string& id, const std::filesystem::path& root) const;

    // The metadata object of one effect. For an included effect the template
    // and preview frame paths are made absolute inside its folder.
    Result<Json> readFusionMetadata(const std::string& id, const std::filesystem::path& root) const;
    // Creates the effect folder and writes "metadata.json".
    bool writeFusionMetadata(const Json& metadata, const std::string& id, const std::filesystem::path& root,
                             Error* error) const;

    // The IDs listed in ".hidden-effects.json" (none when it is damaged).
    static std::set<std::string> hiddenBuiltInFusionEffectIDs(const std::filesystem::path& root);
    static bool writeHiddenBuiltInFusionEffectIDs(const std::set<std::string>& ids, const std::filesystem::path& root,
                                                  Error* error);

    // Writes every built-in that is neither hidden nor already at schema 2.
    std::optional<Error> seedBuiltInFusionEffects(const std::filesystem::path& root) const;

    // Every effect, hydrated and sorted (built-ins first, then by name).
    // With `visibleOnly` and a shared set, ordinary effects outside it are left out.
    Result<Json> fusionEffectList(bool visibleOnly) const;
    // Both lists from one reading of the library: {visible, all}.
    Result<std::pair<Json, Json>> fusionEffectLists() const;
    // A copy of `metadata` with gradient colours and the preview frames inlined.
    Json hydrateFusionEffectPreview(const Json& metadata, const std::filesystem::path& root) const;

    static constexpr std::size_t kMaxInlinedFrames = 120;

private:
    std::filesystem::path dataFolder_;
    std::filesystem::path resourcesFolder_;
};

// The gradient colour stops of the first "ShadingGradient1" block of a
// template, as "#rrggbb" texts; and whether its element 1 is shaded by a gradient.
std::vector<std::string> fusionGradientColors(const std::string& templateText);
bool fusionTemplateUsesGradient(const std::string& templateText);

// "data:<mime>;base64,<bytes>": PNG for a ".png" file (any case), else JPEG.
std::string previewDataURL(const std::filesystem::path& file, const std::string& bytes);

}  // namespace tessivo
