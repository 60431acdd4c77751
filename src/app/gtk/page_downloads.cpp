#include "app/gtk/page_downloads.h"

#include "platform/log.h"

#include <filesystem>
#include <memory>

namespace tessivo {

namespace {

using SharedPtr = std::shared_ptr<PageDownloads::Shared>;

// Connects `handler` to `instance` with its own reference to the shared state,
// released when the handler goes (with the instance).
gulong connectShared(gpointer instance, const char* signal, GCallback handler, const SharedPtr& shared) {
    return g_signal_connect_data(instance, signal, handler, new SharedPtr(shared),
                          +[](gpointer data, GClosure*) { delete static_cast<SharedPtr*>(data); },
                          GConnectFlags{});
}

}  // namespace

PageDownloads::PageDownloads(WebKitWebContext* context, SavePanel* chooser) : context_(retainGObject(context)) {
    shared_->chooser = chooser;
    startedSignal_ = connectShared(context_.get(), "download-started", G_CALLBACK(onDownloadStarted), shared_);
}

PageDownloads::~PageDownloads() {
    shared_->alive = false;
    shared_->chooser = nullptr;
    if (startedSignal_) g_signal_handler_disconnect(context_.get(), startedSignal_);
}

void PageDownloads::onDownloadStarted(WebKitWebContext*, WebKitDownload* download, gpointer data) {
    const SharedPtr& shared = *static_cast<SharedPtr*>(data);
    connectShared(download, "decide-destination", G_CALLBACK(onDecideDestination), shared);
    connectShared(download, "failed", G_CALLBACK(onFailed), shared);
}

gboolean PageDownloads::onDecideDestination(WebKitDownload* download, gchar* suggestedName, gpointer data) {
    const SharedPtr shared = *static_cast<SharedPtr*>(data);
    if (!shared->alive || !shared->chooser) {
        webkit_download_cancel(download);
        return TRUE;
    }
    // Kept until the user has answered: WebKit waits for the destination.
    // Shared, since the answer is a copyable function.
    std::shared_ptr<WebKitDownload> held(WEBKIT_DOWNLOAD(g_object_ref(download)),
                                         [](WebKitDownload* d) { g_object_unref(d); });
    const std::string name = suggestedName && *suggestedName ? suggestedName : "Tessivo";
    shared->chooser->chooseOutputFile(
        {kTitle, name, ""}, [held, shared](std::optional<std::filesystem::path> file) {
            if (!shared->alive || !file) {
                webkit_download_cancel(held.get());
                return;
            }
            GUniquePtr<gchar> uri(g_filename_to_uri(file->c_str(), nullptr, nullptr));
            if (!uri) {
                webkit_download_cancel(held.get());
                return;
            }
            // The chooser has already asked before replacing a file.
            webkit_download_set_allow_overwrite(held.get(), TRUE);
            webkit_download_set_destination(held.get(), uri.get());
        });
    return TRUE;
}

void PageDownloads::onFailed(WebKitDownload*, GError* error, gpointer) {
    // Cancelling is the user's choice, not a failure worth a line.
    if (g_error_matches(error, WEBKIT_DOWNLOAD_ERROR, WEBKIT_DOWNLOAD_ERROR_CANCELLED_BY_USER)) return;
    logLine(std::string("Enregistrement du fichier de la page impossible : ") + (error ? error->message : ""));
}

}  // namespace tessivo
