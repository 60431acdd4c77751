#include "presence/timeline_watch.h"

#include "engine_api/engine_context.h"
#include "library/fusion_library.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "resolve/python_runner.h"

#include <glib.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

extern char** environ;

namespace tessivo {

namespace fs = std::filesystem;

namespace {

constexpr const char* kPlayheadCallback = "window.onFusionPlayheadChanged";
constexpr const char* kLoadedCallback = "window.onFusionTimelineLoaded";
constexpr const char* kSyncUnavailable = "Timeline Resolve indisponible.";

// A file descriptor owned by one object.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// posix_spawn's file actions, destroyed with their owner.
class SpawnActions {
public:
    SpawnActions() { posix_spawn_file_actions_init(&actions_); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

}  // namespace

// ------------------------------------------------------------ line buffer

std::vector<Json> WatchLineBuffer::append(std::string_view chunk) {
    std::vector<Json> out;
    while (!chunk.empty()) {
        const auto feed = chunk.find('\n');
        const std::string_view piece = chunk.substr(0, feed);
        if (!discarding_) {
            if (pending_.size() + piece.size() > maxLine_) {
                // Too long to be one of the watch's lines: skip to its end.
                pending_.clear();
                discarding_ = true;
            } else {
                pending_.append(piece);
            }
        }
        if (feed == std::string_view::npos) break;
        if (!discarding_) takeLine(pending_, out);
        pending_.clear();
        discarding_ = false;
        chunk.remove_prefix(feed + 1);
    }
    return out;
}

void WatchLineBuffer::takeLine(std::string_view line, std::vector<Json>& out) const {
    if (line.substr(0, kMarker.size()) != kMarker) return;
    if (!g_utf8_validate(line.data(), static_cast<gssize>(line.size()), nullptr)) return;
    auto parsed = parseJson(line.substr(kMarker.size()));
    if (parsed && parsed->is_object()) out.push_back(std::move(*parsed));
}

// ------------------------------------------------------------ watch child

struct TimelineWatch::Child {
    pid_t pid = 0;
    std::thread reader;
    std::atomic<bool> reaped{false};

    // Caller's thread. Polite end first; a child that does not go within a
    // second is killed. Returns once the reader has seen the end.
    void end() {
        if (!reaped) ::kill(pid, SIGTERM);
        for (int i = 0; i < 100 && !reaped; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!reaped) ::kill(pid, SIGKILL);
        if (reader.joinable()) reader.join();
    }
};

TimelineWatch::TimelineWatch(EngineContext& engine) : engine_(engine) {}

TimelineWatch::~TimelineWatch() { shutdown(); }

// Any thread.
void TimelineWatch::startFusionTimelineWatch() {
    // Already on the watch queue: at once, so that a stop and a start keep
    // the order in which they were asked.
    if (engine_.fusionTimelineWatchQueue().isCurrent()) return start();
    std::weak_ptr<bool> alive = alive_;
    engine_.fusionTimelineWatchQueue().post([this, alive] {
        if (alive.lock()) start();
    });
}

// Any thread.
void TimelineWatch::stopFusionTimelineWatch() {
    auto stopAsked = [this] {
        {
            std::lock_guard lock(mutex_);
            resumeAfterPause_ = false;
        }
        stop();
    };
    if (engine_.fusionTimelineWatchQueue().isCurrent()) return stopAsked();
    std::weak_ptr<bool> alive = alive_;
    engine_.fusionTimelineWatchQueue().post([alive, stopAsked] {
        if (alive.lock()) stopAsked();
    });
}

// Any thread.
void TimelineWatch::pauseFusionTimelineWatch() {
    if (engine_.fusionTimelineWatchQueue().isCurrent()) return pause();
    std::weak_ptr<bool> alive = alive_;
    engine_.fusionTimelineWatchQueue().post([this, alive] {
        if (alive.lock()) pause();
    });
}

// Any thread.
void TimelineWatch::resumeFusionTimelineWatch() {
    if (engine_.fusionTimelineWatchQueue().isCurrent()) return resume();
    std::weak_ptr<bool> alive = alive_;
    engine_.fusionTimelineWatchQueue().post([this, alive] {
        if (alive.lock()) resume();
    });
}

// Any thread (the engine's shutdown, on the main thread).
void TimelineWatch::shutdown() {
    std::lock_guard lock(mutex_);
    shutDown_ = true;
    removeScript();
    if (child_) child_->end();
    child_.reset();
    buffer_.clear();
}

std::optional<pid_t> TimelineWatch::childProcess() const {
    std::lock_guard lock(mutex_);
    if (child_ && !child_->reaped) return child_->pid;
    return std::nullopt;
}

// Watch queue.
void TimelineWatch::start() {
    std::lock_guard lock(mutex_);
    if (shutDown_) return;
    if (child_ && !child_->reaped) return;
    // A child that ended by itself, its end not handled yet: handled now.
    if (child_) child_->end();
    child_.reset();
    removeScript();

    const fs::path script = temporaryDirectory() / ("orvel_fusion_timeline_watch_" + makeUUID() + ".py");
    Error written;
    if (!writeFileAtomically(script, timelineWatchScript(), &written)) {
        engine_.fusionCallback(kPlayheadCallback, Json{{"success", false}, {"error", written.message}});
        return;
    }

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        std::error_code ignored;
        fs::remove(script, ignored);
        engine_.fusionCallback(kPlayheadCallback,
                               Json{{"success", false}, {"error", std::string("Suivi de la timeline impossible : ") +
                                                                      std::strerror(errno)}});
        return;
    }
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);

    // The program's environment, with Resolve's entries replacing inherited ones.
    const auto extra = engine_.runner().childEnvironment();
    std::vector<std::string> entries;
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view text(*entry);
        const auto name = text.substr(0, text.find('='));
        if (!extra.count(std::string(name))) entries.emplace_back(text);
    }
    for (const auto& [name, value] : extra) entries.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);

    std::string interpreter = engine_.runner().installation().interpreter().string();
    std::string scriptText = script.string();
    std::string parent = std::to_string(::getpid());
    char* argv[] = {interpreter.data(), scriptText.data(), parent.data(), nullptr};

    // Standard output to the pipe; standard input and error to nowhere, so the
    // child can never block on a pipe nobody reads.
    SpawnActions actions;
    posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDOUT_FILENO);
    posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(actions.get(), STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, argv[0], actions.get(), nullptr, argv, envp.data());
    writeEnd.reset();
    if (failed != 0) {
        std::error_code ignored;
        fs::remove(script, ignored);
        engine_.fusionCallback(kPlayheadCallback,
                               Json{{"success", false}, {"error", std::string("Suivi de la timeline impossible : ") +
                                                                      std::strerror(failed)}});
        return;
    }

    buffer_.clear();
    const std::uint64_t generation = ++generation_;
    auto child = std::make_shared<Child>();
    child->pid = pid;
    std::weak_ptr<bool> alive = alive_;
    Queue& queue = engine_.fusionTimelineWatchQueue();
    // Reader thread: blocking reads until the child's output closes, each
    // chunk handed to the watch queue; then the child is reaped.
    child->reader = std::thread([this, &queue, alive, generation, pid, fd = std::move(readEnd), raw = child.get()] {
        std::string chunk(64 * 1024, '\0');
        for (;;) {
            const ssize_t got = ::read(fd.get(), chunk.data(), chunk.size());
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            queue.post([this, alive, generation, text = chunk.substr(0, static_cast<std::size_t>(got))]() mutable {
                if (alive.lock()) received(generation, std::move(text));
            });
        }
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        raw->reaped = true;
        queue.post([this, alive, generation] {
            if (alive.lock()) ended(generation);
        });
    });
    child_ = std::move(child);
    scriptPath_ = script;
}

// Watch queue.
void TimelineWatch::stop() {
    std::lock_guard lock(mutex_);
    // The script goes first: once the child is gone, nothing of it is left.
    removeScript();
    if (child_) child_->end();
    child_.reset();
    ++generation_;
    buffer_.clear();
}

// Watch queue.
void TimelineWatch::pause() {
    {
        std::lock_guard lock(mutex_);
        const bool running = child_ && !child_->reaped;
        resumeAfterPause_ = resumeAfterPause_ || running;
    }
    stop();
}

// Watch queue.
void TimelineWatch::resume() {
    {
        std::lock_guard lock(mutex_);
        if (!resumeAfterPause_) return;
        resumeAfterPause_ = false;
    }
    start();
}

// Under the lock. The interpreter has read the script when it started.
void TimelineWatch::removeScript() {
    if (scriptPath_.empty()) return;
    std::error_code ignored;
    fs::remove(scriptPath_, ignored);
    scriptPath_.clear();
}

// Watch queue.
void TimelineWatch::received(std::uint64_t generation, std::string chunk) {
    std::vector<Json> lines;
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_) return;
        lines = buffer_.append(chunk);
    }
    for (auto& line : lines) engine_.fusionCallback(kPlayheadCallback, std::move(line));
}

// Watch queue. The child ended by itself (Resolve's Python failing to load,
// for example): the watch is stopped, and not restarted automatically.
void TimelineWatch::ended(std::uint64_t generation) {
    std::lock_guard lock(mutex_);
    if (generation != generation_) return;
    if (child_ && child_->reader.joinable()) child_->reader.join();
    child_.reset();
    ++generation_;
    removeScript();
    buffer_.clear();
}

// ------------------------------------------------------------ sync

TimelineSync::TimelineSync(EngineContext& engine, fs::path resourcesFolder, std::function<bool()> libraryBusy)
    : engine_(engine), resourcesFolder_(std::move(resourcesFolder)), libraryBusy_(std::move(libraryBusy)) {}

// Any thread.
void TimelineSync::syncFusionTimeline(Json payload) {
    std::weak_ptr<bool> alive = alive_;
    engine_.exportQueue().post([this, alive, payload = std::move(payload)]() mutable {
        if (!alive.lock()) return;
        // While the shared library drives Resolve, requests are dropped unanswered.
        if (libraryBusy_ && libraryBusy_()) return;
        pending_ = payload.is_object() ? std::move(payload) : Json::object();
        drain();
    });
}

// Export queue.
void TimelineSync::drain() {
    if (running_ || !pending_ || (libraryBusy_ && libraryBusy_())) return;
    running_ = true;
    Json request = std::move(*pending_);
    pending_.reset();
    std::string text;
    try {
        text = request.dump();
    } catch (const std::exception&) {
        // Not UTF-8 text: the module gets an empty request.
        text = "{}";
    }
    std::weak_ptr<bool> alive = alive_;
    Queue& exportQueue = engine_.exportQueue();
    engine_.runner().runResolvePython(
        resolveComfortScript(resourcesFolder_), {"snapshot", text}, kTimeLimit,
        [this, alive, &exportQueue](Result<Json> outcome) {
            exportQueue.post([this, alive, outcome = std::move(outcome)]() mutable {
                if (alive.lock()) finished(std::move(outcome));
            });
        });
}

// Export queue.
void TimelineSync::finished(Result<Json> outcome) {
    running_ = false;
    if (libraryBusy_ && libraryBusy_()) {
        pending_.reset();
        return;
    }
    // A newer request supersedes this one: only the newest is answered.
    if (pending_) return drain();
    Json reply;
    if (!outcome) {
        reply = Json{{"success", false}, {"error", outcome.error().message}};
    } else if (const Json& result = outcome.value(); result.is_object() && result.value("success", false) == true) {
        reply = result;
    } else {
        std::string message = kSyncUnavailable;
        if (result.is_object()) {
            auto found = result.find("message");
            if (found != result.end() && found->is_string() && !found->get<std::string>().empty())
                message = found->get<std::string>();
        }
        reply = Json{{"success", false}, {"error", message}};
    }
    engine_.fusionCallback(kLoadedCallback, std::move(reply));
}

}  // namespace tessivo
