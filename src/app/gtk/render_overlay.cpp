#include "app/gtk/render_overlay.h"

#include "app/gtk/style.h"

#include <algorithm>
#include <cmath>

namespace tessivo {

namespace {

constexpr guint kFadeMilliseconds = 250;

double clampedProgress(double progress) {
    if (!std::isfinite(progress)) return 0;
    return std::clamp(progress, 0.0, 1.0);
}

// A new child widget, owned here as well as by its container.
GObjectPtr<GtkWidget> ownWidget(GtkWidget* floating, const char* styleClass) {
    auto widget = adoptGObject(floating);
    if (styleClass) gtk_style_context_add_class(gtk_widget_get_style_context(widget.get()), styleClass);
    return widget;
}

}  // namespace

std::string renderPercentText(double progress) {
    return std::to_string(static_cast<int>(clampedProgress(progress) * 100.0)) + "%";
}

RenderOverlay::RenderOverlay(GtkOverlay* overlay) : overlay_(retainGObject(overlay)) {
    installApplicationStyle();

    revealer_ = ownWidget(gtk_revealer_new(), nullptr);
    gtk_revealer_set_transition_type(GTK_REVEALER(revealer_.get()), GTK_REVEALER_TRANSITION_TYPE_CROSSFADE);
    gtk_revealer_set_transition_duration(GTK_REVEALER(revealer_.get()), kFadeMilliseconds);
    gtk_revealer_set_reveal_child(GTK_REVEALER(revealer_.get()), FALSE);

    // The backdrop is an event box so that clicks and keys stop here instead of
    // reaching the page.
    backdrop_ = ownWidget(gtk_event_box_new(), "tessivo-render-backdrop");
    gtk_widget_set_can_focus(backdrop_.get(), TRUE);
    g_signal_connect(backdrop_.get(), "key-press-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) -> gboolean {
                         return TRUE;
                     }),
                     nullptr);

    auto card = ownWidget(gtk_box_new(GTK_ORIENTATION_VERTICAL, 20), "tessivo-render-card");
    gtk_widget_set_halign(card.get(), GTK_ALIGN_CENTER);
    gtk_widget_set_valign(card.get(), GTK_ALIGN_CENTER);

    auto title = ownWidget(gtk_label_new("Encodage video en cours..."), "tessivo-render-title");
    progressBar_ = ownWidget(gtk_progress_bar_new(), "tessivo-render-progress");
    gtk_widget_set_size_request(progressBar_.get(), 400, -1);
    gtk_widget_set_halign(progressBar_.get(), GTK_ALIGN_CENTER);
    percentLabel_ = ownWidget(gtk_label_new(renderPercentText(0).c_str()), "tessivo-render-percent");
    auto caption = ownWidget(gtk_label_new("Veuillez patienter..."), "tessivo-render-caption");

    for (GtkWidget* child : {title.get(), progressBar_.get(), percentLabel_.get(), caption.get()}) {
        gtk_box_pack_start(GTK_BOX(card.get()), child, FALSE, FALSE, 0);
    }
    gtk_container_add(GTK_CONTAINER(backdrop_.get()), card.get());
    gtk_container_add(GTK_CONTAINER(revealer_.get()), backdrop_.get());
    gtk_overlay_add_overlay(overlay, revealer_.get());
    // Hidden, the overlay lets every event through to the page.
    gtk_overlay_set_overlay_pass_through(overlay, revealer_.get(), TRUE);
    gtk_widget_show_all(revealer_.get());
}

void RenderOverlay::update(const PublishedState& state) {
    const double progress = clampedProgress(state.renderProgress);
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(progressBar_.get()), progress);
    gtk_label_set_text(GTK_LABEL(percentLabel_.get()), renderPercentText(progress).c_str());

    if (state.isRendering == isShown()) return;
    gtk_overlay_set_overlay_pass_through(overlay_.get(), revealer_.get(), !state.isRendering);
    gtk_revealer_set_reveal_child(GTK_REVEALER(revealer_.get()), state.isRendering);
    if (state.isRendering) gtk_widget_grab_focus(backdrop_.get());
}

bool RenderOverlay::isShown() const { return gtk_revealer_get_reveal_child(GTK_REVEALER(revealer_.get())); }

std::string RenderOverlay::percentText() const { return gtk_label_get_text(GTK_LABEL(percentLabel_.get())); }

double RenderOverlay::barFraction() const { return gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(progressBar_.get())); }

}  // namespace tessivo
