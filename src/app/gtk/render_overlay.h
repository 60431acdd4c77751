// The render progress overlay of the main window: a dark backdrop over the
// whole page with a centred card (title, progress bar, percentage, caption),
// faded in while a render runs. While shown it takes the input, so the page
// below cannot be used until the render ends.
#pragma once

#include "engine_api/engine_context.h"
#include "platform/glib_ptr.h"

#include <gtk/gtk.h>

#include <string>

namespace tessivo {

// The percentage text of a progress in 0…1: the integer part of progress×100
// followed by "%" (0.999 gives "99%"). Values outside 0…1 are clamped.
std::string renderPercentText(double progress);

class RenderOverlay {
public:
    // Main thread. Adds the overlay, hidden, on top of `overlay`'s main child.
    explicit RenderOverlay(GtkOverlay* overlay);
    RenderOverlay(const RenderOverlay&) = delete;
    RenderOverlay& operator=(const RenderOverlay&) = delete;

    // Main thread. Shows or hides the overlay and updates its bar and text.
    void update(const PublishedState& state);

    bool isShown() const;
    std::string percentText() const;
    double barFraction() const;

private:
    GObjectPtr<GtkOverlay> overlay_;
    GObjectPtr<GtkWidget> revealer_;
    GObjectPtr<GtkWidget> backdrop_;
    GObjectPtr<GtkWidget> progressBar_;
    GObjectPtr<GtkWidget> percentLabel_;
};

}  // namespace tessivo
