#include "lottie/lottie_route.h"

#include "bridge/coercion.h"
#include "delivery/sfx_files.h"
#include "engine_api/engine_context.h"
#include "resolve/python_runner.h"

#include <algorithm>

extern const char kLottieImportScript[];

namespace tessivo {

namespace {

constexpr const char* kCompleteCallback = "window.onResolveExportComplete";

}  // namespace

std::string lottieImportScript() { return std::string(placementFunctionsScript()) + "\n\n" + kLottieImportScript; }

Json lottieFailurePayload(const std::string& message) {
    Json payload = Json::object();
    payload["success"] = false;
    payload["mode"] = "lottie";
    payload["message"] = message;
    return payload;
}

// Main thread.
void LottieDelivery::startResolveLottieExport(const Json& params) {
    if (engine_.published().isRendering) return;
    auto weak = engine_.weakContext();
    engine_.exportQueue().post([this, weak, params] {
        // Export queue. The component lives as long as the engine.
        auto engine = weak.lock();
        if (!engine) return;
        auto clips = makeResolveLottieClips(params);
        if (!clips || clips.value().empty()) {
            Error error = clips ? lottieError(kLottieNoBlockError) : clips.error();
            engine->fusionCallback(kCompleteCallback, lottieFailurePayload(error.message));
            return;
        }
        const Json* events = member(params, "sfxEvents");
        Json sfxEvents = Json::array();
        if (events && events->is_array() &&
            std::all_of(events->begin(), events->end(), [](const Json& e) { return e.is_object(); }))
            sfxEvents = *events;
        insertResolveLottieClips(clips.value(), sfxEvents, [weak](Result<Json> outcome) {
            // Any thread; the callback itself is made on the main thread.
            auto engine = weak.lock();
            if (!engine) return;
            if (outcome.ok()) engine->fusionCallback(kCompleteCallback, std::move(outcome).value());
            else engine->fusionCallback(kCompleteCallback, lottieFailurePayload(outcome.error().message));
        });
    });
}

// Any thread.
void LottieDelivery::insertResolveLottieClips(const std::vector<LottieClip>& clips, const Json& sfxEvents,
                                              Completion completion) {
    std::string clipArgument = serializeJson(lottieClipRecords(clips)).value_or("[]");
    std::string sfxArgument = serializeJson(sfxFileRecords(makeResolveSFXFiles(sfxEvents))).value_or("[]");
    engine_.runner().runResolvePython(lottieImportScript(), {std::move(clipArgument), std::move(sfxArgument)},
                                      kTimeLimitSeconds, std::move(completion));
}

}  // namespace tessivo
