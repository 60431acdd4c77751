// Render jobs through a real offscreen WebKit page. Needs a display (run under
// xvfb-run); skipped without one.
#include "app/engine.h"
#include "app/gtk/offscreen_render_surface.h"
#include "platform/files.h"
#include "platform/queue.h"
#include "render/render_job.h"
#include "render/tests/movie_probe.h"

#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

namespace tessivo {
namespace {

using Clock = std::chrono::steady_clock;
using testing::ProbedFrame;
using testing::probeMovie;

bool waitFor(const std::function<bool()>& condition, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    runMainContextUntil([&] { return condition() || Clock::now() >= deadline; });
    return condition();
}

class SignalView final : public MainWebView {
public:
    void evaluateScript(const std::string& script) override { signals.push_back(script); }
    std::vector<std::string> signals;
};

// A page of its own that draws a white bar whose width grows with the time,
// and has no window.getRenderReuseState. `answers` false: it never says that
// a frame is painted.
std::string barPage(bool answers) {
    return std::string(R"html(<!doctype html><html><head><meta charset="utf-8"><style>
html, body { margin: 0; background: transparent; overflow: hidden; }
canvas { position: fixed; left: 0; top: 0; }
</style></head><body><canvas id="c"></canvas><script>
let ctx = null;
window.loadRenderProject = (p) => {
    const c = document.getElementById('c');
    c.width = p.width; c.height = p.height;
    ctx = c.getContext('2d');
};
window.setRenderTime = (t, id) => {
    ctx.clearRect(0, 0, ctx.canvas.width, ctx.canvas.height);
    ctx.fillStyle = '#fff';
    ctx.fillRect(10, 20, 40 + Math.round(t * 120), 40);
)html") + (answers ? "    requestAnimationFrame(() => window.webkit.messageHandlers.exportEngine.postMessage("
                     "{type: 'frameReady', payload: {requestId: id}}));\n"
                   : "") +
           "};\n</script></body></html>\n";
}

// Two captions with gaps: a still one, and one that fades in.
Json captionProject(int width, int height, double fps, double seconds, const std::string& renderer) {
    Json still = {{"text", "Bonjour"}, {"startTime", 0.2}, {"duration", 0.5}, {"font", "Anton"}, {"size", 12},
                  {"y", 50}, {"hasOutline", true}, {"outlineWidth", 2}};
    Json fading = {{"text", "Salut"}, {"startTime", 1.2}, {"duration", 0.5}, {"font", "Bebas Neue"}, {"size", 14},
                   {"y", 55}, {"animIn", "fade"}, {"animSpeed", 0.2}};
    return Json{{"width", width}, {"height", height}, {"start", 0},         {"end", seconds},
                {"fps", fps},     {"format", "mov"},  {"renderer", renderer}, {"sequences", Json::array({still, fading})}};
}

int maxAlpha(const ProbedFrame& frame, int x0, int y0, int x1, int y1) {
    int best = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) best = std::max(best, frame.pixel(x, y)[3]);
    return best;
}

class RenderPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display) GTEST_SKIP() << "no DISPLAY: run under xvfb-run -a";
        if (!gtk_init_check(nullptr, nullptr)) GTEST_SKIP() << "GTK cannot open the display " << display;
        folder = fs::temp_directory_path() / ("tessivo-render-page-" + makeUUID());
        fs::create_directories(folder);
        ExportEngine::Options options;
        options.configuration.settingsFile = folder / "settings.ini";
        engine = ExportEngine::create(options);
        view = std::make_shared<SignalView>();
        engine->setup(view);
        engine->setRenderSurfaceFactory(offscreenRenderSurfaceFactory());
    }
    void TearDown() override {
        if (engine) engine->shutdown();
        engine.reset();
        // Let the retired offscreen windows go.
        waitFor([] { return false; }, 0.05);
        if (!folder.empty()) fs::remove_all(folder);
    }
    // Runs a job to its end; returns the page signal it ended with.
    std::string render(const fs::path& output, const Json& params, double seconds = 60) {
        view->signals.clear();
        engine->renderJob().executeExport(output, params);
        EXPECT_TRUE(waitFor([&] { return !view->signals.empty() && engine->isIdle(); }, seconds)) << "job still running";
        return view->signals.empty() ? std::string() : view->signals.back();
    }
    fs::path writePage(const std::string& name, const std::string& html) {
        const fs::path page = folder / name;
        std::ofstream(page) << html;
        return page;
    }

    fs::path folder;
    std::shared_ptr<ExportEngine> engine;
    std::shared_ptr<SignalView> view;
};

TEST_F(RenderPageTest, EditorPageRendersCaptionsWithAlphaAndReusesStillFrames) {
    const fs::path output = folder / "captions.mov";
    ASSERT_EQ(render(output, captionProject(320, 180, 12, 2, "web")), "window.onRenderComplete()")
        << engine->renderJob().lastCancelReason();
    EXPECT_FALSE(engine->renderJob().hasRenderSurface());

    // 24 frames: 0.2–0.7 s holds frames 3–8 (one still look), 1.2–1.7 s
    // frames 15–20 (fading in until 1.4 s, then still); the rest is empty.
    const Json metrics = engine->renderJob().exportMetricsPayload();
    EXPECT_EQ(metrics["totalFrames"], 24);
    EXPECT_EQ(metrics["blankFrames"], 12);
    EXPECT_EQ(metrics["snapshots"], 1 + 2 + 1);
    EXPECT_EQ(metrics["reusedFrames"], 5 + 3);

    auto movie = probeMovie(output);
    ASSERT_TRUE(movie.has_value());
    EXPECT_EQ(movie->codec, "prores");
    ASSERT_EQ(movie->frames.size(), 24u);
    for (int i = 0; i < 24; ++i) {
        const ProbedFrame& frame = movie->frames[i];
        const bool captioned = (i >= 3 && i <= 8) || (i >= 15 && i <= 20);
        // Nothing above and below the caption band, ever.
        EXPECT_EQ(maxAlpha(frame, 0, 0, 320, 40), 0) << i;
        EXPECT_EQ(maxAlpha(frame, 0, 150, 320, 180), 0) << i;
        const int band = maxAlpha(frame, 40, 60, 280, 130);
        // The first fading frame is at 58 % opacity.
        if (captioned) EXPECT_GE(band, 120) << i;
        else EXPECT_EQ(band, 0) << i;
    }
}

TEST_F(RenderPageTest, PageWithoutReuseStateHasEveryFrameSnapshot) {
    engine->renderJob().setRenderPage(writePage("bar.html", barPage(true)));
    const fs::path output = folder / "bar.mov";
    Json params = {{"width", 200}, {"height", 100}, {"end", 0.5}, {"fps", 12}, {"renderer", "web"}};
    ASSERT_EQ(render(output, params), "window.onRenderComplete()") << engine->renderJob().lastCancelReason();
    const Json metrics = engine->renderJob().exportMetricsPayload();
    EXPECT_EQ(metrics["snapshots"], 6);
    EXPECT_EQ(metrics["reusedFrames"], 0);
    EXPECT_EQ(metrics["blankFrames"], 0);

    auto movie = probeMovie(output);
    ASSERT_TRUE(movie.has_value());
    ASSERT_EQ(movie->frames.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        // Each frame shows the bar as the page drew it for that frame's time.
        const int right = 10 + 40 + static_cast<int>(std::lround(i / 12.0 * 120));
        EXPECT_GE(movie->frames[i].pixel(right - 2, 40)[3], 250) << i;
        EXPECT_EQ(movie->frames[i].pixel(right + 2, 40)[3], 0) << i;
        EXPECT_EQ(movie->frames[i].pixel(5, 5)[3], 0) << i;
    }
}

TEST_F(RenderPageTest, SilentPageIsGivenUpAndItsLateFrameReadyDoesNothing) {
    engine->renderJob().setRenderPage(writePage("silent.html", barPage(false)));
    engine->renderJob().setFrameRequestLimit(0.5);
    const fs::path output = folder / "silent.mov";
    Json params = {{"width", 200}, {"height", 100}, {"end", 1}, {"fps", 12}};
    const auto started = Clock::now();
    EXPECT_EQ(render(output, params, 10), "window.onRenderCancelled()");
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - started).count(), 5);
    EXPECT_EQ(engine->renderJob().lastCancelReason().find("l'image 0 n'a pas été rendue"), 0u)
        << engine->renderJob().lastCancelReason();
    EXPECT_FALSE(fs::exists(output));

    // The answer the page never gave, arriving now, through the dispatcher.
    engine->handleWebMessage(Json{{"type", "frameReady"}, {"payload", {{"requestId", 1}}}});
    waitFor([] { return false; }, 0.3);
    EXPECT_EQ(view->signals.size(), 1u);
    EXPECT_EQ(engine->renderJob().exportMetricsPayload()["snapshots"], 0);
    EXPECT_FALSE(engine->published().isRendering);
}

// Two coloured captions for comparing the renderers: an outlined one, then a
// glowing one that fades in while the first is still up.
Json parityProject(const std::string& renderer) {
    Json outlined = {{"text", "Bonjour"}, {"startTime", 0}, {"duration", 1}, {"font", "Anton"}, {"size", 12},
                     {"y", 30}, {"color", "#ffd200"}, {"hasOutline", true}, {"outlineWidth", 3},
                     {"outlineColor", "#c01030"}};
    Json glowing = {{"text", "Salut"}, {"startTime", 0.5}, {"duration", 1.5}, {"font", "Bebas Neue"}, {"size", 14},
                    {"y", 70}, {"color", "#3366ff"}, {"glowType", "neon"}, {"glowColor", "#00ff88"},
                    {"glowIntensity", 20}, {"animIn", "fade"}, {"animSpeed", 0.3}};
    return Json{{"width", 640}, {"height", 360}, {"start", 0}, {"end", 2}, {"fps", 12}, {"format", "mov"},
                {"renderer", renderer}, {"sequences", Json::array({outlined, glowing})}};
}

// How two frames of the same captions differ.
struct FrameComparison {
    double iou = 0;             // of the masks of pixels with alpha > 127
    double solidColour[3] = {};  // |difference of the mean straight R, G, B| over pixels both cover (alpha > 191)
    double solidPixel = 0;       // mean per-pixel |a - b| of straight RGB over the same pixels
    double haloColour[3] = {};   // as solidColour, over pixels both draw translucent (15 < alpha < 192)
    double inkedAlpha = 0;       // |difference of the mean alpha| over pixels either draws (alpha > 15)
};

FrameComparison compare(const ProbedFrame& a, const ProbedFrame& b) {
    FrameComparison c;
    long both = 0, either = 0, solid = 0, halo = 0, inked = 0;
    double solidA[3] = {}, solidB[3] = {}, haloA[3] = {}, haloB[3] = {}, pixel = 0, alphaA = 0, alphaB = 0;
    const auto translucent = [](int alpha) { return alpha > 15 && alpha < 192; };
    for (int y = 0; y < a.height; ++y) {
        for (int x = 0; x < a.width; ++x) {
            const auto pa = a.pixel(x, y);
            const auto pb = b.pixel(x, y);
            both += pa[3] > 127 && pb[3] > 127;
            either += pa[3] > 127 || pb[3] > 127;
            if (pa[3] > 191 && pb[3] > 191) {
                ++solid;
                for (int ch = 0; ch < 3; ++ch) {
                    solidA[ch] += pa[ch];
                    solidB[ch] += pb[ch];
                    pixel += std::abs(pa[ch] - pb[ch]) / 3.0;
                }
            }
            if (translucent(pa[3]) && translucent(pb[3])) {
                ++halo;
                for (int ch = 0; ch < 3; ++ch) {
                    haloA[ch] += pa[ch];
                    haloB[ch] += pb[ch];
                }
            }
            if (pa[3] > 15 || pb[3] > 15) {
                ++inked;
                alphaA += pa[3];
                alphaB += pb[3];
            }
        }
    }
    c.iou = either ? double(both) / double(either) : 0;
    for (int ch = 0; ch < 3; ++ch) {
        c.solidColour[ch] = solid ? std::abs(solidA[ch] - solidB[ch]) / solid : 255;
        c.haloColour[ch] = halo ? std::abs(haloA[ch] - haloB[ch]) / halo : 255;
    }
    c.solidPixel = solid ? pixel / solid : 255;
    c.inkedAlpha = inked ? std::abs(alphaA - alphaB) / inked : 255;
    return c;
}

// The page and the native renderer draw the same captions, shapes and colours,
// at several times: the outlined caption alone, with the glowing one fading
// in, both still, the glowing one alone. The masks overlap with an
// intersection over union of at least 0.9. Measured between the two
// renderers (after the ProRes round trip): mean colours of the covered pixels
// within 3.2 per channel, per-pixel colour within 4.5, halo colours within
// 1.7, mean alpha within 3.7, mostly from anti-aliased edges and stroke joins.
// The limits leave about twice that; an outline or glow copy drawn in the fill
// colour, a glow without its halo, the glow's copy at full alpha or swapped
// colour channels each exceed them.
TEST_F(RenderPageTest, PageAndNativeRendererAgree) {
    const fs::path web = folder / "web.mov";
    const fs::path native = folder / "native.mov";
    ASSERT_EQ(render(web, parityProject("web")), "window.onRenderComplete()");
    ASSERT_EQ(render(native, parityProject("native")), "window.onRenderComplete()");
    auto a = probeMovie(web);
    auto b = probeMovie(native);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(a->frames.size(), b->frames.size());
    for (int i : {3, 7, 10, 18}) {
        SCOPED_TRACE("frame " + std::to_string(i));
        const FrameComparison c = compare(a->frames[i], b->frames[i]);
        EXPECT_GE(c.iou, 0.9);
        for (int ch = 0; ch < 3; ++ch) {
            EXPECT_LT(c.solidColour[ch], 6.0) << "channel " << ch;
            EXPECT_LT(c.haloColour[ch], 3.5) << "channel " << ch;
        }
        EXPECT_LT(c.solidPixel, 6.5);
        EXPECT_LT(c.inkedAlpha, 7.0);
    }
}

TEST_F(RenderPageTest, CommandLineRendersThroughThePage) {
    const char* build = std::getenv("TESSIVO_BUILD_DIR");
    if (!build) GTEST_SKIP() << "TESSIVO_BUILD_DIR not set";
    const fs::path params = folder / "params.json";
    std::ofstream(params) << captionProject(320, 180, 12, 1, "web").dump();
    const fs::path output = folder / "cli.mov";
    const std::string command = std::string(build) + "/tessivo-cli render '" + params.string() + "' -o '" +
                                output.string() + "' > '" + (folder / "metrics.json").string() + "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    auto movie = probeMovie(output);
    ASSERT_TRUE(movie.has_value());
    EXPECT_EQ(movie->frames.size(), 12u);
    auto metrics = parseJson(*readFile(folder / "metrics.json"));
    ASSERT_TRUE(metrics.has_value());
    EXPECT_EQ((*metrics)["snapshots"], 1);
    EXPECT_EQ((*metrics)["reusedFrames"], 5);
}

}  // namespace
}  // namespace tessivo
