// The smart route into Resolve ("exportResolveSmart"): every caption block
// goes by the best route open to it, in one operation with one answer. Blocks
// the editor marked Lottie-capable become dotLottie clips (no video encoding);
// the others are rendered, cut per block and inserted by Exact Web. When the
// Lottie step fails, every block falls back to Exact Web so nothing is lost.
// The timeline's frame rate and size are read first, so that the rendered
// blocks match the timeline.
//
// The planner reaches the routes through SmartDeliverySteps, so that its
// decisions (plan, fallback, summary, busy state) do not depend on Resolve,
// the render job or the file builders.
#pragma once

#include "platform/error.h"
#include "platform/json.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tessivo {

class EngineContext;

// What the Exact Web step hands back: the insert script's result, or the error
// of its run together with the render file it was inserting.
struct ExactWebOutcome {
    Result<Json> result = Json::object();
    std::string filePath;
};

class SmartDeliverySteps {
public:
    using Outcome = std::function<void(Result<Json>)>;
    virtual ~SmartDeliverySteps() = default;

    // Main thread.
    virtual bool isRendering() const = 0;
    // Main thread. Restarts the export metrics now.
    virtual void restartMetrics() = 0;
    // Any thread. The render metrics dictionary, finished now.
    virtual Json metricsPayload() const = 0;
    // Main thread. The name of the codec the render selected.
    virtual std::string codecName() const = 0;

    // Any thread. Runs the timeline facts script; `done` once, on any thread.
    virtual void readTimelineFacts(Outcome done) = 0;
    // Export queue. Builds the Lottie clips of `request` and runs their import
    // with `sfxEvents`; `done` once, on any thread, with the script's result,
    // or the error that stopped the clips or the run.
    virtual void runLottie(const Json& request, const Json& sfxEvents, Outcome done) = 0;
    // Main thread. Renders `request`, cuts it per block and inserts it; `done`
    // once, on any thread, when the insertion has answered or the render ended
    // without a movie.
    virtual void runExactWeb(const Json& request, std::function<void(ExactWebOutcome)> done) = 0;
};

// Whether a block's "lottieCapability" is a dictionary whose "status" reads "supported".
bool isLottieCapable(const Json& block);

// The range the Exact Web render covers for `blocks` inside the request's
// ["start", "end"]: {s, e}; s < e does not hold when nothing is left.
struct ExactRange {
    double start = 0;
    double end = 0;
};
ExactRange smartExactRange(const Json& request, const Json& blocks);

class SmartDelivery {
public:
    SmartDelivery(EngineContext& engine, SmartDeliverySteps& steps) : engine_(engine), steps_(steps) {}

    // Main thread. Ignored (no work, no answer) while a render or another smart
    // export runs; otherwise returns at once and answers exactly once with
    // "window.onResolveExportComplete".
    void startResolveSmartExport(const Json& params);

    // Main thread.
    bool isActive() const { return smartResolveActive_; }

    static constexpr double kTimelineFactsTimeLimitSeconds = 20;

private:
    // Main thread, each of them.
    void planRoutes(Json params, Result<Json> facts);
    void runSmartResolveRoutes(Json params, Json directSequences, Json exactSequences);
    void lottieAnswered(Json params, Json exactSequences, std::size_t directBlocks, Result<Json> outcome);
    void fallbackSmartDirectToExact(const Json& params, const std::string& message);
    void startSmartExactRender(const Json& params, const Json& sequences);
    void finishSmartExact(ExactWebOutcome outcome);
    void finishSmartResolveDirect(Json payload);
    void finishSmartResolveFailure(const std::string& message);
    void resetSmartResolveContext();
    // Any thread: `work` later on the main thread, if the engine lives.
    static void onMain(const std::weak_ptr<EngineContext>& weak, std::function<void()> work);

    EngineContext& engine_;
    SmartDeliverySteps& steps_;

    // Main thread only.
    bool smartResolveActive_ = false;
    std::int64_t smartResolveDirectCount_ = 0;
    std::int64_t smartResolveExactCount_ = 0;
    std::int64_t smartResolveTimelineWidth_ = 0;
    std::int64_t smartResolveTimelineHeight_ = 0;
    double fps_ = 30;
    std::vector<std::string> smartResolveWarnings_;
};

}  // namespace tessivo
