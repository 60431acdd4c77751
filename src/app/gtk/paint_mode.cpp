#include "app/gtk/paint_mode.h"

#include "platform/glib_ptr.h"
#include "platform/log.h"

#include <epoxy/gl.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <array>
#include <cctype>

namespace tessivo {

bool isSoftwareRenderer(std::string_view glRenderer) {
    std::string lower(glRenderer);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    constexpr std::array<std::string_view, 4> kSoftware = {"llvmpipe", "softpipe", "swrast", "software rasterizer"};
    return std::any_of(kSoftware.begin(), kSoftware.end(),
                       [&](std::string_view name) { return lower.find(name) != std::string::npos; });
}

namespace {

std::optional<std::string> askGLRenderer() {
    // Asked through the X server's root window; other displays (Wayland)
    // keep WebKit's own choice.
    GdkDisplay* display = gdk_display_get_default();  // not owned
    if (!display || !GDK_IS_X11_DISPLAY(display)) return std::nullopt;
    GdkWindow* root = gdk_get_default_root_window();  // not owned
    if (!root) return std::nullopt;
    GErrorOut error;
    // A new reference owned here.
    GObjectPtr<GdkGLContext> context = adoptGObject(gdk_window_create_gl_context(root, error.out()));
    if (!context || !gdk_gl_context_realize(context.get(), error.out())) return std::nullopt;
    gdk_gl_context_make_current(context.get());
    const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    std::optional<std::string> name;
    if (renderer) name = renderer;
    gdk_gl_context_clear_current();
    return name;
}

}  // namespace

std::optional<std::string> displayGLRenderer() {
    static const std::optional<std::string> renderer = askGLRenderer();
    return renderer;
}

void choosePaintMode(WebKitSettings* settings) {
    const auto renderer = displayGLRenderer();
    if (!renderer || !isSoftwareRenderer(*renderer)) return;
    static bool logged = false;
    if (!logged) {
        logged = true;
        logLine("OpenGL dessiné par le processeur (" + *renderer + ") : la page est peinte sans accélération matérielle");
    }
    webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
}

}  // namespace tessivo
