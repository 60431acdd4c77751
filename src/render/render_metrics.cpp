#include "render/render_metrics.h"

#include <algorithm>

namespace tessivo {

double secondsBetween(RenderMetrics::TimePoint from, RenderMetrics::TimePoint to) {
    return std::max(0.0, std::chrono::duration<double>(to - from).count());
}

void RenderMetrics::reset(TimePoint startedAt) {
    std::lock_guard lock(mutex_);
    startedAt_ = startedAt;
    writerReadyAt_.reset();
    renderReadyAt_.reset();
    encodingFinishedAt_.reset();
    insertionStartedAt_.reset();
    snapshotCount_ = 0;
    snapshotSeconds_ = 0;
    reusedFrameCount_ = 0;
    blankFrameCount_ = 0;
    totalFrameCount_ = 0;
}

void RenderMetrics::setWriterReady(TimePoint at) { std::lock_guard lock(mutex_); writerReadyAt_ = at; }
void RenderMetrics::setRenderReady(TimePoint at) { std::lock_guard lock(mutex_); renderReadyAt_ = at; }
void RenderMetrics::setEncodingFinished(TimePoint at) { std::lock_guard lock(mutex_); encodingFinishedAt_ = at; }
void RenderMetrics::setInsertionStarted(TimePoint at) { std::lock_guard lock(mutex_); insertionStartedAt_ = at; }
void RenderMetrics::setTotalFrames(std::int64_t frames) { std::lock_guard lock(mutex_); totalFrameCount_ = frames; }
void RenderMetrics::addReusedFrame() { std::lock_guard lock(mutex_); ++reusedFrameCount_; }
void RenderMetrics::addBlankFrame() { std::lock_guard lock(mutex_); ++blankFrameCount_; }
void RenderMetrics::addSnapshot(double seconds) {
    std::lock_guard lock(mutex_);
    ++snapshotCount_;
    snapshotSeconds_ += seconds;
}
std::int64_t RenderMetrics::totalFrames() const { std::lock_guard lock(mutex_); return totalFrameCount_; }
std::int64_t RenderMetrics::reusedFrames() const { std::lock_guard lock(mutex_); return reusedFrameCount_; }
std::int64_t RenderMetrics::blankFrames() const { std::lock_guard lock(mutex_); return blankFrameCount_; }

Json RenderMetrics::payload(TimePoint finishedAt) const {
    std::lock_guard lock(mutex_);
    const TimePoint started = startedAt_.value_or(finishedAt);
    const TimePoint writerReady = writerReadyAt_.value_or(started);
    const TimePoint renderReady = renderReadyAt_.value_or(writerReady);
    const TimePoint encodingFinished = encodingFinishedAt_.value_or(renderReady);
    const TimePoint insertionStarted = insertionStartedAt_.value_or(encodingFinished);
    const double capture = std::max(0.0, snapshotSeconds_);
    const double render = secondsBetween(renderReady, encodingFinished);
    Json payload = Json::object();
    payload["totalFrames"] = totalFrameCount_;
    payload["snapshots"] = snapshotCount_;
    payload["reusedFrames"] = reusedFrameCount_;
    payload["blankFrames"] = blankFrameCount_;
    payload["preparationSeconds"] = secondsBetween(started, renderReady);
    payload["captureSeconds"] = capture;
    payload["renderSeconds"] = render;
    payload["encodingSeconds"] = std::max(0.0, render - capture);
    payload["insertionSeconds"] = secondsBetween(insertionStarted, finishedAt);
    payload["elapsedSeconds"] = secondsBetween(started, finishedAt);
    return payload;
}

}  // namespace tessivo
