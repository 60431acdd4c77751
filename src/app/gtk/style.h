// The look of the native parts of the main window (window background, render
// overlay), as one style sheet for the default screen.
#pragma once

namespace tessivo {

// Main thread, after GTK is initialised. Installs the style sheet once.
void installApplicationStyle();

// Style classes the sheet defines.
inline constexpr const char* kMainWindowClass = "tessivo-main-window";

}  // namespace tessivo
