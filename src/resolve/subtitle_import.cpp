#include "resolve/subtitle_import.h"

#include "engine_api/engine_context.h"
#include "resolve/python_runner.h"

extern const char kImportSubtitlesScript[];
extern const char kTimelineFactsScript[];

namespace tessivo {

const char* importSubtitlesScript() { return kImportSubtitlesScript; }
const char* timelineFactsScript() { return kTimelineFactsScript; }

void SubtitleImporter::importResolveSubtitles(const Json& payload) {
    std::string request = serializeJson(payload).value_or("{}");
    auto weak = engine_.weakContext();
    engine_.runner().runResolvePython(kImportSubtitlesScript, {request}, kTimeLimitSeconds,
                                      [weak](Result<Json> outcome) {
        auto engine = weak.lock();
        if (!engine) return;
        if (outcome.ok()) {
            engine->fusionCallback("window.onResolveSubtitlesImported", std::move(outcome).value());
        } else {
            engine->fusionCallback("window.onResolveBridgeError", Json{{"message", outcome.error().message}});
        }
    });
}

}  // namespace tessivo
