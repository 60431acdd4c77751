#include "library/shared_library.h"

#include "bridge/coercion.h"
#include "engine_api/engine_context.h"
#include "library/preview_frames.h"
#include "platform/files.h"
#include "resolve/python_runner.h"

#include <glib.h>

#include <system_error>

namespace tessivo {

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgressCallback = "window.onFusionSharedLibraryProgress";
constexpr const char* kResultCallback = "window.onFusionSharedLibraryResult";
constexpr const char* kMissingModule = "raise RuntimeError('Module bibliothèque absent.')";

void call(const std::function<void()>& hook) {
    if (hook) hook();
}

// The frames a preview run lists (as a one-effect "preview" operation does).
void shrinkFrames(const Json& result) {
    std::vector<fs::path> frames;
    if (const Json* paths = member(result, "previewFramePaths"); paths && paths->is_array())
        for (const auto& path : *paths)
            if (path.is_string()) frames.emplace_back(path.get<std::string>());
    if (!frames.empty()) optimizeFusionPreviewFrames(frames);
}

}  // namespace

std::string resolveLibraryScript(const fs::path& resourcesFolder) {
    auto text = readFile(resourcesFolder / "resolve_library.py");
    if (!text || !isValidUTF8(*text)) return kMissingModule;
    const std::string folder = resourcesFolder.string();
    gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(folder.data()), folder.size());
    std::string script = "import sys, base64\nsys.path.insert(0, base64.b64decode('" + std::string(encoded) +
                         "').decode('utf-8'))\n";
    g_free(encoded);
    return script + *text;
}

std::string sharedPreviewProgressText(std::size_t index, std::size_t count) {
    return "Aperçu " + std::to_string(index + 1) + "/" + std::to_string(count) + " · calcul dans Resolve\u2026";
}

void SharedLibrary::runSharedLibraryOperation(const std::string& mode, const std::string& effectID) {
    auto weak = engine_.weakContext();
    engine_.exportQueue().post([this, weak, mode, effectID] {
        if (weak.lock()) start(mode, effectID);
    });
}

// Export queue.
void SharedLibrary::start(const std::string& mode, const std::string& effectID) {
    if (busy_.exchange(true)) return;
    call(hooks_.clearPendingSync);
    call(hooks_.stopWatch);

    auto root = store_.fusionLibraryRoot();
    if (!root) return finishSharedLibraryFailure(root.error().message);
    Json request = {{"libraryRoot", root.value().string()}};
    const fs::path seed = resourcesFolder_ / "TessivoNativeSeed.drb";
    std::error_code code;
    if (fs::is_regular_file(seed, code)) request["nativeSeedPath"] = seed.string();
    if (!effectID.empty()) request["id"] = effectID;

    executeSharedLibrary(mode, request, [this, request](Result<Json> outcome) {
        if (!outcome) return finishSharedLibraryFailure(outcome.error().message);
        Json result = std::move(outcome).value();
        if (!boolValue(result, "success", false))
            return finishSharedLibraryFailure(stringValue(result, "message", "Chutier partagé inaccessible."));
        shrinkFrames(result);
        std::vector<std::string> ids;
        if (const Json* list = member(result, "previewIds"); list && list->is_array())
            for (const auto& id : *list)
                if (id.is_string()) ids.push_back(id.get<std::string>());
        renderSharedPreviews(request, std::move(ids), 0, std::move(result));
    });
}

void SharedLibrary::executeSharedLibrary(const std::string& mode, const Json& request,
                                         std::function<void(Result<Json>)> done) {
    auto text = serializeJson(request);
    if (!text) {
        done(Error{kDomainFusion, 0, "La demande du chutier partagé n'a pas pu être préparée."});
        return;
    }
    auto weak = engine_.weakContext();
    engine_.runner().runResolvePython(resolveLibraryScript(resourcesFolder_), {mode, *text}, kTimeLimit,
                                      [weak, done = std::move(done)](Result<Json> outcome) mutable {
        auto engine = weak.lock();
        if (!engine) return;
        engine->exportQueue().post([weak, done = std::move(done), outcome = std::move(outcome)]() mutable {
            if (weak.lock()) done(std::move(outcome));
        });
    });
}

// Export queue. One preview run after the other; a failed one is a warning.
void SharedLibrary::renderSharedPreviews(Json request, std::vector<std::string> ids, std::size_t index, Json result) {
    if (index >= ids.size()) return finishSharedLibrarySuccess(std::move(result));
    request["id"] = ids[index];
    engine_.fusionCallback(kProgressCallback, Json{{"message", sharedPreviewProgressText(index, ids.size())}});
    executeSharedLibrary("preview", request, [this, request, ids, index, result](Result<Json> outcome) mutable {
        Json done = Json::object();
        if (!outcome) {
            engine_.fusionCallback(kProgressCallback, Json{{"message", outcome.error().message}, {"warning", true}});
        } else if (!boolValue(outcome.value(), "success", false)) {
            engine_.fusionCallback(
                kProgressCallback,
                Json{{"message", stringValue(outcome.value(), "message", "Un aperçu n\u2019a pas pu être calculé.")},
                     {"warning", true}});
        } else {
            done = std::move(outcome).value();
        }
        // The next run starts first: these frames are shrunk here while Resolve
        // computes the next preview. The last ones are shrunk before the
        // library is reloaded.
        const bool last = index + 1 >= ids.size();
        if (last) shrinkFrames(done);
        renderSharedPreviews(std::move(request), std::move(ids), index + 1, std::move(result));
        if (!last) shrinkFrames(done);
    });
}

// Export queue.
void SharedLibrary::finishSharedLibrarySuccess(Json result) {
    busy_ = false;
    call(reloadLibrary_);
    engine_.fusionCallback(kResultCallback, std::move(result));
    call(hooks_.startWatch);
}

// Export queue.
void SharedLibrary::finishSharedLibraryFailure(const std::string& message) {
    busy_ = false;
    engine_.fusionCallback(kResultCallback, Json{{"success", false}, {"message", message}});
    call(hooks_.startWatch);
}

}  // namespace tessivo
