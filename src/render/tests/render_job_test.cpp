#include "render/tests/render_job_fixture.h"
#include "render/tests/movie_probe.h"

#include "platform/files.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace tessivo {
namespace {

using testing::probeMovie;
using testing::RenderJobTest;
using testing::ScriptedSource;

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

// A project without caption blocks still gives a movie of the whole range:
// blank frames, transparent with alpha or the opaque background.
TEST_F(RenderJobTest, NoSequencesWritesTheRangeAsBlankFrames) {
    struct Case {
        std::string name;
        Json sequences;  // null: no "sequences" key
        std::string format, background, codec;
        std::vector<int> pixel;  // decoded RGBA of every pixel
    } cases[] = {
        {"empty list, transparent", Json::array(), "mov", "transparent", "prores", {0, 0, 0, 0}},
        {"no key, transparent", nullptr, "mov", "transparent", "prores", {0, 0, 0, 0}},
        {"empty list, black", Json::array(), "mp4", "black", "h264", {0, 0, 0, 255}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        engine->signals.clear();
        Json params = nativeParams(1.0, c.format);
        params["bg"] = c.background;
        if (c.sequences.is_null()) params.erase("sequences");
        else params["sequences"] = c.sequences;
        const fs::path target = folder / ("blank." + c.format);
        job->executeExport(target, params);
        engine->runUntilAnswered();
        ASSERT_EQ(engine->signals, std::vector<std::string>{"window.onRenderComplete()"});
        EXPECT_EQ(job->exportMetricsPayload()["blankFrames"], 30);

        auto movie = probeMovie(target);
        ASSERT_TRUE(movie.has_value());
        EXPECT_EQ(movie->codec, c.codec);
        ASSERT_EQ(movie->frames.size(), 30u);
        for (size_t i = 0; i < movie->frames.size(); ++i) {
            const auto& frame = movie->frames[i];
            EXPECT_NEAR(frame.seconds, i / 30.0, 1.0 / 600);
            bool uniform = true;
            for (size_t p = 0; p < frame.rgba.size() && uniform; p += 4)
                for (int k = 0; k < 4; ++k) uniform = uniform && std::abs(frame.rgba[p + k] - c.pixel[k]) <= 1;
            EXPECT_TRUE(uniform) << i;
        }
        fs::remove(target);
    }
}

// The movie's file stops growing in the middle of the job: the writer's error
// ends the job cancelled with the error, and no file is left.
TEST_F(RenderJobTest, AWriterErrorDuringTheFramesCancelsTheJob) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto run = [this]() -> int {
        const rlimit limit{64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, SIG_IGN);
        useScript(std::string(300, 'D'));
        job->executeExport(folder / "out.mov", nativeParams(10.0));
        engine->runUntilAnswered();
        if (engine->signals != std::vector<std::string>{"window.onRenderCancelled()"}) return 2;
        if (job->lastCancelReason().rfind("Écriture: ", 0) != 0) return 3;
        if (!folderIsEmpty()) return 4;
        return 0;
    };
    EXPECT_EXIT(std::exit(run()), ::testing::ExitedWithCode(0), "");
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

}  // namespace
}  // namespace tessivo
