// The floating palette's controller: shows the palette when Resolve becomes
// the active application and hides it when another one does, keeps its model
// filled from the effect library and Resolve's tracks, and turns the insert
// button into an insertion at the playhead. Owned by the engine.
#pragma once

#include "presence/palette_model.h"
#include "presence/palette_view.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace tessivo {

class EngineContext;
class FusionEffectLibrary;

// True for Resolve: its window class ("resolve"), or a title naming it.
bool isResolveApplication(const ActiveApplication& app);
// True for a window of this very process (or one that says nothing of itself).
bool isOwnApplication(const ActiveApplication& app, long ownPid);

class FloatingPalette {
public:
    // `nativeTemplateRegistered`: main thread, whether insertions go the native way.
    FloatingPalette(EngineContext& engine, FusionEffectLibrary& library, std::filesystem::path resourcesFolder,
                    std::function<bool()> nativeTemplateRegistered);
    ~FloatingPalette();

    // Main thread. Without a factory (headless) the palette has no window,
    // and "visible" tells what a window would show.
    void setViewFactory(PaletteViewFactory factory) { viewFactory_ = std::move(factory); }
    // Main thread. Whether the desktop reports application activations; when
    // not, the palette opens only from the editor, and the editor is told.
    void setActivationWatchAvailable(bool available) { activationWatch_ = available; }

    // Main thread. "fusionFloatingPaletteShow".
    void showFloatingFusionPalette();
    // Main thread. "fusionFloatingPaletteSetEnabled" and the disable button.
    void setFloatingFusionPaletteEnabled(bool enabled);
    // Main thread. Every activation of an application on the desktop.
    void handleActivatedApplication(const ActiveApplication& app);
    // Main thread. Queues a refresh of the tiles and tracks on the export queue.
    void scheduleRefresh();
    // Main thread. The insert button: prepares the insertion on the export queue.
    void insertFloatingFusionEffect(const std::string& id, const std::string& targetTrack);
    // Main thread. The engine is going away: dismissed and hidden.
    void shutdown();

    const PaletteModel& model() const { return model_; }
    bool isVisible() const;
    bool dismissedForSession() const { return dismissed_; }
    // The palette's window once made (none before the first show, or headless).
    PaletteView* view() const { return view_.get(); }
    // Main thread. Sets the status line (the library's insertion result).
    void setStatus(const std::string& status);

    static constexpr double kTrackListTimeLimit = 12;

private:
    // Clears the dismissal, makes the window if needed and puts it on screen.
    void present();
    void orderOut();
    void modelChanged();
    void sendState(bool enabled, bool visible);
    // Export queue.
    void refresh();
    bool enabledSetting() const;

    EngineContext& engine_;
    FusionEffectLibrary& library_;
    std::filesystem::path resourcesFolder_;
    std::function<bool()> nativeTemplateRegistered_;
    PaletteViewFactory viewFactory_;
    PaletteModel model_;
    std::unique_ptr<PaletteView> view_;
    bool dismissed_ = false;
    bool headlessVisible_ = false;
    bool activationWatch_ = false;
};

}  // namespace tessivo
