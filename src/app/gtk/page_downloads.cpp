#include "app/gtk/page_downloads.h"

#include "platform/log.h"

#include <filesystem>

namespace tessivo {

PageDownloads::PageDownloads(WebKitWebContext* context, SavePanel& panel)
    : context_(retainGObject(context)), panel_(panel) {
    startedSignal_ = g_signal_connect(context_.get(), "download-started", G_CALLBACK(onDownloadStarted), this);
}

PageDownloads::~PageDownloads() {
    *alive_ = false;
    g_signal_handler_disconnect(context_.get(), startedSignal_);
}

SavePanelRequest PageDownloads::requestFor(const std::string& suggestedName) {
    std::string name = std::filesystem::path(suggestedName).filename().string();
    if (name.empty() || name == "." || name == "..") name = "tessivo";
    std::string format;
    if (name.ends_with(".tessivo.json")) {
        format = "json";
    } else if (auto dot = name.rfind('.'); dot != std::string::npos && dot > 0) {
        format = name.substr(dot + 1);
        for (char& c : format) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return SavePanelRequest{"Enregistrer le fichier", name, format};
}

void PageDownloads::onDownloadStarted(WebKitWebContext*, WebKitDownload* download, gpointer self) {
    g_signal_connect(download, "decide-destination", G_CALLBACK(onDecideDestination), self);
}

gboolean PageDownloads::onDecideDestination(WebKitDownload* download, gchar* suggestedName, gpointer data) {
    auto* self = static_cast<PageDownloads*>(data);
    // The download waits, paused, until a destination is set or it is cancelled.
    auto held = std::make_shared<GObjectPtr<WebKitDownload>>(retainGObject(download));
    std::weak_ptr<bool> alive = self->alive_;
    self->panel_.chooseOutputFile(
        requestFor(suggestedName ? suggestedName : ""),
        [held, alive](std::optional<std::filesystem::path> chosen) {
            if (!chosen || alive.expired()) {
                webkit_download_cancel(held->get());
                return;
            }
            // The panel has already asked before replacing an existing file.
            webkit_download_set_allow_overwrite(held->get(), TRUE);
            webkit_download_set_destination(held->get(), chosen->c_str());
            logLine("Enregistrement du fichier de la page : " + chosen->string());
        });
    return TRUE;
}

}  // namespace tessivo
