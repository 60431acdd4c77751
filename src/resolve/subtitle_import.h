// Reading the active timeline's subtitles into the editor.
#pragma once

#include "platform/json.h"

namespace tessivo {

class EngineContext;

// The text of the embedded Resolve scripts.
const char* importSubtitlesScript();
const char* timelineFactsScript();

class SubtitleImporter {
public:
    explicit SubtitleImporter(EngineContext& engine) : engine_(engine) {}

    // Main thread. Runs the import script (limit 120 s); answers with exactly one
    // callback: "window.onResolveSubtitlesImported" with the script's result as
    // it stands, or "window.onResolveBridgeError" {"message"} when the run failed.
    void importResolveSubtitles(const Json& payload);

    static constexpr double kTimeLimitSeconds = 120;

private:
    EngineContext& engine_;
};

}  // namespace tessivo
