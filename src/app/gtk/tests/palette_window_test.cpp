// The floating palette in the real program under X: the test plays the window
// manager, naming the active window in the root window's _NET_ACTIVE_WINDOW,
// with stand-in windows of other processes (one with Resolve's class). The
// simulator plays Resolve for the insertion.
// GoogleTest first: X11's headers define macros (None, Bool) its own would trip on.
#include <gtest/gtest.h>

#include "app/gtk/palette_window.h"
#include "app/gtk/tests/editor_session.h"
#include "platform/settings.h"
#include "presence/floating_palette.h"

#include <gdk/gdkx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <set>

namespace tessivo {
namespace {

using testing::EditorSession;
using testing::runFor;
using testing::waitFor;

// A top-level X window as another program would map it.
class StandInWindow {
public:
    StandInWindow(Display* x, const char* instance, const char* windowClass, const char* title) : x_(x) {
        window_ = XCreateSimpleWindow(x, DefaultRootWindow(x), 10, 10, 200, 100, 0, 0, 0);
        XClassHint hint{const_cast<char*>(instance), const_cast<char*>(windowClass)};
        XSetClassHint(x, window_, &hint);
        XStoreName(x, window_, title);
        // Another process than ours: the test's parent.
        const long pid = static_cast<long>(getppid());
        XChangeProperty(x, window_, XInternAtom(x, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&pid), 1);
        XMapWindow(x, window_);
        XFlush(x);
    }
    ~StandInWindow() {
        XDestroyWindow(x_, window_);
        XFlush(x_);
    }
    StandInWindow(const StandInWindow&) = delete;
    StandInWindow& operator=(const StandInWindow&) = delete;
    Window id() const { return window_; }

private:
    Display* x_;
    Window window_;
};

class PaletteWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!EditorSession::displayAvailable(&why)) GTEST_SKIP() << why;
        if (!GDK_IS_X11_DISPLAY(gdk_display_get_default())) GTEST_SKIP() << "not an X11 display";
        x = GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
        session = std::make_unique<EditorSession>();
        ASSERT_TRUE(session->sim({"init", "--fps", "25", "--start-timecode", "01:00:00:00", "--project", "Démo Tessivo",
                                  "--timeline", "Timeline démo"}))
            << session->error();
        ASSERT_TRUE(session->sim({"add-clip", "--name", "Plan large", "--start", "0", "--duration", "10s"})) << session->error();
        ASSERT_TRUE(session->sim({"playhead", "01:00:03:00"})) << session->error();
        ASSERT_TRUE(session->open()) << session->error();
        ASSERT_NE(session->window().activeWindowWatch(), nullptr) << "X11 reports the active window";
    }
    void TearDown() override { session.reset(); }

    // What a window manager does when it activates `window`: the keyboard
    // focus to it, and its name in the root window's property.
    void activate(Window window) {
        XSync(x, False);
        XSetInputFocus(x, window, RevertToParent, CurrentTime);
        XChangeProperty(x, DefaultRootWindow(x), XInternAtom(x, "_NET_ACTIVE_WINDOW", False), XA_WINDOW, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(&window), 1);
        XFlush(x);
    }
    FloatingPalette& palette() { return session->engine().floatingPalette(); }
    PaletteWindow* window() { return dynamic_cast<PaletteWindow*>(palette().view()); }
    bool onScreen() {
        auto* w = window();
        return w && gtk_widget_get_mapped(GTK_WIDGET(w->window()));
    }

    Display* x = nullptr;
    std::unique_ptr<EditorSession> session;
};

TEST_F(PaletteWindowTest, ShowsWhileResolveIsActiveAndNeverTakesTheFocus) {
    StandInWindow resolve(x, "resolve", "resolve", "DaVinci Resolve - Démo Tessivo");
    StandInWindow other(x, "gedit", "Gedit", "Sans titre 1");
    GtkWindow* main = session->window().window();
    const Window mainID = GDK_WINDOW_XID(gtk_widget_get_window(GTK_WIDGET(main)));

    activate(other.id());
    runFor(0.3);
    EXPECT_FALSE(onScreen()) << "no palette before Resolve is active";

    const struct { const char* step; Window active; bool shown; } steps[] = {
        {"Resolve active", resolve.id(), true},
        {"another program active", other.id(), false},
        {"Resolve again", resolve.id(), true},
        {"our own window: left as it is", mainID, true},
        {"another program after ours", other.id(), false},
    };
    for (const auto& s : steps) {
        activate(s.active);
        EXPECT_TRUE(waitFor([&] { return onScreen() == s.shown; }, 5)) << s.step;
    }

    activate(resolve.id());
    ASSERT_TRUE(waitFor([&] { return onScreen(); }, 5));
    GtkWindow* panel = window()->window();
    EXPECT_STREQ(gtk_window_get_title(panel), "Tessivo — Essentiels");
    EXPECT_EQ(gtk_window_get_type_hint(panel), GDK_WINDOW_TYPE_HINT_UTILITY);
    // The window manager learns from the hints that the palette never takes the input focus.
    const Window panelID = GDK_WINDOW_XID(gtk_widget_get_window(GTK_WIDGET(panel)));
    std::unique_ptr<XWMHints, int (*)(void*)> hints(XGetWMHints(x, panelID), XFree);
    ASSERT_TRUE(hints);
    EXPECT_TRUE(hints->flags & InputHint);
    EXPECT_FALSE(hints->input);
    // Clicking a tile leaves the focus with Resolve.
    Window focusAfter = 0;
    int revert = 0;
    ASSERT_TRUE(waitFor([&] { return gtk_widget_get_sensitive(GTK_WIDGET(window()->tileButton(1))); }, 10));
    gtk_button_clicked(window()->tileButton(1));
    runFor(0.2);
    XGetInputFocus(x, &focusAfter, &revert);
    EXPECT_EQ(focusAfter, resolve.id());
    EXPECT_FALSE(gtk_window_is_active(panel));
    EXPECT_EQ(palette().model().selectedEffectID, palette().model().effects.at(1).id);
}

TEST_F(PaletteWindowTest, ClosedPaletteStaysClosedUntilTheEditorShowsIt) {
    StandInWindow resolve(x, "resolve", "resolve", "DaVinci Resolve");
    StandInWindow other(x, "nautilus", "Nautilus", "Dossier");
    activate(resolve.id());
    ASSERT_TRUE(waitFor([&] { return onScreen(); }, 5));
    // The title-bar close, as the window manager delivers it.
    GdkEvent* event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(GTK_WIDGET(window()->window()))));
    gtk_main_do_event(event);
    gdk_event_free(event);
    EXPECT_FALSE(onScreen());
    activate(other.id());
    runFor(0.1);
    activate(resolve.id());
    runFor(0.5);
    EXPECT_FALSE(onScreen()) << "dismissed for this run";
    session->engine().handleWebMessage(Json{{"type", "fusionFloatingPaletteShow"}});
    EXPECT_TRUE(waitFor([&] { return onScreen(); }, 5));
}

TEST_F(PaletteWindowTest, PreviewsCycleAndTheInsertButtonInsertsAtThePlayhead) {
    StandInWindow resolve(x, "resolve", "resolve", "DaVinci Resolve");
    activate(resolve.id());
    ASSERT_TRUE(waitFor([&] { return onScreen() && !palette().model().effects.empty(); }, 10));
    // The tracks come from Resolve: its one video track between the automatic and new entries.
    ASSERT_TRUE(waitFor([&] { return palette().model().trackChoices.size() == 3; }, 15));
    EXPECT_EQ(palette().model().trackChoices[1].first, "track:1");

    std::size_t animated = kPaletteMaxEffects;
    for (std::size_t i = 0; i < kPaletteMaxEffects; ++i)
        if (window()->frameCount(i) > 1) animated = i;
    ASSERT_LT(animated, kPaletteMaxEffects) << "an effect of the library has preview frames";
    std::set<int> seen;
    waitFor([&] {
        seen.insert(window()->shownFrame(animated));
        return seen.size() >= 3;
    }, 3);
    EXPECT_GE(seen.size(), 3u) << "frames cycle while the palette is on screen";

    gtk_combo_box_set_active_id(window()->trackPicker(), "new");
    gtk_button_clicked(window()->tileButton(0));
    const std::string chosen = *palette().model().selectedEffectID;
    gtk_button_clicked(window()->insertButton());
    EXPECT_EQ(window()->statusText(), "Insertion à la tête de lecture…");
    ASSERT_TRUE(waitFor([&] { return window()->statusText().rfind("Inséré sur V", 0) == 0; }, 60)) << window()->statusText();

    const auto sent = palette().model().targetTrack;
    EXPECT_EQ(sent, "new");
    const auto timeline = session->simTimeline();
    ASSERT_TRUE(timeline.has_value());
    int titles = 0;
    for (const auto& [label, items] : timeline->items()) {
        if (label.rfind("video", 0) != 0) continue;
        for (const auto& item : items) {
            if (item.value("name", "") != "Text+") continue;
            ++titles;
            EXPECT_EQ(item.value("start", Json()), 90075) << timeline->dump();
            EXPECT_NE(label, "video 1") << "a new track above: " << timeline->dump();
        }
    }
    EXPECT_EQ(titles, 1) << timeline->dump() << " effect " << chosen;
}

TEST_F(PaletteWindowTest, PositionIsRememberedUnderTheAutosaveName) {
    Settings& settings = session->engine().settings();
    settings.remove(kPaletteAutosaveName);
    {
        PaletteWindow first(settings, PaletteActions{});
        first.show();
        gtk_window_move(first.window(), 333, 222);
        ASSERT_TRUE(waitFor([&] {
            int px = 0, py = 0;
            gtk_window_get_position(first.window(), &px, &py);
            return px == 333 && py == 222;
        }, 5));
        first.hide();
    }
    EXPECT_EQ(settings.stringValue(kPaletteAutosaveName), "333 222");
    PaletteWindow second(settings, PaletteActions{});
    second.show();
    int px = 0, py = 0;
    waitFor([&] {
        gtk_window_get_position(second.window(), &px, &py);
        return px == 333 && py == 222;
    }, 5);
    EXPECT_EQ(px, 333);
    EXPECT_EQ(py, 222);
}

}  // namespace
}  // namespace tessivo
