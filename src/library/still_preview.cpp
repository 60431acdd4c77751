#include "library/still_preview.h"

#include "bridge/coercion.h"
#include "engine_api/engine_context.h"
#include "library/fusion_library.h"
#include "library/preview_frames.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "resolve/python_runner.h"

#include <glib.h>

namespace tessivo {

namespace fs = std::filesystem;

Json stillPreviewReply(const Json& request, Result<Json> outcome, const fs::path& outputFile) {
    Json reply;
    if (!outcome) {
        reply = Json{{"success", false}, {"message", outcome.error().message}};
    } else {
        reply = std::move(outcome).value();
        if (!reply.is_object()) reply = Json{{"success", reply}};
        const Json* success = member(reply, "success");
        const bool succeeded = success && success->is_boolean() && success->get<bool>();
        if (succeeded && !boolValue(reply, "emptyFrame", false)) {
            auto jpeg = jpegThumbnail(outputFile, StillPreview::kMaxSide, StillPreview::kQuality);
            if (jpeg) {
                gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(jpeg->data()), jpeg->size());
                reply["image"] = std::string("data:image/jpeg;base64,") + encoded;
                g_free(encoded);
            } else {
                reply["success"] = false;
                reply["message"] = "La frame Resolve n\u2019a pas pu être lue.";
            }
        }
    }
    if (const Json* id = member(request, "requestId")) {
        reply["requestId"] = *id;
    } else {
        reply.erase("requestId");
    }
    removeFileQuietly(outputFile);
    return reply;
}

// Main thread.
void StillPreview::exportResolveStillPreview(const Json& payload) {
    if (sharedLibraryBusy_ && sharedLibraryBusy_()) {
        const Json* id = member(payload, "requestId");
        engine_.fusionCallback("window.onResolvePreviewCaptured",
                               Json{{"requestId", id ? *id : Json("")}, {"success", false}, {"stale", true}});
        return;
    }
    if (resolvePreviewInFlight_) return;
    resolvePreviewInFlight_ = true;

    const fs::path output = temporaryDirectory() / ("orvel_davinci_preview_" + makeUUID() + ".jpg");
    Json request = payload.is_object() ? payload : Json::object();
    request["outputPath"] = output.string();
    const std::string text = serializeJson(request).value_or("{}");
    auto weak = engine_.weakContext();
    engine_.runner().runResolvePython(resolveComfortScript(resourcesFolder_), {"preview", text}, kTimeLimit,
                                      [this, weak, request, output](Result<Json> outcome) {
        // Runner's completion thread: the image work happens here.
        Json reply = stillPreviewReply(request, std::move(outcome), output);
        auto engine = weak.lock();
        if (!engine) return;
        engine->mainQueue().post([this, weak, reply = std::move(reply)] {
            auto alive = weak.lock();
            if (!alive) return;
            resolvePreviewInFlight_ = false;
            alive->callWebFunction("window.onResolvePreviewCaptured", reply);
        });
    });
}

}  // namespace tessivo
