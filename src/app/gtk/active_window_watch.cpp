#include "app/gtk/active_window_watch.h"

#include "platform/log.h"

#include <gdk/gdkx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <string>

namespace tessivo {

namespace {

// Xlib allocations released with XFree.
struct XFreeDeleter {
    void operator()(void* p) const { if (p) XFree(p); }
};
template <typename T> using XPtr = std::unique_ptr<T, XFreeDeleter>;

// A property of `window` read whole, nullopt when absent or of another type.
std::optional<std::string> readProperty(Display* x, Window window, Atom property, Atom type, int format,
                                        unsigned long* items = nullptr) {
    Atom actualType = None;
    int actualFormat = 0;
    unsigned long count = 0, after = 0;
    unsigned char* raw = nullptr;
    gdk_x11_display_error_trap_push(gdk_display_get_default());
    const int status = XGetWindowProperty(x, window, property, 0, 65536, False, type, &actualType, &actualFormat,
                                          &count, &after, &raw);
    // A window that went away in between answers with an error, trapped here.
    const bool failed = gdk_x11_display_error_trap_pop(gdk_display_get_default()) != 0;
    XPtr<unsigned char> data(raw);
    if (failed || status != Success || actualType != type || actualFormat != format || !data) return std::nullopt;
    if (items) *items = count;
    const std::size_t unit = format == 8 ? 1 : format == 16 ? sizeof(short) : sizeof(long);
    return std::string(reinterpret_cast<const char*>(data.get()), count * unit);
}

Atom atom(Display* x, const char* name) { return XInternAtom(x, name, False); }

}  // namespace

std::unique_ptr<ActiveWindowWatch> ActiveWindowWatch::start(Observer observer) {
    GdkDisplay* display = gdk_display_get_default();
    if (!display || !GDK_IS_X11_DISPLAY(display)) {
        logLine("Palette flottante : ce bureau ne signale pas l'application active (pas de X11) ; "
                "la palette s'ouvre seulement depuis l'éditeur.");
        return nullptr;
    }
    return std::unique_ptr<ActiveWindowWatch>(new ActiveWindowWatch(display, std::move(observer)));
}

ActiveWindowWatch::ActiveWindowWatch(GdkDisplay* display, Observer observer)
    : display_(display), root_(gdk_get_default_root_window()), observer_(std::move(observer)) {
    // Property changes of the root window reach GDK's filters only once asked for.
    gdk_window_set_events(root_, static_cast<GdkEventMask>(gdk_window_get_events(root_) | GDK_PROPERTY_CHANGE_MASK));
    gdk_window_add_filter(root_, onEvent, this);
}

ActiveWindowWatch::~ActiveWindowWatch() { gdk_window_remove_filter(root_, onEvent, this); }

std::optional<ActiveApplication> ActiveWindowWatch::activeApplication() const {
    Display* x = GDK_DISPLAY_XDISPLAY(display_);
    const Window root = GDK_WINDOW_XID(root_);
    unsigned long items = 0;
    auto active = readProperty(x, root, atom(x, "_NET_ACTIVE_WINDOW"), XA_WINDOW, 32, &items);
    if (!active || items < 1) return std::nullopt;
    const Window window = *reinterpret_cast<const long*>(active->data());
    if (window == None) return std::nullopt;

    ActiveApplication app;
    if (auto wmClass = readProperty(x, window, XA_WM_CLASS, XA_STRING, 8)) {
        // Two NUL-terminated texts: the instance name, then the class.
        const auto split = wmClass->find('\0');
        app.instanceName = wmClass->substr(0, split);
        if (split != std::string::npos) app.windowClass = std::string(wmClass->c_str() + split + 1);
    }
    if (auto title = readProperty(x, window, atom(x, "_NET_WM_NAME"), atom(x, "UTF8_STRING"), 8)) app.title = *title;
    else if (auto name = readProperty(x, window, XA_WM_NAME, XA_STRING, 8)) app.title = *name;
    if (auto pid = readProperty(x, window, atom(x, "_NET_WM_PID"), XA_CARDINAL, 32, &items); pid && items >= 1)
        app.pid = *reinterpret_cast<const long*>(pid->data());
    return app;
}

// Main thread (GDK's event dispatch).
GdkFilterReturn ActiveWindowWatch::onEvent(GdkXEvent* xevent, GdkEvent*, gpointer data) {
    auto* self = static_cast<ActiveWindowWatch*>(data);
    auto* event = static_cast<XEvent*>(xevent);
    if (event->type != PropertyNotify) return GDK_FILTER_CONTINUE;
    Display* x = GDK_DISPLAY_XDISPLAY(self->display_);
    if (event->xproperty.atom != atom(x, "_NET_ACTIVE_WINDOW")) return GDK_FILTER_CONTINUE;
    auto app = self->activeApplication();
    if (app) self->observer_(*app);
    return GDK_FILTER_CONTINUE;
}

}  // namespace tessivo
