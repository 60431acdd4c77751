// The palette's window, behind which the windowing toolkit lives. The
// controller owns the model and tells the view when to draw it again.
#pragma once

#include "presence/palette_model.h"

#include <functional>
#include <memory>
#include <string>

namespace tessivo {

// What the window reports back. Each runs on the main thread.
struct PaletteActions {
    std::function<void(const std::string& id)> select;
    std::function<void(const std::string& track)> chooseTrack;
    std::function<void()> insert;
    // "Fermer" and the title-bar close.
    std::function<void()> close;
    // "Désactiver l'ouverture auto".
    std::function<void()> disable;
};

class PaletteView {
public:
    virtual ~PaletteView() = default;
    // Main thread. Puts the window on screen above other windows without
    // taking the keyboard focus (made on first call).
    virtual void show() = 0;
    // Main thread. Takes the window off screen; it keeps its content.
    virtual void hide() = 0;
    virtual bool isVisible() const = 0;
    // Main thread. The model changed: draw it again.
    virtual void update(const PaletteModel& model) = 0;
};

// Main thread. Makes the window of a palette; `model` outlives it.
using PaletteViewFactory = std::function<std::unique_ptr<PaletteView>(const PaletteModel& model, PaletteActions actions)>;

// The application that became active on the desktop.
struct ActiveApplication {
    std::string windowClass;  // WM_CLASS's class part ("resolve")
    std::string instanceName; // WM_CLASS's instance part
    std::string title;        // the window's title
    long pid = 0;             // _NET_WM_PID, 0 when unknown
};

}  // namespace tessivo
