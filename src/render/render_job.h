// The render job: turns the editor's project into a movie file, one frame
// after another, with the video writer. It reads the render params, asks for
// the output file, runs the frame loop, publishes progress, and ends every job
// with exactly one page signal: "window.onRenderComplete()" once the file is
// complete, otherwise "window.onRenderCancelled()".
//
// Frames come from the native caption renderer (the whole loop on the export
// queue) or, by default, from the render page: the editor's page loaded into
// an offscreen render surface. For each frame the job asks the page whether
// the frame is empty, unchanged or new; only a new frame is drawn by the page
// (setRenderTime, then its "frameReady" message) and snapshotted. Exactly one
// frame is in flight, and each has a time limit.
//
// Threads: the public operations are called on the main thread; drawing and
// encoding run on the export queue, and the main thread never waits for it.
// A job's state is shared with the export queue through one session object;
// the main thread only reads what the export queue hands back by posting.
#pragma once

#include "bridge/caption_sequence.h"
#include "engine_api/engine_context.h"
#include "platform/json.h"
#include "render/video_writer.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tessivo {


// The render params, read by direct type test: a number key needs a JSON
// number (an integral one for "width" and "height"), a text key a JSON string;
// anything else counts as absent.
struct RenderParams {
    int width = 1920;
    int height = 1080;
    double start = 0;
    double end = 10;
    double fps = 60;
    std::string format = "mov";
    std::string encoding = "quality";
    std::string renderer = "web";
    std::string background = "transparent";

    static RenderParams read(const Json& params);
};

// The frame rate in `value` (a number, or a text whose leading decimal number
// is read after "," became "."), else the one in `fallback`, else 30. Only
// values in (0, 240] count; booleans read as 1 and 0.
double normalizedFrameRate(const Json* value, const Json* fallback);
double normalizedFrameRate(const Json* value, double fallback);

// The longest range a job renders; longer (or non-finite) ranges are refused
// rather than left to run for days.
inline constexpr double kMaximumRenderSeconds = 24 * 3600;
// max(1, ceil((end - start) * fps)), or nullopt when the range is longer than
// kMaximumRenderSeconds or not finite.
std::optional<std::int64_t> renderFrameCount(double start, double end, double fps);

// What the native loop draws. The caption renderer in production; tests and
// the benchmark may put their own frames in its place.
class NativeFrameSource {
public:
    enum class Kind { Empty, Static, Dynamic };
    struct State {
        Kind kind = Kind::Dynamic;
        std::string key;  // for Static: equal keys draw equal pixels
    };
    virtual ~NativeFrameSource() = default;
    virtual State frameState(double time) const = 0;
    // Clears the premultiplied ARGB32 buffer and draws the frame at `time`.
    virtual void drawFrame(double time, unsigned char* data, int stride) = 0;
};
using NativeFrameSourceFactory = std::function<std::unique_ptr<NativeFrameSource>(
    int width, int height, std::vector<NativeTextSequence> sequences)>;

// A time as the render page's scripts receive it: the shortest decimal that
// reads back as the same double, with at least one fractional digit
// (0 → "0.0", 1/60 → "0.016666666666666666").
std::string renderScriptTime(double seconds);
// The three scripts of the conversation with the render page.
std::string renderLoadScript(const std::string& paramsJSON);
std::string renderReuseStateScript(double time);
std::string renderSetTimeScript(double time, std::int64_t requestID);

// How long one frame of the render page may take, from its request to its
// snapshot, before the job is given up.
inline constexpr double kDefaultFrameRequestLimitSeconds = 10;

// The timing and frame counts of the last job.
class RenderMetrics {
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    void reset(TimePoint startedAt);
    void setWriterReady(TimePoint at);
    void setRenderReady(TimePoint at);
    void setEncodingFinished(TimePoint at);
    void setInsertionStarted(TimePoint at);
    void setTotalFrames(std::int64_t frames);
    void addReusedFrame();
    void addBlankFrame();
    void addSnapshot(double seconds);

    std::int64_t totalFrames() const;
    std::int64_t reusedFrames() const;
    std::int64_t blankFrames() const;

    // The render metrics dictionary; a milestone never reached takes the
    // previous one, and every duration is clamped below at 0.
    Json payload(TimePoint finishedAt) const;

private:
    mutable std::mutex mutex_;
    std::optional<TimePoint> startedAt_, writerReadyAt_, renderReadyAt_, encodingFinishedAt_, insertionStartedAt_;
    std::int64_t snapshotCount_ = 0;
    double snapshotSeconds_ = 0;
    std::int64_t reusedFrameCount_ = 0;
    std::int64_t blankFrameCount_ = 0;
    std::int64_t totalFrameCount_ = 0;
};

// What a delivery route asks of a job it starts.
struct RenderDelivery {
    // Export queue: the frames to code as key frames, from the job's frame
    // rate and frame count (the route cuts the movie there).
    std::function<std::vector<std::int64_t>(double fps, std::int64_t totalFrames)> keyFrames;
    // Main thread: the movie stands complete at the path; called instead of
    // "window.onRenderComplete()", after the insertion start is recorded.
    std::function<void(const std::filesystem::path&)> finished;
    // Main thread: the job ended without a movie (cancelled, failed or its
    // range refused), with the reason, empty when none was given.
    std::function<void(const std::string& reason)> ended;
};

class RenderJob {
public:
    explicit RenderJob(EngineContext& engine);
    ~RenderJob();
    RenderJob(const RenderJob&) = delete;
    RenderJob& operator=(const RenderJob&) = delete;

    // Main thread. "startRender": asks for the output file ("Kinetype_Render." +
    // format), then executeExport, or cancelExport when no file was chosen.
    // Does nothing while a job runs.
    void startExport(const Json& params);
    // Main thread. Starts a job writing `to`.
    void executeExport(const std::filesystem::path& to, const Json& params, RenderDelivery delivery = {});
    // Main thread. "frameReady" of the render page; ignored unless the job awaits
    // exactly that request.
    void captureAndEncodeFrame(const Json& payload);
    // Main thread. Ends the running job (if any) without a file and tells the page.
    void cancelExport();

    // Main thread, between jobs. Restarts the metrics at `startedAt` (a route
    // whose work begins before its render).
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
    void setRenderPage(std::filesystem::path page) { renderPage_ = std::move(page); }
    // Main thread, between jobs. See kDefaultFrameRequestLimitSeconds.
    void setFrameRequestLimit(double seconds) { frameRequestLimitSeconds_ = seconds; }
    // Main thread. Whether the job holds a render surface now.
    bool hasRenderSurface() const { return renderSurface_ != nullptr; }

private:
    struct Session;
    void prepareWriter(const std::shared_ptr<Session>& session);
    void renderNativeFrames(const std::shared_ptr<Session>& session);

    // The render page path (main thread unless said otherwise).
    struct PageFrame;
    std::optional<std::filesystem::path> renderPagePath() const;
    void prepareRenderWebView(std::uint64_t jobID);
    void loadProjectIntoRenderWebView(std::uint64_t jobID, int attempt);
    void requestFrameFromReact(std::int64_t frameIndex);
    void takeReuseState(std::uint64_t jobID, std::int64_t frameIndex, double time, const ScriptResult& result);
    void snapshotTaken(std::uint64_t jobID, RenderMetrics::TimePoint requestedAt, SnapshotImage image,
                       const std::string& error);
    void handOffPageFrame(PageFrame frame);
    // Export queue.
    void appendPageFrame(const std::shared_ptr<Session>& session, PageFrame frame);
    void pageFrameAppended(std::uint64_t jobID, std::int64_t appendedFrames, std::optional<std::string> keptKey);
    void armFrameLimit(std::uint64_t jobID, std::int64_t frameIndex);
    void disarmTimer(std::shared_ptr<QueueTimer>& timer);
    void cleanupRenderWebView();
    std::optional<Error> appendPixelBuffer(Session& session, const std::shared_ptr<PixelBuffer>& buffer);
    void finishExport(std::uint64_t jobID);
    void completeExport(std::uint64_t jobID, std::optional<Error> failure);
    void publishProgress(std::uint64_t jobID, std::int64_t appendedFrames);
    // Any thread: cancelExport later on the main thread, for this job only.
    void scheduleCancel(std::uint64_t jobID, std::string reason);
    void cancelExport(std::string reason);
    void endJob(bool cancelled);
    bool isCurrent(std::uint64_t jobID) const { return session_ && jobID == currentJobID_; }

    // Queued work holds the engine weakly, asked for when it is queued: the
    // job is made while the engine is still being constructed.
    EngineContext& engine_;
    NativeFrameSourceFactory sourceFactory_;
    RenderMetrics metrics_;

    // Main thread.
    std::shared_ptr<Session> session_;
    std::uint64_t currentJobID_ = 0;
    std::int64_t currentFrame_ = 0;
    std::int64_t totalFrames_ = 0;
    std::optional<std::int64_t> pendingRenderRequestID_;

    // The render page of the running job and the conversation with it.
    std::unique_ptr<RenderSurface> renderSurface_;
    std::int64_t renderRequestSerial_ = 0;
    std::optional<std::string> pendingReuseKey_;
    // The key of the static frame the export queue keeps for reuse, as it
    // reported with the last appended frame.
    std::optional<std::string> lastStaticReuseKey_;
    std::shared_ptr<QueueTimer> pageTimer_;        // next load attempt or first request
    std::shared_ptr<QueueTimer> frameLimitTimer_;  // limit of the frame in the exchange
    double frameRequestLimitSeconds_ = kDefaultFrameRequestLimitSeconds;
    std::optional<std::filesystem::path> renderPage_;
    std::string selectedCodecName_ = kProRes4444Name;
    std::string lastCancelReason_;
};

}  // namespace tessivo
