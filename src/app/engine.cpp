#include "app/engine.h"

#include "presence/timeline_watch.h"

#include "bridge/coercion.h"
#include "bridge/web_callback.h"
#include "delivery/exact_web_delivery.h"
#include "delivery/smart_delivery.h"
#include "delivery/smart_steps.h"
#include "fusion/fusion_route.h"
#include "library/effect_editing.h"
#include "library/fusion_library.h"
#include "library/native_template.h"
#include "library/shared_library.h"
#include "library/still_preview.h"
#include "lottie/lottie_route.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "presence/floating_palette.h"
#include "render/render_job.h"
#include "resolve/subtitle_import.h"

#include <gio/gio.h>

#include <algorithm>
#include <thread>
#include <string_view>
#include <utility>

namespace tessivo {

namespace {

bool launchDefaultHandler(const std::string& uri) {
    GErrorOut error;
    if (g_app_info_launch_default_for_uri(uri.c_str(), nullptr, error.out())) return true;
    logLine("Lien non ouvert (" + uri + "): " + error.message());
    return false;
}

}  // namespace

std::shared_ptr<ExportEngine> ExportEngine::create(Options options) {
    // Queued work holds the engine weakly, but while an item runs it holds a
    // strong reference; when the window lets go meanwhile, the last reference
    // drops on a serial queue's thread, and the destructor would wait for that
    // very thread to stop. The engine is therefore always destroyed on the
    // thread that made it: from any other thread its deletion is handed to the
    // main context.
    std::unique_ptr<ExportEngine> made(new ExportEngine(std::move(options)));
    const std::thread::id owner = std::this_thread::get_id();
    std::shared_ptr<ExportEngine> engine(made.release(), [owner](ExportEngine* doomed) {
        if (std::this_thread::get_id() == owner) {
            delete doomed;
            return;
        }
        GSource* source = g_idle_source_new();
        g_source_set_callback(
            source,
            [](gpointer data) -> gboolean {
                delete static_cast<ExportEngine*>(data);
                return G_SOURCE_REMOVE;
            },
            doomed, nullptr);
        g_source_attach(source, g_main_context_default());
        g_source_unref(source);
    });
    engine->registerOperations();
    return engine;
}

ExportEngine::ExportEngine(Options options)
    : options_(std::move(options)),
      mainQueue_(std::make_unique<MainQueue>()),
      exportQueue_(std::make_unique<SerialQueue>("kinetype.export.queue")),
      resolveOperationQueue_(std::make_unique<SerialQueue>("tessivo.resolve.operations")),
      fusionTimelineWatchQueue_(std::make_unique<SerialQueue>("tessivo.fusion.timeline.watch")),
      settings_(options_.configuration.settingsFile),
      dispatcher_(*exportQueue_, *fusionTimelineWatchQueue_) {
    if (!options_.openURI) options_.openURI = launchDefaultHandler;
    // The floating palette is enabled on first launch; a stored choice stays.
    if (!settings_.hasKey(kPaletteEnabledKey)) settings_.setBool(kPaletteEnabledKey, true);

    runner_ = std::make_unique<PythonRunner>(*resolveOperationQueue_, *exportQueue_,
                                             RunnerSetup::fromConfiguration(options_.configuration));
    subtitleImporter_ = std::make_unique<SubtitleImporter>(*this);
    renderJob_ = std::make_unique<RenderJob>(*this);
    fusionDelivery_ = std::make_unique<FusionDelivery>(*this);
    lottieDelivery_ = std::make_unique<LottieDelivery>(*this);
    exactWebDelivery_ = std::make_unique<ExactWebDelivery>(*this, *renderJob_);
    smartSteps_ = std::make_unique<EngineSmartSteps>(*this, *renderJob_, *lottieDelivery_, *exactWebDelivery_);
    smartDelivery_ = std::make_unique<SmartDelivery>(*this, *smartSteps_);
    fusionLibrary_ = std::make_unique<FusionEffectLibrary>(*this, applicationSupportDirectory(),
                                                           options_.configuration.resourcesFolder);
    // The shared library reloads the editor's list after each operation, and
    // holds Resolve for itself while it runs: still previews are answered as stale.
    sharedLibrary_ = std::make_unique<SharedLibrary>(*this, fusionLibrary_->store(), options_.configuration.resourcesFolder,
                                                     [this] { fusionLibrary_->loadFusionEffectLibrary(); });
    // The timeline watch and its sync step aside while the shared library drives Resolve.
    timelineWatch_ = std::make_unique<TimelineWatch>(*this);
    timelineSync_ = std::make_unique<TimelineSync>(*this, options_.configuration.resourcesFolder,
                                                   [this] { return sharedLibrary_->sharedLibraryBusy(); });
    sharedLibrary_->setTimelineHooks({[this] { timelineWatch_->pauseFusionTimelineWatch(); },
                                      [this] { timelineWatch_->resumeFusionTimelineWatch(); },
                                      [this] { timelineSync_->clearPendingSync(); }});
    stillPreview_ = std::make_unique<StillPreview>(*this, options_.configuration.resourcesFolder,
                                                   [this] { return sharedLibrary_->sharedLibraryBusy(); });
    nativeTemplate_ = std::make_unique<NativeTemplate>(*this);
    effectEditing_ = std::make_unique<FusionEffectEditing>(
        *this, fusionLibrary_->store(), [this](const std::string& id) { sharedLibrary_->runSharedLibraryOperation("preview", id); });
    floatingPalette_ = std::make_unique<FloatingPalette>(*this, *fusionLibrary_, options_.configuration.resourcesFolder,
                                                         [this] { return nativeTemplate_->fusionNativeTemplateSource().has_value(); });
    fusionLibrary_->setPaletteStatusSink([this](const std::string& status) { floatingPalette_->setStatus(status); });
}

ExportEngine::~ExportEngine() {
    // A script run holds the Resolve operations queue until its child exits:
    // end the children first, so that stopping the queue cannot wait for a
    // script's time limit.
    runner_->shutdown();
    // The watch child and its reader end before the queue it posts to.
    timelineWatch_->shutdown();
    // Stop the serial queues (each finishes the item it is running) before the
    // components their work refers to go away.
    fusionTimelineWatchQueue_.reset();
    resolveOperationQueue_.reset();
    exportQueue_.reset();
}

void ExportEngine::registerOperations() {
    using Method = void (*)(ExportEngine&, Json);
    // The operation of every message type built so far. The dispatcher lists
    // the protocol's other types and logs them as not available yet.
    static constexpr std::pair<std::string_view, Method> kOperations[] = {
        {"startRender", [](ExportEngine& e, Json p) { e.renderJob_->startExport(p); }},
        {"importResolveSubtitles", [](ExportEngine& e, Json p) { e.subtitleImporter_->importResolveSubtitles(p); }},
        {"exportResolveHTML", [](ExportEngine& e, Json p) { e.fusionDelivery_->startResolveHTMLExport(p); }},
        {"exportResolveLottie", [](ExportEngine& e, Json p) { e.lottieDelivery_->startResolveLottieExport(p); }},
        {"exportToResolve", [](ExportEngine& e, Json p) { e.exactWebDelivery_->startExportToResolve(p); }},
        {"exportResolveSmart", [](ExportEngine& e, Json p) { e.smartDelivery_->startResolveSmartExport(p); }},
        {"exportResolveStillPreview", [](ExportEngine& e, Json p) { e.stillPreview_->exportResolveStillPreview(p); }},
        {"fusionLibraryLoad", [](ExportEngine& e, Json) { e.fusionLibrary_->loadFusionEffectLibrary(); }},
        {"fusionInsertEffect", [](ExportEngine& e, Json p) { e.fusionLibrary_->insertFusionEffect(p); }},
        {"fusionApplyToSelectedTitle", [](ExportEngine& e, Json p) { e.fusionLibrary_->applyFusionEffectToSelectedTitle(p); }},
        {"fusionSharedLibraryScan", [](ExportEngine& e, Json) { e.sharedLibrary_->runSharedLibraryOperation("scan"); }},
        {"fusionSharedLibraryCreate", [](ExportEngine& e, Json) { e.sharedLibrary_->runSharedLibraryOperation("create"); }},
        {"fusionCaptureCurrent", [](ExportEngine& e, Json p) { e.effectEditing_->captureCurrentFusionEffect(p); }},
        {"fusionRefreshPreview", [](ExportEngine& e, Json p) { e.effectEditing_->refreshFusionEffectPreview(p); }},
        {"fusionUpdateEffect", [](ExportEngine& e, Json p) { e.effectEditing_->updateFusionEffectMetadata(p); }},
        {"fusionDeleteEffect", [](ExportEngine& e, Json p) { e.effectEditing_->archiveFusionEffect(p); }},
        {"fusionNativeTemplateStatus", [](ExportEngine& e, Json) { e.nativeTemplate_->publishFusionNativeTemplateStatus(); }},
        {"fusionNativeTemplateRegister", [](ExportEngine& e, Json) { e.nativeTemplate_->registerFusionNativeTemplate(); }},
        // A live upsert is an insertion answered through the live callback.
        {"fusionLiveUpsert",
         [](ExportEngine& e, Json p) {
             p["isLive"] = true;
             e.fusionLibrary_->insertFusionEffect(p);
         }},
        {"fusionLiveDelete", [](ExportEngine& e, Json p) { e.fusionLibrary_->deleteLiveFusionItem(p); }},
        // Recognised, and has no effect.
        {"fusionLiveBuildBegin", [](ExportEngine&, Json) {}},
        {"fusionLiveBuildEnd", [](ExportEngine& e, Json) { e.endFusionLiveBuildPresentation(); }},
        {"fusionFloatingPaletteShow", [](ExportEngine& e, Json) { e.floatingPalette_->showFloatingFusionPalette(); }},
        {"fusionFloatingPaletteSetEnabled",
         [](ExportEngine& e, Json p) { e.floatingPalette_->setFloatingFusionPaletteEnabled(boolValue(p, "enabled", true)); }},
        {"fusionTimelineWatchStart", [](ExportEngine& e, Json) { e.timelineWatch_->startFusionTimelineWatch(); }},
        {"fusionTimelineWatchStop", [](ExportEngine& e, Json) { e.timelineWatch_->stopFusionTimelineWatch(); }},
        {"fusionTimelineLoad", [](ExportEngine& e, Json p) { e.timelineSync_->syncFusionTimeline(std::move(p)); }},
        {"fusionTimelineSeek", [](ExportEngine& e, Json p) { e.timelineSync_->syncFusionTimeline(std::move(p)); }},
        {"openExternal", [](ExportEngine& e, Json p) { e.openExternal(p); }},
        {"frameReady", [](ExportEngine& e, Json p) { e.renderJob_->captureAndEncodeFrame(p); }},
    };
    std::weak_ptr<ExportEngine> weak = weak_from_this();
    for (const auto& [type, method] : kOperations) {
        // Holds the engine weakly: a queued operation does nothing once it is gone.
        dispatcher_.setOperation(type, [weak, method](Json payload) {
            if (auto engine = weak.lock()) method(*engine, std::move(payload));
        });
    }
}

void ExportEngine::setup(std::weak_ptr<MainWebView> webView) { webView_ = std::move(webView); }

void ExportEngine::shutdown() {
    if (auto view = webView_.lock()) view->removeMessageHandler();
    if (renderJob_->isRendering()) renderJob_->cancelExport();
    floatingPalette_->shutdown();
    runner_->shutdown();
    timelineWatch_->shutdown();
}

// Main thread.
void ExportEngine::handleWebMessage(const Json& message) { dispatcher_.handleWebMessage(message); }

void ExportEngine::openExternal(const Json& payload) {
    const Json* url = member(payload, "url");
    if (!url || !url->is_string()) return;
    const auto& text = url->get_ref<const std::string&>();
    GErrorOut error;
    GUri* parsed = g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, error.out());
    if (!parsed) return;
    std::string scheme = g_uri_get_scheme(parsed);
    g_uri_unref(parsed);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](unsigned char c) { return std::tolower(c); });
    // Only web and mail links: a page must not open local files or other handlers.
    if (scheme != "http" && scheme != "https" && scheme != "mailto") {
        logLine("Lien refusé (schéma " + scheme + ")");
        return;
    }
    options_.openURI(text);
}

// Main thread.
void ExportEngine::callWebFunction(const std::string& name, const Json& payload) {
    auto text = webCallbackPayloadText(payload);
    if (!text) return;
    auto view = webView_.lock();
    if (!view) return;
    view->deliverCallback(name, *text, webCallbackScript(name, *text));
}

// Any thread.
void ExportEngine::fusionCallback(const std::string& name, Json payload) {
    std::weak_ptr<ExportEngine> weak = weak_from_this();
    mainQueue_->post([weak, name, payload = std::move(payload)] {
        if (auto engine = weak.lock()) engine->callWebFunction(name, payload);
    });
}

// Main thread.
void ExportEngine::endFusionLiveBuildPresentation() {
    if (auto view = webView_.lock()) view->endLiveBuildPresentation();
}

// Main thread.
void ExportEngine::evaluatePageSignal(const std::string& script) {
    if (auto view = webView_.lock()) view->evaluateScript(script);
}

void ExportEngine::setRendering(bool rendering) {
    published_.isRendering = rendering;
    notifyPublished();
}

void ExportEngine::setRenderProgress(double progress) {
    published_.renderProgress = progress;
    notifyPublished();
}

void ExportEngine::setRenderSize(int width, int height) {
    published_.renderWidth = width;
    published_.renderHeight = height;
    notifyPublished();
}

void ExportEngine::notifyPublished() {
    if (observer_) observer_();
}

bool ExportEngine::isIdle() const {
    return mainQueue_->pendingCount() == 0 && exportQueue_->pendingCount() == 0 && resolveOperationQueue_->pendingCount() == 0 &&
           fusionTimelineWatchQueue_->pendingCount() == 0 && runner_->runningCount() == 0 &&
           !renderJob_->isRendering();
}

}  // namespace tessivo
