// Files the editor's page saves (an SRT export, a project file) arrive as web
// downloads. Each one goes where the user chooses in a save panel, which asks
// before replacing a file, instead of silently into the downloads folder where
// it could replace a file of the same name.
#pragma once

#include "engine_api/views.h"
#include "platform/glib_ptr.h"

#include <webkit2/webkit2.h>

#include <memory>
#include <string>

namespace tessivo {

class PageDownloads {
public:
    // Main thread. Handles every download started in `context`, asking `panel`
    // (which must outlive this object) for each destination.
    PageDownloads(WebKitWebContext* context, SavePanel& panel);
    // Main thread. Downloads still waiting for the panel's answer are cancelled
    // when it comes.
    ~PageDownloads();
    PageDownloads(const PageDownloads&) = delete;
    PageDownloads& operator=(const PageDownloads&) = delete;

    // The save panel's request for a file the page suggests naming
    // `suggestedName`: its format is the name's extension (".tessivo.json"
    // counts as "json").
    static SavePanelRequest requestFor(const std::string& suggestedName);

private:
    // WebKit calls both on the main thread.
    static void onDownloadStarted(WebKitWebContext* context, WebKitDownload* download, gpointer self);
    static gboolean onDecideDestination(WebKitDownload* download, gchar* suggestedName, gpointer self);

    GObjectPtr<WebKitWebContext> context_;
    SavePanel& panel_;
    gulong startedSignal_ = 0;
    // Answers of the panel that arrive after this object is gone find it expired.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace tessivo
