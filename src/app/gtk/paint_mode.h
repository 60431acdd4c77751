// How the main window's page is painted. WebKit paints with OpenGL when it
// can; on a display whose OpenGL is itself drawn by the CPU (Mesa's llvmpipe
// in virtual machines, remote sessions and Xvfb) that costs several times
// plain software painting: the editor's preview and timeline then fall far
// behind the frame rate. The page is painted in software there.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <webkit2/webkit2.h>

namespace tessivo {

// Whether an OpenGL renderer name (GL_RENDERER) is a CPU rasteriser.
bool isSoftwareRenderer(std::string_view glRenderer);

// Main thread, GTK initialised. The GL_RENDERER of the default X display, or
// nullopt when it has no OpenGL or is not an X display. Asked once per process.
std::optional<std::string> displayGLRenderer();

// Main thread. Paints `settings`' views in software when the display's
// OpenGL is a CPU rasteriser (logged once), else leaves WebKit's default.
void choosePaintMode(WebKitSettings* settings);

}  // namespace tessivo
