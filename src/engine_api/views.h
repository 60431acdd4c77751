// The small interfaces behind which the windowing toolkit lives, so that the
// engine and every operation run headless. The GTK program implements them
// with WebKitGTK and GTK; the headless bridge implements them on standard
// input and output.
#pragma once

#include "platform/json.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// Cairo's surface type, declared as cairo.h declares it, so that this header
// needs no Cairo headers.
typedef struct _cairo_surface cairo_surface_t;

namespace tessivo {

// The editor's page in the main window.
class MainWebView {
public:
    virtual ~MainWebView() = default;

    // Main thread. Evaluates `script` in the main page; no result is awaited.
    virtual void evaluateScript(const std::string& script) = 0;

    // Main thread. A web callback: `script` is the complete text to evaluate;
    // `function` and `payloadJSON` are what it carries, for views that record
    // callbacks rather than run them.
    virtual void deliverCallback(const std::string& function, const std::string& payloadJSON,
                                 const std::string& script) {
        (void)function;
        (void)payloadJSON;
        evaluateScript(script);
    }

    // Main thread. Stops delivering the page's messages to the engine.
    virtual void removeMessageHandler() {}

    // Main thread. Makes the window that holds the page fully opaque and lets
    // it receive mouse events again (the end of a live build).
    virtual void endLiveBuildPresentation() {}
};

struct SavePanelRequest {
    std::string title;          // "Enregistrer la video"
    std::string suggestedName;  // "Kinetype_Render.mov"
    std::string format;         // "mov" → QuickTime, anything else MPEG-4
};

// The save panel of a render.
class SavePanel {
public:
    virtual ~SavePanel() = default;
    // Main thread. Calls `done` once on the main thread: the chosen file, or
    // nullopt when the user cancelled.
    virtual void chooseOutputFile(const SavePanelRequest& request,
                                  std::function<void(std::optional<std::filesystem::path>)> done) = 0;
};

// The outcome of a script evaluated in a render surface.
struct ScriptResult {
    // The JSON form of the script's value; nullopt when it has none
    // (undefined, a function) or the evaluation failed.
    std::optional<Json> value;
    // Set when the evaluation failed: the page's exception or the view's error.
    std::optional<std::string> error;
};

// A snapshot of a render surface: a premultiplied ARGB32 image surface of the
// render size. The pointer's deleter releases the surface; it may be handed to
// another thread as long as one thread at a time uses it.
using SnapshotImage = std::shared_ptr<cairo_surface_t>;

// The offscreen page of a render job: the editor's page loaded a second time
// into a web view of exactly the render size, never shown on screen.
class RenderSurface {
public:
    virtual ~RenderSurface() = default;

    // Main thread. Starts loading the page file `page`, with read access to
    // the folder that holds it. False when the load could not be started.
    virtual bool loadPage(const std::filesystem::path& page) = 0;

    // Main thread. Evaluates `script`; `done` is called once on the main
    // thread with the result, unless the surface is destroyed first.
    virtual void evaluateScript(const std::string& script, std::function<void(ScriptResult)> done) = 0;
    // Main thread. Evaluates `script`; its result is not awaited.
    virtual void evaluateScript(const std::string& script) = 0;

    // Main thread. Snapshot of the visible page over a transparent background.
    // `done` is called once on the main thread with the image, or with no
    // image and the error's description (empty when there was neither),
    // unless the surface is destroyed first.
    virtual void takeSnapshot(std::function<void(SnapshotImage image, std::string error)> done) = 0;

    // Main thread. Stops delivering the page's messages. Safe to call twice.
    virtual void removeMessageHandler() = 0;
};

// Messages the render page posts (as envelopes, like the main page's).
using RenderMessageReceiver = std::function<void(const Json& message)>;
// Main thread. Makes a render surface of width × height pixels whose page
// messages go to `receiver`; nullptr when none can be made (no display).
using RenderSurfaceFactory =
    std::function<std::unique_ptr<RenderSurface>(int width, int height, RenderMessageReceiver receiver)>;

}  // namespace tessivo
