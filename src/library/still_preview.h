// A still of what Resolve's viewer shows, for the editor to draw captions over:
// the comfort module writes the current frame as a JPEG, which comes back
// shrunk as a data URL. One capture runs at a time.
#pragma once

#include "platform/error.h"
#include "platform/json.h"

#include <atomic>
#include <filesystem>
#include <functional>

namespace tessivo {

class EngineContext;

class StillPreview {
public:
    // `sharedLibraryBusy` tells whether the shared library holds Resolve (empty: never).
    StillPreview(EngineContext& engine, std::filesystem::path resourcesFolder, std::function<bool()> sharedLibraryBusy = {})
        : engine_(engine), resourcesFolder_(std::move(resourcesFolder)), sharedLibraryBusy_(std::move(sharedLibraryBusy)) {}

    // Main thread. Exactly one "window.onResolvePreviewCaptured", or none when
    // a capture is already running.
    void exportResolveStillPreview(const Json& payload);

    // Main thread.
    bool inFlight() const { return resolvePreviewInFlight_; }

    static constexpr double kTimeLimit = 12;
    static constexpr int kMaxSide = 960;
    static constexpr int kQuality = 50;

private:
    EngineContext& engine_;
    std::filesystem::path resourcesFolder_;
    std::function<bool()> sharedLibraryBusy_;
    bool resolvePreviewInFlight_ = false;
};

// The reply for a finished capture (runner thread): the image read from
// `outputFile`, shrunk, as a data URL, or the reason it could not be.
// Deletes the file.
Json stillPreviewReply(const Json& request, Result<Json> outcome, const std::filesystem::path& outputFile);

}  // namespace tessivo
