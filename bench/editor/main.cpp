// bench-editor: the editor's page in the real window, timed inside the page
// with performance.now() through window.tessivoEditor:
//   - preview frames at 1080p with 10 visible animated captions: the drawing
//     of one frame (the preview's drawing module on a 1920x1080 canvas, the
//     pixels read back so that the drawing is finished), and real-time
//     playback in the window (frames shown per second);
//   - timeline redraws while dragging with 2,000 blocks: one pointer move
//     (the store's move, the components' reactions, the redraw of the
//     timeline canvas), one block or all 2,000 dragged, at a working zoom
//     and with every block in view;
//   - reading a 5,000-cue SRT through the file input, until the blocks are
//     in the store, and until the timeline has painted them.
//
//   xvfb-run -a -s "-screen 0 1920x1080x24" bench-editor
//
// The window paints as the program does: in software when the display's
// OpenGL is drawn by the CPU (as under Xvfb), else with OpenGL.

#include "app/gtk/paint_mode.h"
#include "app/gtk/tests/editor_session.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace tessivo;
using tessivo::testing::EditorSession;

namespace {

struct Spread {
    double median = 0, p95 = 0, max = 0, mean = 0;
};

Spread spreadOf(const Json& samples) {
    std::vector<double> v;
    for (const Json& s : samples) v.push_back(s.get<double>());
    Spread s;
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    s.median = v[v.size() / 2];
    s.p95 = v[std::min(v.size() - 1, static_cast<size_t>(v.size() * 0.95))];
    s.max = v.back();
    for (double x : v) s.mean += x;
    s.mean /= static_cast<double>(v.size());
    return s;
}

void printSpread(const char* name, const Spread& s, const char* target) {
    std::printf("  %-44s median %6.2f ms  mean %6.2f  p95 %6.2f  max %6.2f   %s\n", name, s.median, s.mean, s.p95, s.max,
                target);
}

// Ten captions on screen together, each entering with its own animation
// over two seconds, every other one with a shine sweeping over it, every
// third one with a glow.
constexpr const char* kPreviewSetup = R"js(
const S = tessivoEditor.store;
S.dispatch({type: 'project/new', width: 1920, height: 1080, fps: 60});
const anims = ['fade', 'pop', 'slide-up', 'rise', 'smooth-rise', 'zoom-blur', 'scale-down', 'ghost-reveal',
               'whip-left', 'slam'];
S.dispatch({type: 'blocks/import', replace: true, blocks: anims.map((animIn, i) => ({
    text: `Sous-titre animé numéro ${i + 1}`, startTime: i * 0.1, duration: 20, y: 6 + i * 9.6, size: 6,
    animIn, animOut: 'fade', animSpeed: 2, effect: i % 2 ? 'shine-sweep' : 'none', effectSpeed: 1,
    hasOutline: true, outlineWidth: 3, glowType: i % 3 === 0 ? 'hard' : 'none', glowColor: '#ff00aa'}))});
await document.fonts.ready;
return S.getState().project.blocks.length;
)js";

// One second of frames (1.0 s to 2.0 s: every caption on screen and moving).
constexpr const char* kPreviewDraw = R"js(
const api = window.TessivoCaptions;
const project = tessivoEditor.store.getState().project;
const order = api.sortBlocks(project.blocks.map((b) => api.decodeSequence(b)));
const canvas = document.createElement('canvas');
canvas.width = 1920;
canvas.height = 1080;
const ctx = canvas.getContext('2d');
const frame = {width: 1920, height: 1080, pixelRatio: 1};
const layouts = new WeakMap();
for (const f of api.declaredFamiliesUsed(order)) await document.fonts.load(`16px "${f}"`);
api.drawFrame(ctx, order, 1.0, frame, layouts);
ctx.getImageData(0, 0, 1, 1);
const times = [];
let visible = 0;
for (let i = 0; i < 60; i++) {
    const t = 1.0 + i / 60;
    const start = performance.now();
    api.drawFrame(ctx, order, t, frame, layouts);
    ctx.getImageData(0, 0, 1, 1);
    times.push(performance.now() - start);
}
for (const b of order) if (api.visiblePose(b, 1.5, 1920, 1080)) visible++;
return {times, visible};
)js";

// Two seconds of playback in the window from 1.0 s: animation frames of the
// page and how far the playhead went.
constexpr const char* kPlayback = R"js(
const S = tessivoEditor.store;
S.dispatch({type: 'playhead/set', time: 1.0});
await tessivoTest.frames(3);
const canvas = tessivoTest.el('preview-canvas');
let frames = 0;
let last = performance.now();
const gaps = [];
S.dispatch({type: 'playback/set', playing: true});
const start = performance.now();
while (performance.now() - start < 2000) {
    await tessivoTest.frames(1);
    const now = performance.now();
    gaps.push(now - last);
    last = now;
    frames++;
}
const seconds = (performance.now() - start) / 1000;
S.dispatch({type: 'playback/set', playing: false});
return {fps: frames / seconds, gaps: gaps.slice(1), advanced: S.getState().ui.playhead - 1.0, seconds,
        canvas: [canvas.width, canvas.height]};
)js";

// 2,000 blocks on four tracks.
constexpr const char* kTimelineSetup = R"js(
const S = tessivoEditor.store;
S.dispatch({type: 'project/new', fps: 25});
const blocks = [];
for (let i = 0; i < 2000; i++)
    blocks.push({text: `Bloc ${i + 1}`, startTime: Math.floor(i / 4) * 1.2, duration: 1, trackId: i % 4});
S.dispatch({type: 'blocks/import', replace: true, blocks});
await tessivoTest.frames(2);
return S.getState().project.blocks.length;
)js";

// Drags block 1000 (after selecting all blocks when `all`) by 120 pointer
// moves of 2 pixels, at `zoom` pixels a second (0: every block in view),
// timing for each move: the event with the store's move, the page's
// reactions to the change (components), and the redraw of the timeline.
std::string timelineDrag(bool all, double zoom) {
    return "const all = " + std::string(all ? "true" : "false") + ", zoom = " + std::to_string(zoom) + ";\n" + R"js(
const S = tessivoEditor.store;
const canvas = tessivoTest.el('timeline-canvas');
const ctx = canvas.getContext('2d');
const id = S.getState().project.blocks[1000].id;
const block = S.getState().project.blocks[1000];
S.dispatch({type: 'view/zoom', zoom: zoom > 0 ? zoom : (canvas.clientWidth - 90) / 600});
S.dispatch({type: 'view/scroll', scroll: zoom > 0 ? Math.max(0, block.startTime - 5) : 0});
S.dispatch(all ? {type: 'selection/all'} : {type: 'selection/set', ids: [id]});
await tessivoTest.frames(2);
const visible = S.getState().project.blocks.filter((b) => {
    const r = tessivoEditor.timeline.blockClientRect(b.id), c = canvas.getBoundingClientRect();
    return r.x + r.width >= c.left + 84 && r.x <= c.right;
}).length;
const p = tessivoTest.blockPoint(id);
const send = (type, x, y) => canvas.dispatchEvent(new PointerEvent(type, {bubbles: true, cancelable: true,
    clientX: x, clientY: y, button: 0, buttons: type === 'pointerup' ? 0 : 1, pointerId: 1, pointerType: 'mouse',
    isPrimary: true}));
// Lets every queued reaction run (a task after the microtasks) without a timer's delay.
const channel = new MessageChannel();
const settle = () => new Promise((resolve) => { channel.port1.onmessage = () => resolve(); channel.port2.postMessage(0); });
send('pointerdown', p.x, p.y);
await settle();
const times = [], moves = [], reactions = [], draws = [];
for (let i = 1; i <= 120; i++) {
    const start = performance.now();
    send('pointermove', p.x + i * 2, p.y);
    const moved = performance.now();
    await settle();
    const reacted = performance.now();
    tessivoEditor.timeline.redraw();
    ctx.getImageData(0, 0, 1, 1);
    const end = performance.now();
    times.push(end - start);
    moves.push(moved - start);
    reactions.push(reacted - moved);
    draws.push(end - reacted);
}
send('pointerup', p.x + 240, p.y);
const shifted = S.getState().project.blocks[1000].startTime - block.startTime;
S.undo();
await tessivoTest.frames(1);
return {times, moves, reactions, draws, shifted, visible};
)js";
}

// A 5,000-cue SRT picked in the file input.
constexpr const char* kSrtRead = R"js(
const S = tessivoEditor.store;
S.dispatch({type: 'project/new', fps: 25});
await tessivoTest.frames(1);
const tc = (s) => {
    const ms = Math.round(s * 1000);
    const p = (n, w) => String(n).padStart(w, '0');
    return `${p(Math.floor(ms / 3600000), 2)}:${p(Math.floor(ms / 60000) % 60, 2)}:${p(Math.floor(ms / 1000) % 60, 2)},${p(ms % 1000, 3)}`;
};
const parts = [];
for (let i = 0; i < 5000; i++)
    parts.push(`${i + 1}\n${tc(i * 2)} --> ${tc(i * 2 + 1.5)}\nRéplique numéro ${i + 1} du film,\nsur deux lignes « à lire ».\n`);
const text = parts.join('\n');
const input = tessivoTest.el('import-file');
const files = new DataTransfer();
files.items.add(new File([text], 'long.srt', {type: 'application/x-subrip'}));
input.files = files.files;
const done = new Promise((resolve) => {
    const stop = S.subscribe(() => {
        if (S.getState().project.blocks.length >= 5000) { stop(); resolve(performance.now()); }
    });
});
const start = performance.now();
input.dispatchEvent(new Event('change', {bubbles: true}));
const read = (await done) - start;
await tessivoTest.frames(1);
const painted = performance.now() - start;
return {read, painted, blocks: S.getState().project.blocks.length, bytes: new Blob([text]).size};
)js";

}  // namespace

int main() {
    std::string why;
    if (!EditorSession::displayAvailable(&why)) {
        std::fprintf(stderr, "bench-editor: %s\n", why.c_str());
        return 2;
    }
    EditorSession session;
    if (!session.sim({"init", "--fps", "25"}) || !session.open()) {
        std::fprintf(stderr, "bench-editor: %s\n", session.error().c_str());
        return 1;
    }
    const auto fail = [&](const char* what) {
        std::fprintf(stderr, "bench-editor: %s: %s\n", what, session.error().c_str());
        return 1;
    };

    const auto renderer = displayGLRenderer();
    const bool software = webkit_settings_get_hardware_acceleration_policy(webkit_web_view_get_settings(
                              session.window().webViewHost().webView())) == WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER;
    std::printf("editor page in the real window (OpenGL: %s), painted %s\n", renderer ? renderer->c_str() : "none",
                software ? "in software" : "with OpenGL");
    if (!session.run(kPreviewSetup, 30)) return fail("preview set-up");
    auto preview = session.run(kPreviewDraw, 120);
    if (!preview) return fail("preview frames");
    const Spread draw = spreadOf((*preview)["times"]);
    std::printf("preview, 1080p, %d animated captions visible:\n", (*preview)["visible"].get<int>());
    printSpread("one frame drawn (1920x1080 canvas)", draw, "target >= 60 fps (< 16.7 ms)");
    std::printf("  %-44s %6.1f fps from the mean\n", "", 1000.0 / draw.mean);
    auto playback = session.run(kPlayback, 30);
    if (!playback) return fail("playback");
    const Spread gaps = spreadOf((*playback)["gaps"]);
    std::printf("  %-44s %6.1f fps, canvas %dx%d, playhead advanced %.2f s in %.2f s\n",
                "playback in the window", (*playback)["fps"].get<double>(), (*playback)["canvas"][0].get<int>(),
                (*playback)["canvas"][1].get<int>(), (*playback)["advanced"].get<double>(),
                (*playback)["seconds"].get<double>());
    printSpread("time between shown frames", gaps, "");

    if (!session.run(kTimelineSetup, 60)) return fail("timeline set-up");
    std::printf("timeline with 2,000 blocks, one pointer move of a drag:\n");
    struct DragCase {
        const char* name;
        bool all;
        double zoom;
    };
    for (const DragCase& c : {DragCase{"one block, 40 px/s", false, 40}, DragCase{"all 2,000 selected, 40 px/s", true, 40},
                              DragCase{"one block, every block in view", false, 0}}) {
        auto drag = session.run(timelineDrag(c.all, c.zoom), 120);
        if (!drag) return fail("timeline drag");
        std::printf("  %s (%d blocks in view, moved by %.2f s):\n", c.name, (*drag)["visible"].get<int>(),
                    (*drag)["shifted"].get<double>());
        printSpread("  whole move", spreadOf((*drag)["times"]), "target < 16 ms a frame");
        printSpread("    event and store", spreadOf((*drag)["moves"]), "");
        printSpread("    page's reactions (components, frames)", spreadOf((*drag)["reactions"]), "");
        printSpread("    timeline redraw", spreadOf((*drag)["draws"]), "");
    }

    auto srt = session.run(kSrtRead, 120);
    if (!srt) return fail("SRT read");
    std::printf("SRT file of %d cues (%.0f kB) through the file input:\n", (*srt)["blocks"].get<int>(),
                (*srt)["bytes"].get<double>() / 1024);
    std::printf("  %-44s %6.1f ms   target < 200 ms\n", "read into the store", (*srt)["read"].get<double>());
    std::printf("  %-44s %6.1f ms\n", "until the next frame is painted", (*srt)["painted"].get<double>());
    return 0;
}
