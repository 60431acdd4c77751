#include "app/gtk/main_window.h"

#include "app/gtk/offscreen_render_surface.h"
#include "app/gtk/palette_window.h"
#include "presence/floating_palette.h"
#include "app/gtk/style.h"

#include <algorithm>

namespace tessivo {

namespace {

MainWindow::Size clampedTo(MainWindow::Size wanted, MainWindow::Size area) {
    if (area.width <= 0 || area.height <= 0) return wanted;
    return {std::min(wanted.width, area.width), std::min(wanted.height, area.height)};
}

// The work area of the monitor the window will most likely open on: the one
// under the pointer, else the primary one, else the first.
MainWindow::Size workAreaForNewWindow() {
    GdkDisplay* display = gdk_display_get_default();  // not owned
    if (!display) return {};
    GdkMonitor* monitor = nullptr;  // not owned
    if (GdkSeat* seat = gdk_display_get_default_seat(display)) {
        if (GdkDevice* pointer = gdk_seat_get_pointer(seat)) {
            int x = 0, y = 0;
            gdk_device_get_position(pointer, nullptr, &x, &y);
            monitor = gdk_display_get_monitor_at_point(display, x, y);
        }
    }
    if (!monitor) monitor = gdk_display_get_primary_monitor(display);
    if (!monitor && gdk_display_get_n_monitors(display) > 0) monitor = gdk_display_get_monitor(display, 0);
    if (!monitor) return {};
    GdkRectangle area{};
    gdk_monitor_get_workarea(monitor, &area);
    return {area.width, area.height};
}

}  // namespace

MainWindow::Size MainWindow::fittedDefaultSize(Size workArea) {
    return clampedTo({kDefaultWidth, kDefaultHeight}, workArea);
}

MainWindow::Size MainWindow::fittedMinimumSize(Size workArea) {
    return clampedTo({kMinimumWidth, kMinimumHeight}, workArea);
}

MainWindow::MainWindow(GtkApplication* application, std::shared_ptr<ExportEngine> engine,
                       std::optional<std::filesystem::path> entryPage, const WebsiteDataFolders& websiteData)
    : engine_(std::move(engine)) {
    installApplicationStyle();

    // GTK keeps the toplevel's own reference until the window is destroyed;
    // this one is ours.
    GtkWidget* toplevel = application ? gtk_application_window_new(application) : gtk_window_new(GTK_WINDOW_TOPLEVEL);
    window_ = retainGObject(GTK_WINDOW(toplevel));
    gtk_window_set_title(window_.get(), "Tessivo");
    const Size workArea = workAreaForNewWindow();
    const Size size = fittedDefaultSize(workArea);
    const Size minimum = fittedMinimumSize(workArea);
    gtk_window_set_default_size(window_.get(), size.width, size.height);
    gtk_widget_set_size_request(toplevel, minimum.width, minimum.height);
    gtk_style_context_add_class(gtk_widget_get_style_context(toplevel), kMainWindowClass);

    overlayContainer_ = adoptGObject(GTK_OVERLAY(gtk_overlay_new()));
    gtk_container_add(GTK_CONTAINER(toplevel), GTK_WIDGET(overlayContainer_.get()));

    webViewHost_ = std::make_shared<WebViewHost>(websiteData);
    gtk_container_add(GTK_CONTAINER(overlayContainer_.get()), webViewHost_->widget());
    overlay_ = std::make_unique<RenderOverlay>(overlayContainer_.get());

    // Messages reach the engine only while it lives.
    std::weak_ptr<ExportEngine> weakEngine = engine_;
    webViewHost_->setMessageReceiver([weakEngine](const Json& message) {
        if (auto engine = weakEngine.lock()) engine->handleWebMessage(message);
    });
    engine_->setup(webViewHost_);

    savePanel_ = std::make_unique<GtkSavePanel>(window_.get());
    engine_->setSavePanel(savePanel_.get());
    downloadPanel_ = std::make_unique<GtkSavePanel>(window_.get(), GtkSavePanel::Contents::AnyFile);
    downloads_ = std::make_unique<PageDownloads>(webViewHost_->webContext(), downloadPanel_.get());
    engine_->setRenderSurfaceFactory(offscreenRenderSurfaceFactory());
    engine_->setPublishedStateObserver([this] { publishedStateChanged(); });
    overlay_->update(engine_->published());

    // The floating palette shows with Resolve in front where the desktop says
    // which application is active; elsewhere only from the editor.
    engine_->floatingPalette().setViewFactory(paletteWindowFactory(engine_->settings()));
    activeWindowWatch_ = ActiveWindowWatch::start([weakEngine](const ActiveApplication& app) {
        if (auto engine = weakEngine.lock()) engine->floatingPalette().handleActivatedApplication(app);
    });
    engine_->floatingPalette().setActivationWatchAvailable(activeWindowWatch_ != nullptr);

    g_signal_connect(toplevel, "destroy", G_CALLBACK(onDestroyed), this);
    g_signal_connect(toplevel, "delete-event", G_CALLBACK(onDeleteEvent), this);

    webViewHost_->loadEntryPage(entryPage);
    gtk_widget_show_all(toplevel);
    gtk_widget_grab_focus(webViewHost_->widget());
}

MainWindow::~MainWindow() {
    // Destroying the window has already dropped its signal handlers.
    close();
}

void MainWindow::close() {
    if (!closed_) gtk_widget_destroy(GTK_WIDGET(window_.get()));
}

// WebKit runs a page's pagehide handlers when the page is left for another,
// not when its view is destroyed: the page is left for an empty one first.
void MainWindow::requestClose() {
    if (closed_) return;
    if (closing_) {
        close();
        return;
    }
    gtk_widget_hide(GTK_WIDGET(window_.get()));
    closing_ = g_timeout_add(static_cast<guint>(kPageLeaveLimit * 1000), onPageLeaveLimit, this);
    pageLeftSignal_ = g_signal_connect(webViewHost_->webView(), "load-changed", G_CALLBACK(onPageLeft), this);
    webkit_web_view_load_uri(webViewHost_->webView(), "about:blank");
}

gboolean MainWindow::onDeleteEvent(GtkWidget*, GdkEvent*, gpointer self) {
    static_cast<MainWindow*>(self)->requestClose();
    return TRUE;  // destroyed once the page is gone
}

// Main thread. The empty page has replaced the editor's: its handlers have run.
void MainWindow::onPageLeft(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    if (event == WEBKIT_LOAD_COMMITTED || event == WEBKIT_LOAD_FINISHED) static_cast<MainWindow*>(self)->close();
}

// Main thread. The page did not go in time (a busy or stuck page).
gboolean MainWindow::onPageLeaveLimit(gpointer self) {
    auto* window = static_cast<MainWindow*>(self);
    window->closing_ = 0;
    window->close();
    return G_SOURCE_REMOVE;
}

void MainWindow::onDestroyed(GtkWidget*, gpointer self) { static_cast<MainWindow*>(self)->contentClosed(); }

// The window's content is gone: the engine lets go of the outside world (a
// running render is cancelled), and the page's channel is closed in any case.
void MainWindow::contentClosed() {
    if (closed_) return;
    closed_ = true;
    if (closing_) g_source_remove(closing_);
    closing_ = 0;
    if (pageLeftSignal_) g_signal_handler_disconnect(webViewHost_->webView(), pageLeftSignal_);
    pageLeftSignal_ = 0;
    engine_->setPublishedStateObserver(nullptr);
    activeWindowWatch_.reset();
    engine_->shutdown();
    webViewHost_->removeMessageHandler();
    engine_->setSavePanel(nullptr);
    engine_->setRenderSurfaceFactory(nullptr);
    savePanel_.reset();
    // Files still waiting for their destination are cancelled.
    downloads_.reset();
    downloadPanel_.reset();
}

void MainWindow::publishedStateChanged() {
    const bool wasShown = overlay_->isShown();
    overlay_->update(engine_->published());
    // Back to the page once the render is over.
    if (wasShown && !overlay_->isShown()) gtk_widget_grab_focus(webViewHost_->widget());
}

}  // namespace tessivo
