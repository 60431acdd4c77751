// The pages are served through the "tessivo" URI scheme instead of file://
// URLs, so that a page reads the files of its own folder and nothing else of
// the user's. Each served folder is a host of its own (tessivo://app/,
// tessivo://app-2/, ...): a request reaches only the files inside that
// folder, and pages of different folders are different origins.
#pragma once

#include <webkit2/webkit2.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tessivo {

inline constexpr const char* kResourceScheme = "tessivo";

class ResourceScheme {
public:
    // Main thread. The scheme of `context`, registered with it on first use
    // (and declared secure and CORS-enabled to its security manager, so that
    // module scripts, fetch() and fonts load from it). It lives as long as
    // the context. The views of one context share one registration.
    static ResourceScheme& of(WebKitWebContext* context);

    // Made by of() only.
    struct Key {
        explicit Key() = default;
    };
    explicit ResourceScheme(Key) {}
    ResourceScheme(const ResourceScheme&) = delete;
    ResourceScheme& operator=(const ResourceScheme&) = delete;

    // Main thread. The tessivo:// address of `page` served from the folder
    // `root`, which must hold it; the same root always gets the same host.
    // nullopt when the page is not a file inside the root.
    std::optional<std::string> addressOf(const std::filesystem::path& page, const std::filesystem::path& root);

private:
    // WebKit calls this on the main thread for each request of the scheme.
    static void onRequest(WebKitURISchemeRequest* request, gpointer self);
    void serve(WebKitURISchemeRequest* request);

    // Host name and canonical root of each served folder, in order of first use.
    std::vector<std::pair<std::string, std::filesystem::path>> hosts_;
};

// No page reads file: URLs, whatever WebKit's defaults are.
void denyFileAccess(WebKitSettings* settings);

// Main thread. Loads `page` into `view` through the scheme of the view's
// context: from the resources folder when the page lies in it (so the page
// reaches the fonts beside its folder), else from the page's own folder.
// False, with a log line, when the page cannot be served.
bool loadServedPage(WebKitWebView* view, const std::filesystem::path& page);

}  // namespace tessivo
