// Files the editor's page offers for saving (the project as .tessivo.json,
// the blocks as .srt): WebKit turns them into downloads, and each asks the
// user where it goes, with the page's suggested name, instead of landing
// silently in a default folder.
#pragma once

#include "engine_api/views.h"
#include "platform/glib_ptr.h"

#include <webkit2/webkit2.h>

#include <memory>

namespace tessivo {

class PageDownloads {
public:
    // Main thread. Handles the downloads of every view of `context`; each
    // asks `chooser` (not owned, may be null: downloads are then cancelled).
    PageDownloads(WebKitWebContext* context, SavePanel* chooser);
    // Downloads whose destination is still being chosen are cancelled when
    // the answer comes.
    ~PageDownloads();
    PageDownloads(const PageDownloads&) = delete;
    PageDownloads& operator=(const PageDownloads&) = delete;

    void setChooser(SavePanel* chooser) { shared_->chooser = chooser; }

    // The title of the chooser.
    static constexpr const char* kTitle = "Enregistrer le fichier";

    // What the downloads' handlers and the choosers' answers share with
    // this object; `alive` is cleared when it goes, and late answers and
    // downloads then only cancel.
    struct Shared {
        SavePanel* chooser = nullptr;
        bool alive = true;
    };

private:
    // WebKit emits these on the main thread.
    static void onDownloadStarted(WebKitWebContext* context, WebKitDownload* download, gpointer shared);
    static gboolean onDecideDestination(WebKitDownload* download, gchar* suggestedName, gpointer shared);
    static void onFailed(WebKitDownload* download, GError* error, gpointer shared);

    GObjectPtr<WebKitWebContext> context_;
    gulong startedSignal_ = 0;
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

}  // namespace tessivo
