// tessivo: the desktop program. One window hosting the editor's page, driven
// by one ExportEngine.
#include "app/engine.h"
#include "app/gtk/main_window.h"
#include "app/gtk/web_view_host.h"
#include "platform/paths.h"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <memory>
#include <vector>

namespace {

struct Program {
    GtkApplication* application = nullptr;  // not owned
    std::unique_ptr<tessivo::MainWindow> window;
};

// A termination request closes the window as its close button would, so the
// page saves what it had not saved yet and the engine shuts down (a running
// render is cancelled) before the program ends; a second request closes at once.
gboolean terminate(gpointer data) {
    auto* program = static_cast<Program*>(data);
    if (program->window && !program->window->isClosed()) {
        program->window->requestClose();
    } else {
        g_application_quit(G_APPLICATION(program->application));
    }
    return G_SOURCE_CONTINUE;
}

void activate(GtkApplication* application, gpointer data) {
    auto* program = static_cast<Program*>(data);
    // One window for the life of the program: activating again brings it forward.
    if (program->window && !program->window->isClosed()) {
        gtk_window_present(program->window->window());
        return;
    }
    if (program->window) return;
    auto engine = tessivo::ExportEngine::create();
    program->window = std::make_unique<tessivo::MainWindow>(
        application, std::move(engine), tessivo::entryPageIn(tessivo::resourcesDirectory()));
}

}  // namespace

int main(int argc, char** argv) {
    Program program;
    // A new reference owned here.
    auto application = tessivo::adoptGObject(gtk_application_new("org.tessivo.Tessivo", G_APPLICATION_DEFAULT_FLAGS));
    program.application = application.get();
    std::vector<guint> signalSources;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) signalSources.push_back(g_unix_signal_add(signal, terminate, &program));
    g_signal_connect(application.get(), "activate", G_CALLBACK(activate), &program);
    const int status = g_application_run(G_APPLICATION(application.get()), argc, argv);
    for (guint source : signalSources) g_source_remove(source);
    // The window (and with it the engine) goes before the application.
    program.window.reset();
    return status;
}
