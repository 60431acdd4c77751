#include "delivery/smart_delivery.h"

#include "bridge/coercion.h"
#include "engine_api/engine_context.h"
#include "render/render_job.h"

#include <algorithm>
#include <limits>

namespace tessivo {

namespace {

constexpr const char* kCallback = "window.onResolveExportComplete";
constexpr const char* kFallbackPrefix = "Lottie indisponible, repli Exact Web sans perte : ";
constexpr const char* kLottieRefused = "Resolve a refusé les clips Lottie.";
constexpr const char* kSmartSuccess = "Sous-titres ajoutés avec routage automatique dans DaVinci.";
constexpr const char* kDirectSuccess = "Sous-titres directs ajoutés dans DaVinci sans encodage vidéo.";
constexpr const char* kDirectPresentRunFailed =
    "Les clips Lottie directs sont déjà présents; seul Exact Web n'a pas pu être inséré.";
constexpr const char* kDirectPresentInsertFailed =
    "Les clips Lottie directs sont déjà présents, mais l'insertion Exact Web a échoué.";

bool isListOfObjects(const Json* value) {
    return value && value->is_array() && std::all_of(value->begin(), value->end(), [](const Json& e) { return e.is_object(); });
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) {
        if (line.empty()) continue;
        if (!text.empty()) text += "\n";
        text += line;
    }
    return text;
}

}  // namespace

bool isLottieCapable(const Json& block) {
    const Json* capability = member(block, "lottieCapability");
    if (!capability || !capability->is_object()) return false;
    const Json* status = member(*capability, "status");
    // A boolean is no status: only a text, or a number by its text form.
    if (!status || !(status->is_string() || status->is_number())) return false;
    return stringValue(status, "unknown") == "supported";
}

ExactRange smartExactRange(const Json& request, const Json& blocks) {
    const double requestStart = finiteDoubleValue(request, "start", 0);
    const double requestEnd = finiteDoubleValue(request, "end", requestStart);
    double first = std::numeric_limits<double>::infinity();
    double last = -std::numeric_limits<double>::infinity();
    for (const Json& block : blocks) {
        const double start = finiteDoubleValue(block, "startTime", requestStart);
        const double duration = std::max(finiteDoubleValue(block, "duration", 0), 0.0);
        first = std::min(first, start);
        last = std::max(last, start + duration);
    }
    return {std::max(first, requestStart), std::min(last, requestEnd)};
}

// Any thread. `weak` was taken while the engine (and so this component) lived.
void SmartDelivery::onMain(const std::weak_ptr<EngineContext>& weak, std::function<void()> work) {
    auto engine = weak.lock();
    if (!engine) return;
    engine->mainQueue().post([weak, work = std::move(work)] {
        if (weak.lock()) work();
    });
}

// Main thread.
void SmartDelivery::startResolveSmartExport(const Json& params) {
    if (steps_.isRendering() || smartResolveActive_) return;
    resetSmartResolveContext();
    smartResolveActive_ = true;
    steps_.restartMetrics();
    Json request = params.is_object() ? params : Json::object();
    steps_.readTimelineFacts([this, weak = engine_.weakContext(), request](Result<Json> facts) mutable {
        // Runner's thread: the plan is made on the main thread.
        onMain(weak, [this, request = std::move(request), facts = std::move(facts)]() mutable {
            planRoutes(std::move(request), std::move(facts));
        });
    });
}

void SmartDelivery::planRoutes(Json params, Result<Json> facts) {
    if (!facts.ok()) {
        finishSmartResolveFailure("Impossible de lire la timeline DaVinci : " + facts.error().message);
        return;
    }
    const Json& result = facts.value();
    if (!boolValue(result, "success", false)) {
        finishSmartResolveFailure(
            stringValue(member(result, "message"), "DaVinci n'a pas renvoyé les informations de timeline."));
        return;
    }
    fps_ = normalizedFrameRate(member(result, "fps"), 30.0);
    params["fps"] = fps_;
    smartResolveTimelineWidth_ = intValue(result, "width", 0);
    smartResolveTimelineHeight_ = intValue(result, "height", 0);

    const Json* sequences = member(params, "sequences");
    if (!isListOfObjects(sequences) || sequences->empty()) {
        finishSmartResolveFailure("Aucun sous-titre visible à exporter.");
        return;
    }
    Json direct = Json::array();
    Json exact = Json::array();
    for (const Json& block : *sequences) (isLottieCapable(block) ? direct : exact).push_back(block);
    smartResolveDirectCount_ = static_cast<std::int64_t>(direct.size());
    smartResolveExactCount_ = static_cast<std::int64_t>(exact.size());
    runSmartResolveRoutes(std::move(params), std::move(direct), std::move(exact));
}

void SmartDelivery::runSmartResolveRoutes(Json params, Json directSequences, Json exactSequences) {
    if (directSequences.empty()) {
        startSmartExactRender(params, exactSequences);
        return;
    }
    // Sound effects go with the Lottie clips only when no block needs Exact
    // Web; otherwise the Exact Web insertion carries them.
    Json sfxEvents = Json::array();
    const Json* events = member(params, "sfxEvents");
    if (exactSequences.empty() && isListOfObjects(events)) sfxEvents = *events;
    Json lottieRequest = params;
    const std::size_t directBlocks = directSequences.size();
    lottieRequest["sequences"] = std::move(directSequences);

    auto weak = engine_.weakContext();
    engine_.exportQueue().post([this, weak, lottieRequest = std::move(lottieRequest), sfxEvents = std::move(sfxEvents),
                                params = std::move(params), exactSequences = std::move(exactSequences),
                                directBlocks]() mutable {
        // Export queue: the archives are written here.
        if (!weak.lock()) return;
        steps_.runLottie(lottieRequest, sfxEvents,
                         [this, weak, params = std::move(params), exactSequences = std::move(exactSequences),
                          directBlocks](Result<Json> outcome) mutable {
                             // Runner's thread.
                             onMain(weak, [this, params = std::move(params), exactSequences = std::move(exactSequences),
                                     directBlocks, outcome = std::move(outcome)]() mutable {
                                 lottieAnswered(std::move(params), std::move(exactSequences), directBlocks,
                                                std::move(outcome));
                             });
                         });
    });
}

void SmartDelivery::lottieAnswered(Json params, Json exactSequences, std::size_t directBlocks, Result<Json> outcome) {
    if (!outcome.ok()) {
        fallbackSmartDirectToExact(params, outcome.error().message);
        return;
    }
    Json result = std::move(outcome).value();
    if (!result.is_object() || !boolValue(result, "success", false)) {
        fallbackSmartDirectToExact(params, stringValue(member(result, "message"), kLottieRefused));
        return;
    }
    smartResolveDirectCount_ = intValue(result, "clipCount", static_cast<std::int64_t>(directBlocks));
    if (exactSequences.empty()) finishSmartResolveDirect(std::move(result));
    else startSmartExactRender(params, exactSequences);
}

void SmartDelivery::fallbackSmartDirectToExact(const Json& params, const std::string& message) {
    smartResolveWarnings_.push_back(kFallbackPrefix + message);
    const Json& all = *member(params, "sequences");
    smartResolveDirectCount_ = 0;
    smartResolveExactCount_ = static_cast<std::int64_t>(all.size());
    startSmartExactRender(params, all);
}

void SmartDelivery::startSmartExactRender(const Json& params, const Json& sequences) {
    if (sequences.empty()) {
        finishSmartResolveFailure("Aucun bloc n'a pu être routé vers DaVinci.");
        return;
    }
    const ExactRange range = smartExactRange(params, sequences);
    if (!(range.start < range.end)) {
        finishSmartResolveFailure("La plage Exact Web est vide.");
        return;
    }
    Json request = params;
    request["start"] = range.start;
    request["end"] = range.end;
    request["sequences"] = sequences;
    request["format"] = "mov";
    request["bg"] = "transparent";
    request["encoding"] = "auto";
    request["renderer"] = "web";
    request["splitBySubtitles"] = true;
    if (!isListOfObjects(member(request, "sfxEvents"))) request["sfxEvents"] = Json::array();
    steps_.runExactWeb(request, [this, weak = engine_.weakContext()](ExactWebOutcome outcome) {
        // Whatever thread the insertion answered on.
        onMain(weak, [this, outcome = std::move(outcome)]() mutable { finishSmartExact(std::move(outcome)); });
    });
}

void SmartDelivery::finishSmartExact(ExactWebOutcome outcome) {
    const std::int64_t direct = smartResolveDirectCount_;
    const std::int64_t planned = smartResolveExactCount_;
    Json payload;
    if (!outcome.result.ok()) {
        payload = Json{{"success", false}, {"message", outcome.result.error().message}, {"filePath", outcome.filePath}};
        payload["directCount"] = direct;
        payload["exactCount"] = 0;
        payload["createdClipCount"] = direct;
        payload["plannedExactCount"] = planned;
        payload["fps"] = fps_;
        payload["codec"] = steps_.codecName();
        payload["metrics"] = steps_.metricsPayload();
        if (direct > 0) payload["warning"] = kDirectPresentRunFailed;
    } else {
        payload = std::move(outcome.result).value();
        if (!payload.is_object()) payload = Json{{"success", false}};
        const bool success = boolValue(payload, "success", false);
        const std::int64_t exact = success ? intValue(payload, "clipCount", planned) : 0;
        payload["directCount"] = direct;
        payload["exactCount"] = exact;
        payload["createdClipCount"] = direct + exact;
        payload["plannedExactCount"] = planned;
        payload["fps"] = fps_;
        payload["codec"] = steps_.codecName();
        payload["timelineWidth"] = smartResolveTimelineWidth_;
        payload["timelineHeight"] = smartResolveTimelineHeight_;
        payload["metrics"] = steps_.metricsPayload();
        if (success) payload["message"] = kSmartSuccess;
        else if (direct >= 1) smartResolveWarnings_.push_back(kDirectPresentInsertFailed);
        std::vector<std::string> warnings{stringValue(member(payload, "warning"), "")};
        warnings.insert(warnings.end(), smartResolveWarnings_.begin(), smartResolveWarnings_.end());
        if (const std::string joined = joinLines(warnings); !joined.empty()) payload["warning"] = joined;
    }
    engine_.callWebFunction(kCallback, payload);
    resetSmartResolveContext();
}

void SmartDelivery::finishSmartResolveDirect(Json payload) {
    payload["success"] = true;
    payload["message"] = kDirectSuccess;
    payload["directCount"] = smartResolveDirectCount_;
    payload["exactCount"] = 0;
    payload["createdClipCount"] = smartResolveDirectCount_;
    payload["fps"] = fps_;
    payload["codec"] = "Sans encodage";
    payload["timelineWidth"] = smartResolveTimelineWidth_;
    payload["timelineHeight"] = smartResolveTimelineHeight_;
    payload["metrics"] = steps_.metricsPayload();
    if (!smartResolveWarnings_.empty()) payload["warning"] = joinLines(smartResolveWarnings_);
    engine_.callWebFunction(kCallback, payload);
    resetSmartResolveContext();
}

void SmartDelivery::finishSmartResolveFailure(const std::string& message) {
    engine_.callWebFunction(kCallback, Json{{"success", false}, {"message", message}});
    resetSmartResolveContext();
}

void SmartDelivery::resetSmartResolveContext() {
    smartResolveActive_ = false;
    smartResolveDirectCount_ = 0;
    smartResolveExactCount_ = 0;
    smartResolveTimelineWidth_ = 0;
    smartResolveTimelineHeight_ = 0;
    smartResolveWarnings_.clear();
}

}  // namespace tessivo
