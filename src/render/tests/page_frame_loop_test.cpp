// The render page frame loop, against a scripted page.
#include "render/tests/render_job_fixture.h"
#include "render/tests/movie_probe.h"

namespace tessivo {
namespace {

using testing::probeMovie;
using testing::RenderJobTest;
using testing::ScriptedSource;

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
