// The shared library: the effect library mirrored into the Power Bin
// "Tessivo" of Resolve, and effect previews computed by Resolve itself. The
// Resolve side is the resource "resolve_library.py", run in the modes "scan",
// "create" and "preview". One operation runs at a time; while it runs, the
// timeline watch is stopped and timeline sync requests are dropped, so that
// nothing else drives Resolve.
#pragma once

#include "library/library_store.h"
#include "platform/json.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tessivo {

class EngineContext;

// The script the runner executes: two lines that put the resource's folder on
// the module path (as Base64, so that any path survives), then the resource's
// text; a script that fails with the French reason when it is missing.
std::string resolveLibraryScript(const std::filesystem::path& resourcesFolder);

// "Aperçu i/n · calcul dans Resolve…" (i counted from 1).
std::string sharedPreviewProgressText(std::size_t index, std::size_t count);

class SharedLibrary {
public:
    // What the shared library stops and starts around an operation (the
    // timeline watch and its sync); empty functions do nothing.
    struct TimelineHooks {
        std::function<void()> stopWatch;
        std::function<void()> startWatch;
        std::function<void()> clearPendingSync;
    };

    SharedLibrary(EngineContext& engine, const FusionLibraryStore& store, std::filesystem::path resourcesFolder,
                  std::function<void()> reloadLibrary)
        : engine_(engine), store_(store), resourcesFolder_(std::move(resourcesFolder)),
          reloadLibrary_(std::move(reloadLibrary)) {}

    // Main thread, before the first operation.
    void setTimelineHooks(TimelineHooks hooks) { hooks_ = std::move(hooks); }

    // Any thread; the work moves to the export queue. Ignored (no answer) while
    // an operation runs; else exactly one "window.onFusionSharedLibraryResult".
    void runSharedLibraryOperation(const std::string& mode, const std::string& effectID = {});

    // Any thread. True from the start of an operation until its final answer.
    bool sharedLibraryBusy() const { return busy_.load(); }

    static constexpr double kTimeLimit = 90;

private:
    // Export queue.
    void start(const std::string& mode, const std::string& effectID);
    void renderSharedPreviews(Json request, std::vector<std::string> ids, std::size_t index, Json result);
    void finishSharedLibrarySuccess(Json result);
    void finishSharedLibraryFailure(const std::string& message);
    // Any thread: the script's run on the Resolve operations queue, its
    // outcome handed back to the export queue.
    void executeSharedLibrary(const std::string& mode, const Json& request, std::function<void(Result<Json>)> done);

    EngineContext& engine_;
    const FusionLibraryStore& store_;
    std::filesystem::path resourcesFolder_;
    std::function<void()> reloadLibrary_;
    TimelineHooks hooks_;
    std::atomic<bool> busy_{false};
};

}  // namespace tessivo
