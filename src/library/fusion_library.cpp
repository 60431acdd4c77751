#include "library/fusion_library.h"

#include "bridge/coercion.h"
#include "engine_api/engine_context.h"
#include "platform/files.h"
#include "resolve/python_runner.h"

#include <system_error>

extern const char kApplySelectedTitleScript[];

namespace tessivo {

namespace fs = std::filesystem;

namespace {

constexpr const char* kInsertedCallback = "window.onFusionEffectInserted";
constexpr const char* kLiveCallback = "window.onFusionLiveResult";
constexpr const char* kMissingComfort = "raise RuntimeError('Le module Resolve de Tessivo est introuvable.')";

}  // namespace

std::string resolveComfortScript(const fs::path& resourcesFolder) {
    auto text = readFile(resourcesFolder / "resolve_comfort.py");
    if (!text || !isValidUTF8(*text)) return kMissingComfort;
    return *text;
}

const char* applySelectedTitleScript() { return kApplySelectedTitleScript; }

FusionEffectLibrary::FusionEffectLibrary(EngineContext& engine, fs::path dataFolder, fs::path resourcesFolder)
    : engine_(engine), store_(std::move(dataFolder), resourcesFolder), resourcesFolder_(std::move(resourcesFolder)) {}

void FusionEffectLibrary::loadFusionEffectLibrary() {
    auto lists = store_.fusionEffectLists();
    if (!lists) {
        engine_.fusionCallback("window.onFusionLibraryLoaded",
                               Json{{"success", false}, {"effects", Json::array()}, {"error", lists.error().message}});
        return;
    }
    auto& [visible, all] = lists.value();
    engine_.fusionCallback("window.onFusionLibraryLoaded",
                           Json{{"success", true}, {"effects", std::move(visible)}, {"renderEffects", std::move(all)}});
}

std::string FusionEffectLibrary::nativeSeedPath() const {
    const fs::path seed = resourcesFolder_ / "TessivoNativeSeed.drb";
    std::error_code code;
    return fs::is_regular_file(seed, code) ? seed.string() : std::string();
}

void FusionEffectLibrary::insertFusionEffect(const Json& payload) {
    InsertionRequest request;
    request.payload = payload;
    request.isLive = boolValue(payload, "isLive", false);
    request.requestId = stringValue(member(payload, "requestId"), makeUUID());
    request.originFloating = boolValue(payload, "originFloating", false);
    const std::string callback = request.isLive ? kLiveCallback : kInsertedCallback;
    auto weak = engine_.weakContext();
    engine_.exportQueue().post([this, weak, request = std::move(request), callback] {
        if (auto engine = weak.lock()) runInsertion(request, callback);
    });
}

void FusionEffectLibrary::failInsertion(const InsertionRequest& request, const std::string& callback,
                                        const std::string& message) {
    if (request.originFloating && paletteStatus_) {
        auto weak = engine_.weakContext();
        engine_.mainQueue().post([this, weak, message] {
            if (auto engine = weak.lock()) paletteStatus_(message);
        });
    }
    engine_.fusionCallback(callback, Json{{"requestId", request.requestId}, {"success", false}, {"error", message}});
}

// Export queue.
void FusionEffectLibrary::runInsertion(const InsertionRequest& request, const std::string& callback) {
    auto root = store_.fusionLibraryRoot();
    if (!root) return failInsertion(request, callback, root.error().message);
    auto id = validatedFusionEffectID(member(request.payload, "id"));
    if (!id) return failInsertion(request, callback, id.error().message);
    auto metadata = store_.readFusionMetadata(id.value(), root.value());
    if (!metadata) return failInsertion(request, callback, metadata.error().message);
    auto templatePath = checkedFusionTemplate(store_, id.value(), metadata.value(), root.value(), kLibraryInsertTemplateMissing);
    if (!templatePath) return failInsertion(request, callback, templatePath.error().message);

    // Without the seed bin the comfort module creates the title with
    // InsertFusionTitleIntoTimeline("Text+"); only a missing module leaves no way.
    const std::string script = resolveComfortScript(resourcesFolder_);
    if (script == kMissingComfort && nativeSeedPath().empty())
        return failInsertion(request, callback, fusionLibraryError(kLibraryNoNativeTitle).message);
    const Json job = makeFusionInsertionJob(request, id.value(), metadata.value(), templatePath.value(), nativeSeedPath());
    auto text = serializeJson(job);
    if (!text) return failInsertion(request, callback, fusionLibraryError(kLibraryInsertJobText).message);

    auto weak = engine_.weakContext();
    engine_.runner().runResolvePython(script, {"native", *text}, kInsertTimeLimit,
                                      [this, weak, request, callback](Result<Json> outcome) {
        auto engine = weak.lock();
        if (!engine) return;
        if (!outcome) return failInsertion(request, callback, outcome.error().message);
        Json result = std::move(outcome).value();
        if (!result.is_object()) result = Json::object();
        std::string status;
        if (boolValue(result, "success", false)) {
            status = "Inséré sur V" + std::to_string(intValue(result, "trackIndex", 1)) + " à " +
                     stringValue(result, "timecode", "la tête de lecture") + ".";
        } else {
            result["requestId"] = request.requestId;
            result["error"] = stringValue(result, "message", "DaVinci n'a pas pu insérer cet effet.");
            status = result["error"].get<std::string>();
        }
        if (request.originFloating && paletteStatus_) {
            engine->mainQueue().post([this, weak, status] {
                if (auto alive = weak.lock()) paletteStatus_(status);
            });
        }
        engine->fusionCallback(callback, std::move(result));
    });
}

// Export queue.
void FusionEffectLibrary::applyFusionEffectToSelectedTitle(const Json& payload) {
    auto fail = [this](const std::string& message) {
        engine_.fusionCallback(kInsertedCallback, Json{{"success", false}, {"error", message}});
    };
    auto root = store_.fusionLibraryRoot();
    if (!root) return fail(root.error().message);
    auto id = validatedFusionEffectID(member(payload, "id"));
    if (!id) return fail(id.error().message);
    auto metadata = store_.readFusionMetadata(id.value(), root.value());
    if (!metadata) return fail(metadata.error().message);
    auto templatePath = checkedFusionTemplate(store_, id.value(), metadata.value(), root.value(), kLibraryApplyTemplateMissing);
    if (!templatePath) return fail(templatePath.error().message);
    auto text = serializeJson(makeFusionApplyJob(payload, id.value(), metadata.value(), templatePath.value()));
    if (!text) return fail(fusionLibraryError(kLibraryApplyJobText).message);

    auto weak = engine_.weakContext();
    engine_.runner().runResolvePython(kApplySelectedTitleScript, {*text}, kApplyTimeLimit, [weak](Result<Json> outcome) {
        auto engine = weak.lock();
        if (!engine) return;
        if (!outcome) {
            engine->fusionCallback(kInsertedCallback, Json{{"success", false}, {"error", outcome.error().message}});
            return;
        }
        Json result = std::move(outcome).value();
        if (boolValue(result, "success", false)) {
            engine->fusionCallback(kInsertedCallback, std::move(result));
            return;
        }
        engine->fusionCallback(kInsertedCallback,
                               Json{{"success", false},
                                    {"error", stringValue(result, "message",
                                                          "Le titre Text+ sélectionné n'a pas pu être mis à jour.")}});
    });
}

void FusionEffectLibrary::deleteLiveFusionItem(const Json& payload) {
    auto text = serializeJson(payload);
    if (!text) return;
    const std::string requestId = stringValue(payload, "requestId", "");
    auto weak = engine_.weakContext();
    engine_.runner().runResolvePython(resolveComfortScript(resourcesFolder_), {"nativeDelete", *text}, kDeleteTimeLimit,
                                      [weak, requestId](Result<Json> outcome) {
        auto engine = weak.lock();
        if (!engine) return;
        if (outcome) {
            engine->fusionCallback(kLiveCallback, std::move(outcome).value());
        } else {
            engine->fusionCallback(kLiveCallback,
                                   Json{{"success", false}, {"requestId", requestId}, {"error", outcome.error().message}});
        }
    });
}

}  // namespace tessivo
