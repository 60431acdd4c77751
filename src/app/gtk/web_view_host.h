// The editor's page in the main window: one WebKitWebView with its own user
// content manager, the script message channel "exportEngine" and the entry
// page loaded from the resources. The view has a web context of its own whose
// website data (the page's local storage, where the editor keeps the project)
// is kept on disk, so that the project survives closing the program.
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

// Where the main page keeps its website data on disk.
struct WebsiteDataFolders {
    std::filesystem::path data;   // local storage and the page's other stores
    std::filesystem::path cache;  // disposable caches

    // $XDG_DATA_HOME/tessivo/web and $XDG_CACHE_HOME/tessivo/web.
    static WebsiteDataFolders forUser();
    // Both inside `root` (data/ and cache/), for a program or test that keeps
    // its files apart from the user's.
    static WebsiteDataFolders under(const std::filesystem::path& root);
};

class WebViewHost final : public MainWebView {
public:
    using MessageReceiver = std::function<void(const Json& message)>;

    // Main thread. Creates the transparent web view, in a web context that
    // keeps its website data in `folders`, and registers the message channel;
    // messages are dropped until a receiver is set.
    explicit WebViewHost(const WebsiteDataFolders& folders = WebsiteDataFolders::forUser());
    ~WebViewHost() override;
    WebViewHost(const WebViewHost&) = delete;
    WebViewHost& operator=(const WebViewHost&) = delete;

    GtkWidget* widget() const { return GTK_WIDGET(webView_.get()); }
    WebKitWebView* webView() const { return webView_.get(); }
    WebKitWebContext* webContext() const { return webContext_.get(); }

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

    GObjectPtr<WebKitWebContext> webContext_;
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
