// The floating palette's GTK window: a small utility window kept above the
// others that never takes the keyboard focus, so that Resolve keeps it while
// the user clicks a tile or the insert button. Its position is kept in the
// settings under the palette's autosave name.
#pragma once

#include "platform/glib_ptr.h"
#include "presence/palette_view.h"

#include <gtk/gtk.h>

#include <memory>
#include <vector>

namespace tessivo {

class Settings;

class PaletteWindow final : public PaletteView {
public:
    static constexpr int kWidth = 270;
    static constexpr int kHeight = 350;
    static constexpr int kMinimumWidth = 250;
    static constexpr int kMinimumHeight = 320;

    // Main thread. `settings` outlives the window.
    PaletteWindow(Settings& settings, PaletteActions actions);
    ~PaletteWindow() override;
    PaletteWindow(const PaletteWindow&) = delete;
    PaletteWindow& operator=(const PaletteWindow&) = delete;

    void show() override;
    void hide() override;
    bool isVisible() const override;
    void update(const PaletteModel& model) override;

    GtkWindow* window() const { return window_.get(); }
    // The insert button and the tile buttons, for tests that click them.
    GtkButton* insertButton() const { return insertButton_; }
    GtkButton* tileButton(std::size_t index) const { return index < tiles_.size() ? tiles_[index].button : nullptr; }
    // The preview frame each tile shows now (-1: its fallback text or a placeholder).
    int shownFrame(std::size_t index) const { return index < tiles_.size() ? tiles_[index].shownFrame : -1; }
    std::size_t frameCount(std::size_t index) const { return index < tiles_.size() ? tiles_[index].frames.size() : 0; }
    GtkComboBox* trackPicker() const { return GTK_COMBO_BOX(tracks_); }
    std::string statusText() const { return gtk_label_get_text(status_); }

private:
    struct Tile {
        GtkButton* button = nullptr;       // owned by the window
        GtkWidget* preview = nullptr;      // drawing area
        GtkLabel* name = nullptr;
        PaletteWindow* owner = nullptr;
        std::string id;
        std::vector<GObjectPtr<GdkPixbuf>> frames;
        std::string fallbackText;
        PaletteColor color;
        bool selected = false;
        int shownFrame = -1;
    };

    void build();
    void fillTile(Tile& tile, const PaletteEffect* effect, bool selected);
    void restorePosition();
    void savePosition();
    static gboolean onDrawPreview(GtkWidget* widget, cairo_t* cr, gpointer tile);
    static gboolean onTick(gpointer self);
    static gboolean onDelete(GtkWidget*, GdkEvent*, gpointer self);

    Settings& settings_;
    PaletteActions actions_;
    GObjectPtr<GtkWindow> window_;
    GtkButton* insertButton_ = nullptr;
    GtkComboBoxText* tracks_ = nullptr;
    GtkLabel* status_ = nullptr;
    std::vector<Tile> tiles_;
    std::vector<std::string> trackValues_;
    bool updatingTracks_ = false;
    guint tick_ = 0;
};

// Main thread. The factory the engine's palette makes its window with.
PaletteViewFactory paletteWindowFactory(Settings& settings);

}  // namespace tessivo
