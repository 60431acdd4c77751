#include "cli/deliver_command.h"

#include "app/engine.h"
#ifdef TESSIVO_HAS_GTK
#include "app/gtk/offscreen_render_surface.h"
#endif
#include "bridge/coercion.h"
#include "platform/files.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>

namespace tessivo {

namespace {

constexpr std::string_view kCompleteCallback = "window.onResolveExportComplete";

constexpr std::pair<std::string_view, std::string_view> kRoutes[] = {
    {"exact", "exportToResolve"},
    {"lottie", "exportResolveLottie"},
    {"fusion", "exportResolveHTML"},
    {"smart", "exportResolveSmart"},
};

// A progress bar on a terminal, one line per tenth otherwise (standard error).
class DeliveryProgress {
public:
    DeliveryProgress() : terminal_(isatty(STDERR_FILENO) == 1) {}

    void show(double fraction) {
        fraction = std::clamp(fraction, 0.0, 1.0);
        const int percent = static_cast<int>(fraction * 100 + 1e-9);
        if (percent == lastPercent_) return;
        if (terminal_) {
            constexpr int kWidth = 40;
            const int filled = static_cast<int>(fraction * kWidth);
            std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(),
                         std::string(kWidth - filled, '.').c_str(), percent);
            std::fflush(stderr);
            drawn_ = true;
        } else if (lastPercent_ < 0 || percent / 10 != lastPercent_ / 10) {
            std::fprintf(stderr, "livraison %d%%\n", percent);
        }
        lastPercent_ = percent;
    }
    void end() {
        if (drawn_) std::fputc('\n', stderr);
        drawn_ = false;
    }

private:
    bool terminal_;
    bool drawn_ = false;
    int lastPercent_ = -1;
};

// Keeps the final answer of the delivery and shows what the route reports on the way.
class DeliveryView final : public MainWebView {
public:
    explicit DeliveryView(DeliveryProgress& progress) : progress_(progress) {}

    void evaluateScript(const std::string&) override {}

    void deliverCallback(const std::string& function, const std::string& payloadJSON, const std::string&) override {
        auto payload = parseJson(payloadJSON);
        if (!payload) return;
        if (function == kCompleteCallback) {
            if (!answer) answer = std::move(*payload);
            return;
        }
        // Routes that report progress do so with a "progress" fraction (or percentage).
        if (const Json* value = member(*payload, "progress"); value && value->is_number()) {
            double fraction = value->get<double>();
            progress_.show(fraction > 1.0 ? fraction / 100.0 : fraction);
        }
    }

    std::optional<Json> answer;

private:
    DeliveryProgress& progress_;
};

int usage() {
    std::fprintf(stderr, "Usage : tessivo-cli deliver exact|lottie|fusion|smart PARAMS.json\n");
    return 2;
}

}  // namespace

std::string_view deliveryMessageType(std::string_view route) {
    for (const auto& [name, type] : kRoutes)
        if (name == route) return type;
    return {};
}

int runDeliverCommand(const std::vector<std::string>& arguments) {
    if (arguments.size() != 2) return usage();
    const std::string_view type = deliveryMessageType(arguments[0]);
    if (type.empty()) return usage();

    auto text = readFile(arguments[1]);
    if (!text) {
        std::fprintf(stderr, "tessivo deliver : fichier illisible : %s\n", arguments[1].c_str());
        return 2;
    }
    auto params = parseJson(*text);
    if (!params || !params->is_object()) {
        std::fprintf(stderr, "tessivo deliver : %s n'est pas un objet JSON\n", arguments[1].c_str());
        return 2;
    }

    auto engine = ExportEngine::create();
    if (!engine->dispatcher().hasOperation(type)) {
        std::fprintf(stderr, "tessivo deliver : la livraison « %s » n'est pas encore disponible dans cette version.\n",
                     arguments[0].c_str());
        return 1;
    }
    DeliveryProgress progress;
    auto view = std::make_shared<DeliveryView>(progress);
    engine->setup(view);
#ifdef TESSIVO_HAS_GTK
    // Without a display there is no render page: the Exact Web route draws natively.
    if (offscreenDisplayAvailable()) engine->setRenderSurfaceFactory(offscreenRenderSurfaceFactory());
#endif
    ExportEngine* raw = engine.get();
    engine->setPublishedStateObserver([raw, &progress] {
        if (raw->published().isRendering) progress.show(raw->published().renderProgress);
    });

    Json message = Json::object();
    message["type"] = std::string(type);
    message["payload"] = *params;
    engine->handleWebMessage(message);
    // Waits for the answer and for the engine to be idle (held for a few
    // consecutive checks, as work hops between queues): the engine must not go
    // away while a queue still runs work that holds it.
    int quietChecks = 0;
    runMainContextUntil([&] {
        if (!engine->isIdle()) {
            quietChecks = 0;
            return false;
        }
        return ++quietChecks >= 3;
    }, 0.02);
    progress.end();
    engine->setPublishedStateObserver(nullptr);
    engine->shutdown();

    if (!view->answer) {
        std::fprintf(stderr, "tessivo deliver : la livraison n'a pas répondu (demande ignorée pendant un rendu ?).\n");
        return 1;
    }
    std::printf("%s\n", view->answer->dump(2).c_str());
    std::fflush(stdout);
    const Json* success = member(*view->answer, "success");
    const bool succeeded = success && success->is_boolean() && success->get<bool>();
    if (!succeeded) {
        std::fprintf(stderr, "tessivo deliver : %s\n", stringValue(*view->answer, "message", "échec de la livraison").c_str());
        return 1;
    }
    return 0;
}

}  // namespace tessivo
