// The Fusion effect library's operations: the listing for the editor, the
// insertion of an effect as a native Text+ title, its application to the
// selected title, and the live items of a build. Resolve work goes through
// the comfort module (a resource read at each use) or embedded scripts, one
// run at a time on the Resolve operations queue.
#pragma once

#include "library/fusion_instance.h"
#include "library/library_store.h"
#include "platform/json.h"

#include <filesystem>
#include <functional>
#include <string>

namespace tessivo {

class EngineContext;

// The comfort module's text from `resourcesFolder`, or a one-line script that
// fails with the French reason when it is missing or not UTF-8.
std::string resolveComfortScript(const std::filesystem::path& resourcesFolder);
// The embedded script that applies an effect to the selected Text+ title.
const char* applySelectedTitleScript();

class FusionEffectLibrary {
public:
    FusionEffectLibrary(EngineContext& engine, std::filesystem::path dataFolder, std::filesystem::path resourcesFolder);

    // Export queue. Answers "window.onFusionLibraryLoaded" with both lists.
    void loadFusionEffectLibrary();
    // Main thread. Answers "window.onFusionEffectInserted", or
    // "window.onFusionLiveResult" for a live request, exactly once.
    void insertFusionEffect(const Json& payload);
    // Export queue. Answers "window.onFusionEffectInserted" exactly once.
    void applyFusionEffectToSelectedTitle(const Json& payload);
    // Main thread. Removes a live item; answers "window.onFusionLiveResult".
    void deleteLiveFusionItem(const Json& payload);

    // Main thread. Receives the floating palette's status text after an
    // insertion that came from the palette.
    void setPaletteStatusSink(std::function<void(const std::string&)> sink) { paletteStatus_ = std::move(sink); }

    const FusionLibraryStore& store() const { return store_; }

    static constexpr double kInsertTimeLimit = 30;
    static constexpr double kApplyTimeLimit = 25;
    static constexpr double kDeleteTimeLimit = 20;

private:
    // Export queue.
    void runInsertion(const InsertionRequest& request, const std::string& callback);
    // Any thread: one failure answer of an insertion.
    void failInsertion(const InsertionRequest& request, const std::string& callback, const std::string& message);
    // The resource "TessivoNativeSeed.drb" when it is installed, else empty.
    std::string nativeSeedPath() const;

    EngineContext& engine_;
    FusionLibraryStore store_;
    std::filesystem::path resourcesFolder_;
    std::function<void(const std::string&)> paletteStatus_;
};

}  // namespace tessivo
