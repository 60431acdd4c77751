// The Lottie documents of every Lottie-capable style, drawn by two independent
// players (lottie-web with its canvas and SVG renderers, in the product's web
// engine; ThorVG through dotlottie-web, under node, from the .lottie archives
// themselves) against the native renderer's frames of the same blocks: the
// text box, its height, the opacity and the line count must agree at frames of
// the entrance, the middle and the exit. Needs a display (run under xvfb-run),
// node and the players (npm ci in tests/lottie-players).
#include "app/gtk/resource_scheme.h"
#include "delivery/tests/process_output.h"
#include "lottie/lottie_delivery.h"
#include "lottie/tests/lottie_capability.h"
#include "platform/files.h"
#include "platform/glib_ptr.h"
#include "platform/queue.h"
#include "render/native_text_renderer.h"

#include <gtk/gtk.h>
#include <gtest/gtest.h>
#include <zip.h>

#include <chrono>
#include <cstdlib>
#include <algorithm>
#include <memory>

namespace tessivo {
namespace {

using testing::ScratchFolder;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 960;
constexpr int kHeight = 540;
constexpr double kFps = 30;
constexpr double kBlockSeconds = 2;
// Entrance and exit last 0.5 s = 15 frames: one frame a third into the
// entrance, the middle, and one frame 11/15 into the exit.
const std::vector<int> kFrames = {5, 30, 56};

std::filesystem::path playersFolder() {
    const char* folder = std::getenv("TESSIVO_LOTTIE_PLAYERS_DIR");
    return folder ? std::filesystem::path(folder) : std::filesystem::path(TESSIVO_SOURCE_DIR) / "tests" / "lottie-players";
}

// Where the ink of a frame lies, from the largest alpha of each row and column,
// and how opaque it is: the median alpha of the pixels at least half as opaque
// as the most opaque one (the letters' bodies; antialiased edges and the
// outline ring, drawn once while the bodies are drawn twice, fall below).
struct Ink {
    bool any = false;
    double opacity = 0;
    double centreX = 0, centreY = 0, height = 0;
    int lines = 0;
};

Ink inkOf(const std::vector<int>& rows, const std::vector<int>& cols, const std::vector<long>& hist,
          const std::vector<long>& counts) {
    Ink ink;
    int top = 0;
    for (int a : rows) top = std::max(top, a);
    if (top < 8 || hist.size() != 256) return ink;
    ink.any = true;
    const double threshold = top / 2.0;
    long strong = 0;
    for (int a = (top + 1) / 2; a < 256; ++a) strong += hist[a];
    long seen = 0;
    for (int a = (top + 1) / 2; a < 256; ++a) {
        seen += hist[a];
        if (2 * seen >= strong) {
            ink.opacity = a / 255.0;
            break;
        }
    }
    auto span = [&](const std::vector<int>& profile, int* first, int* last) {
        *first = -1;
        for (int i = 0; i < static_cast<int>(profile.size()); ++i) {
            if (profile[i] < threshold) continue;
            if (*first < 0) *first = i;
            *last = i;
        }
    };
    // Lines: bands of rows holding at least a third of the ink of the fullest
    // row; the tips of glyphs and glows between two lines hold far less.
    long fullest = 0;
    for (long n : counts) fullest = std::max(fullest, n);
    bool inside = false;
    for (long n : counts) {
        const bool body = 3 * n >= fullest && n > 0;
        if (body && !inside) ++ink.lines;
        inside = body;
    }
    int firstRow = 0, lastRow = 0, firstCol = 0, lastCol = 0;
    span(rows, &firstRow, &lastRow);
    span(cols, &firstCol, &lastCol);
    ink.centreX = (firstCol + lastCol + 1) / 2.0;
    ink.centreY = (firstRow + lastRow + 1) / 2.0;
    ink.height = lastRow - firstRow + 1;
    return ink;
}

Ink nativeInk(const Json& sequence, double time) {
    NativeCaptionRenderer renderer(kWidth, kHeight, {NativeTextSequence::decode(sequence)});
    std::vector<unsigned char> pixels(static_cast<std::size_t>(kWidth) * kHeight * 4);
    renderer.drawFrame(time, pixels.data(), kWidth * 4);
    std::vector<int> rows(kHeight, 0), cols(kWidth, 0);
    std::vector<long> hist(256, 0), counts(kHeight, 0);
    auto alpha = [&](int x, int y) { return pixels[(static_cast<std::size_t>(y) * kWidth + x) * 4 + 3]; };  // ARGB32, little-endian
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            rows[y] = std::max<int>(rows[y], alpha(x, y));
            cols[x] = std::max<int>(cols[x], alpha(x, y));
            ++hist[alpha(x, y)];
        }
    }
    const int top = *std::max_element(rows.begin(), rows.end());
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) counts[y] += alpha(x, y) * 2 >= top ? 1 : 0;
    return inkOf(rows, cols, hist, counts);
}

// The file `name` of a ZIP archive, as a player reads it.
std::string archiveEntry(const std::filesystem::path& archive, const char* name) {
    int error = 0;
    std::unique_ptr<zip_t, decltype(&zip_discard)> zip(zip_open(archive.c_str(), ZIP_RDONLY, &error), zip_discard);
    if (!zip) return {};
    zip_stat_t stat;
    if (zip_stat(zip.get(), name, 0, &stat) != 0) return {};
    std::unique_ptr<zip_file_t, decltype(&zip_fclose)> file(zip_fopen(zip.get(), name, 0), zip_fclose);
    if (!file) return {};
    std::string bytes(stat.size, '\0');
    if (zip_fread(file.get(), bytes.data(), stat.size) != static_cast<zip_int64_t>(stat.size)) return {};
    return bytes;
}

// What dotlottie-web draws of each archive at the sampled frames, and the
// errors it reported, per archive.
struct PlayerOutcome {
    std::vector<Ink> frames;
    std::string errors;
};

std::vector<PlayerOutcome> dotLottieOutcomes(const std::vector<std::filesystem::path>& archives) {
    std::string command = "cd " + testing::shellQuoted(playersFolder().string()) + " && node dotlottie-frames.mjs " +
                          std::to_string(kWidth) + " " + std::to_string(kHeight) + " " +
                          testing::shellQuoted(Json(kFrames).dump());
    for (const auto& archive : archives) command += " " + testing::shellQuoted(archive.string());
    const auto result = testing::runProcess(command);
    std::vector<PlayerOutcome> outcomes(archives.size());
    auto answer = parseJson(result.output.substr(0, result.output.find('\n')));
    if (result.exitStatus != 0 || !answer || !answer->is_array() || answer->size() != archives.size()) {
        for (auto& outcome : outcomes) outcome.errors = "node: " + result.output;
        return outcomes;
    }
    for (std::size_t i = 0; i < archives.size(); ++i) {
        const Json& entry = (*answer)[i];
        if (!entry["errors"].empty()) outcomes[i].errors = entry["errors"].dump();
        for (const auto& frame : entry["frames"])
            outcomes[i].frames.push_back(
                inkOf(frame["rows"].get<std::vector<int>>(), frame["cols"].get<std::vector<int>>(),
                      frame["hist"].get<std::vector<long>>(), frame["counts"].get<std::vector<long>>()));
    }
    return outcomes;
}

struct WidgetDestroy {
    void operator()(GtkWidget* widget) const { gtk_widget_destroy(widget); }
};

class LottiePlayers : public ::testing::Test {
protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display) GTEST_SKIP() << "no DISPLAY: run under xvfb-run -a";
        if (!std::filesystem::exists(playersFolder() / "node_modules" / "lottie-web") ||
            !std::filesystem::exists(playersFolder() / "node_modules" / "@lottiefiles" / "dotlottie-web"))
            GTEST_SKIP() << "players missing: run `npm ci --prefix " << playersFolder().string() << "` first";
        if (!gtk_init_check(nullptr, nullptr)) GTEST_SKIP() << "GTK cannot open the display " << display;
        window_.reset(gtk_offscreen_window_new());
        view_ = WEBKIT_WEB_VIEW(webkit_web_view_new());  // owned by the window
        gtk_widget_set_size_request(GTK_WIDGET(view_), kWidth, kHeight);
        gtk_container_add(GTK_CONTAINER(window_.get()), GTK_WIDGET(view_));
        gtk_widget_show_all(window_.get());
        ASSERT_TRUE(loadServedPage(view_, playersFolder() / "page.html"));
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (call("return window.playersReady === true;", nullptr) != "true") {
            ASSERT_LT(Clock::now(), deadline) << "the players' page did not load";
            runMainContextUntil([] { return true; }, 0.05);
        }
    }

    // Runs `body` as an async function of the page; its result as text. A call
    // that outlasts `seconds` is cancelled, and its answer still awaited, so
    // the callback never outlives what it writes to.
    std::string call(const std::string& body, GVariant* arguments, double seconds = 30) {
        struct Outcome {
            bool done = false;
            std::string text;
        } outcome;
        GObjectPtr<GCancellable> cancellable = adoptGObject(g_cancellable_new());
        webkit_web_view_call_async_javascript_function(
            view_, body.c_str(), -1, arguments, nullptr, nullptr, cancellable.get(),
            [](GObject* source, GAsyncResult* result, gpointer data) {
                auto* out = static_cast<Outcome*>(data);
                GError* error = nullptr;
                JSCValue* value = webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error);
                if (value) {
                    char* text = jsc_value_to_string(value);
                    out->text = text ? text : "";
                    g_free(text);
                    g_object_unref(value);
                } else {
                    out->text = std::string("error: ") + (error ? error->message : "?");
                    g_clear_error(&error);
                }
                out->done = true;
            },
            &outcome);
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        runMainContextUntil([&] { return outcome.done || Clock::now() >= deadline; });
        if (!outcome.done) {
            g_cancellable_cancel(cancellable.get());
            runMainContextUntil([&] { return outcome.done; });
        }
        return outcome.text;
    }

    // The ink of each sampled frame as lottie-web draws it (`kind`:
    // "lottie-canvas" or "lottie-svg").
    std::vector<Ink> measure(const std::string& kind, const std::string& payload, std::string* errors) {
        GVariantBuilder builder;
        g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&builder, "{sv}", "kind", g_variant_new_string(kind.c_str()));
        g_variant_builder_add(&builder, "{sv}", "payload", g_variant_new_string(payload.c_str()));
        g_variant_builder_add(&builder, "{sv}", "frames", g_variant_new_string(Json(kFrames).dump().c_str()));
        g_variant_builder_add(&builder, "{sv}", "width", g_variant_new_int32(kWidth));
        g_variant_builder_add(&builder, "{sv}", "height", g_variant_new_int32(kHeight));
        const std::string text = call("return await window.measureLottie(kind, payload, frames, width, height);",
                                      g_variant_builder_end(&builder));
        auto answer = parseJson(text);
        if (!answer || !answer->is_object()) {
            *errors = text;
            return {};
        }
        *errors = (*answer)["errors"].dump();
        if ((*answer)["errors"].empty()) errors->clear();
        std::vector<Ink> inks;
        for (const auto& frame : (*answer)["frames"])
            inks.push_back(inkOf(frame["rows"].get<std::vector<int>>(), frame["cols"].get<std::vector<int>>(),
                      frame["hist"].get<std::vector<long>>(), frame["counts"].get<std::vector<long>>()));
        return inks;
    }

    std::unique_ptr<GtkWidget, WidgetDestroy> window_;
    WebKitWebView* view_ = nullptr;
};

// One block per capable entrance, exit and font, each font once with its
// outline (when an outline is capable in that face) and once without, the
// capable glows and effects taken in turn; stretched or not, on two lines or one.
Json fixtureBlocks(const LottieCapability& capability) {
    const std::size_t fonts = capability.font.size();
    const std::size_t count = std::max({capability.animIn.size(), capability.animOut.size(), 2 * fonts});
    Json blocks = Json::array();
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& font = capability.font[i % fonts];
        const bool outlined = (i / fonts) % 2 == 0 &&
                              std::find(capability.outlineFont.begin(), capability.outlineFont.end(), font) !=
                                  capability.outlineFont.end();
        blocks.push_back({
            {"id", "bloc-" + std::to_string(i)},
            {"text", i % 2 ? "TESSIVO" : "SOUS TITRE\nEN DIRECT"},
            {"startTime", static_cast<double>(i) * 3.0},
            {"duration", kBlockSeconds},
            {"font", font},
            {"size", 8},
            {"x", 50},
            {"y", 35 + static_cast<double>(i % 3) * 15},
            {"textScaleX", i % 4 == 1 ? 125 : 100},
            {"color", "#ffd400"},
            {"hasOutline", outlined},
            {"outlineWidth", 3},
            {"outlineColor", "#202020"},
            {"animIn", capability.animIn[i % capability.animIn.size()]},
            {"animOut", capability.animOut[i % capability.animOut.size()]},
            {"animSpeed", 0.5},
            {"effect", capability.effect[i % capability.effect.size()]},
            {"glowType", capability.glowType[i % capability.glowType.size()]},
            {"glowColor", "#e0208a"},
            {"glowIntensity", 20},
        });
    }
    return blocks;
}

TEST_F(LottiePlayers, DrawTheCapableStylesAsTheNativeRendererDoes) {
    const LottieCapability capability = readLottieCapability();
    ASSERT_FALSE(capability.animIn.empty());
    const Json blocks = fixtureBlocks(capability);
    ScratchFolder scratch;
    Json request = {{"start", 0}, {"end", blocks.size() * 3.0}, {"fps", kFps}, {"width", kWidth},
                    {"height", kHeight}, {"sequences", blocks}};
    auto clips = makeResolveLottieClips(request, [&] { return Result(scratch.path()); });
    ASSERT_TRUE(clips) << clips.error().message;
    ASSERT_EQ(clips.value().size(), blocks.size());

    std::vector<std::filesystem::path> archives;
    for (const auto& clip : clips.value()) archives.push_back(clip.filePath);
    const std::vector<PlayerOutcome> thorvg = dotLottieOutcomes(archives);

    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const Json& block = blocks[b];
        SCOPED_TRACE(block.dump());
        // lottie-web does not open archives: it gets the animation the manifest names.
        const std::string document = archiveEntry(archives[b], "animations/caption.json");
        ASSERT_FALSE(document.empty()) << "no animations/caption.json in " << archives[b];
        std::vector<Ink> native;
        for (int frame : kFrames) native.push_back(nativeInk(block, block["startTime"].get<double>() + frame / kFps));

        for (const std::string kind : {"lottie-canvas", "lottie-svg", "dotlottie"}) {
            SCOPED_TRACE(kind);
            PlayerOutcome drawn;
            if (kind == "dotlottie")
                drawn = thorvg[b];
            else
                drawn.frames = measure(kind, document, &drawn.errors);
            EXPECT_EQ(drawn.errors, "") << "the player reported errors";
            if (drawn.frames.size() != kFrames.size()) {
                ADD_FAILURE() << "the player drew " << drawn.frames.size() << " frames";
                continue;
            }
            for (std::size_t f = 0; f < kFrames.size(); ++f) {
                SCOPED_TRACE("frame " + std::to_string(kFrames[f]));
                const Ink& want = native[f];
                const Ink& got = drawn.frames[f];
                ASSERT_TRUE(want.any);
                if (!got.any) {
                    ADD_FAILURE() << "nothing drawn";
                    continue;
                }
                EXPECT_NEAR(got.opacity, want.opacity, 0.08);
                EXPECT_NEAR(got.centreX, want.centreX, 4);
                EXPECT_NEAR(got.centreY, want.centreY, 4);
                EXPECT_NEAR(got.height, want.height, 0.04 * want.height);
                EXPECT_EQ(got.lines, want.lines);
            }
        }
    }
}

}  // namespace
}  // namespace tessivo
