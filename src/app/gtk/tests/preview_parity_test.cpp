// What the editor's preview shows at a time is what a render writes for that
// time: the same project drawn in the preview canvas of the real window and
// by the render page (the same page loaded offscreen, driven by
// loadRenderProject and setRenderTime with the payload the page sends for a
// render) covers the same pixels. Needs a display (run under xvfb-run);
// skipped without one.
#include "app/gtk/offscreen_render_surface.h"
#include "app/gtk/tests/editor_session.h"
#include "app/gtk/web_view_host.h"
#include "platform/paths.h"

#include <cairo.h>
#include <glib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace tessivo {
namespace {

using testing::EditorSession;
using testing::waitFor;

struct AlphaMask {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> alpha;  // one byte a pixel, rows of width
};

// Intersection over union of the pixels each frame draws at more than half opacity.
struct Overlap {
    long intersection = 0;
    long united = 0;
    double iou() const { return united ? double(intersection) / double(united) : 0; }
};

Overlap overlap(const AlphaMask& a, const AlphaMask& b) {
    Overlap o;
    for (size_t i = 0; i < a.alpha.size() && i < b.alpha.size(); ++i) {
        const bool inA = a.alpha[i] > 127, inB = b.alpha[i] > 127;
        o.intersection += inA && inB;
        o.united += inA || inB;
    }
    return o;
}

// The render page of a render job, without the job: loads the page offscreen
// and draws given times on demand.
class RenderPage {
public:
    RenderPage(int width, int height)
        : surface_(width, height, [this](const Json& message) {
              if (message.value("type", "") == "frameReady")
                  ready_.push_back(message["payload"].value("requestId", -1));
          }) {}

    bool load(const Json& params, std::string* error) {
        const auto page = entryPageIn(resourcesDirectory());
        if (!page || !surface_.loadPage(*page)) {
            *error = "no render page";
            return false;
        }
        // The page defines its functions once its scripts have run.
        const bool defined = waitFor([&] { return evaluate("typeof window.loadRenderProject === 'function'") == true; },
                                     15);
        if (!defined) {
            *error = "window.loadRenderProject never defined";
            return false;
        }
        return evaluate("window.loadRenderProject(" + params.dump() + "); true") == true;
    }

    // The page's frame at `time`, once the page says it is painted.
    std::optional<AlphaMask> frameAt(double time) {
        const int request = ++serial_;
        std::ostringstream script;
        script.precision(17);
        script << "window.setRenderTime(" << time << ", " << request << ")";
        surface_.evaluateScript(script.str());
        if (!waitFor([&] { return std::find(ready_.begin(), ready_.end(), request) != ready_.end(); }, 15))
            return std::nullopt;
        std::optional<AlphaMask> mask;
        bool done = false;
        surface_.takeSnapshot([&](SnapshotImage image, std::string) {
            done = true;
            if (!image) return;
            cairo_surface_t* s = image.get();
            cairo_surface_flush(s);
            AlphaMask m{cairo_image_surface_get_width(s), cairo_image_surface_get_height(s), {}};
            const int stride = cairo_image_surface_get_stride(s);
            const unsigned char* data = cairo_image_surface_get_data(s);
            m.alpha.reserve(static_cast<size_t>(m.width) * m.height);
            // ARGB32 in native order: alpha is the top byte of each 32-bit pixel.
            for (int y = 0; y < m.height; ++y) {
                const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<size_t>(y) * stride);
                for (int x = 0; x < m.width; ++x) m.alpha.push_back(static_cast<std::uint8_t>(row[x] >> 24));
            }
            mask = std::move(m);
        });
        waitFor([&] { return done; }, 15);
        return mask;
    }

private:
    Json evaluate(const std::string& script) {
        std::optional<ScriptResult> result;
        surface_.evaluateScript(script, [&](ScriptResult r) { result = std::move(r); });
        waitFor([&] { return result.has_value(); }, 5);
        return result && result->value ? *result->value : Json();
    }

    OffscreenRenderSurface surface_;
    std::vector<long> ready_;
    int serial_ = 0;
};

class PreviewParityTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!EditorSession::displayAvailable(&why)) GTEST_SKIP() << why;
        session = std::make_unique<EditorSession>();
        ASSERT_TRUE(session->sim({"init", "--fps", "25"})) << session->error();
        ASSERT_TRUE(session->open()) << session->error();
    }
    void TearDown() override { session.reset(); }

    // The preview canvas's pixels once the playhead is at `time` and every
    // face it uses has arrived.
    std::optional<AlphaMask> previewAt(double time) {
        std::ostringstream body;
        body.precision(17);
        body << "tessivoEditor.store.dispatch({type: 'playhead/set', time: " << time << "});" << R"js(
            await tessivoTest.frames(2);
            await document.fonts.ready;
            await tessivoTest.frames(2);
            const canvas = tessivoTest.el('preview-canvas');
            const pixels = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
            const alpha = new Uint8Array(pixels.length / 4);
            for (let i = 0; i < alpha.length; i++) alpha[i] = pixels[i * 4 + 3];
            let text = '';
            for (let i = 0; i < alpha.length; i += 0x8000) text += String.fromCharCode.apply(null, alpha.subarray(i, i + 0x8000));
            return {width: canvas.width, height: canvas.height, alpha: btoa(text)};
        )js";
        auto answer = session->run(body.str(), 20);
        if (!answer || !answer->is_object()) return std::nullopt;
        AlphaMask mask{(*answer)["width"], (*answer)["height"], {}};
        gsize length = 0;
        const std::string encoded = (*answer)["alpha"];
        // A GLib allocation, released below.
        guchar* bytes = g_base64_decode(encoded.c_str(), &length);
        mask.alpha.assign(bytes, bytes + length);
        g_free(bytes);
        return mask;
    }

    std::unique_ptr<EditorSession> session;
};

// Captions that exercise the drawing: an outlined one popping in, a neon
// glow fading in, a shine sweeping over a stretched face, all on screen
// together for part of the time.
TEST_F(PreviewParityTest, PreviewFrameIsTheRenderPageFrame) {
    // A frame the preview shows whole at one canvas pixel per frame pixel
    // (a larger one is drawn at the size it is shown).
    ASSERT_TRUE(session->run(R"js(
        tessivoEditor.store.dispatch({type: 'project/new', width: 640, height: 360, fps: 25});
        tessivoEditor.store.dispatch({type: 'blocks/import', replace: true, blocks: [
            {text: 'Bonjour à tous', startTime: 0, duration: 2, font: 'Anton', size: 9, y: 25,
             color: '#ffd200', hasOutline: true, outlineWidth: 4, outlineColor: '#c01030',
             animIn: 'pop', animOut: 'none', animSpeed: 0.6},
            {text: 'Lueur néon', startTime: 0.4, duration: 2, font: 'Bebas Neue', size: 11, y: 55,
             color: '#3366ff', glowType: 'neon', glowColor: '#00ff88', glowIntensity: 30,
             animIn: 'fade', animOut: 'fade', animSpeed: 0.5},
            {text: 'Reflet\nsur deux lignes', startTime: 0.8, duration: 1.6, font: 'Archivo Black', size: 6,
             y: 82, textScaleX: 130, effect: 'shine-sweep', effectSpeed: 1.5, effectColor: '#ffffff',
             animIn: 'slide-up', animOut: 'sink', animSpeed: 0.4}]});
        return true)js"))
        << session->error();

    // The payload the page sends for a render of the whole project (the
    // user then cancels the save panel).
    session->savePanel().answer = std::nullopt;
    ASSERT_TRUE(session->run("tessivoTest.click('tab-send'); await tessivoTest.frames(1); "
                             "tessivoTest.click('render-start'); return true"))
        << session->error();
    ASSERT_TRUE(session->waitUntil("tessivoTest.state().ui.engine.requests.render.status !== 'pending'", 10))
        << session->error();
    const auto params = session->lastMessage("startRender");
    ASSERT_TRUE(params.has_value());

    RenderPage renderPage((*params)["width"], (*params)["height"]);
    std::string error;
    ASSERT_TRUE(renderPage.load(*params, &error)) << error;

    // Times: the pop under way, the glow fading in over it, all three
    // still, the two last leaving, the last alone. Measured: 0.997 to 0.9999;
    // drawing either side one frame late gives 0.49 to 0.87 while anything
    // moves.
    for (double time : {0.12, 0.6, 1.0, 1.3, 2.0, 2.3}) {
        SCOPED_TRACE("time " + std::to_string(time));
        const auto preview = previewAt(time);
        ASSERT_TRUE(preview.has_value()) << session->error();
        const auto rendered = renderPage.frameAt(time);
        ASSERT_TRUE(rendered.has_value()) << "the render page did not draw the frame";
        ASSERT_EQ(preview->width, rendered->width);
        ASSERT_EQ(preview->height, rendered->height);
        const Overlap o = overlap(*preview, *rendered);
        EXPECT_GT(o.united, 2000) << "nothing drawn";
        EXPECT_GE(o.iou(), 0.98) << o.intersection << " of " << o.united << " pixels in common";
    }
}

}  // namespace
}  // namespace tessivo
