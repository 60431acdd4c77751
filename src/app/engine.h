// ExportEngine: the composition root. It owns the queues and one component
// per subsystem, receives every editor message, and answers through web
// callbacks into the main page. It runs without any windowing toolkit: the GTK
// program and the headless bridge both drive the same engine through the
// interfaces of engine_api/views.h.
#pragma once

#include "bridge/dispatch.h"
#include "engine_api/engine_context.h"
#include "platform/configuration.h"
#include "platform/settings.h"
#include "resolve/python_runner.h"

#include <functional>
#include <memory>
#include <string>

namespace tessivo {

class SubtitleImporter;
class FusionDelivery;
class RenderJob;
class LottieDelivery;
class ExactWebDelivery;
class SmartDelivery;
class EngineSmartSteps;
class FusionEffectLibrary;
class StillPreview;
class NativeTemplate;
class FusionEffectEditing;
class SharedLibrary;
class FloatingPalette;
class TimelineWatch;
class TimelineSync;

class ExportEngine final : public EngineContext, public std::enable_shared_from_this<ExportEngine> {
public:
    struct Options {
        // Settings file, resources, Resolve installation, time-limit scale;
        // tests give their own instead of changing the environment.
        Configuration configuration = Configuration::fromEnvironment();
        // Opens a link with the desktop's handler; replaced in tests.
        std::function<bool(const std::string& uri)> openURI;
    };

    // Main thread. The engine must live in a shared_ptr: queued work holds it weakly.
    static std::shared_ptr<ExportEngine> create(Options options);
    static std::shared_ptr<ExportEngine> create() { return create(Options{}); }
    ~ExportEngine() override;

    // Main thread. Connects the engine to the main page.
    void setup(std::weak_ptr<MainWebView> webView);
    // Main thread. Tears down the engine's outside connections; a running render
    // is cancelled and running Resolve scripts are ended at once.
    void shutdown();

    // Main thread. One editor message.
    void handleWebMessage(const Json& message) override;

    // EngineContext
    Queue& mainQueue() override { return *mainQueue_; }
    Queue& exportQueue() override { return *exportQueue_; }
    Queue& resolveOperationQueue() override { return *resolveOperationQueue_; }
    Queue& fusionTimelineWatchQueue() override { return *fusionTimelineWatchQueue_; }
    void callWebFunction(const std::string& name, const Json& payload) override;
    void fusionCallback(const std::string& name, Json payload) override;
    void evaluatePageSignal(const std::string& script) override;
    const PublishedState& published() const override { return published_; }
    void setRendering(bool rendering) override;
    void setRenderProgress(double progress) override;
    void setRenderSize(int width, int height) override;
    SavePanel* savePanel() override { return savePanel_; }
    const RenderSurfaceFactory& renderSurfaceFactory() const override { return renderSurfaceFactory_; }
    PythonRunner& runner() override { return *runner_; }
    Settings& settings() override { return settings_; }
    std::weak_ptr<EngineContext> weakContext() override { return weak_from_this(); }

    // Main thread. The save panel of renders (none: a render asks nobody and is cancelled).
    void setSavePanel(SavePanel* panel) { savePanel_ = panel; }
    // Main thread. The maker of offscreen render pages (none: no display, and a
    // job through the render page is cancelled).
    void setRenderSurfaceFactory(RenderSurfaceFactory factory) { renderSurfaceFactory_ = std::move(factory); }
    // Main thread. Called after every change of the published state.
    void setPublishedStateObserver(std::function<void()> observer) { observer_ = std::move(observer); }

    // True when no queue holds work, no script runs and no render is going on.
    // Main thread.
    bool isIdle() const;

    // Which message types have an operation (tests, diagnostics).
    const Dispatcher& dispatcher() const { return dispatcher_; }

    const Configuration& configuration() const { return options_.configuration; }

    SubtitleImporter& subtitleImporter() { return *subtitleImporter_; }
    RenderJob& renderJob() { return *renderJob_; }
    ExactWebDelivery& exactWebDelivery() { return *exactWebDelivery_; }
    FusionEffectLibrary& fusionEffectLibrary() { return *fusionLibrary_; }
    SharedLibrary& sharedLibrary() { return *sharedLibrary_; }
    FloatingPalette& floatingPalette() { return *floatingPalette_; }
    TimelineWatch& timelineWatch() { return *timelineWatch_; }

    // Main thread. The main window opaque and clickable again.
    void endFusionLiveBuildPresentation();

private:
    explicit ExportEngine(Options options);
    void registerOperations();
    void openExternal(const Json& payload);
    void notifyPublished();

    Options options_;
    // Declared first so that they are destroyed last: components may still
    // post to them while going away.
    std::unique_ptr<MainQueue> mainQueue_;
    std::unique_ptr<SerialQueue> exportQueue_;
    std::unique_ptr<SerialQueue> resolveOperationQueue_;
    std::unique_ptr<SerialQueue> fusionTimelineWatchQueue_;

    Settings settings_;
    PublishedState published_;
    std::weak_ptr<MainWebView> webView_;
    SavePanel* savePanel_ = nullptr;
    RenderSurfaceFactory renderSurfaceFactory_;
    std::function<void()> observer_;
    Dispatcher dispatcher_;

    std::unique_ptr<PythonRunner> runner_;
    std::unique_ptr<SubtitleImporter> subtitleImporter_;
    std::unique_ptr<RenderJob> renderJob_;
    std::unique_ptr<FusionDelivery> fusionDelivery_;
    std::unique_ptr<LottieDelivery> lottieDelivery_;
    std::unique_ptr<ExactWebDelivery> exactWebDelivery_;
    std::unique_ptr<EngineSmartSteps> smartSteps_;
    std::unique_ptr<SmartDelivery> smartDelivery_;
    std::unique_ptr<FusionEffectLibrary> fusionLibrary_;
    std::unique_ptr<StillPreview> stillPreview_;
    std::unique_ptr<NativeTemplate> nativeTemplate_;
    std::unique_ptr<FusionEffectEditing> effectEditing_;
    std::unique_ptr<SharedLibrary> sharedLibrary_;
    std::unique_ptr<FloatingPalette> floatingPalette_;
    std::unique_ptr<TimelineWatch> timelineWatch_;
    std::unique_ptr<TimelineSync> timelineSync_;
};

}  // namespace tessivo
