// Follows which application the desktop makes active. On X11 the window
// manager names the active window in the root window's _NET_ACTIVE_WINDOW
// property; each change is read back as that window's WM_CLASS, title and
// _NET_WM_PID. Other desktops (a pure Wayland session) give no such signal.
#pragma once

#include "presence/palette_view.h"

#include <gdk/gdk.h>

#include <functional>
#include <memory>
#include <optional>

namespace tessivo {

class ActiveWindowWatch {
public:
    using Observer = std::function<void(const ActiveApplication&)>;

    // Main thread. Starts watching on the default display; nullptr when it is
    // not an X11 display (no automatic showing there).
    static std::unique_ptr<ActiveWindowWatch> start(Observer observer);
    ~ActiveWindowWatch();
    ActiveWindowWatch(const ActiveWindowWatch&) = delete;
    ActiveWindowWatch& operator=(const ActiveWindowWatch&) = delete;

    // Main thread. The application of the window active now (nullopt: none).
    std::optional<ActiveApplication> activeApplication() const;

private:
    ActiveWindowWatch(GdkDisplay* display, Observer observer);
    static GdkFilterReturn onEvent(GdkXEvent* xevent, GdkEvent* event, gpointer self);

    GdkDisplay* display_;  // the default display, alive as long as GTK runs
    GdkWindow* root_;      // owned by GDK
    Observer observer_;
};

}  // namespace tessivo
