#include "render/render_job.h"
#include "render/tests/movie_probe.h"

#include "platform/files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace tessivo {
namespace {

using testing::probeMovie;

// The engine as the job sees it: real queues, recorded page signals.
class FakeEngine final : public EngineContext, public std::enable_shared_from_this<FakeEngine> {
public:
    class Panel final : public SavePanel {
    public:
        std::optional<fs::path> answer;
        std::vector<SavePanelRequest> requests;
        void chooseOutputFile(const SavePanelRequest& request,
                              std::function<void(std::optional<fs::path>)> done) override {
            requests.push_back(request);
            done(answer);
        }
    };

    Queue& mainQueue() override { return main_; }
    Queue& exportQueue() override { return export_; }
    Queue& resolveOperationQueue() override { return export_; }
    Queue& fusionTimelineWatchQueue() override { return export_; }
    void callWebFunction(const std::string&, const Json&) override {}
    void fusionCallback(const std::string&, Json) override {}
    void evaluatePageSignal(const std::string& script) override { signals.push_back(script); }
    const PublishedState& published() const override { return state; }
    void setRendering(bool rendering) override { state.isRendering = rendering; }
    void setRenderProgress(double progress) override {
        state.renderProgress = progress;
        progressSeen.push_back(progress);
    }
    void setRenderSize(int width, int height) override {
        state.renderWidth = width;
        state.renderHeight = height;
    }
    SavePanel* savePanel() override { return panelInstalled ? &panel : nullptr; }
    const RenderSurfaceFactory& renderSurfaceFactory() const override { return surfaceFactory; }
    void handleWebMessage(const Json& message) override {
        if (onMessage) onMessage(message);
    }
    [[noreturn]] PythonRunner& runner() override { std::abort(); }
    [[noreturn]] Settings& settings() override { std::abort(); }
    std::weak_ptr<EngineContext> weakContext() override { return weak_from_this(); }

    // Runs the main context until the job has answered and both queues are quiet.
    void runUntilAnswered() {
        runMainContextUntil([this] {
            return !signals.empty() && main_.pendingCount() == 0 && export_.pendingCount() == 0;
        });
    }

    Panel panel;
    bool panelInstalled = true;
    RenderSurfaceFactory surfaceFactory;
    std::function<void(const Json&)> onMessage;
    PublishedState state;
    std::vector<std::string> signals;
    std::vector<double> progressSeen;

private:
    MainQueue main_;
    SerialQueue export_{"kinetype.export.queue"};
};

// Frames by index at 30 fps: 'E' empty, 'A'/'B' static with that key, 'D'
// dynamic. A non-empty frame is one opaque-white block whose width encodes
// the frame's look, so that a reused frame would show in the pixels.
class ScriptedSource final : public NativeFrameSource {
public:
    ScriptedSource(int width, int height, std::string script, int delayMs)
        : width_(width), height_(height), script_(std::move(script)), delayMs_(delayMs) {}
    State frameState(double time) const override {
        char c = at(time);
        if (c == 'E') return {Kind::Empty, {}};
        if (c == 'D') return {Kind::Dynamic, {}};
        return {Kind::Static, std::string(1, c)};
    }
    void drawFrame(double time, unsigned char* data, int stride) override {
        if (delayMs_) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_));
        std::memset(data, 0, static_cast<size_t>(stride) * height_);
        const int blockWidth = blockWidthFor(at(time), index(time));
        for (int y = 20; y < 60; ++y) {
            auto* row = reinterpret_cast<std::uint32_t*>(data + y * stride);
            for (int x = 10; x < 10 + blockWidth && x < width_; ++x) row[x] = 0xffffffffu;
        }
    }
    static int blockWidthFor(char c, int index) {
        if (c == 'A') return 40;
        if (c == 'B') return 80;
        return 100 + 4 * index;  // dynamic: differs every frame
    }
    int index(double time) const { return static_cast<int>(std::lround(time * 30)); }
    char at(double time) const { return script_[std::min<size_t>(index(time), script_.size() - 1)]; }

private:
    int width_, height_;
    std::string script_;
    int delayMs_;
};

class RenderJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("tessivo-job-" + makeUUID());
        fs::create_directories(folder);
        engine = std::make_shared<FakeEngine>();
        job = std::make_unique<RenderJob>(*engine);
    }
    void TearDown() override {
        job.reset();
        engine.reset();
        fs::remove_all(folder);
    }
    void useScript(std::string script, int delayMs = 0) {
        job->setNativeFrameSourceFactory([script, delayMs](int w, int h, std::vector<NativeTextSequence>) {
            return std::make_unique<ScriptedSource>(w, h, script, delayMs);
        });
    }
    static Json nativeParams(double seconds, std::string format = "mov") {
        return Json{{"width", 320},   {"height", 180}, {"start", 0},          {"end", seconds},
                    {"fps", 30},      {"format", format}, {"renderer", "native"},
                    {"sequences", Json::array({Json{{"text", "x"}}})}};
    }
    bool folderIsEmpty() const { return fs::is_empty(folder); }

    fs::path folder;
    std::shared_ptr<FakeEngine> engine;
    std::unique_ptr<RenderJob> job;
};

TEST_F(RenderJobTest, NativeJobReusesUnchangedFramesAndCompletes) {
    const std::string script = "EEEEEAAAAAAAAAADDDDDBBBBBEEEEE";
    useScript(script);
    const fs::path target = folder / "Kinetype_Render.mov";
    job->executeExport(target, nativeParams(1.0));
    EXPECT_TRUE(engine->state.isRendering);
    engine->runUntilAnswered();

    ASSERT_EQ(engine->signals, std::vector<std::string>{"window.onRenderComplete()"});
    EXPECT_FALSE(engine->state.isRendering);
    EXPECT_DOUBLE_EQ(engine->state.renderProgress, 1.0);
    EXPECT_EQ(job->selectedCodecName(), "ProRes 4444");
    Json metrics = job->exportMetricsPayload();
    EXPECT_EQ(metrics["totalFrames"], 30);
    EXPECT_EQ(metrics["blankFrames"], 10);
    EXPECT_EQ(metrics["reusedFrames"], 9 + 4);
    EXPECT_EQ(metrics["snapshots"], 0);

    auto movie = probeMovie(target);
    ASSERT_TRUE(movie.has_value());
    EXPECT_EQ(movie->codec, "prores");
    ASSERT_EQ(movie->frames.size(), script.size());
    for (size_t i = 0; i < script.size(); ++i) {
        const auto& frame = movie->frames[i];
        EXPECT_NEAR(frame.seconds, i / 30.0, 1.0 / 600);
        if (script[i] == 'E') {
            EXPECT_EQ(frame.pixel(10, 30)[3], 0) << i;
            continue;
        }
        // The block ends exactly where this frame's look says.
        const int edge = 10 + ScriptedSource::blockWidthFor(script[i], static_cast<int>(i));
        EXPECT_EQ(frame.pixel(edge - 1, 30)[3], 255) << i;
        EXPECT_EQ(frame.pixel(edge + 1, 30)[3], 0) << i;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST_F(RenderJobTest, JobsThatCannotWriteAFileEndCancelledAndLeaveNothing) {
    struct Case {
        std::string name;
        Json params;
        bool targetIsFolder;
    } cases[] = {
        {"ProRes refused by MPEG-4", [] { Json p = nativeParams(0.2, "mp4"); p["bg"] = "transparent"; return p; }(), false},
        {"finish cannot place the file", nativeParams(0.2), true},
        {"render page path", [] { Json p = nativeParams(0.2); p["renderer"] = "web"; return p; }(), false},
        {"absurd range", [] { Json p = nativeParams(0.2); p["end"] = 1e300; return p; }(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        useScript("DDDDDD");
        engine->signals.clear();
        const fs::path target = folder / "out.mov";
        if (c.targetIsFolder) fs::create_directories(target / "inside");
        // A route that started the job hears of its end once, with the reason.
        std::vector<std::string> ended;
        bool finished = false;
        RenderDelivery delivery;
        delivery.ended = [&](const std::string& reason) { ended.push_back(reason); };
        delivery.finished = [&](const fs::path&) { finished = true; };
        job->executeExport(target, c.params, std::move(delivery));
        engine->runUntilAnswered();
        EXPECT_EQ(engine->signals, std::vector<std::string>{"window.onRenderCancelled()"});
        EXPECT_EQ(ended, std::vector<std::string>{job->lastCancelReason()});
        EXPECT_FALSE(ended.empty() || ended[0].empty());
        EXPECT_FALSE(finished);
        EXPECT_FALSE(engine->state.isRendering);
        EXPECT_EQ(engine->state.renderProgress, 0);
        if (c.targetIsFolder) {
            EXPECT_TRUE(fs::is_directory(target / "inside"));
            fs::remove_all(target);
        }
        EXPECT_TRUE(folderIsEmpty());
    }
}

TEST_F(RenderJobTest, CancellingARunningJobStopsItAndRemovesThePartialFile) {
    useScript(std::string(300, 'D'), 5);
    int ended = 0;
    RenderDelivery delivery;
    delivery.ended = [&](const std::string&) { ++ended; };
    job->executeExport(folder / "out.mov", nativeParams(10.0), std::move(delivery));
    runMainContextUntil([&] { return engine->state.renderProgress > 0; });
    job->cancelExport();
    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(job->isRendering());
    engine->runUntilAnswered();
    EXPECT_EQ(engine->signals, std::vector<std::string>{"window.onRenderCancelled()"});
    EXPECT_TRUE(folderIsEmpty());
    EXPECT_LT(engine->state.renderProgress, 1);
}

TEST_F(RenderJobTest, StartExportAsksForTheFileFirst) {
    struct Case {
        std::string name;
        bool panel;
        bool answered;
        std::string signal;
    } cases[] = {
        {"no panel", false, false, "window.onRenderCancelled()"},
        {"panel cancelled", true, false, "window.onRenderCancelled()"},
        {"file chosen", true, true, "window.onRenderComplete()"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        useScript("AAAA");
        engine->signals.clear();
        engine->panel.requests.clear();
        engine->panelInstalled = c.panel;
        engine->panel.answer = c.answered ? std::optional<fs::path>(folder / "chosen.mp4") : std::nullopt;
        Json params = nativeParams(0.1, "mp4");
        params["bg"] = "black";
        job->startExport(params);
        engine->runUntilAnswered();
        EXPECT_EQ(engine->signals, std::vector<std::string>{c.signal});
        if (c.panel) {
            ASSERT_EQ(engine->panel.requests.size(), 1u);
            EXPECT_EQ(engine->panel.requests[0].title, "Enregistrer la video");
            EXPECT_EQ(engine->panel.requests[0].suggestedName, "Kinetype_Render.mp4");
        }
        EXPECT_EQ(fs::exists(folder / "chosen.mp4"), c.answered);
    }
    auto movie = probeMovie(folder / "chosen.mp4");
    ASSERT_TRUE(movie.has_value());
    EXPECT_EQ(movie->codec, "h264");
    EXPECT_EQ(movie->frames.size(), 3u);
    EXPECT_EQ(job->exportMetricsPayload()["reusedFrames"], 2);
}

TEST_F(RenderJobTest, NoSequencesCompletesWithoutFrames) {
    Json params = nativeParams(1.0);
    params.erase("sequences");
    job->executeExport(folder / "out.mov", params);
    engine->runUntilAnswered();
    EXPECT_EQ(engine->signals, std::vector<std::string>{"window.onRenderComplete()"});
    EXPECT_EQ(job->exportMetricsPayload()["blankFrames"], 0);
}

TEST_F(RenderJobTest, FrameReadyWithoutAPendingRequestIsIgnored) {
    job->captureAndEncodeFrame(Json{{"requestId", 1}});
    EXPECT_TRUE(engine->signals.empty());
}

TEST(RenderParamsTest, ReadByDirectTypeTest) {
    struct Case {
        Json params;
        int width, height;
        double fps;
        std::string format, background, renderer;
    } cases[] = {
        {Json::object(), 1920, 1080, 60, "mov", "transparent", "web"},
        {Json{{"width", "1280"}, {"height", 720.0}}, 1920, 720, 60, "mov", "transparent", "web"},
        {Json{{"width", 1280.5}, {"format", "mp4"}}, 1920, 1080, 60, "mp4", "black", "web"},
        {Json{{"format", "mp4"}, {"bg", "transparent"}, {"renderer", "native"}}, 1920, 1080, 60, "mp4", "transparent",
         "native"},
        {Json{{"format", 4}, {"bg", "white"}, {"fps", "29,97"}}, 1920, 1080, 29.97, "mov", "white", "web"},
        {Json{{"width", 1e12}, {"fps", 500}}, 1920, 1080, 60, "mov", "transparent", "web"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.params.dump());
        RenderParams p = RenderParams::read(c.params);
        EXPECT_EQ(p.width, c.width);
        EXPECT_EQ(p.height, c.height);
        EXPECT_DOUBLE_EQ(p.fps, c.fps);
        EXPECT_EQ(p.format, c.format);
        EXPECT_EQ(p.background, c.background);
        EXPECT_EQ(p.renderer, c.renderer);
    }
}

TEST(RenderParamsTest, NormalizedFrameRate) {
    struct Case {
        Json value;
        double expected;
    } cases[] = {
        {"29,97", 29.97}, {"25 fps", 25}, {0, 60},    {500, 60},   {"abc", 60}, {240, 240},
        {true, 1},        {false, 60},    {" 24", 24}, {"-5", 60}, {nullptr, 60}, {"1e2", 100},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(normalizedFrameRate(&c.value, 60), c.expected) << c.value.dump();
    EXPECT_DOUBLE_EQ(normalizedFrameRate(static_cast<const Json*>(nullptr), 0.0), 30);
}

TEST(RenderParamsTest, FrameCount) {
    struct Case {
        double start, end, fps;
        std::optional<std::int64_t> frames;
    } cases[] = {
        {0, 10, 60, 600},   {5, 5, 60, 1},        {5, 2, 60, 1},          {0, 0.5, 29.97, 15},
        {0, 1e300, 60, {}}, {-1e300, 1e300, 60, {}}, {0, 86400, 240, 20736000}, {0, 86401, 60, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(renderFrameCount(c.start, c.end, c.fps), c.frames) << c.end;
}

TEST(RenderMetricsTest, MilestonesFallBackAndDurationsClamp) {
    using Clock = RenderMetrics::Clock;
    const auto t0 = Clock::now();
    RenderMetrics metrics;
    metrics.reset(t0);
    metrics.setTotalFrames(10);
    metrics.setWriterReady(t0 + std::chrono::seconds(1));
    metrics.setEncodingFinished(t0 + std::chrono::seconds(4));
    metrics.addSnapshot(5);  // more capture time than render time
    metrics.addBlankFrame();
    Json p = metrics.payload(t0 + std::chrono::seconds(6));
    EXPECT_EQ(p["totalFrames"], 10);
    EXPECT_EQ(p["snapshots"], 1);
    EXPECT_EQ(p["blankFrames"], 1);
    EXPECT_DOUBLE_EQ(p["preparationSeconds"].get<double>(), 1);  // render ready = writer ready
    EXPECT_DOUBLE_EQ(p["renderSeconds"].get<double>(), 3);
    EXPECT_DOUBLE_EQ(p["encodingSeconds"].get<double>(), 0);
    EXPECT_DOUBLE_EQ(p["insertionSeconds"].get<double>(), 2);  // insertion started = encoding finished
    EXPECT_DOUBLE_EQ(p["elapsedSeconds"].get<double>(), 6);
    // A finish before the start clamps to zero.
    EXPECT_DOUBLE_EQ(metrics.payload(t0 - std::chrono::seconds(1))["elapsedSeconds"].get<double>(), 0);
}


// ---- The render page path, against a scripted page ----

namespace page {

// A page at 30 fps whose frames follow a script like ScriptedSource's. It
// answers as WebKit does, later on the main queue, and never after it is gone.
struct PageBehaviour {
    std::string script = "D";
    int loaderMissingFor = 0;      // load attempts answered false first
    bool hasReuseState = true;     // window.getRenderReuseState defined
    bool postsFrameReady = true;   // answers setRenderTime at all
    bool requestIdAsText = false;  // posts "requestId": "7" rather than 7
    bool snapshotFails = false;
};

struct PageLog {
    std::vector<std::string> scripts;
    int snapshots = 0;
    int surfacesMade = 0;
};

double numberAfter(const std::string& script, const std::string& prefix) {
    return std::stod(script.substr(script.find(prefix) + prefix.size()));
}

class ScriptedPage final : public RenderSurface {
public:
    ScriptedPage(Queue& main, int width, int height, RenderMessageReceiver receiver, PageBehaviour behaviour,
                 std::shared_ptr<PageLog> log)
        : main_(main), width_(width), height_(height), receiver_(std::move(receiver)),
          behaviour_(std::move(behaviour)), log_(std::move(log)) {}
    ~ScriptedPage() override { *alive_ = false; }

    bool loadPage(const fs::path&) override { return true; }

    void evaluateScript(const std::string& script, std::function<void(ScriptResult)> done) override {
        log_->scripts.push_back(script);
        ScriptResult result;
        if (script.rfind("(function() {", 0) == 0) {
            result.value = loadAttempts_++ >= behaviour_.loaderMissingFor;
        } else if (script.rfind("typeof window.getRenderReuseState", 0) == 0) {
            const char c = at(numberAfter(script, "getRenderReuseState("));
            if (!behaviour_.hasReuseState || c == 'D') result.value = Json{{"kind", "dynamic"}, {"key", nullptr}};
            else if (c == 'E') result.value = Json{{"kind", "empty"}, {"key", nullptr}};
            else result.value = Json{{"kind", "static"}, {"key", std::string(1, c)}};
        }
        later([done = std::move(done), result] { done(result); });
    }

    void evaluateScript(const std::string& script) override {
        log_->scripts.push_back(script);
        if (script.rfind("window.setRenderTime(", 0) != 0) return;
        paintedTime_ = numberAfter(script, "window.setRenderTime(");
        const auto id = static_cast<std::int64_t>(numberAfter(script, ", "));
        if (!behaviour_.postsFrameReady) return;
        Json requestID = behaviour_.requestIdAsText ? Json(std::to_string(id)) : Json(id);
        later([this, requestID] { receiver_(Json{{"type", "frameReady"}, {"payload", {{"requestId", requestID}}}}); });
    }

    void takeSnapshot(std::function<void(SnapshotImage, std::string)> done) override {
        ++log_->snapshots;
        if (behaviour_.snapshotFails) {
            later([done = std::move(done)] { done(nullptr, "vue fermée"); });
            return;
        }
        SnapshotImage image(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width_, height_), cairo_surface_destroy);
        const int index = static_cast<int>(std::lround(paintedTime_ * 30));
        const int blockWidth = ScriptedSource::blockWidthFor(at(paintedTime_), index);
        unsigned char* data = cairo_image_surface_get_data(image.get());
        const int stride = cairo_image_surface_get_stride(image.get());
        for (int y = 20; y < 60; ++y) {
            auto* row = reinterpret_cast<std::uint32_t*>(data + y * stride);
            for (int x = 10; x < 10 + blockWidth && x < width_; ++x) row[x] = 0xffffffffu;
        }
        cairo_surface_mark_dirty(image.get());
        later([done = std::move(done), image] { done(image, {}); });
    }

    void removeMessageHandler() override {}

private:
    char at(double time) const {
        const auto i = static_cast<size_t>(std::lround(time * 30));
        return behaviour_.script[std::min(i, behaviour_.script.size() - 1)];
    }
    void later(std::function<void()> work) {
        main_.post([alive = alive_, work = std::move(work)] {
            if (*alive) work();
        });
    }

    Queue& main_;
    int width_, height_;
    RenderMessageReceiver receiver_;
    PageBehaviour behaviour_;
    std::shared_ptr<PageLog> log_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    int loadAttempts_ = 0;
    double paintedTime_ = 0;
};

}  // namespace page

class RenderPageJobTest : public RenderJobTest {
protected:
    void SetUp() override {
        RenderJobTest::SetUp();
        engine->onMessage = [this](const Json& message) {
            if (message.value("type", "") == "frameReady") job->captureAndEncodeFrame(message["payload"]);
        };
        job->setRenderPage(folder / "unused.html");
    }
    void usePage(page::PageBehaviour behaviour) {
        engine->surfaceFactory = [this, behaviour](int w, int h, RenderMessageReceiver receiver) {
            ++pageLog->surfacesMade;
            return std::make_unique<page::ScriptedPage>(engine->mainQueue(), w, h, std::move(receiver), behaviour,
                                                        pageLog);
        };
    }
    static Json pageParams(double seconds) {
        Json params = nativeParams(seconds);
        params.erase("renderer");
        return params;
    }
    std::vector<std::string> scriptsStartingWith(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const auto& s : pageLog->scripts)
            if (s.rfind(prefix, 0) == 0) found.push_back(s);
        return found;
    }
    std::shared_ptr<page::PageLog> pageLog = std::make_shared<page::PageLog>();
};

TEST_F(RenderPageJobTest, FramesFollowThePagesReuseStates) {
    const std::string script = "EEEEEAAAAAAAAAADDDDDBBBBBEEEAA";
    usePage({.script = script});
    const fs::path target = folder / "page.mov";
    const Json params = pageParams(1.0);
    job->executeExport(target, params);
    engine->runUntilAnswered();

    ASSERT_EQ(engine->signals, std::vector<std::string>{"window.onRenderComplete()"});
    EXPECT_FALSE(job->hasRenderSurface());
    Json metrics = job->exportMetricsPayload();
    EXPECT_EQ(metrics["totalFrames"], 30);
    EXPECT_EQ(metrics["blankFrames"], 8);
    // A keeps its buffer across nothing but blanks; after B the second run of A is drawn anew.
    EXPECT_EQ(metrics["reusedFrames"], 9 + 4 + 1);
    EXPECT_EQ(metrics["snapshots"], 1 + 5 + 1 + 1);
    EXPECT_EQ(pageLog->snapshots, 8);

    // The conversation, word for word.
    const auto loads = scriptsStartingWith("(function() {");
    ASSERT_EQ(loads.size(), 1u);
    EXPECT_EQ(loads[0], renderLoadScript(*serializeJson(params)));
    const auto reuse = scriptsStartingWith("typeof window.getRenderReuseState");
    ASSERT_EQ(reuse.size(), 30u);
    EXPECT_EQ(reuse[0], "typeof window.getRenderReuseState === 'function' ? window.getRenderReuseState(0.0) : "
                        "({kind:'dynamic', key:null})");
    const auto times = scriptsStartingWith("window.setRenderTime(");
    ASSERT_EQ(times.size(), 8u);
    EXPECT_EQ(times[0], "window.setRenderTime(0.16666666666666666, 1)");
    EXPECT_EQ(times[7], "window.setRenderTime(0.9333333333333333, 8)");

    auto movie = probeMovie(target);
    ASSERT_TRUE(movie.has_value());
    ASSERT_EQ(movie->frames.size(), script.size());
    for (size_t i = 0; i < script.size(); ++i) {
        const auto& frame = movie->frames[i];
        EXPECT_NEAR(frame.seconds, i / 30.0, 1.0 / 6000);
        if (script[i] == 'E') {
            EXPECT_EQ(frame.pixel(10, 30)[3], 0) << i;
            continue;
        }
        const int edge = 10 + ScriptedSource::blockWidthFor(script[i], static_cast<int>(i));
        EXPECT_EQ(frame.pixel(edge - 1, 30)[3], 255) << i;
        EXPECT_EQ(frame.pixel(edge + 1, 30)[3], 0) << i;
    }
}

TEST_F(RenderPageJobTest, PagesWithoutReuseStateOrWithTextRequestIdsSnapshotEveryFrame) {
    for (page::PageBehaviour behaviour : {page::PageBehaviour{.script = "AAAEEA", .hasReuseState = false},
                                          page::PageBehaviour{.script = "DDDDDD", .requestIdAsText = true}}) {
        pageLog = std::make_shared<page::PageLog>();
        engine->signals.clear();
        usePage(behaviour);
        job->executeExport(folder / "all.mov", pageParams(0.2));
        engine->runUntilAnswered();
        ASSERT_EQ(engine->signals, std::vector<std::string>{"window.onRenderComplete()"}) << behaviour.script;
        Json metrics = job->exportMetricsPayload();
        EXPECT_EQ(metrics["snapshots"], 6);
        EXPECT_EQ(metrics["reusedFrames"], 0);
        EXPECT_EQ(metrics["blankFrames"], 0);
    }
}

TEST_F(RenderPageJobTest, JobsThatCannotTalkToThePageEndCancelled) {
    struct Case {
        std::string name;
        bool factory;
        page::PageBehaviour behaviour;
        std::string reasonStart;
        int loadAttempts;
    };
    const std::vector<Case> cases = {
        {"no display", false, {}, "aucun affichage", 0},
        {"loader never defined", true, {.loaderMissingFor = 1000}, "loadRenderProject indisponible", 21},
        {"loader defined late", true, {.loaderMissingFor = 3, .postsFrameReady = false}, "l'image 0 n'a pas", 4},
        {"snapshot error", true, {.snapshotFails = true}, "capture: vue fermée", 1},
    };
    job->setFrameRequestLimit(0.3);
    for (const auto& c : cases) {
        pageLog = std::make_shared<page::PageLog>();
        engine->signals.clear();
        if (c.factory) usePage(c.behaviour);
        else engine->surfaceFactory = nullptr;
        job->executeExport(folder / "x.mov", pageParams(1.0));
        engine->runUntilAnswered();
        EXPECT_EQ(engine->signals, std::vector<std::string>{"window.onRenderCancelled()"}) << c.name;
        EXPECT_EQ(job->lastCancelReason().rfind(c.reasonStart, 0), 0u) << c.name << ": " << job->lastCancelReason();
        EXPECT_EQ(scriptsStartingWith("(function() {").size(), static_cast<size_t>(c.loadAttempts)) << c.name;
        EXPECT_FALSE(job->hasRenderSurface()) << c.name;
        EXPECT_FALSE(engine->state.isRendering) << c.name;
        EXPECT_TRUE(folderIsEmpty()) << c.name;
    }
}

TEST_F(RenderPageJobTest, LateFrameReadyOfACancelledJobDoesNothing) {
    usePage({.script = "D", .postsFrameReady = false});
    job->executeExport(folder / "late.mov", pageParams(1.0));
    runMainContextUntil([&] { return !scriptsStartingWith("window.setRenderTime(").empty(); });
    job->cancelExport();
    engine->runUntilAnswered();
    ASSERT_EQ(engine->signals, std::vector<std::string>{"window.onRenderCancelled()"});

    job->captureAndEncodeFrame(Json{{"requestId", 1}});
    runMainContextUntil([] { return true; });
    EXPECT_EQ(pageLog->snapshots, 0);
    EXPECT_EQ(engine->signals.size(), 1u);
    EXPECT_EQ(job->exportMetricsPayload()["snapshots"], 0);
    EXPECT_TRUE(folderIsEmpty());
}

TEST(RenderScriptTextTest, TimesAreShortestRoundTripDecimalsWithAFraction) {
    const std::vector<std::pair<double, std::string>> cases = {
        {0.0, "0.0"},   {1.0 / 60, "0.016666666666666666"}, {3.0, "3.0"},
        {2.5, "2.5"},   {-0.5, "-0.5"},                     {1e21, "1.0e+21"},
        {1e-7, "1.0e-07"}, {1234567.0, "1234567.0"},
    };
    for (const auto& [time, text] : cases) EXPECT_EQ(renderScriptTime(time), text) << text;
    EXPECT_EQ(renderSetTimeScript(0.5, 12), "window.setRenderTime(0.5, 12)");
    EXPECT_EQ(renderLoadScript("{\"a\":1}"),
              "(function() {\n    if (typeof window.loadRenderProject !== 'function') { return false; }\n"
              "    window.loadRenderProject({\"a\":1});\n    return true;\n})();");
}

}  // namespace
}  // namespace tessivo
