// The save panel of a render: a native file chooser (through the desktop
// portal when there is one) asking where to write the movie. The same panel
// asks where a file the page offers goes (any file, from the documents folder).
#pragma once

#include "engine_api/views.h"
#include "platform/glib_ptr.h"

#include <gtk/gtk.h>

#include <list>

namespace tessivo {

class GtkSavePanel final : public SavePanel {
public:
    enum class Contents { Movie, AnyFile };

    // `parent` (may be null) is the window the chooser is modal to.
    explicit GtkSavePanel(GtkWindow* parent, Contents contents = Contents::Movie);
    // Choosers still open are closed and answered as cancelled.
    ~GtkSavePanel() override;
    GtkSavePanel(const GtkSavePanel&) = delete;
    GtkSavePanel& operator=(const GtkSavePanel&) = delete;

    void chooseOutputFile(const SavePanelRequest& request,
                          std::function<void(std::optional<std::filesystem::path>)> done) override;

    // The MIME type offered for a render format: QuickTime for "mov", else MPEG-4.
    static const char* mimeTypeFor(const std::string& format);

private:
    struct Pending {
        GtkSavePanel* owner;
        GObjectPtr<GtkFileChooserNative> chooser;
        gulong responseSignal = 0;
        std::function<void(std::optional<std::filesystem::path>)> done;
    };
    static void onResponse(GtkNativeDialog* dialog, gint response, gpointer pending);
    void finish(Pending* pending, std::optional<std::filesystem::path> result);

    GObjectPtr<GtkWindow> parent_;
    Contents contents_;
    std::list<Pending> pending_;
};

}  // namespace tessivo
