// The render page frame loop: the editor's page loaded into an offscreen
// render surface draws each frame. For each frame the loop asks the page
// whether the frame is empty, unchanged or new; only a new frame is drawn by
// the page (setRenderTime, then its "frameReady" message) and snapshotted.
// Exactly one frame is in the exchange with the page, and each has a time
// limit; the writer encodes the previous frames on its own thread meanwhile.
#pragma once

#include "render/render_session.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace tessivo {

// How long one frame of the render page may take, from its request to its
// snapshot, before the job is given up.
inline constexpr double kDefaultFrameRequestLimitSeconds = 10;

class PageFrameLoop {
public:
    explicit PageFrameLoop(FrameLoopHost& host) : host_(host) {}
    ~PageFrameLoop();
    PageFrameLoop(const PageFrameLoop&) = delete;
    PageFrameLoop& operator=(const PageFrameLoop&) = delete;

    // Main thread. Forgets the exchange of an earlier job (request numbers start again).
    void reset();
    // Main thread. Opens the render page for the job and starts its frames.
    void start(const std::shared_ptr<RenderSession>& session);
    // Main thread. "frameReady" of the render page; ignored unless the loop
    // awaits exactly that request.
    void frameReady(const Json& payload);
    // Main thread. Lets go of the render page: no message of it reaches the
    // engine afterwards, and no pending timer of the loop fires.
    void stop();

    // Main thread.
    bool hasRenderSurface() const { return surface_ != nullptr; }
    bool awaitsFrame() const { return pendingRequestID_.has_value(); }
    void setRenderPage(std::filesystem::path page) { renderPage_ = std::move(page); }
    void setFrameRequestLimit(double seconds) { frameRequestLimitSeconds_ = seconds; }

private:
    struct PageFrame;
    bool isCurrent(std::uint64_t jobID) const;
    std::optional<std::filesystem::path> renderPagePath() const;
    void loadProject(std::uint64_t jobID, int attempt);
    void requestFrame(std::int64_t frameIndex);
    void takeReuseState(std::uint64_t jobID, std::int64_t frameIndex, double time, const ScriptResult& result);
    void snapshotTaken(std::uint64_t jobID, RenderMetrics::TimePoint requestedAt, SnapshotImage image,
                       const std::string& error);
    void handOff(PageFrame frame);
    // Export queue.
    void appendFrame(const std::shared_ptr<RenderSession>& session, PageFrame frame);
    void frameAppended(std::uint64_t jobID, std::int64_t appendedFrames);
    void armFrameLimit(std::uint64_t jobID, std::int64_t frameIndex);
    void cancel(std::string reason);

    FrameLoopHost& host_;
    // Main thread.
    std::shared_ptr<RenderSession> session_;
    std::unique_ptr<RenderSurface> surface_;
    std::int64_t nextFrame_ = 0;  // the frame in the exchange
    std::int64_t requestSerial_ = 0;
    std::optional<std::int64_t> pendingRequestID_;
    std::optional<std::string> pendingReuseKey_;
    std::shared_ptr<QueueTimer> pageTimer_;        // next load attempt or first request
    std::shared_ptr<QueueTimer> frameLimitTimer_;  // limit of the frame in the exchange
    double frameRequestLimitSeconds_ = kDefaultFrameRequestLimitSeconds;
    std::optional<std::filesystem::path> renderPage_;
};

}  // namespace tessivo
