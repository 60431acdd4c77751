// Filling and maintaining the effect library from Resolve and the editor:
// capture of the clip under Resolve's playhead as a new effect (composition,
// editable Text+ tools, then a real preview sampled in Resolve), refresh of an
// effect's real preview, rename and re-categorisation, and archiving into the
// library's ".Trash". The Resolve side is two embedded scripts run one at a
// time on the Resolve operations queue.
#pragma once

#include "library/library_store.h"
#include "platform/json.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace tessivo {

class EngineContext;

// Error code of a preview refresh asked for a built-in effect.
inline constexpr std::int64_t kLibraryBuiltInNoSource = 7;
// Error code of a rename whose name or category is refused.
inline constexpr std::int64_t kLibraryBadEffectName = 8;

const char* captureEffectScript();
const char* previewEffectScript();

// The name and category a rename stores, from the request and the stored
// metadata, or the French reason it is refused (empty or absurdly long name,
// control characters).
struct EffectLabels {
    std::string name;
    std::string category;
};
Result<EffectLabels> editedEffectLabels(const Json& request, const Json& stored);

// A name for an archived folder inside `trash` that no entry holds yet:
// "<id>-<seconds>", then "<id>-<seconds>-2", "-3"...
std::filesystem::path uniqueTrashFolder(const std::filesystem::path& trash, const std::string& id, std::int64_t seconds);

// Adds the preview result's keys to captured metadata: the four preview keys
// (each removed when the result lacks it) and the frames after shrinking.
void applyPreviewResult(Json& metadata, const Json& result);

class FusionEffectEditing {
public:
    // `sharedPreview` takes over the refresh of an effect of the shared library.
    FusionEffectEditing(EngineContext& engine, const FusionLibraryStore& store,
                        std::function<void(const std::string& id)> sharedPreview)
        : engine_(engine), store_(store), sharedPreview_(std::move(sharedPreview)) {}

    // Export queue. Answers "window.onFusionEffectCaptured" exactly once.
    void captureCurrentFusionEffect(const Json& payload);
    // Main thread. Answers "window.onFusionEffectPreviewed" exactly once, or
    // hands a shared effect to the shared library.
    void refreshFusionEffectPreview(const Json& payload);
    // Export queue. Answers "window.onFusionEffectUpdated".
    void updateFusionEffectMetadata(const Json& payload);
    // Export queue. Answers "window.onFusionEffectDeleted".
    void archiveFusionEffect(const Json& payload);

    static constexpr double kCaptureTimeLimit = 20;
    static constexpr double kPreviewTimeLimit = 45;

private:
    // Export queue.
    void runPreviewRefresh(const Json& payload);
    // Any thread: runs the preview script on the captured effect.
    void capturePreview(Json metadata, std::filesystem::path root, std::filesystem::path folder);

    EngineContext& engine_;
    const FusionLibraryStore& store_;
    std::function<void(const std::string&)> sharedPreview_;
};

}  // namespace tessivo
