#include "fusion/fusion_route.h"

#include "delivery/sfx_files.h"
#include "engine_api/engine_context.h"
#include "resolve/python_runner.h"

#include <algorithm>
#include <utility>

extern const char kFusionInsertScript[];

namespace tessivo {

namespace {

constexpr const char* kExportComplete = "window.onResolveExportComplete";

Json failure(const std::string& message) { return Json{{"success", false}, {"message", message}}; }

// "sfxEvents" when it is a list of dictionaries, else an empty list.
Json soundEvents(const Json& params) {
    const Json* events = member(params, "sfxEvents");
    if (!events || !events->is_array() ||
        !std::all_of(events->begin(), events->end(), [](const Json& e) { return e.is_object(); }))
        return Json::array();
    return *events;
}

}  // namespace

const std::string& fusionInsertScript() {
    static const std::string script = std::string(placementFunctionsScript()) + "\n\n" + kFusionInsertScript;
    return script;
}

// Main thread.
void FusionDelivery::startResolveHTMLExport(const Json& params) {
    if (engine_.published().isRendering) return;
    auto weak = engine_.weakContext();
    engine_.exportQueue().post([this, weak, params] {
        auto engine = weak.lock();
        if (!engine) return;
        auto clips = makeResolveFusionClips(params);
        if (!clips) {
            engine->fusionCallback(kExportComplete, failure(clips.error().message));
            return;
        }
        if (clips.value().empty()) {
            engine->fusionCallback(kExportComplete, failure(fusionError(kFusionNoBlockError).message));
            return;
        }
        runResolveFusionInsert(clips.value(), soundEvents(params));
    });
}

// Export queue.
void FusionDelivery::runResolveFusionInsert(const std::vector<FusionClip>& clips, const Json& sfxEvents) {
    std::string clipArgument = serializeJson(fusionClipRecords(clips)).value_or("[]");
    std::string sfxArgument = serializeJson(sfxFileRecords(makeResolveSFXFiles(sfxEvents))).value_or("[]");
    auto weak = engine_.weakContext();
    engine_.runner().runResolvePython(fusionInsertScript(), {std::move(clipArgument), std::move(sfxArgument)},
                                      kTimeLimitSeconds, [weak](Result<Json> outcome) {
        // Any thread (the runner's): the answer goes to the page through the main queue.
        auto engine = weak.lock();
        if (!engine) return;
        if (outcome.ok()) {
            engine->fusionCallback(kExportComplete, std::move(outcome).value());
        } else {
            engine->fusionCallback(kExportComplete, failure(outcome.error().message));
        }
    });
}

}  // namespace tessivo
