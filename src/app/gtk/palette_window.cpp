#include "app/gtk/palette_window.h"

#include "platform/settings.h"

#include <cmath>
#include <cstdio>

namespace tessivo {

namespace {

constexpr const char* kStyle = R"(
.tessivo-palette { background-color: rgba(14, 14, 14, 0.98); color: white; }
.tessivo-palette .brand { font-size: 10px; font-weight: 900; color: #3cdcb4; }
.tessivo-palette .title { font-size: 15px; font-weight: bold; }
.tessivo-palette .small { font-size: 9px; color: #9a9a9a; }
.tessivo-palette .tile { border-radius: 9px; padding: 4px; background: rgba(255,255,255,0.035);
  border: 1px solid rgba(255,255,255,0.1); }
.tessivo-palette .tile.selected { background: rgba(88,86,214,0.34); border-color: #5856d6; }
.tessivo-palette .tile label { font-size: 8px; font-weight: bold; color: white; }
.tessivo-palette .insert { font-weight: bold; background: #2e9e4f; color: white; }
.tessivo-palette button.flat { font-size: 9px; }
)";

GObjectPtr<GdkPixbuf> decodedFrame(const std::string& bytes) {
    auto loader = adoptGObject(gdk_pixbuf_loader_new());
    gboolean written = gdk_pixbuf_loader_write(loader.get(), reinterpret_cast<const guchar*>(bytes.data()), bytes.size(), nullptr);
    gboolean closed = gdk_pixbuf_loader_close(loader.get(), nullptr);
    GdkPixbuf* pixbuf = written && closed ? gdk_pixbuf_loader_get_pixbuf(loader.get()) : nullptr;
    return retainGObject(pixbuf);
}

GtkWidget* styled(GtkWidget* widget, const char* styleClass) {
    gtk_style_context_add_class(gtk_widget_get_style_context(widget), styleClass);
    return widget;
}

void roundedRectangle(cairo_t* cr, double w, double h, double r) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, w - r, r, r, -M_PI / 2, 0);
    cairo_arc(cr, w - r, h - r, r, 0, M_PI / 2);
    cairo_arc(cr, r, h - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, r, r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

}  // namespace

PaletteWindow::PaletteWindow(Settings& settings, PaletteActions actions)
    : settings_(settings), actions_(std::move(actions)) {
    build();
}

PaletteWindow::~PaletteWindow() {
    if (tick_) g_source_remove(tick_);
    savePosition();
    if (window_) gtk_widget_destroy(GTK_WIDGET(window_.get()));
}

void PaletteWindow::build() {
    // A reference of our own beside GTK's list of toplevels: destroyed by us.
    window_ = retainGObject(GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL)));
    GtkWindow* w = window_.get();
    gtk_window_set_title(w, kPaletteTitle);
    gtk_window_set_type_hint(w, GDK_WINDOW_TYPE_HINT_UTILITY);
    gtk_window_set_keep_above(w, TRUE);
    // Clicks must leave the keyboard focus with Resolve.
    gtk_window_set_accept_focus(w, FALSE);
    gtk_window_set_focus_on_map(w, FALSE);
    gtk_window_set_resizable(w, FALSE);
    gtk_window_set_skip_taskbar_hint(w, TRUE);
    gtk_window_set_skip_pager_hint(w, TRUE);
    gtk_window_set_role(w, kPaletteAutosaveName);
    gtk_window_set_default_size(w, kWidth, kHeight);
    gtk_widget_set_size_request(GTK_WIDGET(w), kMinimumWidth, kMinimumHeight);
    styled(GTK_WIDGET(w), "tessivo-palette");
    auto css = adoptGObject(gtk_css_provider_new());
    gtk_css_provider_load_from_data(css.get(), kStyle, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(GTK_WIDGET(w)), GTK_STYLE_PROVIDER(css.get()),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_signal_connect(w, "delete-event", G_CALLBACK(onDelete), this);

    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_container_set_border_width(GTK_CONTAINER(column), 10);
    gtk_container_add(GTK_CONTAINER(w), column);

    GtkWidget* header = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    GtkWidget* titles = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    GtkWidget* brand = styled(gtk_label_new("TESSIVO"), "brand");
    GtkWidget* title = styled(gtk_label_new("Essentiels Fusion"), "title");
    gtk_widget_set_halign(brand, GTK_ALIGN_START);
    gtk_widget_set_halign(title, GTK_ALIGN_START);
    gtk_box_pack_start(GTK_BOX(titles), brand, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(titles), title, FALSE, FALSE, 0);
    GtkWidget* close = gtk_button_new_with_label("Fermer");
    gtk_button_set_relief(GTK_BUTTON(close), GTK_RELIEF_NONE);
    gtk_widget_set_valign(close, GTK_ALIGN_CENTER);
    g_signal_connect_swapped(close, "clicked", G_CALLBACK(+[](PaletteWindow* self) { self->actions_.close(); }), this);
    gtk_box_pack_start(GTK_BOX(header), titles, TRUE, TRUE, 0);
    gtk_box_pack_end(GTK_BOX(header), close, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(column), header, FALSE, FALSE, 0);

    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 6);
    gtk_grid_set_column_homogeneous(GTK_GRID(grid), TRUE);
    tiles_.resize(kPaletteMaxEffects);  // never resized again: signals hold the tiles' addresses
    for (std::size_t i = 0; i < tiles_.size(); ++i) {
        Tile& tile = tiles_[i];
        tile.owner = this;
        tile.button = GTK_BUTTON(styled(gtk_button_new(), "tile"));
        gtk_button_set_relief(tile.button, GTK_RELIEF_NONE);
        gtk_widget_set_can_focus(GTK_WIDGET(tile.button), FALSE);
        GtkWidget* inner = gtk_box_new(GTK_ORIENTATION_VERTICAL, 3);
        tile.preview = gtk_drawing_area_new();
        gtk_widget_set_size_request(tile.preview, 10, 44);
        g_signal_connect(tile.preview, "draw", G_CALLBACK(onDrawPreview), &tile);
        tile.name = GTK_LABEL(gtk_label_new(""));
        gtk_label_set_ellipsize(tile.name, PANGO_ELLIPSIZE_END);
        gtk_label_set_max_width_chars(tile.name, 8);
        gtk_box_pack_start(GTK_BOX(inner), tile.preview, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(inner), GTK_WIDGET(tile.name), FALSE, FALSE, 0);
        gtk_container_add(GTK_CONTAINER(tile.button), inner);
        g_signal_connect_swapped(tile.button, "clicked", G_CALLBACK(+[](Tile* t) {
                                     if (!t->id.empty()) t->owner->actions_.select(t->id);
                                 }),
                                 &tile);
        gtk_grid_attach(GTK_GRID(grid), GTK_WIDGET(tile.button), static_cast<int>(i % 3), static_cast<int>(i / 3), 1, 1);
        fillTile(tile, nullptr, false);
    }
    gtk_box_pack_start(GTK_BOX(column), grid, FALSE, FALSE, 0);

    tracks_ = GTK_COMBO_BOX_TEXT(gtk_combo_box_text_new());
    gtk_widget_set_can_focus(GTK_WIDGET(tracks_), FALSE);
    gtk_widget_set_tooltip_text(GTK_WIDGET(tracks_), "Piste");
    g_signal_connect_swapped(tracks_, "changed", G_CALLBACK(+[](PaletteWindow* self) {
                                 if (self->updatingTracks_) return;
                                 const gint active = gtk_combo_box_get_active(GTK_COMBO_BOX(self->tracks_));
                                 if (active >= 0 && static_cast<std::size_t>(active) < self->trackValues_.size())
                                     self->actions_.chooseTrack(self->trackValues_[static_cast<std::size_t>(active)]);
                             }),
                             this);
    gtk_box_pack_start(GTK_BOX(column), GTK_WIDGET(tracks_), FALSE, FALSE, 0);

    insertButton_ = GTK_BUTTON(styled(gtk_button_new_with_label("Insérer à la tête de lecture"), "insert"));
    gtk_widget_set_can_focus(GTK_WIDGET(insertButton_), FALSE);
    g_signal_connect_swapped(insertButton_, "clicked", G_CALLBACK(+[](PaletteWindow* self) { self->actions_.insert(); }), this);
    gtk_box_pack_start(GTK_BOX(column), GTK_WIDGET(insertButton_), FALSE, FALSE, 0);

    GtkWidget* footer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
    status_ = GTK_LABEL(styled(gtk_label_new(""), "small"));
    gtk_label_set_line_wrap(status_, TRUE);
    gtk_label_set_max_width_chars(status_, 36);
    GtkWidget* disable = styled(gtk_button_new_with_label("Désactiver l’ouverture auto"), "small");
    gtk_button_set_relief(GTK_BUTTON(disable), GTK_RELIEF_NONE);
    gtk_widget_set_can_focus(disable, FALSE);
    g_signal_connect_swapped(disable, "clicked", G_CALLBACK(+[](PaletteWindow* self) { self->actions_.disable(); }), this);
    gtk_box_pack_start(GTK_BOX(footer), GTK_WIDGET(status_), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(footer), disable, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(column), footer, FALSE, FALSE, 0);
    gtk_widget_show_all(column);
    restorePosition();
}

void PaletteWindow::fillTile(Tile& tile, const PaletteEffect* effect, bool selected) {
    if (!effect || effect->id != tile.id) {
        tile.frames.clear();
        if (effect) {
            for (const auto& bytes : effect->images)
                if (auto frame = decodedFrame(bytes)) tile.frames.push_back(std::move(frame));
        }
    }
    tile.id = effect ? effect->id : std::string();
    tile.fallbackText = effect ? effect->fallbackText : "+";
    tile.color = effect ? effect->color : PaletteColor{0.6, 0.6, 0.6};
    tile.selected = selected;
    gtk_label_set_text(tile.name, effect ? effect->name.c_str() : "À classer");
    GtkStyleContext* style = gtk_widget_get_style_context(GTK_WIDGET(tile.button));
    if (selected) gtk_style_context_add_class(style, "selected");
    else gtk_style_context_remove_class(style, "selected");
    gtk_widget_set_sensitive(GTK_WIDGET(tile.button), effect != nullptr);
    gtk_widget_queue_draw(tile.preview);
}

void PaletteWindow::update(const PaletteModel& model) {
    for (std::size_t i = 0; i < tiles_.size(); ++i) {
        const PaletteEffect* effect = i < model.effects.size() ? &model.effects[i] : nullptr;
        fillTile(tiles_[i], effect, effect && model.selectedEffectID == effect->id);
    }
    std::vector<std::string> values;
    for (const auto& choice : model.trackChoices) values.push_back(choice.first);
    updatingTracks_ = true;
    if (values != trackValues_) {
        gtk_combo_box_text_remove_all(tracks_);
        for (const auto& [value, label] : model.trackChoices) gtk_combo_box_text_append(tracks_, value.c_str(), label.c_str());
        trackValues_ = std::move(values);
    }
    gtk_combo_box_set_active_id(GTK_COMBO_BOX(tracks_), model.targetTrack.c_str());
    updatingTracks_ = false;
    gtk_widget_set_sensitive(GTK_WIDGET(insertButton_), model.selectedEffectID.has_value());
    gtk_label_set_text(status_, model.status.c_str());
}

void PaletteWindow::show() {
    if (!isVisible()) {
        gtk_widget_show(GTK_WIDGET(window_.get()));
        restorePosition();
    }
    // The frames cycle only while the window is on screen.
    if (!tick_) tick_ = g_timeout_add(1000 / kPaletteFrameRate, onTick, this);
}

void PaletteWindow::hide() {
    if (tick_) g_source_remove(tick_);
    tick_ = 0;
    if (!isVisible()) return;
    savePosition();
    gtk_widget_hide(GTK_WIDGET(window_.get()));
}

bool PaletteWindow::isVisible() const { return gtk_widget_get_visible(GTK_WIDGET(window_.get())); }

void PaletteWindow::restorePosition() {
    int x = 0, y = 0;
    auto saved = settings_.stringValue(kPaletteAutosaveName);
    if (saved && std::sscanf(saved->c_str(), "%d %d", &x, &y) == 2) {
        gtk_window_move(window_.get(), x, y);
    } else {
        gtk_window_set_position(window_.get(), GTK_WIN_POS_CENTER);
    }
}

void PaletteWindow::savePosition() {
    if (!window_ || !isVisible()) return;
    int x = 0, y = 0;
    gtk_window_get_position(window_.get(), &x, &y);
    const std::string text = std::to_string(x) + " " + std::to_string(y);
    if (settings_.stringValue(kPaletteAutosaveName) != text) settings_.setString(kPaletteAutosaveName, text);
}

gboolean PaletteWindow::onTick(gpointer data) {
    auto* self = static_cast<PaletteWindow*>(data);
    for (auto& tile : self->tiles_)
        if (tile.frames.size() > 1) gtk_widget_queue_draw(tile.preview);
    return G_SOURCE_CONTINUE;
}

gboolean PaletteWindow::onDelete(GtkWidget*, GdkEvent*, gpointer data) {
    // The title-bar close dismisses the palette for this run; the window stays.
    static_cast<PaletteWindow*>(data)->actions_.close();
    return TRUE;
}

gboolean PaletteWindow::onDrawPreview(GtkWidget* widget, cairo_t* cr, gpointer data) {
    auto* tile = static_cast<Tile*>(data);
    const double w = gtk_widget_get_allocated_width(widget);
    const double h = gtk_widget_get_allocated_height(widget);
    roundedRectangle(cr, w, h, 7);
    cairo_clip(cr);
    cairo_set_source_rgba(cr, 0, 0, 0, tile->id.empty() ? 0.025 : 0.72);
    cairo_paint(cr);
    if (!tile->frames.empty()) {
        const double seconds = static_cast<double>(g_get_real_time()) / G_USEC_PER_SEC;
        const std::size_t index = paletteFrameIndex(seconds, tile->frames.size());
        tile->shownFrame = static_cast<int>(index);
        GdkPixbuf* frame = tile->frames[index].get();
        const double fw = gdk_pixbuf_get_width(frame), fh = gdk_pixbuf_get_height(frame);
        // Stretched to fill, enlarged by 1.45 about the centre, clipped.
        cairo_translate(cr, w / 2, h / 2);
        cairo_scale(cr, 1.45 * w / fw, 1.45 * h / fh);
        cairo_translate(cr, -fw / 2, -fh / 2);
        gdk_cairo_set_source_pixbuf(cr, frame, 0, 0);
        cairo_paint(cr);
        return FALSE;
    }
    tile->shownFrame = -1;
    auto layout = adoptGObject(gtk_widget_create_pango_layout(widget, tile->fallbackText.c_str()));
    std::unique_ptr<PangoFontDescription, decltype(&pango_font_description_free)> font(
        pango_font_description_from_string(tile->id.empty() ? "Sans 14" : "Sans Heavy 13"), pango_font_description_free);
    pango_layout_set_font_description(layout.get(), font.get());
    int lw = 0, lh = 0;
    pango_layout_get_pixel_size(layout.get(), &lw, &lh);
    cairo_set_source_rgb(cr, tile->color.red, tile->color.green, tile->color.blue);
    cairo_move_to(cr, (w - lw) / 2, (h - lh) / 2);
    pango_cairo_show_layout(cr, layout.get());
    return FALSE;
}

PaletteViewFactory paletteWindowFactory(Settings& settings) {
    return [&settings](const PaletteModel&, PaletteActions actions) -> std::unique_ptr<PaletteView> {
        return std::make_unique<PaletteWindow>(settings, std::move(actions));
    };
}

}  // namespace tessivo
