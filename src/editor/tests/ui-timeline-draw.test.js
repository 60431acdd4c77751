import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
    makeView, blockRect, blocksInRect, hitTest, trackTop, trackAt, trackCountOf, moveOffsets, trimTarget, zoomAround, xToTime,
    timeToX, formatTimecode, rulerTicks, fitLabel, followScroll, drawTimeline, COLORS, MIN_ZOOM, MAX_ZOOM,
} from '../src/ui/timeline-draw.js';
import { createStore } from '../src/state/store.js';

const view = (over = {}) => makeView({ width: 1000, height: 250, zoom: 100, scroll: 0, trackCount: 3, fps: 25, ...over });
const block = (id, startTime, duration, trackId = 0, text = id) => ({ id, startTime, duration, trackId, text });

// A 2D context that keeps what is drawn: texts with their fill colour,
// rectangles of the current path, and the fills of those paths.
class RecordingContext {
    constructor() {
        this.texts = [];
        this.filledPaths = [];
        this.path = [];
        this.fillStyle = '#000';
    }
    setTransform() {}
    save() {}
    restore() {}
    clip() {}
    beginPath() { this.path = []; }
    rect(x, y, w, h) { this.path.push({ x, y, w, h }); }
    moveTo() {}
    lineTo() {}
    closePath() {}
    fill() { this.filledPaths.push({ color: this.fillStyle, rects: this.path.slice() }); }
    stroke() {}
    strokeRect() {}
    fillRect(x, y, w, h) { this.filledPaths.push({ color: this.fillStyle, rects: [{ x, y, w, h }] }); }
    fillText(text, x, y) { this.texts.push({ text, x, y, color: this.fillStyle }); }
}

test('a block is found again at every point of its rectangle, ends trimming and body moving', () => {
    const v = view();
    const blocks = [block('a', 1, 2, 0), block('b', 4, 1, 2), block('c', 0.5, 0.04, 1)];
    for (const b of blocks) {
        const r = blockRect(b, v);
        const cases = [
            [r.x + r.w / 2, 'body'],
            [r.x + 1, 'start'],
            [r.x + r.w - 1, 'end'],
        ];
        for (const [x, part] of cases) {
            const hit = hitTest(x, r.y + r.h / 2, blocks, v);
            assert.equal(hit.area, 'block', `${b.id} at ${x}`);
            assert.equal(hit.id, b.id);
            if (r.w >= 18) assert.equal(hit.part, part, `${b.id} ${part}`);
        }
        assert.notEqual(hitTest(r.x + r.w / 2, r.y - 5, blocks, v).id, b.id, 'above the block is its lane gap or another lane');
    }
    // A one-frame block is still wide enough to grab.
    assert.ok(blockRect(blocks[2], v).w >= 2);
});

test('lanes stack upwards from track 0 and trackAt is the inverse of trackTop, clamped', () => {
    const v = view({ trackCount: 4 });
    for (let id = 0; id < 4; id++) {
        assert.equal(trackAt(trackTop(id, v) + v.trackHeight / 2, v), id);
        if (id > 0) assert.ok(trackTop(id, v) < trackTop(id - 1, v), 'higher tracks are drawn higher');
    }
    assert.equal(trackAt(v.height + 500, v), 0);
    assert.equal(trackAt(v.ruler + 1 - 1000, v), 3);
    assert.equal(trackCountOf([{ id: 0 }], [block('x', 0, 1, 4)]), 5, 'a block above the declared tracks gets lanes');
});

test('the ruler, the lane names and empty lanes are told apart from blocks', () => {
    const v = view();
    const blocks = [block('a', 1, 2, 0)];
    const cases = [
        [500, 5, { area: 'ruler', time: xToTime(500, v) }],
        [20, trackTop(1, v) + 10, { area: 'header', trackId: 1 }],
        [timeToX(5, v), trackTop(0, v) + 20, { area: 'empty', time: 5, trackId: 0 }],
    ];
    for (const [x, y, expected] of cases) assert.deepEqual(hitTest(x, y, blocks, v), expected);
});

test('where blocks overlap, a selected block is picked before the others, then the last drawn', () => {
    const v = view();
    const blocks = [block('under', 1, 2), block('over', 1.5, 2)];
    const y = trackTop(0, v) + 20;
    const x = timeToX(2, v);
    assert.equal(hitTest(x, y, blocks, v).id, 'over');
    assert.equal(hitTest(x, y, blocks, v, new Set(['under'])).id, 'under');
});

test('a marquee selects the blocks it meets, drawn in any direction', () => {
    const v = view();
    const blocks = [block('a', 1, 1, 0), block('b', 3, 1, 0), block('c', 1, 1, 1), block('d', 8, 1, 2)];
    const y0 = trackTop(0, v) + 20;
    const y1 = trackTop(1, v) + 20;
    const cases = [
        ['across lane 0 only', { x: timeToX(0.5, v), y: y0, w: timeToX(3.5, v) - timeToX(0.5, v), h: 2 }, ['a', 'b']],
        ['drawn leftwards and upwards', { x: timeToX(1.5, v), y: y0, w: -50, h: y1 - y0 }, ['a', 'c']],
        ['between blocks', { x: timeToX(2.2, v), y: y0, w: 30, h: 5 }, []],
        ['touching an edge', { x: timeToX(2, v), y: y0, w: 10, h: 1 }, ['a']],
    ];
    for (const [name, rect, ids] of cases) assert.deepEqual(blocksInRect(blocks, rect, v), ids, name);
});

test('a dragged group lands on frames, stays after 0 s and on existing lanes, and sticks to the playhead', () => {
    const v = view();
    const group = { startTime: 2, duration: 1, trackId: 1, minStart: 1, minTrack: 1, maxTrack: 1 };
    const cases = [
        ['small move snaps to a frame', 3.3, 0, [], { delta: 0.04, trackDelta: 0 }],
        ['left past 0 stops the group at 0', -500, 0, [], { delta: -1, trackDelta: 0 }],
        ['one lane up', 0, -v.trackHeight, [], { delta: 0, trackDelta: 1 }],
        ['far up stops at the top lane', 0, -10 * v.trackHeight, [], { delta: 0, trackDelta: 1 }],
        ['far down stops at lane 0', 0, 10 * v.trackHeight, [], { delta: 0, trackDelta: -1 }],
        ['start near the playhead sticks to it', 95, 0, [2.96], { delta: 0.96, trackDelta: 0 }],
        ['end near the playhead sticks to it', 95, 0, [4], { delta: 1, trackDelta: 0 }],
        ['far from the playhead ignores it', 60, 0, [2.96], { delta: 0.6, trackDelta: 0 }],
    ];
    for (const [name, dx, dy, magnets, expected] of cases) {
        const got = moveOffsets(group, dx, dy, v, magnets);
        assert.ok(Math.abs(got.delta - expected.delta) < 1e-9, `${name}: delta ${got.delta}`);
        assert.equal(got.trackDelta, expected.trackDelta, name);
    }
    assert.equal(trimTarget(timeToX(1.013, v), v), 1.0, 'trimmed ends land on frames');
    assert.equal(trimTarget(-100, v), 0);
});

test('zooming keeps the time under the pointer in place and stays within bounds', () => {
    const v = view({ scroll: 3 });
    for (const [factor, x] of [[2, 400], [0.5, 700], [1.3, 84]]) {
        const { zoom, scroll } = zoomAround(v, factor, x);
        const after = makeView({ ...v, zoom, scroll, trackCount: 3 });
        assert.ok(Math.abs(xToTime(x, after) - xToTime(x, v)) < 1e-9 || scroll === 0, `factor ${factor}`);
    }
    assert.equal(zoomAround(v, 1e6, 500).zoom, MAX_ZOOM);
    assert.equal(zoomAround(v, 1e-6, 500).zoom, MIN_ZOOM);
});

test('a zoom to the limit, as the store keeps it, still holds the time under the pointer', () => {
    const store = createStore({});
    for (const factor of [1e6, 1e-6]) {
        store.dispatch({ type: 'view/zoom', zoom: 100 });
        store.dispatch({ type: 'view/scroll', scroll: 30 });
        const before = view({ zoom: store.getState().ui.zoom, scroll: store.getState().ui.scroll });
        const { zoom, scroll } = zoomAround(before, factor, 600);
        store.dispatch({ type: 'view/zoom', zoom });
        store.dispatch({ type: 'view/scroll', scroll });
        const after = view({ zoom: store.getState().ui.zoom, scroll: store.getState().ui.scroll });
        if (scroll > 0) assert.ok(Math.abs(xToTime(600, after) - xToTime(600, before)) < 1e-6, `factor ${factor}`);
    }
});

test('timecodes count frames at the project rate', () => {
    const cases = [
        [0, 25, true, '00:00:00:00'],
        [61.48, 25, true, '00:01:01:12'],
        [3600, 25, true, '01:00:00:00'],
        [1 / 30 * 59, 30, true, '00:00:01:29'],
        [-2, 25, true, '00:00:00:00'],
        [NaN, 25, true, '00:00:00:00'],
        [100, 29.97, true, '00:01:39:27'], // frames shown against 30 a second, as Resolve's non-drop timecode
        [125.4, 24, false, '00:02:05'],
    ];
    for (const [time, fps, frames, text] of cases) assert.equal(formatTimecode(time, fps, frames), text, `${time}@${fps}`);
});

test('ruler labels never crowd and ticks cover only the visible range', () => {
    for (const zoom of [MIN_ZOOM, 7, 40, 100, 900, MAX_ZOOM]) {
        const v = view({ zoom, scroll: 12.3 });
        const ticks = rulerTicks(v);
        const labelled = ticks.filter((t) => t.label);
        assert.ok(labelled.length >= 1 || zoom === MIN_ZOOM, `labels at zoom ${zoom}`);
        for (let i = 1; i < labelled.length; i++) assert.ok(labelled[i].x - labelled[i - 1].x >= 95, `spacing at zoom ${zoom}`);
        for (const t of ticks) assert.ok(t.x >= v.header - v.zoom * 60 && t.x <= v.width + 1, `tick in range at ${zoom}`);
    }
    const close = rulerTicks(view({ zoom: MAX_ZOOM }));
    assert.match(close.find((t) => t.label).label, /^\d\d:\d\d:\d\d:\d\d$/, 'frame labels when frames are far apart');
});

test('labels keep the first line and end with an ellipsis when cut', () => {
    const cases = [
        ['Bonjour', 200, 'Bonjour'],
        ['Première ligne\nseconde', 400, 'Première ligne'],
        ['Un texte beaucoup trop long', 14 + 6.6 * 8, 'Un text…'],
        ['abc', 10, ''],
    ];
    for (const [text, width, expected] of cases) assert.equal(fitLabel(text, width), expected);
});

test('playing pages the view only when the playhead leaves it', () => {
    const v = view({ scroll: 10 });
    assert.equal(followScroll(v, 12), null);
    assert.ok(followScroll(v, 30) > 19 && followScroll(v, 30) <= 30);
    assert.ok(followScroll(v, 2) <= 2);
});

test('drawing touches only the blocks in view, with their text and their route mark', () => {
    const blocks = [];
    for (let i = 0; i < 2000; i++) blocks.push(block(`b${i}`, i * 2, 1.5, i % 2, `texte ${i}`));
    const v = view({ scroll: 100, zoom: 50, trackCount: 2 }); // 100 s … 118.3 s
    const ctx = new RecordingContext();
    const capabilityOf = (b) => ({ status: Number(b.id.slice(1)) % 3 === 0 ? 'supported' : 'unsupported' });
    drawTimeline(ctx, { blocks, tracks: [{ id: 0, name: 'Piste 1' }, { id: 1, name: 'Piste 2' }],
        selection: new Set(['b52']), playhead: 104, capabilityOf }, v);

    const drawnBlocks = ctx.texts.filter((t) => t.text.startsWith('texte')).map((t) => t.text);
    const { start, end } = { start: xToTime(v.header, v), end: xToTime(v.width, v) };
    const expected = blocks.filter((b) => b.startTime + b.duration >= start && b.startTime <= end).map((b) => b.text);
    assert.deepEqual(new Set(drawnBlocks), new Set(expected));
    assert.ok(drawnBlocks.length < 20);

    const marks = (color) => ctx.filledPaths.filter((p) => p.color === color).flatMap((p) => p.rects).length;
    const visible = blocks.filter((b) => expected.includes(b.text));
    assert.equal(marks(COLORS.lottie), visible.filter((b) => capabilityOf(b).status === 'supported').length);
    assert.equal(marks(COLORS.exactWeb), visible.filter((b) => capabilityOf(b).status !== 'supported').length);
    const selectedFill = ctx.filledPaths.find((p) => p.color === COLORS.selected);
    assert.deepEqual(selectedFill.rects, [blockRect(blocks[52], v)]);
    assert.ok(ctx.texts.some((t) => t.text === 'Piste 2'));
});

test('a block cut by the lane names keeps its label inside its visible part', () => {
    const cases = [[0.5, 'Un sous-titre assez long pour être coupé'], [2.5, 'Un sous-titre assez long pour être coupé'], [3.9, 'Court']];
    for (const [scroll, text] of cases) {
        const v = view({ scroll, zoom: 100 });
        const b = block('cut', 0, 4, 0, text);
        const ctx = new RecordingContext();
        drawTimeline(ctx, { blocks: [b], tracks: [], selection: new Set(), playhead: null }, v);
        const r = blockRect(b, v);
        for (const t of ctx.texts.filter((x) => x.y > v.ruler && x.x > v.header - 1)) {
            assert.ok(t.x + 6.6 * t.text.length <= r.x + r.w, `scroll ${scroll}: "${t.text}" ends inside the block`);
        }
    }
});
