#include "app/gtk/style.h"

#include "platform/glib_ptr.h"
#include "platform/log.h"

#include <gtk/gtk.h>

namespace tessivo {

namespace {

// Greys are white levels: 5 % behind the page, 15 % for the overlay's card.
constexpr const char* kStyleSheet = R"css(
.tessivo-main-window {
    background-color: rgb(5%, 5%, 5%);
}
.tessivo-render-backdrop {
    background-color: rgba(0, 0, 0, 0.9);
}
.tessivo-render-card {
    background-color: rgb(15%, 15%, 15%);
    border-radius: 15px;
    padding: 40px;
    box-shadow: 0 0 20px rgba(0, 0, 0, 0.33);
}
.tessivo-render-title {
    color: white;
    font-size: 22px;
    font-weight: bold;
}
.tessivo-render-percent {
    color: rgb(60%, 60%, 60%);
    font-size: 15px;
    font-weight: 600;
}
.tessivo-render-caption {
    color: rgb(60%, 60%, 60%);
    font-size: 11px;
}
.tessivo-render-progress trough {
    min-height: 7px;
    border-radius: 4px;
    background-color: rgb(30%, 30%, 30%);
}
.tessivo-render-progress progress {
    min-height: 7px;
    border-radius: 4px;
    background-color: rgb(4%, 52%, 100%);
}
)css";

}  // namespace

void installApplicationStyle() {
    static bool installed = false;
    if (installed) return;
    GdkScreen* screen = gdk_screen_get_default();  // not owned
    if (!screen) return;
    auto provider = adoptGObject(gtk_css_provider_new());
    GErrorOut error;
    if (!gtk_css_provider_load_from_data(provider.get(), kStyleSheet, -1, error.out())) {
        logLine("Feuille de style de la fenêtre refusée: " + error.message());
        return;
    }
    // The screen keeps its own reference to the provider.
    gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(provider.get()),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    installed = true;
}

}  // namespace tessivo
