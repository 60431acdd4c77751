#include "app/gtk/gtk_save_panel.h"

#include "platform/paths.h"

#include <system_error>

namespace tessivo {

GtkSavePanel::GtkSavePanel(GtkWindow* parent, Contents contents)
    : parent_(retainGObject(parent)), contents_(contents) {}

GtkSavePanel::~GtkSavePanel() {
    while (!pending_.empty()) {
        Pending& pending = pending_.front();
        gtk_native_dialog_hide(GTK_NATIVE_DIALOG(pending.chooser.get()));
        finish(&pending, std::nullopt);
    }
}

const char* GtkSavePanel::mimeTypeFor(const std::string& format) {
    return format == "mov" ? "video/quicktime" : "video/mp4";
}

void GtkSavePanel::chooseOutputFile(const SavePanelRequest& request,
                                    std::function<void(std::optional<std::filesystem::path>)> done) {
    // A new, non-floating reference that this panel owns.
    auto chooser = adoptGObject(gtk_file_chooser_native_new(request.title.c_str(), parent_.get(),
                                                            GTK_FILE_CHOOSER_ACTION_SAVE, "_Enregistrer",
                                                            "_Annuler"));
    GtkFileChooser* fileChooser = GTK_FILE_CHOOSER(chooser.get());
    gtk_file_chooser_set_do_overwrite_confirmation(fileChooser, TRUE);
    gtk_file_chooser_set_create_folders(fileChooser, TRUE);
    std::error_code ec;
    const char* documents = g_get_user_special_dir(G_USER_DIRECTORY_DOCUMENTS);
    const auto folder = contents_ == Contents::Movie ? moviesDirectory()
                        : documents                  ? std::filesystem::path(documents)
                                                     : std::filesystem::path(g_get_home_dir());
    if (std::filesystem::is_directory(folder, ec)) gtk_file_chooser_set_current_folder(fileChooser, folder.c_str());
    gtk_file_chooser_set_current_name(fileChooser, request.suggestedName.c_str());

    if (contents_ == Contents::Movie) {
        // The chooser takes the filter's floating reference.
        GtkFileFilter* filter = gtk_file_filter_new();
        const bool quickTime = request.format == "mov";
        gtk_file_filter_set_name(filter, quickTime ? "Film QuickTime" : "Film MPEG-4");
        gtk_file_filter_add_mime_type(filter, mimeTypeFor(request.format));
        gtk_file_filter_add_pattern(filter, quickTime ? "*.mov" : "*.mp4");
        gtk_file_chooser_add_filter(fileChooser, filter);
    }

    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser.get()), TRUE);
    Pending& pending = pending_.emplace_back(Pending{this, std::move(chooser), 0, std::move(done)});
    pending.responseSignal =
        g_signal_connect(pending.chooser.get(), "response", G_CALLBACK(onResponse), &pending);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(pending.chooser.get()));
}

void GtkSavePanel::onResponse(GtkNativeDialog* dialog, gint response, gpointer data) {
    auto* pending = static_cast<Pending*>(data);
    std::optional<std::filesystem::path> result;
    if (response == GTK_RESPONSE_ACCEPT) {
        GUniquePtr<gchar> file(gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog)));
        if (file) result = std::filesystem::path(file.get());
    }
    pending->owner->finish(pending, std::move(result));
}

void GtkSavePanel::finish(Pending* pending, std::optional<std::filesystem::path> result) {
    // Taken out first: `done` may open another chooser.
    auto done = std::move(pending->done);
    g_signal_handler_disconnect(pending->chooser.get(), pending->responseSignal);
    pending_.remove_if([pending](const Pending& p) { return &p == pending; });
    if (done) done(std::move(result));
}

}  // namespace tessivo
