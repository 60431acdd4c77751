// The render job: turns the editor's project into a movie file, one frame
// after another, with the video writer. It reads the render params, asks for
// the output file, starts one of the two frame loops, publishes progress, and
// ends every job with exactly one page signal: "window.onRenderComplete()"
// once the file is complete, otherwise "window.onRenderCancelled()".
//
// Frames come from the native caption renderer (native_frame_loop.h, the
// whole loop on the export queue) or, by default, from the render page
// (page_frame_loop.h). Both loops share the job's frame reuse.
//
// Threads: the public operations are called on the main thread; drawing runs
// on the export queue and encoding on the writer's own thread, and the main
// thread never waits for either. A job's state is shared with the export
// queue through one session object; the main thread only reads what the
// export queue hands back by posting.
#pragma once

#include "bridge/caption_sequence.h"
#include "engine_api/engine_context.h"
#include "platform/json.h"
#include "render/native_frame_loop.h"
#include "render/page_frame_loop.h"
#include "render/render_metrics.h"
#include "render/render_page_scripts.h"
#include "render/render_params.h"
#include "render/render_session.h"
#include "render/video_writer.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace tessivo {

class RenderJob final : private FrameLoopHost {
public:
    explicit RenderJob(EngineContext& engine);
    ~RenderJob() override;
    RenderJob(const RenderJob&) = delete;
    RenderJob& operator=(const RenderJob&) = delete;

    // Main thread. "startRender": asks for the output file ("Kinetype_Render." +
    // format), then executeExport, or cancelExport when no file was chosen.
    // Does nothing while a job runs.
    void startExport(const Json& params);
    // Main thread. Starts a job writing `to`; a delivery route says what it
    // needs of the movie and takes it over once complete.
    void executeExport(const std::filesystem::path& to, const Json& params, RenderDelivery delivery = {});
    // Main thread. "frameReady" of the render page; ignored unless the job awaits
    // exactly that request.
    void captureAndEncodeFrame(const Json& payload) { pageLoop_.frameReady(payload); }
    // Main thread. Ends the running job (if any) without a file and tells the page.
    void cancelExport();
    // Main thread. Starts the metrics of the next export at `startedAt`: a
    // delivery that works before its render counts from its own start.
    void resetExportMetrics(RenderMetrics::TimePoint startedAt);

    // Main thread.
    bool isRendering() const { return session_ != nullptr; }
    std::int64_t currentFrame() const { return currentFrame_; }
    std::int64_t totalFrames() const { return totalFrames_; }
    const std::string& selectedCodecName() const { return selectedCodecName_; }
    // Why the last job was cancelled (empty after a completion or a plain cancelExport()).
    const std::string& lastCancelReason() const { return lastCancelReason_; }

    // Any thread.
    Json exportMetricsPayload(RenderMetrics::TimePoint finishedAt) const { return metrics_.payload(finishedAt); }
    Json exportMetricsPayload() const { return metrics_.payload(RenderMetrics::Clock::now()); }
    const RenderMetrics& metrics() const { return metrics_; }

    // Main thread, between jobs.
    void setNativeFrameSourceFactory(NativeFrameSourceFactory factory) { sourceFactory_ = std::move(factory); }
    // Main thread, between jobs. The page loaded into the render surface
    // (default: the editor's entry page among the resources).
    void setRenderPage(std::filesystem::path page) { pageLoop_.setRenderPage(std::move(page)); }
    // Main thread, between jobs. See kDefaultFrameRequestLimitSeconds.
    void setFrameRequestLimit(double seconds) { pageLoop_.setFrameRequestLimit(seconds); }
    // Main thread. Whether the job holds a render surface now.
    bool hasRenderSurface() const { return pageLoop_.hasRenderSurface(); }

private:
    // FrameLoopHost.
    EngineContext& engine() override { return engine_; }
    RenderMetrics& loopMetrics() override { return metrics_; }
    bool isCurrent(std::uint64_t jobID) const override { return session_ && jobID == currentJobID_; }
    void cancelJob(std::uint64_t jobID, std::string reason) override;
    void scheduleCancel(std::uint64_t jobID, std::string reason) override;
    bool framesAppended(std::uint64_t jobID, std::int64_t appended) override;

    // Export queue.
    void prepareWriter(const std::shared_ptr<RenderSession>& session);
    void finishExport(std::uint64_t jobID);
    void completeExport(std::uint64_t jobID, std::optional<Error> failure);
    void cancelExport(std::string reason);
    void endJob(bool cancelled);

    // Queued work holds the engine weakly, asked for when it is queued: the
    // job is made while the engine is still being constructed.
    EngineContext& engine_;
    NativeFrameSourceFactory sourceFactory_ = makeCaptionFrameSource;
    RenderMetrics metrics_;
    PageFrameLoop pageLoop_{*this};

    // Main thread.
    std::shared_ptr<RenderSession> session_;
    std::uint64_t currentJobID_ = 0;
    std::int64_t currentFrame_ = 0;
    std::int64_t totalFrames_ = 0;
    std::string selectedCodecName_ = kProRes4444Name;
    std::string lastCancelReason_;
};

}  // namespace tessivo
