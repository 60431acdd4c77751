// The render job inside the real engine: the "startRender" message, the save
// panel, the caption renderer, and shutdown while a job runs.
#include "app/engine.h"
#include "render/render_job.h"
#include "render/tests/movie_probe.h"

#include "platform/files.h"

#include <gtest/gtest.h>

namespace tessivo {
namespace {

class SignalView final : public MainWebView {
public:
    void evaluateScript(const std::string& script) override { signals.push_back(script); }
    std::vector<std::string> signals;
};

class AnswerPanel final : public SavePanel {
public:
    explicit AnswerPanel(fs::path path) : path_(std::move(path)) {}
    void chooseOutputFile(const SavePanelRequest&, std::function<void(std::optional<fs::path>)> done) override {
        done(path_);
    }

private:
    fs::path path_;
};

class RenderEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("tessivo-engine-render-" + makeUUID());
        fs::create_directories(folder);
        ExportEngine::Options options;
        options.configuration.settingsFile = folder / "settings.ini";
        engine = ExportEngine::create(options);
        view = std::make_shared<SignalView>();
        engine->setup(view);
        panel = std::make_unique<AnswerPanel>(folder / "movie.mov");
        engine->setSavePanel(panel.get());
    }
    void TearDown() override {
        engine.reset();
        fs::remove_all(folder);
    }
    Json startRender(double seconds) {
        Json block = {{"text", "Bonjour"}, {"startTime", 0.1}, {"duration", 0.5}, {"animIn", "pop"},
                      {"animSpeed", 0.1}, {"glowType", "neon"}, {"hasOutline", true}, {"outlineWidth", 3}};
        Json params = {{"width", 320}, {"height", 180}, {"start", 0}, {"end", seconds}, {"fps", 30},
                       {"renderer", "native"}, {"sequences", Json::array({block})}};
        return Json{{"type", "startRender"}, {"payload", params}};
    }

    fs::path folder;
    std::shared_ptr<ExportEngine> engine;
    std::shared_ptr<SignalView> view;
    std::unique_ptr<AnswerPanel> panel;
};

TEST_F(RenderEngineTest, StartRenderWritesTheMovie) {
    engine->handleWebMessage(startRender(1.0));
    runMainContextUntil([&] { return !view->signals.empty() && engine->isIdle(); });
    ASSERT_EQ(view->signals, std::vector<std::string>{"window.onRenderComplete()"});
    auto movie = testing::probeMovie(folder / "movie.mov");
    ASSERT_TRUE(movie.has_value());
    ASSERT_EQ(movie->frames.size(), 30u);
    // Nothing before the block starts; the caption is there once its entrance is over.
    auto maxAlpha = [](const testing::ProbedFrame& frame) {
        int alpha = 0;
        for (size_t i = 3; i < frame.rgba.size(); i += 4) alpha = std::max<int>(alpha, frame.rgba[i]);
        return alpha;
    };
    EXPECT_EQ(maxAlpha(movie->frames[0]), 0);
    EXPECT_EQ(maxAlpha(movie->frames[10]), 255);
    EXPECT_EQ(maxAlpha(movie->frames[29]), 0);
    Json metrics = engine->renderJob().exportMetricsPayload();
    EXPECT_EQ(metrics["totalFrames"], 30);
    EXPECT_GT(metrics["blankFrames"].get<int>(), 0);
    EXPECT_GT(metrics["reusedFrames"].get<int>(), 0);
}

TEST_F(RenderEngineTest, ShutdownWhileRenderingCancels) {
    engine->handleWebMessage(startRender(3600.0));
    runMainContextUntil([&] { return engine->published().renderProgress > 0; });
    engine->shutdown();
    EXPECT_FALSE(engine->published().isRendering);
    EXPECT_EQ(view->signals, std::vector<std::string>{"window.onRenderCancelled()"});
    runMainContextUntil([&] { return engine->isIdle(); });
    EXPECT_FALSE(fs::exists(folder / "movie.mov"));
    EXPECT_FALSE(fs::exists(folder / ".movie.mov.partial"));
}

}  // namespace
}  // namespace tessivo
