// The editor's page in the main window: one WebKitWebView with its own user
// content manager, the script message channel "exportEngine" and the entry
// page loaded from the resources.
#pragma once

#include "engine_api/views.h"
#include "platform/glib_ptr.h"
#include "platform/json.h"

#include <webkit2/webkit2.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

namespace tessivo {

// The name under which the page posts its messages
// (window.webkit.messageHandlers.exportEngine.postMessage).
inline constexpr const char* kMessageHandlerName = "exportEngine";

// The entry page of the editor inside `resources`: web/index.html, else
// index.html at the top level, else nothing.
std::optional<std::filesystem::path> entryPageIn(const std::filesystem::path& resources);

// A message body, as JSON text of the posted value, turned into an envelope:
// only a JSON object is one; anything else (text, number, array, null, text
// that does not parse) gives nullopt.
std::optional<Json> envelopeFromBody(std::string_view bodyJSON);

class WebViewHost final : public MainWebView {
public:
    using MessageReceiver = std::function<void(const Json& message)>;

    // Main thread. Creates the transparent web view and registers the message
    // channel; messages are dropped until a receiver is set.
    WebViewHost();
    ~WebViewHost() override;
    WebViewHost(const WebViewHost&) = delete;
    WebViewHost& operator=(const WebViewHost&) = delete;

    GtkWidget* widget() const { return GTK_WIDGET(webView_.get()); }
    WebKitWebView* webView() const { return webView_.get(); }

    void setMessageReceiver(MessageReceiver receiver) { onMessageReceived_ = std::move(receiver); }

    // Loads `page` through the resource scheme (see loadServedPage); with no
    // page the view stays empty. Returns whether a load was started.
    bool loadEntryPage(const std::optional<std::filesystem::path>& page);

    // MainWebView
    void evaluateScript(const std::string& script) override;
    // Safe to call more than once.
    void removeMessageHandler() override;
    void endLiveBuildPresentation() override;

    bool messageHandlerRegistered() const { return handlerRegistered_; }

private:
    static void onScriptMessage(WebKitUserContentManager* manager, WebKitJavascriptResult* result,
                                gpointer self);
    static void onWidgetDestroyed(GtkWidget* widget, gpointer self);

    GObjectPtr<WebKitUserContentManager> contentManager_;
    GObjectPtr<WebKitWebView> webView_;
    gulong messageSignal_ = 0;
    gulong destroySignal_ = 0;
    bool handlerRegistered_ = false;
    // Set once GTK has destroyed the widget (window closed): nothing is sent
    // to the page afterwards.
    bool widgetDestroyed_ = false;
    MessageReceiver onMessageReceived_;
};

}  // namespace tessivo
