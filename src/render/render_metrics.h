// The render metrics: the timing and frame counts of the last render job,
// attached to the reports of the Exact Web deliveries.
#pragma once

#include "platform/json.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

namespace tessivo {

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

// The seconds from `from` to `to`, 0 when `to` comes first.
double secondsBetween(RenderMetrics::TimePoint from, RenderMetrics::TimePoint to);

}  // namespace tessivo
