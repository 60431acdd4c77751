import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';
import { fitFrame, toFramePoint, captionBounds, pickCaption, dragPosition } from '../src/ui/preview-geometry.js';
import { createPlayback, soundsBetween, pageFrames } from '../src/ui/playback.js';
import { createPainter } from '../src/ui/preview-painter.js';
import { createStore } from '../src/state/store.js';
import { newProject } from '../src/state/model.js';

const require = createRequire(import.meta.url);
const captions = require('../../../resources/web/js/caption-renderer.js');
const { FakeContext } = require('../../../resources/web/tests/fake-canvas.js');

test('the frame fits its box at its own aspect ratio, centred', () => {
    const cases = [
        [[960, 540, 1920, 1080], { left: 0, top: 0, width: 960, height: 540, scale: 0.5 }],
        [[1000, 400, 1920, 1080], { left: 144, top: 0, width: 711, height: 400 }],
        [[400, 1000, 1920, 1080], { left: 0, top: 387, width: 400, height: 225 }],
        [[500, 500, 1080, 1920], { left: 109, top: 0, width: 281, height: 500 }],
        [[0, 500, 1920, 1080], { left: 0, top: 0, width: 0, height: 0, scale: 0 }],
    ];
    for (const [args, expected] of cases) {
        const got = fitFrame(...args);
        for (const k of Object.keys(expected)) assert.equal(got[k], expected[k], `${args} ${k}`);
    }
    assert.deepEqual(toFramePoint(480, 135, { width: 960, height: 540 }, 1920, 1080), { x: 960, y: 270 });
});

test('a caption box covers the text the drawing module lays out, around the anchor', () => {
    const ctx = new FakeContext();
    const frame = { width: 1920, height: 1080 };
    const cases = [
        [{ text: 'ABCD', x: 50, y: 80, size: 10, textScaleX: 100, font: 'Anton' }, 4, 1],
        [{ text: 'AB\nABCDEF', x: 20, y: 30, size: 5, textScaleX: 150, font: 'Inter' }, 6, 2],
    ];
    for (const [raw, longest, lines] of cases) {
        const block = captions.decodeSequence(raw);
        const layout = captions.layoutBlock(ctx, block, frame);
        const b = captionBounds(block, layout, frame, captions.lineStep);
        const fs = (raw.size / 100) * frame.width;
        // The fake context measures every character as half the font size.
        const width = longest * 0.5 * fs * (raw.textScaleX / 100);
        assert.ok(Math.abs(b.width - width) < 1e-6, `width of ${raw.text}`);
        assert.ok(Math.abs(b.height - captions.lineStep(fs) * lines) < 1e-6, `height of ${raw.text}`);
        assert.ok(Math.abs(b.left + b.width / 2 - (raw.x / 100) * frame.width) < 1e-6);
        assert.ok(Math.abs(b.top + b.height / 2 - (raw.y / 100) * frame.height) < 1e-6);
    }
});

test('the caption on top is picked, with a little slack around thin captions', () => {
    const items = [
        { id: 'low', bounds: { left: 100, top: 100, width: 400, height: 80 } },
        { id: 'high', bounds: { left: 300, top: 120, width: 400, height: 80 } },
    ];
    const cases = [[{ x: 350, y: 150 }, 'high'], [{ x: 150, y: 150 }, 'low'], [{ x: 97, y: 150 }, 'low'],
        [{ x: 800, y: 150 }, null], [{ x: 350, y: 400 }, null]];
    for (const [point, id] of cases) assert.equal(pickCaption(items, point), id, JSON.stringify(point));
});

test('a dragged caption stays in the frame, on tenths of a percent, and holds on the centre lines', () => {
    const frame = { width: 1920, height: 1080 };
    const cases = [
        [{ x: 50, y: 80 }, 192, -108, {}, { x: 60, y: 70 }],
        [{ x: 10, y: 10 }, -1000, -1000, {}, { x: 0, y: 0 }],
        [{ x: 90, y: 90 }, 1000, 1000, {}, { x: 100, y: 100 }],
        [{ x: 40, y: 80 }, 185, 0, {}, { x: 50, y: 80 }],
        [{ x: 40, y: 80 }, 185, 0, { free: true }, { x: 49.6, y: 80 }],
        [{ x: 33.33, y: 50.04 }, 0.3, 0, { free: true }, { x: 33.3, y: 50 }],
    ];
    for (const [origin, dx, dy, options, expected] of cases) {
        const got = dragPosition(origin, dx, dy, frame, options);
        assert.deepEqual({ x: got.x, y: got.y }, expected, JSON.stringify([origin, dx, dy, options]));
    }
    assert.deepEqual(dragPosition({ x: 49.5, y: 20 }, 0, 0, frame).guides, { x: true, y: false });
});

// A clock and frame scheduler the test advances by hand.
function fakeFrames() {
    let time = 0;
    let pending = null;
    return {
        now: () => time,
        requestFrame: (fn) => { pending = fn; return 1; },
        cancelFrame: () => { pending = null; },
        advance(ms) {
            time += ms;
            const fn = pending;
            pending = null;
            if (fn) fn();
        },
        get waiting() { return pending !== null; },
    };
}

function storeWith(blocks, sfx = [], playhead = 0) {
    const project = { ...newProject({ fps: 25 }), blocks, sfx };
    const store = createStore({ project });
    store.dispatch({ type: 'playhead/set', time: playhead });
    store.dispatch({ type: 'playback/set', playing: true });
    return store;
}

const block = (id, startTime, duration) => ({ id, text: id, startTime, duration, trackId: 0, x: 50, y: 50 });

test('playback follows the wall clock, drops frames when late, and stops at the end', () => {
    const store = storeWith([block('b1', 0, 2)]);
    const frames = fakeFrames();
    createPlayback(store, { ...frames, playSound() {} });
    frames.advance(16);
    assert.ok(Math.abs(store.getState().ui.playhead - 0.016) < 1e-9);
    frames.advance(500); // a long frame: the playhead jumps by the time elapsed
    assert.ok(Math.abs(store.getState().ui.playhead - 0.516) < 1e-9);
    frames.advance(5000);
    assert.equal(store.getState().ui.playhead, 2);
    assert.equal(store.getState().ui.playing, false);
    assert.equal(frames.waiting, false);
});

test('play at the end starts again from the beginning; a moved playhead plays on from there', () => {
    const store = storeWith([block('b1', 0, 2)], [], 2);
    const frames = fakeFrames();
    createPlayback(store, { ...frames, playSound() {} });
    assert.equal(store.getState().ui.playhead, 0);
    frames.advance(100);
    store.dispatch({ type: 'playhead/set', time: 1.5 });
    frames.advance(100);
    assert.ok(Math.abs(store.getState().ui.playhead - 1.5) < 1e-9, 'the jump is kept');
    frames.advance(100);
    assert.ok(Math.abs(store.getState().ui.playhead - 1.6) < 1e-9);
});

test('each sound effect is heard once as the playhead passes it', () => {
    const sound = (id, time) => ({ id, name: id, time, volume: 1, dataUrl: 'data:audio/wav;base64,UklGRg==' });
    const sfx = [sound('s1', 0), sound('s2', 0.5), sound('s3', 1.2)];
    const store = storeWith([block('b1', 0, 2)], sfx);
    const frames = fakeFrames();
    const heard = [];
    const playback = createPlayback(store, { ...frames, playSound: (e) => heard.push(e.id) });
    assert.deepEqual(heard, ['s1']);
    for (let i = 0; i < 40; i++) frames.advance(25);
    assert.deepEqual(heard, ['s1', 's2']);
    playback.stop();
    frames.advance(1000);
    assert.deepEqual(heard, ['s1', 's2'], 'nothing after stop');
    assert.deepEqual(soundsBetween(sfx, 0, 0.5).map((e) => e.id), ['s2']);
});

test('the page frame scheduler is called on the window, as the browser requires', () => {
    const store = storeWith([block('b1', 0, 2)]);
    const queue = [];
    let clock = 0;
    // Like the browser's own: called with any other `this`, they throw.
    const win = {
        performance: { now: () => clock },
        requestAnimationFrame(fn) {
            if (this !== win) throw new TypeError('Illegal invocation');
            queue.push(fn);
            return queue.length;
        },
        cancelAnimationFrame() {
            if (this !== win) throw new TypeError('Illegal invocation');
        },
    };
    const playback = createPlayback(store, { ...pageFrames(win), playSound() {} });
    clock = 40;
    queue.shift()();
    assert.ok(Math.abs(store.getState().ui.playhead - 0.04) < 1e-9);
    playback.stop();
});

// ---- the preview painter -------------------------------------------------

function painterRig(blocks, selection = []) {
    const project = { ...newProject({ fps: 25 }), blocks };
    const store = createStore({ project });
    store.dispatch({ type: 'selection/set', ids: selection });
    const ctx = new FakeContext();
    const canvas = { width: 300, height: 150, getContext: () => ctx };
    let pending = null;
    const frames = { requestFrame: (fn) => { pending = fn; return 1; }, cancelFrame: () => { pending = null; } };
    let drawnCount = 0;
    const painter = createPainter({ canvas, store, captions, frames, onDrawn: () => { drawnCount += 1; } });
    return {
        store, ctx, canvas, painter,
        frame() {
            const fn = pending;
            pending = null;
            if (fn) fn();
        },
        clears: () => ctx.ops.filter((o) => o.op === 'clear').length,
        get drawnCount() { return drawnCount; },
    };
}

const caption = (id, startTime, text, y = 50) => ({
    id, text, startTime, duration: 2, trackId: 0, x: 50, y, font: 'Anton', size: 8, animIn: 'none', animOut: 'none',
});

test('the preview draws again when a block changes at the same playhead, and only then', () => {
    const rig = painterRig([caption('b1', 0, 'UN'), caption('b2', 5, 'DEUX')]);
    rig.painter.setRatio(0.5);
    rig.frame();
    assert.equal(rig.clears(), 1);
    assert.deepEqual([rig.canvas.width, rig.canvas.height], [960, 540], 'canvas at the displayed resolution');
    assert.deepEqual([...new Set(rig.ctx.texts().map((t) => t.text))], ['UN']);

    rig.store.dispatch({ type: 'selection/set', ids: ['b1'] });
    rig.frame();
    assert.equal(rig.clears(), 1, 'a selection change draws nothing');

    rig.store.dispatch({ type: 'blocks/setText', id: 'b1', text: 'AUTRE' });
    rig.frame();
    assert.equal(rig.clears(), 2, 'a text change at the same playhead is drawn');
    assert.equal(rig.ctx.texts().at(-1).text, 'AUTRE');

    rig.store.dispatch({ type: 'playhead/set', time: 5.5 });
    rig.frame();
    assert.equal(rig.ctx.texts().at(-1).text, 'DEUX');
    assert.equal(rig.drawnCount, 4, 'the selection boxes are refreshed after every frame');
});

test('only changes to what the playhead shows draw the preview again', () => {
    const entering = { ...caption('b3', 0, 'TROIS', 80), animIn: 'fade', animSpeed: 1.5, duration: 4 };
    const under = caption('b4', 0.5, 'DESSOUS');
    const cases = [
        ['a block off screen is moved', { type: 'blocks/move', ids: ['b2'], delta: 1 }, 1],
        ['a block off screen is restyled', { type: 'style/apply', scope: 'selection', patch: { color: '#ff0000' } }, 1, ['b2']],
        ['a block off screen comes under the playhead', { type: 'blocks/move', ids: ['b2'], delta: -4.5 }, 2],
        ['the block shown is moved in time, standing still', { type: 'blocks/move', ids: ['b1'], delta: 0.2 }, 1],
        ['the block shown is moved in time while it enters', { type: 'blocks/move', ids: ['b3'], delta: 0.2 }, 2, [], [entering]],
        ['the block shown is moved alone to another track', { type: 'blocks/move', ids: ['b1'], delta: 0, trackDelta: 1 }, 1],
        ['the block shown passes another one, drawn over it', { type: 'blocks/move', ids: ['b1'], delta: 0.6 }, 2, [], [under]],
        ['the block shown leaves the playhead', { type: 'blocks/move', ids: ['b1'], delta: 3 }, 2],
        ['the block shown is restyled', { type: 'style/apply', scope: 'selection', patch: { color: '#00ff00' } }, 2, ['b1']],
    ];
    // [what changes, the change, clears expected after it, selection, other blocks]
    const blocks = [caption('b1', 0, 'UN'), caption('b2', 5, 'DEUX')];
    for (const [name, action, clears, selection = [], others = []] of cases) {
        const rig = painterRig(blocks.concat(others), selection);
        rig.store.dispatch({ type: 'playhead/set', time: 1 });
        rig.painter.setRatio(0.5);
        rig.frame();
        rig.store.dispatch(action);
        rig.frame();
        assert.equal(rig.clears(), clears, name);
        if (clears === 2) {
            const { project } = rig.store.getState();
            const shown = project.blocks.filter((b) => b.startTime <= 1 && 1 <= b.startTime + b.duration).map((b) => b.text);
            const lastFrame = rig.ctx.ops.slice(rig.ctx.ops.map((o) => o.op).lastIndexOf('clear'));
            assert.deepEqual([...new Set(lastFrame.filter((o) => o.op === 'fill').map((o) => o.text))].sort(), shown.sort(), name);
        }
    }
});

test('the preview draws the captions the drawing module shows at the playhead, in its order', () => {
    // Blocks as the drawing module reads them: times as texts, a missing
    // duration (1 s by default), tracks out of order.
    const blocks = [
        { ...caption('high', 0.5, 'HAUT'), trackId: 2 },
        { ...caption('text-time', 0, 'TEXTE'), startTime: '0.8', duration: '1' },
        { ...caption('no-duration', 0.2, 'DÉFAUT'), duration: undefined },
        caption('later', 0.9, 'APRÈS'),
        caption('first', 0.1, 'AVANT'),
        caption('gone', 3, 'PARTI'),
        { ...caption('bad-time', 0, 'NAN'), startTime: 'abc' },
    ];
    for (const playhead of [0, 0.85, 1.1, 3.5]) {
        const ctx = new FakeContext();
        const canvas = { width: 300, height: 150, getContext: () => ctx };
        const state = { project: { ...newProject({ fps: 25 }), blocks }, ui: { playhead, selection: [] } };
        const store = { getState: () => state, subscribe: () => () => {} };
        let pending = null;
        const painter = createPainter({ canvas, store, captions, frames: { requestFrame: (fn) => { pending = fn; return 1; } } });
        painter.setRatio(0.5);
        pending();
        const expected = captions.decodeSequences({ sequences: blocks })
            .filter((b) => captions.visiblePose(b, playhead, 1920, 1080)).map((b) => b.text);
        const drawn = [];
        for (const o of ctx.texts()) if (o.op === 'fill' && drawn.at(-1) !== o.text) drawn.push(o.text);
        assert.deepEqual(drawn, expected, `playhead ${playhead}`);
        assert.deepEqual(painter.visibleItems().map((item) => item.id),
            expected.map((text) => blocks.find((b) => b.text === text).id), `playhead ${playhead}`);
    }
});

test('the selection boxes follow the selection among the captions shown', () => {
    const rig = painterRig([caption('b1', 0, 'HAUT', 20), caption('b2', 0, 'BAS', 80), caption('b3', 5, 'PLUS TARD')], ['b2', 'b3']);
    rig.painter.setRatio(1);
    rig.frame();
    const boxes = rig.painter.selectedBoxes();
    assert.deepEqual(boxes.map((b) => b.id), ['b2'], 'a selected caption not shown at the playhead has no box');
    assert.ok(Math.abs(boxes[0].top + boxes[0].height / 2 - 0.8 * 1080) < 1e-6);
    assert.deepEqual(rig.painter.visibleItems().map((i) => i.id), ['b1', 'b2']);
    rig.store.dispatch({ type: 'selection/clear' });
    assert.deepEqual(rig.painter.selectedBoxes(), []);
});

test('nothing is drawn before the preview knows its size, nor after it is stopped', () => {
    const rig = painterRig([caption('b1', 0, 'UN')]);
    rig.frame();
    assert.equal(rig.clears(), 0);
    rig.painter.setRatio(0.25);
    rig.painter.stop();
    rig.frame();
    rig.store.dispatch({ type: 'playhead/set', time: 1 });
    rig.frame();
    assert.equal(rig.clears(), 0);
});
