#include "cli/render_command.h"

#include "app/engine.h"
#ifdef TESSIVO_HAS_GTK
#include "app/gtk/offscreen_render_surface.h"
#endif
#include "app/render_end_view.h"
#include "engine_api/views.h"
#include "platform/files.h"
#include "platform/json.h"
#include "platform/queue.h"
#include "render/render_job.h"

#include <glib-unix.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace tessivo {

namespace {

// The save panel answers with the file named on the command line.
class FixedSavePanel final : public SavePanel {
public:
    explicit FixedSavePanel(std::filesystem::path path) : path_(std::move(path)) {}
    void chooseOutputFile(const SavePanelRequest&, std::function<void(std::optional<std::filesystem::path>)> done) override {
        done(path_);
    }

private:
    std::filesystem::path path_;
};

const char* signalName(int number) {
    switch (number) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "un signal";
    }
}

class ProgressDisplay {
public:
    ProgressDisplay() : terminal_(isatty(STDERR_FILENO) == 1) {}

    void show(double progress, long long frame, long long total) {
        const int percent = static_cast<int>(progress * 100 + 1e-9);
        if (terminal_) {
            constexpr int kWidth = 40;
            const int filled = std::clamp(static_cast<int>(progress * kWidth), 0, kWidth);
            if (filled == lastFilled_ && percent == lastPercent_) return;
            std::fprintf(stderr, "\r[%s%s] %3d%% %lld/%lld", std::string(filled, '#').c_str(),
                         std::string(kWidth - filled, '.').c_str(), percent, frame, total);
            std::fflush(stderr);
            lastFilled_ = filled;
            drawn_ = true;
        } else if (percent / 10 != lastPercent_ / 10 || lastPercent_ < 0) {
            std::fprintf(stderr, "rendu %d%% (%lld/%lld images)\n", percent, frame, total);
        }
        lastPercent_ = percent;
    }
    void end() {
        if (terminal_ && drawn_) std::fputc('\n', stderr);
        drawn_ = false;
    }

private:
    bool terminal_;
    bool drawn_ = false;
    int lastFilled_ = -1;
    int lastPercent_ = -1;
};

// SIGINT, SIGTERM and SIGHUP become a cancellation of the render job, taken
// on the main loop like any other cancellation: the job stops between frames
// and removes its temporary file, and the command ends with the signal's
// status. A second signal ends the process at once, whatever is left.
class InterruptWatch {
public:
    // `cancel` runs on the main thread, once, at the first signal.
    explicit InterruptWatch(std::function<void()> cancel) : cancel_(std::move(cancel)) {
        for (std::size_t i = 0; i < watches_.size(); ++i) {
            watches_[i].owner = this;
            watches_[i].source = g_unix_signal_add(watches_[i].number, &InterruptWatch::received, &watches_[i]);
        }
    }
    ~InterruptWatch() {
        for (auto& watch : watches_) g_source_remove(watch.source);
    }
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // The first signal received, or 0.
    int signal() const { return signal_; }

private:
    struct Watch {
        int number;
        guint source = 0;
        InterruptWatch* owner = nullptr;
    };

    // Main thread (the default main context dispatches the signal).
    static gboolean received(gpointer data) {
        auto* watch = static_cast<Watch*>(data);
        InterruptWatch& self = *watch->owner;
        if (self.signal_ != 0) {
            std::fprintf(stderr, "\ntessivo render: deuxième signal (%s), arrêt immédiat\n", signalName(watch->number));
            std::fflush(stderr);
            std::_Exit(128 + watch->number);
        }
        self.signal_ = watch->number;
        self.cancel_();
        return G_SOURCE_CONTINUE;
    }

    std::function<void()> cancel_;
    std::array<Watch, 3> watches_{{{SIGINT}, {SIGTERM}, {SIGHUP}}};
    int signal_ = 0;
};

int usage() {
    std::fprintf(stderr, "usage: tessivo-cli render PARAMS.json -o SORTIE.mov\n");
    return 2;
}

}  // namespace

int runRenderCommand(int argc, char** argv) {
    std::string paramsPath;
    std::string outputPath;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "-o" || argument == "--output") {
            if (++i >= argc) return usage();
            outputPath = argv[i];
        } else if (argument.rfind("--output=", 0) == 0) {
            outputPath = argument.substr(9);
        } else if (paramsPath.empty() && (argument.empty() || argument[0] != '-')) {
            paramsPath = argument;
        } else {
            return usage();
        }
    }
    if (paramsPath.empty() || outputPath.empty()) return usage();

    auto text = readFile(paramsPath);
    if (!text) {
        std::fprintf(stderr, "tessivo render: fichier illisible: %s\n", paramsPath.c_str());
        return 2;
    }
    auto params = parseJson(*text);
    if (!params || !params->is_object()) {
        std::fprintf(stderr, "tessivo render: %s n'est pas un objet JSON\n", paramsPath.c_str());
        return 2;
    }
    std::error_code error;
    std::filesystem::path output = std::filesystem::absolute(outputPath, error);
    if (error) output = outputPath;

    auto engine = ExportEngine::create();
    auto view = std::make_shared<RenderEndView>();
    FixedSavePanel panel(output);
    ProgressDisplay progress;
    engine->setup(view);
    engine->setSavePanel(&panel);
#ifdef TESSIVO_HAS_GTK
    // Renders through the editor's page, when a display is there to host it.
    engine->setRenderSurfaceFactory(offscreenRenderSurfaceFactory());
#endif
    ExportEngine* raw = engine.get();
    InterruptWatch interrupt([raw] {
        if (raw->renderJob().isRendering()) raw->renderJob().cancelExport();
    });
    engine->setPublishedStateObserver([raw, &progress] {
        const PublishedState& state = raw->published();
        if (state.isRendering)
            progress.show(state.renderProgress, raw->renderJob().currentFrame(), raw->renderJob().totalFrames());
    });

    engine->handleWebMessage(Json{{"type", "startRender"}, {"payload", *params}});
    waitForRenderEnd(*engine, *view);
    progress.end();

    const Json metrics = engine->renderJob().exportMetricsPayload();
    const std::string reason = engine->renderJob().lastCancelReason();
    engine->setPublishedStateObserver(nullptr);
    engine->shutdown();

    std::printf("%s\n", serializeJson(metrics).value_or("{}").c_str());
    std::fflush(stdout);
    if (interrupt.signal() != 0 && !view->completed) {
        std::fprintf(stderr, "tessivo render: rendu interrompu par %s, aucun fichier écrit\n",
                     signalName(interrupt.signal()));
        return 128 + interrupt.signal();
    }
    if (!view->completed) {
        std::fprintf(stderr, "tessivo render: rendu annulé: %s\n", reason.empty() ? "raison inconnue" : reason.c_str());
        return 1;
    }
    std::fprintf(stderr, "tessivo render: %s\n", output.c_str());
    return 0;
}

}  // namespace tessivo
