#include "delivery/smart_steps.h"

#include "delivery/exact_web_delivery.h"
#include "engine_api/engine_context.h"
#include "lottie/lottie_route.h"
#include "render/render_job.h"
#include "resolve/python_runner.h"
#include "resolve/subtitle_import.h"

namespace tessivo {

namespace {

// No Lottie clip came out of the blocks the editor marked as capable.
constexpr std::int64_t kNoLottieClipError = -101;

}  // namespace

// Main thread.
bool EngineSmartSteps::isRendering() const { return renderJob_.isRendering(); }

// Main thread.
void EngineSmartSteps::restartMetrics() { renderJob_.resetExportMetrics(RenderMetrics::Clock::now()); }

// Any thread.
Json EngineSmartSteps::metricsPayload() const { return renderJob_.exportMetricsPayload(); }

// Main thread.
std::string EngineSmartSteps::codecName() const { return renderJob_.selectedCodecName(); }

// Any thread.
void EngineSmartSteps::readTimelineFacts(Outcome done) {
    engine_.runner().runResolvePython(timelineFactsScript(), {}, SmartDelivery::kTimelineFactsTimeLimitSeconds,
                                      std::move(done));
}

// Export queue.
void EngineSmartSteps::runLottie(const Json& request, const Json& sfxEvents, Outcome done) {
    auto clips = makeResolveLottieClips(request);
    if (!clips) {
        done(clips.error());
        return;
    }
    if (clips.value().empty()) {
        done(Error{"Tessivo", kNoLottieClipError, "Aucun clip Lottie n'a pu être créé."});
        return;
    }
    lottie_.insertResolveLottieClips(clips.value(), sfxEvents, std::move(done));
}

// Main thread.
void EngineSmartSteps::runExactWeb(const Json& request, std::function<void(ExactWebOutcome)> done) {
    exact_.startExactExport(request, [done = std::move(done)](Result<Json> outcome, std::string filePath) {
        done(ExactWebOutcome{std::move(outcome), std::move(filePath)});
    });
}

}  // namespace tessivo
