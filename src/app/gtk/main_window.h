// The application's single window: the editor's page filling it, the render
// overlay on top, the engine connected to both. The window owns the engine for
// the life of its content; closing the window shuts the engine down.
#pragma once

#include "app/engine.h"
#include "app/gtk/active_window_watch.h"
#include "app/gtk/gtk_save_panel.h"
#include "app/gtk/page_downloads.h"
#include "app/gtk/render_overlay.h"
#include "app/gtk/web_view_host.h"
#include "platform/glib_ptr.h"

#include <gtk/gtk.h>

#include <filesystem>
#include <memory>
#include <optional>

namespace tessivo {

class MainWindow {
public:
    static constexpr int kDefaultWidth = 1720;
    static constexpr int kDefaultHeight = 980;
    static constexpr int kMinimumWidth = 1280;
    static constexpr int kMinimumHeight = 800;

    struct Size {
        int width = 0;
        int height = 0;
        bool operator==(const Size&) const = default;
    };
    // The default and minimum sizes of the window on a monitor whose work area
    // (the screen less panels and docks) is `workArea`: each no larger than it,
    // so that no edge of the page falls off the screen. An empty work area
    // (none known) leaves the sizes as they are.
    static Size fittedDefaultSize(Size workArea);
    static Size fittedMinimumSize(Size workArea);

    // Main thread. Builds the window around `engine`, connects the page to it
    // and loads `entryPage` (none: the page stays empty). With an application
    // the window is one of its windows; without (tests), a plain toplevel.
    // The page's website data (its local storage) is kept in `websiteData`.
    // The window is shown.
    MainWindow(GtkApplication* application, std::shared_ptr<ExportEngine> engine,
               std::optional<std::filesystem::path> entryPage,
               const WebsiteDataFolders& websiteData = WebsiteDataFolders::forUser());
    // Closes the window if it is still open.
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    GtkWindow* window() const { return window_.get(); }
    WebViewHost& webViewHost() { return *webViewHost_; }
    RenderOverlay& renderOverlay() { return *overlay_; }
    // The files the page offers for saving (none once the window is closed).
    PageDownloads* downloads() { return downloads_.get(); }
    ExportEngine& engine() { return *engine_; }
    // What follows the active application for the palette (none: not on X11).
    ActiveWindowWatch* activeWindowWatch() { return activeWindowWatch_.get(); }

    // Main thread. Closes the window as its close button does: the window is
    // hidden at once, the page is let go first (its pagehide handlers run,
    // so the editor saves what it had not saved yet), then the window is
    // destroyed, after kPageLeaveLimit seconds at the latest. A second
    // request closes at once.
    void requestClose();
    static constexpr double kPageLeaveLimit = 2.0;
    // Main thread. Destroys the window now, without letting the page go first.
    void close();
    bool isClosed() const { return closed_; }
    bool isClosing() const { return closing_ != 0; }

private:
    static void onDestroyed(GtkWidget* widget, gpointer self);
    static gboolean onDeleteEvent(GtkWidget* widget, GdkEvent* event, gpointer self);
    static void onPageLeft(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
    static gboolean onPageLeaveLimit(gpointer self);
    void contentClosed();
    void publishedStateChanged();

    std::shared_ptr<ExportEngine> engine_;
    GObjectPtr<GtkWindow> window_;
    GObjectPtr<GtkOverlay> overlayContainer_;
    std::shared_ptr<WebViewHost> webViewHost_;
    std::unique_ptr<RenderOverlay> overlay_;
    std::unique_ptr<GtkSavePanel> savePanel_;
    std::unique_ptr<GtkSavePanel> downloadPanel_;
    std::unique_ptr<PageDownloads> downloads_;
    // Nullptr when the desktop does not report the active application.
    std::unique_ptr<ActiveWindowWatch> activeWindowWatch_;
    bool closed_ = false;
    // While a requested close waits for the page: the time limit's source.
    guint closing_ = 0;
    gulong pageLeftSignal_ = 0;
};

}  // namespace tessivo
