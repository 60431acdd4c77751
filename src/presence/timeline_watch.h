// Following Resolve live: the timeline watch (one long-running Python child
// that prints a marked line whenever the playhead or the timeline changes,
// each line becoming "window.onFusionPlayheadChanged"), and timeline sync
// (the comfort module's "snapshot" run for "fusionTimelineLoad" and
// "fusionTimelineSeek", newest request served, answered with
// "window.onFusionTimelineLoaded").
#pragma once

#include "platform/error.h"
#include "platform/json.h"

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessivo {

class EngineContext;

// The embedded Python text of the watch child (argument: the parent's ID).
const char* timelineWatchScript();

// Cuts the child's output into lines and keeps the marked JSON objects.
// Bytes are kept until their line ends, so a chunk may split a line or a
// UTF-8 sequence anywhere; a line that is not UTF-8, not marked, not JSON or
// not an object is dropped. A line longer than `maxLine` bytes is discarded
// up to its line feed without being kept in memory.
class WatchLineBuffer {
public:
    static constexpr std::string_view kMarker = "__ORVEL_WATCH__";
    explicit WatchLineBuffer(std::size_t maxLine = 64 * 1024) : maxLine_(maxLine) {}

    std::vector<Json> append(std::string_view chunk);
    void clear() {
        pending_.clear();
        discarding_ = false;
    }
    std::size_t pendingSize() const { return pending_.size(); }

private:
    void takeLine(std::string_view line, std::vector<Json>& out) const;
    std::size_t maxLine_;
    std::string pending_;
    bool discarding_ = false;
};

// The watch child's whole life. All state changes run on the engine's
// timeline watch queue; the output is read on a thread of its own, which
// hands each chunk to that queue.
class TimelineWatch {
public:
    explicit TimelineWatch(EngineContext& engine);
    ~TimelineWatch();

    // Any thread; the work moves to the watch queue. A start while a child
    // runs does nothing.
    void startFusionTimelineWatch();
    void stopFusionTimelineWatch();
    // Any thread; the work moves to the watch queue. The shared library holds
    // Resolve for a while: a running watch stops, and resuming starts it again
    // only if it was running then (a watch nobody asked for is never started).
    // A stop asked meanwhile cancels the resumption.
    void pauseFusionTimelineWatch();
    void resumeFusionTimelineWatch();
    // Any thread. Ends the child and waits for its reader, for the engine's
    // shutdown and destruction; later starts are refused.
    void shutdown();

    // Watch queue (or any thread for tests, racily): the running child's ID.
    std::optional<pid_t> childProcess() const;

private:
    struct Child;
    // Watch queue.
    void start();
    void stop();
    void pause();
    void resume();
    void received(std::uint64_t generation, std::string chunk);
    void ended(std::uint64_t generation);
    void removeScript();

    EngineContext& engine_;
    // Guards the fields below: the watch queue owns them, and the engine's
    // shutdown reaches them from the main thread.
    mutable std::mutex mutex_;
    std::shared_ptr<Child> child_;
    std::filesystem::path scriptPath_;
    WatchLineBuffer buffer_;
    std::uint64_t generation_ = 0;
    // The watch ran when the shared library paused it.
    bool resumeAfterPause_ = false;
    // Holds this object's lifetime for work queued on the watch queue.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    bool shutDown_ = false;
};

// Timeline sync. Runs on the export queue; the script runs through the
// runner on the Resolve operations queue.
class TimelineSync {
public:
    TimelineSync(EngineContext& engine, std::filesystem::path resourcesFolder, std::function<bool()> libraryBusy);

    // Any thread; the work moves to the export queue.
    void syncFusionTimeline(Json payload);
    // Export queue. Forgets the waiting request (the shared library starts).
    void clearPendingSync() { pending_.reset(); }

    static constexpr double kTimeLimit = 20;

private:
    // Export queue.
    void drain();
    void finished(Result<Json> outcome);

    EngineContext& engine_;
    std::filesystem::path resourcesFolder_;
    std::function<bool()> libraryBusy_;
    std::optional<Json> pending_;
    bool running_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace tessivo
