#include "app/gtk/web_view_host.h"

#include "app/gtk/paint_mode.h"
#include "app/gtk/resource_scheme.h"
#include "platform/log.h"
#include "platform/paths.h"

#include <system_error>

namespace tessivo {

namespace fs = std::filesystem;

std::optional<fs::path> entryPageIn(const fs::path& resources) {
    std::error_code ec;
    for (const fs::path& candidate : {resources / "web" / "index.html", resources / "index.html"}) {
        if (fs::is_regular_file(candidate, ec)) return candidate;
    }
    return std::nullopt;
}

std::optional<Json> envelopeFromBody(std::string_view bodyJSON) {
    auto value = parseJson(bodyJSON);
    if (!value || !value->is_object()) return std::nullopt;
    return value;
}

WebsiteDataFolders WebsiteDataFolders::forUser() {
    return {applicationSupportDirectory() / "tessivo" / "web", fs::path(g_get_user_cache_dir()) / "tessivo" / "web"};
}

WebsiteDataFolders WebsiteDataFolders::under(const fs::path& root) { return {root / "data", root / "cache"}; }

namespace {

// A web context whose website data manager keeps everything in `folders`,
// never in memory only: the page's local storage outlives the program.
GObjectPtr<WebKitWebContext> persistentWebContext(const WebsiteDataFolders& folders) {
    // A new reference, handed to the context, which keeps its own.
    GObjectPtr<WebKitWebsiteDataManager> manager = adoptGObject(webkit_website_data_manager_new(
        "base-data-directory", folders.data.c_str(), "base-cache-directory", folders.cache.c_str(), nullptr));
    return adoptGObject(webkit_web_context_new_with_website_data_manager(manager.get()));
}

}  // namespace

WebViewHost::WebViewHost(const WebsiteDataFolders& folders) {
    // New references owned here; the web view's is floating until adopted.
    webContext_ = persistentWebContext(folders);
    contentManager_ = adoptGObject(webkit_user_content_manager_new());
    webView_ = adoptGObject(WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", webContext_.get(),
                                                         "user-content-manager", contentManager_.get(), nullptr)));

    // The window's grey shows wherever the page itself is transparent.
    const GdkRGBA clear{0, 0, 0, 0};
    webkit_web_view_set_background_color(webView_.get(), &clear);

    // The page reads its sibling scripts, styles and assets through the
    // resource scheme, and no file of the user's through file: URLs.
    WebKitSettings* settings = webkit_web_view_get_settings(webView_.get());  // not owned
    denyFileAccess(settings);
    // The preview and the timeline keep up with the frame rate only when
    // painting is not left to a CPU-drawn OpenGL.
    choosePaintMode(settings);

    // Connected before registering, so no message can arrive unheard.
    messageSignal_ = g_signal_connect(contentManager_.get(), "script-message-received::exportEngine",
                                      G_CALLBACK(onScriptMessage), this);
    handlerRegistered_ =
        webkit_user_content_manager_register_script_message_handler(contentManager_.get(), kMessageHandlerName);
    if (!handlerRegistered_) logLine("Canal de messages \"exportEngine\" non enregistré");

    destroySignal_ = g_signal_connect(webView_.get(), "destroy", G_CALLBACK(onWidgetDestroyed), this);
}

WebViewHost::~WebViewHost() {
    removeMessageHandler();
    if (messageSignal_) g_signal_handler_disconnect(contentManager_.get(), messageSignal_);
    // GTK drops a widget's handlers when it destroys the widget.
    if (!widgetDestroyed_) g_signal_handler_disconnect(webView_.get(), destroySignal_);
}

bool WebViewHost::loadEntryPage(const std::optional<fs::path>& page) {
    if (!page) {
        logLine("Page d'entrée introuvable: la fenêtre reste vide");
        return false;
    }
    return loadServedPage(webView_.get(), *page);
}

void WebViewHost::evaluateScript(const std::string& script) {
    if (widgetDestroyed_) return;
    webkit_web_view_evaluate_javascript(webView_.get(), script.data(), static_cast<gssize>(script.size()), nullptr,
                                        nullptr, nullptr, nullptr, nullptr);
}

void WebViewHost::endLiveBuildPresentation() {
    if (widgetDestroyed_) return;
    GtkWidget* window = gtk_widget_get_toplevel(widget());
    if (!gtk_widget_is_toplevel(window)) return;
    gtk_widget_set_opacity(window, 1.0);
    // No input shape: the whole window takes pointer events again.
    gtk_widget_input_shape_combine_region(window, nullptr);
    gtk_widget_set_sensitive(window, TRUE);
}

void WebViewHost::removeMessageHandler() {
    if (!handlerRegistered_) return;
    handlerRegistered_ = false;
    webkit_user_content_manager_unregister_script_message_handler(contentManager_.get(), kMessageHandlerName);
}

void WebViewHost::onScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer self) {
    auto* host = static_cast<WebViewHost*>(self);
    if (!host->handlerRegistered_ || !host->onMessageReceived_) return;
    JSCValue* value = webkit_javascript_result_get_js_value(result);  // owned by `result`
    // An undefined body (or one with a cycle) has no JSON form.
    GUniquePtr<gchar> json(value ? jsc_value_to_json(value, 0) : nullptr);
    if (!json) return;
    if (auto envelope = envelopeFromBody(json.get())) host->onMessageReceived_(*envelope);
}

void WebViewHost::onWidgetDestroyed(GtkWidget*, gpointer self) {
    static_cast<WebViewHost*>(self)->widgetDestroyed_ = true;
}

}  // namespace tessivo
