// The render surface on WebKitGTK: the editor's page in a web view of exactly
// the render size, inside a GtkOffscreenWindow that is never shown on screen.
// The view has its own user content manager with the "exportEngine" channel,
// a transparent background and software painting (markedly faster for
// snapshots than the accelerated path of an offscreen window).
#pragma once

#include "engine_api/views.h"
#include "platform/glib_ptr.h"

#include <webkit2/webkit2.h>

#include <memory>

namespace tessivo {

// The render page's script message handler: object bodies go to the receiver
// as envelopes, anything else is dropped.
class RenderMessageHandler {
public:
    RenderMessageHandler(WebKitUserContentManager* manager, RenderMessageReceiver receiver);
    ~RenderMessageHandler();
    RenderMessageHandler(const RenderMessageHandler&) = delete;
    RenderMessageHandler& operator=(const RenderMessageHandler&) = delete;

    // Safe to call more than once.
    void remove();
    bool registered() const { return registered_; }

private:
    static void onScriptMessage(WebKitUserContentManager* manager, WebKitJavascriptResult* result, gpointer self);

    GObjectPtr<WebKitUserContentManager> manager_;
    RenderMessageReceiver receiver_;
    gulong signal_ = 0;
    bool registered_ = false;
};

class OffscreenRenderSurface final : public RenderSurface {
public:
    // Main thread; GTK must be initialised.
    OffscreenRenderSurface(int width, int height, RenderMessageReceiver receiver);
    ~OffscreenRenderSurface() override;
    OffscreenRenderSurface(const OffscreenRenderSurface&) = delete;
    OffscreenRenderSurface& operator=(const OffscreenRenderSurface&) = delete;

    bool loadPage(const std::filesystem::path& page) override;
    void evaluateScript(const std::string& script, std::function<void(ScriptResult)> done) override;
    void evaluateScript(const std::string& script) override;
    void takeSnapshot(std::function<void(SnapshotImage image, std::string error)> done) override;
    void removeMessageHandler() override;

    WebKitWebView* webView() const { return webView_.get(); }
    GtkWindow* window() const { return window_.get(); }

private:
    GObjectPtr<WebKitUserContentManager> contentManager_;
    GObjectPtr<WebKitWebView> webView_;
    GObjectPtr<GtkWindow> window_;
    // Cancelled when the surface goes: answers still on their way are dropped.
    GObjectPtr<GCancellable> cancellable_;
    std::unique_ptr<RenderMessageHandler> messageHandler_;
};

// The factory the engine offers to render jobs. GTK is initialised on first
// use; without a display the factory makes nothing.
RenderSurfaceFactory offscreenRenderSurfaceFactory();
// Main thread. Whether a display can host render pages (initialises GTK once).
bool offscreenDisplayAvailable();

}  // namespace tessivo
