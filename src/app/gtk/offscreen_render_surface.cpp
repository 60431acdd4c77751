#include "app/gtk/offscreen_render_surface.h"

#include "app/gtk/resource_scheme.h"
#include "app/gtk/web_view_host.h"
#include "platform/log.h"

#include <cairo.h>

#include <memory>
#include <utility>

namespace tessivo {

namespace fs = std::filesystem;

namespace {

// What an asynchronous WebKit call carries to its callback: the caller's
// completion and the surface's cancellable, which tells whether the surface
// is still there.
template <typename Done>
struct PendingCall {
    Done done;
    GObjectPtr<GCancellable> cancellable;
};

// Copies a surface that is not an ARGB32 image into one, so that the frame
// drawing can read its pixels.
SnapshotImage imageSurfaceFrom(cairo_surface_t* owned) {
    SnapshotImage image(owned, cairo_surface_destroy);
    if (cairo_surface_get_type(owned) == CAIRO_SURFACE_TYPE_IMAGE &&
        cairo_image_surface_get_format(owned) == CAIRO_FORMAT_ARGB32)
        return image;
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    cairo_t* probe = cairo_create(owned);
    cairo_clip_extents(probe, &x1, &y1, &x2, &y2);
    cairo_destroy(probe);
    const int width = static_cast<int>(x2 - x1);
    const int height = static_cast<int>(y2 - y1);
    if (width <= 0 || height <= 0) return nullptr;
    SnapshotImage copy(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height), cairo_surface_destroy);
    cairo_t* cr = cairo_create(copy.get());
    cairo_set_source_surface(cr, owned, -x1, -y1);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(copy.get());
    return copy;
}

// The widgets of a surface, destroyed from an idle callback: a surface may be
// let go from inside one of WebKit's own callbacks, which must not see its
// view disposed under it.
struct RetiredWidgets {
    GObjectPtr<GtkWindow> window;
    GObjectPtr<WebKitWebView> webView;
    GObjectPtr<WebKitUserContentManager> contentManager;
};

gboolean destroyRetiredWidgets(gpointer data) {
    std::unique_ptr<RetiredWidgets> retired(static_cast<RetiredWidgets*>(data));
    if (retired->window) gtk_widget_destroy(GTK_WIDGET(retired->window.get()));
    return G_SOURCE_REMOVE;
}

}  // namespace

// ---- RenderMessageHandler ----

RenderMessageHandler::RenderMessageHandler(WebKitUserContentManager* manager, RenderMessageReceiver receiver)
    : manager_(retainGObject(manager)), receiver_(std::move(receiver)) {
    // Connected before registering, so that no message arrives unheard.
    signal_ = g_signal_connect(manager_.get(), "script-message-received::exportEngine",
                               G_CALLBACK(onScriptMessage), this);
    registered_ = webkit_user_content_manager_register_script_message_handler(manager_.get(), kMessageHandlerName);
    if (!registered_) logLine("Canal de messages \"exportEngine\" de la page de rendu non enregistré");
}

RenderMessageHandler::~RenderMessageHandler() {
    remove();
    if (signal_) g_signal_handler_disconnect(manager_.get(), signal_);
}

void RenderMessageHandler::remove() {
    if (!registered_) return;
    registered_ = false;
    webkit_user_content_manager_unregister_script_message_handler(manager_.get(), kMessageHandlerName);
}

void RenderMessageHandler::onScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer self) {
    auto* handler = static_cast<RenderMessageHandler*>(self);
    if (!handler->registered_ || !handler->receiver_) return;
    JSCValue* value = webkit_javascript_result_get_js_value(result);  // owned by `result`
    GUniquePtr<gchar> json(value ? jsc_value_to_json(value, 0) : nullptr);
    if (!json) return;
    if (auto envelope = envelopeFromBody(json.get())) handler->receiver_(*envelope);
}

// ---- OffscreenRenderSurface ----

OffscreenRenderSurface::OffscreenRenderSurface(int width, int height, RenderMessageReceiver receiver) {
    contentManager_ = adoptGObject(webkit_user_content_manager_new());
    webView_ = adoptGObject(WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(contentManager_.get())));
    messageHandler_ = std::make_unique<RenderMessageHandler>(contentManager_.get(), std::move(receiver));
    // The render page is the editor's page loaded a second time: this flag,
    // set before any of its scripts runs, keeps the editor from starting
    // there (no project storage, no messages of its own to the engine).
    std::unique_ptr<WebKitUserScript, decltype(&webkit_user_script_unref)> renderFlag(webkit_user_script_new(
        "window.tessivoRenderMode = true;", WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr),
        webkit_user_script_unref);
    webkit_user_content_manager_add_script(contentManager_.get(), renderFlag.get());
    cancellable_ = adoptGObject(g_cancellable_new());

    // The page's own transparency is what the movie's alpha records.
    const GdkRGBA clear{0, 0, 0, 0};
    webkit_web_view_set_background_color(webView_.get(), &clear);

    WebKitSettings* settings = webkit_web_view_get_settings(webView_.get());  // not owned
    denyFileAccess(settings);
    // Snapshots of an offscreen view are several times faster painted in software.
    webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);

    // GTK keeps a toplevel alive until it is destroyed; this reference is ours.
    window_ = retainGObject(GTK_WINDOW(gtk_offscreen_window_new()));
    gtk_window_set_default_size(window_.get(), width, height);
    gtk_widget_set_size_request(GTK_WIDGET(webView_.get()), width, height);
    gtk_container_add(GTK_CONTAINER(window_.get()), GTK_WIDGET(webView_.get()));
    gtk_widget_show_all(GTK_WIDGET(window_.get()));
}

OffscreenRenderSurface::~OffscreenRenderSurface() {
    g_cancellable_cancel(cancellable_.get());
    messageHandler_.reset();
    webkit_web_view_stop_loading(webView_.get());
    auto* retired = new RetiredWidgets{std::move(window_), std::move(webView_), std::move(contentManager_)};
    g_idle_add(destroyRetiredWidgets, retired);
}

bool OffscreenRenderSurface::loadPage(const fs::path& page) {
    // The resource scheme gives the page its folder's scripts, styles and fonts.
    return loadServedPage(webView_.get(), page);
}

void OffscreenRenderSurface::evaluateScript(const std::string& script, std::function<void(ScriptResult)> done) {
    using Call = PendingCall<std::function<void(ScriptResult)>>;
    auto* call = new Call{std::move(done), retainGObject(cancellable_.get())};
    webkit_web_view_evaluate_javascript(
        webView_.get(), script.data(), static_cast<gssize>(script.size()), nullptr, nullptr, cancellable_.get(),
        +[](GObject* source, GAsyncResult* asyncResult, gpointer data) {
            std::unique_ptr<Call> call(static_cast<Call*>(data));
            GErrorOut error;
            GObjectPtr<JSCValue> value =
                adoptGObject(webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), asyncResult, error.out()));
            if (g_cancellable_is_cancelled(call->cancellable.get())) return;
            ScriptResult result;
            if (!value) {
                result.error = error.message();
            } else {
                GUniquePtr<gchar> json(jsc_value_to_json(value.get(), 0));
                if (json) result.value = parseJson(json.get());
            }
            call->done(std::move(result));
        },
        call);
}

void OffscreenRenderSurface::evaluateScript(const std::string& script) {
    webkit_web_view_evaluate_javascript(webView_.get(), script.data(), static_cast<gssize>(script.size()), nullptr,
                                        nullptr, nullptr, nullptr, nullptr);
}

void OffscreenRenderSurface::takeSnapshot(std::function<void(SnapshotImage, std::string)> done) {
    using Call = PendingCall<std::function<void(SnapshotImage, std::string)>>;
    auto* call = new Call{std::move(done), retainGObject(cancellable_.get())};
    webkit_web_view_get_snapshot(
        webView_.get(), WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_TRANSPARENT_BACKGROUND,
        cancellable_.get(),
        +[](GObject* source, GAsyncResult* asyncResult, gpointer data) {
            std::unique_ptr<Call> call(static_cast<Call*>(data));
            GErrorOut error;
            cairo_surface_t* surface =
                webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), asyncResult, error.out());
            SnapshotImage image = surface ? imageSurfaceFrom(surface) : nullptr;
            if (g_cancellable_is_cancelled(call->cancellable.get())) return;
            call->done(std::move(image), error.message());
        },
        call);
}

void OffscreenRenderSurface::removeMessageHandler() {
    if (messageHandler_) messageHandler_->remove();
}

bool offscreenDisplayAvailable() {
    // Once per process: GTK cannot be initialised again after a failure.
    static const bool displayAvailable = gtk_init_check(nullptr, nullptr);
    return displayAvailable;
}

RenderSurfaceFactory offscreenRenderSurfaceFactory() {
    return [](int width, int height, RenderMessageReceiver receiver) -> std::unique_ptr<RenderSurface> {
        if (!offscreenDisplayAvailable()) return nullptr;
        return std::make_unique<OffscreenRenderSurface>(width, height, std::move(receiver));
    };
}

}  // namespace tessivo
