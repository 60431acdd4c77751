// What a render job shares with its frame loops: the session of the running
// job (its params, its writer and its frame reuse on the export queue) and
// the job's side of the loops (progress, cancellation, metrics).
#pragma once

#include "engine_api/engine_context.h"
#include "render/frame_reuse.h"
#include "render/render_metrics.h"
#include "render/render_params.h"
#include "render/video_writer.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tessivo {

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

// One job. The fields above `cancelled` are fixed when the job starts; the
// writer, the reuse and the frame count belong to the export queue.
struct RenderSession {
    std::uint64_t id = 0;
    std::filesystem::path url;
    Json params;
    RenderParams settings;
    std::int64_t totalFrames = 0;
    RenderDelivery delivery;
    std::atomic<bool> cancelled{false};

    std::unique_ptr<VideoWriter> writer;
    std::unique_ptr<FrameReuse> reuse;  // made with the writer
    std::int64_t nextFrame = 0;         // frames appended
    bool fileCompleted = false;         // the movie stands complete at `url`

    // Export queue. Appends `buffer` as the next frame.
    std::optional<Error> append(const std::shared_ptr<PixelBuffer>& buffer) {
        if (!writer) return writerNotStartedError(kProRes4444Name);
        if (auto failed = writer->appendPixelBuffer(buffer, nextFrame)) return failed;
        ++nextFrame;
        return std::nullopt;
    }
    // Export queue. Lets go of the writer and every buffer of the job (the
    // reuse object itself stays, empty, as the main thread may still ask it).
    void releaseWriter() {
        if (reuse) reuse->clear();
        writer.reset();
    }
};

// The job as its frame loops see it.
class FrameLoopHost {
public:
    virtual ~FrameLoopHost() = default;
    virtual EngineContext& engine() = 0;
    virtual RenderMetrics& loopMetrics() = 0;
    // Main thread. Whether `jobID` is the running job.
    virtual bool isCurrent(std::uint64_t jobID) const = 0;
    // Main thread. Ends the running job `jobID` as cancelled, for `reason`.
    virtual void cancelJob(std::uint64_t jobID, std::string reason) = 0;
    // Any thread. cancelJob later on the main thread.
    virtual void scheduleCancel(std::uint64_t jobID, std::string reason) = 0;
    // Main thread. `appended` frames of job `jobID` are in the writer: publishes
    // the progress, and closes the file once every frame is. True while the
    // job runs on and waits for more frames.
    virtual bool framesAppended(std::uint64_t jobID, std::int64_t appended) = 0;
};

}  // namespace tessivo
