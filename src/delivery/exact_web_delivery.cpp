#include "delivery/exact_web_delivery.h"

#include "bridge/coercion.h"
#include "delivery/export_support.h"
#include "delivery/sfx_files.h"
#include "engine_api/engine_context.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "render/render_job.h"
#include "resolve/python_runner.h"

#include <algorithm>
#include <cstdio>

extern const char kExactWebInsertScript[];

namespace fs = std::filesystem;

namespace tessivo {

namespace {

constexpr const char* kCallback = "window.onResolveExportComplete";

const Json* numberMember(const Json& object, std::string_view key) {
    const Json* value = member(object, key);
    return value && value->is_number() ? value : nullptr;
}

std::string compact(const Json& list) { return serializeJson(list).value_or("[]"); }

}  // namespace

// What one request carries from its start to its answer.
struct ExactWebDelivery::Request {
    fs::path url;
    double startTime = 0;
    std::vector<ClipSegment> segments;
    bool split = false;
    Json sfxEvents = Json::array();
    std::string renderNote;  // said with the answer's warning
    Answer answer;           // empty: the page hears the answer
};

std::string exactWebInsertScript() { return std::string(placementFunctionsScript()) + kExactWebInsertScript; }

std::vector<ClipSegment> makeResolveClipSegments(const Json& params) {
    std::vector<ClipSegment> segments;
    const Json* startValue = numberMember(params, "start");
    const double start = startValue ? startValue->get<double>() : 0;
    const Json* endValue = numberMember(params, "end");
    const double end = endValue ? endValue->get<double>() : start;
    const Json* sequences = member(params, "sequences");
    if (!sequences || !sequences->is_array()) return segments;
    for (const Json& block : *sequences) {
        if (!block.is_object()) continue;
        const Json* s = numberMember(block, "startTime");
        const Json* d = numberMember(block, "duration");
        const double blockStart = s ? s->get<double>() : 0;
        const double blockEnd = blockStart + (d ? d->get<double>() : 0);
        const double clippedStart = std::max(blockStart, start);
        const double clippedEnd = std::min(blockEnd, end);
        if (!(clippedStart < clippedEnd)) continue;
        const Json* id = member(block, "id");
        const Json* text = member(block, "text");
        segments.push_back(ClipSegment{id && id->is_string() ? id->get<std::string>() : makeUUID(),
                                       text && text->is_string() ? text->get<std::string>() : std::string(),
                                       clippedStart, clippedEnd, intValue(block, "trackId", 0)});
    }
    std::stable_sort(segments.begin(), segments.end(), [](const ClipSegment& a, const ClipSegment& b) {
        return a.start != b.start ? a.start < b.start : a.trackId < b.trackId;
    });
    return segments;
}

namespace {

// "Tessivo_DaVinci_<seconds>.<format>" in `folder`; when an earlier export of
// the same second left its movie there, "<seconds>-2", "-3"... so that an
// export never overwrites the movie or the segments another one is still
// inserting (a new export starts only once the previous render is complete).
fs::path freshRenderPath(const fs::path& folder, const std::string& format) {
    const std::string stem = "Tessivo_DaVinci_" + std::to_string(secondsSince1970());
    std::error_code code;
    for (int n = 1;; ++n) {
        const std::string name = n == 1 ? stem : stem + "-" + std::to_string(n);
        const fs::path path = folder / (name + "." + format);
        if (!fs::exists(path, code)) return path;
    }
}

}  // namespace

fs::path makeResolveRenderURL(const std::string& format, const fs::path& moviesFolder) {
    if (moviesFolder.empty()) return freshRenderPath(temporaryDirectory(), format);
    const fs::path folder = moviesFolder / "Tessivo" / "DaVinci";
    std::error_code code;
    fs::create_directories(folder, code);
    if (code) {
        logLine("Impossible de creer le dossier Movies/Tessivo: " + code.message());
        return freshRenderPath(temporaryDirectory(), format);
    }
    return freshRenderPath(folder, format);
}

std::vector<std::string> resolveInsertArguments(const fs::path& render, double startTime,
                                                const std::vector<ClipSegment>& segments, bool split,
                                                const std::vector<SegmentFile>& segmentFiles, const Json& sfxFiles) {
    char start[64];
    std::snprintf(start, sizeof start, "%.6f", startTime);
    return {render.string(), start, compact(clipSegmentRecords(segments)), split ? "1" : "0",
            compact(segmentFileRecords(segmentFiles)), compact(sfxFiles)};
}

ExactWebDelivery::ExactWebDelivery(EngineContext& engine, RenderJob& renderJob) : engine_(engine), renderJob_(renderJob) {}
ExactWebDelivery::~ExactWebDelivery() = default;

// No movie came out of the render of an export made for another operation.
constexpr std::int64_t kRenderEndedError = -43;

void ExactWebDelivery::startExportToResolve(const Json& params) { startExactExport(params, {}); }

void ExactWebDelivery::startExactExport(const Json& params, Answer answer) {
    if (renderJob_.isRendering()) {
        if (answer) answer(Error{"Tessivo", kRenderEndedError, "Un rendu est déjà en cours."}, std::string());
        return;
    }
    Json request = params.is_object() ? params : Json::object();
    const Json* bg = member(request, "bg");
    const std::string background = bg && bg->is_string() ? bg->get<std::string>() : "transparent";
    const std::string format = background == "transparent" ? "mov" : "mp4";
    request["format"] = format;

    auto state = std::make_shared<Request>();
    state->answer = std::move(answer);
    state->url = makeResolveRenderURL(format, moviesDirectory());
    const Json* start = numberMember(request, "start");
    state->startTime = start ? start->get<double>() : 0;
    state->segments = makeResolveClipSegments(request);
    const Json* split = member(request, "splitBySubtitles");
    state->split = split && split->is_boolean() && split->get<bool>();
    const Json* sfx = member(request, "sfxEvents");
    if (sfx && sfx->is_array()) {
        for (const Json& event : *sfx)
            if (event.is_object()) state->sfxEvents.push_back(event);
    }

    // Without a display no render page can load: the native renderer draws
    // the captions instead, and the answer says so.
    const Json* renderer = member(request, "renderer");
    const bool native = renderer && renderer->is_string() && renderer->get<std::string>() == "native";
    if (!native && !engine_.renderSurfaceFactory()) {
        request["renderer"] = "native";
        state->renderNote = kHeadlessRenderWarning;
    }

    RenderDelivery delivery;
    if (state->split && !state->segments.empty()) {
        delivery.keyFrames = [segments = state->segments, startTime = state->startTime](double fps,
                                                                                        std::int64_t total) {
            return segmentKeyFrames(segments, startTime, fps, total);
        };
    }
    auto weak = engine_.weakContext();
    delivery.finished = [this, weak, state](const fs::path&) {
        if (weak.lock()) insertRenderedFileIntoResolve(state);
    };
    if (state->answer) {
        delivery.ended = [state](const std::string& reason) {
            const std::string text = "Le rendu Exact Web s'est arrêté avant la fin" + (reason.empty() ? "." : " : " + reason);
            state->answer(Error{"Tessivo", kRenderEndedError, text}, state->url.string());
        };
    }
    renderJob_.executeExport(state->url, request, std::move(delivery));
}

// Main thread.
void ExactWebDelivery::insertRenderedFileIntoResolve(std::shared_ptr<Request> request) {
    if (!request->split || request->segments.empty()) {
        runResolveInsert(std::move(request), {}, {});
        return;
    }
    auto weak = engine_.weakContext();
    // Cutting reads and writes files: on the export queue.
    engine_.exportQueue().post([this, weak, request] {
        if (!weak.lock()) return;
        auto files = createResolveSegmentFiles(request->url, request->segments, request->startTime);
        if (files.ok()) {
            runResolveInsert(request, std::move(files).value(), {});
        } else {
            logLine("Découpe impossible: " + files.error().message);
            runResolveInsert(request, {}, "Découpe impossible: " + files.error().message);
        }
    });
}

// Any thread.
void ExactWebDelivery::runResolveInsert(std::shared_ptr<Request> request, std::vector<SegmentFile> segmentFiles,
                                        std::string fallbackMessage) {
    const bool split = !segmentFiles.empty();
    const Json sfxFiles = sfxFileRecords(makeResolveSFXFiles(request->sfxEvents));
    auto arguments = resolveInsertArguments(request->url, request->startTime, request->segments, split,
                                            segmentFiles, sfxFiles);
    auto weak = engine_.weakContext();
    engine_.runner().runResolvePython(
        exactWebInsertScript(), std::move(arguments), kInsertTimeLimitSeconds,
        [weak, request, fallbackMessage = std::move(fallbackMessage)](Result<Json> outcome) {
            auto engine = weak.lock();
            if (!engine) return;
            if (outcome.ok()) {
                Json& result = outcome.value();
                if (!fallbackMessage.empty() && result.is_object()) result["warning"] = fallbackMessage;
                if (!request->renderNote.empty() && result.is_object()) {
                    const Json* warning = member(result, "warning");
                    std::string text = warning && warning->is_string() ? warning->get<std::string>() : std::string();
                    result["warning"] = text.empty() ? request->renderNote : text + "\n" + request->renderNote;
                }
            }
            if (request->answer) {
                request->answer(std::move(outcome), request->url.string());
                return;
            }
            Json payload;
            if (!outcome.ok()) {
                payload = Json{{"success", false}, {"message", outcome.error().message},
                               {"filePath", request->url.string()}};
            } else {
                payload = std::move(outcome).value();
            }
            if (!request->renderNote.empty() && !outcome.ok()) {
                const Json* warning = member(payload, "warning");
                std::string text = warning && warning->is_string() ? warning->get<std::string>() : std::string();
                payload["warning"] = text.empty() ? request->renderNote : text + "\n" + request->renderNote;
            }
            engine->fusionCallback(kCallback, std::move(payload));
        });
}

}  // namespace tessivo
