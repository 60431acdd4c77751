'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const C = require('../js/caption-renderer.js');
const { createRenderPage } = require('../js/render-protocol.js');
const { FakeContext } = require('./fake-canvas.js');

// A window whose animation frames, timers and font loads run when the test says.
function fakeWindow({ handler = true } = {}) {
    const frames = [];
    const timers = [];
    const fontLoads = [];
    const posted = [];
    const win = {
        devicePixelRatio: 1,
        requestAnimationFrame: (fn) => frames.push(fn),
        setTimeout: (fn, ms) => timers.push({ fn, ms }),
        document: {
            fonts: {
                load: (font) => new Promise((resolve) => fontLoads.push({ font, resolve })),
                ready: Promise.resolve(),
            },
        },
        console: { error() {} },
    };
    if (handler) win.webkit = { messageHandlers: { exportEngine: { postMessage: (m) => posted.push(m) } } };
    const canvases = [];
    const page = createRenderPage({
        window: win,
        captions: C,
        createCanvas: (width, height) => {
            const ctx = new FakeContext();
            const canvas = { width, height, getContext: () => ctx };
            canvases.push(canvas);
            return canvas;
        },
    });
    return {
        win, page, posted, fontLoads, canvases,
        runFrames: () => frames.splice(0).forEach((fn) => fn()),
        runTimers: () => timers.splice(0).forEach((t) => t.fn()),
        settle: () => new Promise((resolve) => setImmediate(resolve)),
    };
}

const params = {
    width: 1280,
    height: 720,
    sequences: [
        { text: 'Late', font: 'Bebas Neue', startTime: 2, duration: 2, trackId: 1 },
        { text: 'Hello', font: 'Inter', startTime: 0, duration: 3, animIn: 'pop' },
    ],
};

test('the project is taken synchronously; frames wait for the fonts', async () => {
    const f = fakeWindow();
    assert.equal(f.page.loadRenderProject(params), undefined);
    assert.deepEqual([f.canvases[0].width, f.canvases[0].height], [1280, 720]);
    assert.deepEqual(f.fontLoads.map((l) => l.font).sort(), [
        '16px "Anton"', '16px "Archivo Black"', '16px "Arial Black"', '16px "Bebas Neue"',
        '16px "HelveticaNeue-CondensedBlack"', '16px "Inter"',
    ]);

    f.page.setRenderTime(2.5, 7);
    await f.settle();
    const ctx = f.canvases[0].getContext('2d');
    assert.equal(ctx.ops.length, 0, 'nothing drawn before the fonts are loaded');

    f.fontLoads.forEach((l) => l.resolve());
    await f.settle();
    assert.deepEqual(ctx.texts().map((o) => o.text), ['Hello', 'Late']);
    assert.equal(f.posted.length, 0, 'announced only after an animation frame');
    f.runFrames();
    assert.deepEqual(f.posted, [{ type: 'frameReady', payload: { requestId: 7 } }]);
    f.runTimers();
    assert.equal(f.posted.length, 1, 'announced once');
});

test('reuse states over a project', () => {
    const f = fakeWindow();
    f.page.loadRenderProject(params);
    const cases = [[0.1, 'dynamic'], [1, 'static'], [2.5, 'static'], [3.5, 'static'], [4.5, 'empty']];
    const keys = {};
    for (const [t, kind] of cases) {
        const s = f.page.getRenderReuseState(t);
        assert.equal(s.kind, kind, `at ${t}`);
        keys[t] = s.key;
    }
    assert.equal(keys[0.1], null);
    assert.notEqual(keys[1], keys[2.5]);
    assert.notEqual(keys[2.5], keys[3.5]);
    // Frame size comes from the params; a non-integral or text width is ignored.
    f.page.loadRenderProject({ ...params, width: '1280', height: 720.5 });
    assert.equal(f.page.state.width, 1920);
    assert.equal(f.page.state.height, 1080);
});

test('the page answers even without a handler, a project or a drawable frame', async () => {
    const f = fakeWindow({ handler: false });
    assert.doesNotThrow(() => f.page.setRenderTime(0, 1));
    await f.settle();
    assert.doesNotThrow(() => f.runFrames());

    const g = fakeWindow();
    g.page.setRenderTime(0, 3);  // before any project
    await g.settle();
    g.runFrames();
    assert.deepEqual(g.posted, [{ type: 'frameReady', payload: { requestId: 3 } }]);

    // A context that throws while drawing still gets the frame announced.
    g.page.loadRenderProject({ sequences: 'none' });
    g.page.state.context = { setTransform() { throw new Error('lost context'); } };
    g.page.setRenderTime(1, 4);
    await g.settle();
    g.runTimers();  // no animation frame came: the fallback announces it
    assert.deepEqual(g.posted[1], { type: 'frameReady', payload: { requestId: 4 } });
});

test('a frame requested for a replaced project is not drawn with the new one', async () => {
    const f = fakeWindow();
    f.page.loadRenderProject(params);
    f.page.setRenderTime(1, 1);
    f.page.loadRenderProject({ ...params, width: 640, height: 360 });
    f.fontLoads.forEach((l) => l.resolve());
    await f.settle();
    assert.equal(f.canvases[0].getContext('2d').ops.length, 0);
    assert.equal(f.canvases[1].getContext('2d').ops.length, 0);
    f.runFrames();
    assert.deepEqual(f.posted.map((m) => m.payload.requestId), [1]);
});

// ------------------------------------------------------------------
// The page's fonts are the shipped TTF files, with the metrics the layout uses.

const webDir = path.join(__dirname, '..');
const ttfDir = path.join(webDir, '..', 'fonts', 'ttf');

function ttfMetrics(file) {
    const b = fs.readFileSync(file);
    const tables = {};
    for (let i = 0; i < b.readUInt16BE(4); i++) {
        const o = 12 + 16 * i;
        tables[b.toString('latin1', o, o + 4)] = b.readUInt32BE(o + 8);
    }
    const upem = b.readUInt16BE(tables.head + 18);
    const os2 = tables['OS/2'];
    const useTypo = (b.readUInt16BE(os2 + 62) & 0x80) !== 0;
    const [ascender, descender, gap] = useTypo
        ? [b.readInt16BE(os2 + 68), b.readInt16BE(os2 + 70), b.readInt16BE(os2 + 72)]
        : [b.readInt16BE(tables.hhea + 4), b.readInt16BE(tables.hhea + 6), b.readInt16BE(tables.hhea + 8)];
    return { ascent: ascender / upem, descent: -descender / upem, gap: gap / upem };
}

test('fonts.css declares every shipped face from its TTF file', () => {
    const cssDir = path.join(webDir, 'css');
    const css = fs.readFileSync(path.join(cssDir, 'fonts.css'), 'utf8');
    // family → the files its url() sources name, resolved against the style sheet.
    const declared = new Map();
    for (const m of css.matchAll(/font-family:\s*"([^"]+)";\s*src:([^;]+);/g)) {
        declared.set(m[1], Array.from(m[2].matchAll(/url\("([^"]+)"\)/g), (u) => path.resolve(cssDir, u[1])));
    }
    const expectFile = (family, file) => assert.deepEqual(declared.get(family), [path.join(ttfDir, file)], family);
    for (const [family, face] of Object.entries(C.SHIPPED_FACES)) expectFile(family, face.file);
    for (const [alias, standIn] of Object.entries(C.ALIAS_FAMILIES)) expectFile(alias, C.SHIPPED_FACES[standIn].file);
    // Every family the editor offers draws a declared face first.
    for (const font of ['Bebas Neue', 'Anton', 'Teko', 'Archivo Black', 'Bangers', 'DM Serif Display', 'Arial Black',
        'Inter', 'Montserrat', 'Space Mono', 'Rubik Dirt', 'Rubik Spray Paint', 'HelveticaNeue-CondensedBlack']) {
        assert.ok(declared.has(C.resolveFont(font).families[0]), font);
    }
});

test('layout metrics match the shipped TTF files', { skip: !fs.existsSync(ttfDir) && 'fonts not collected' }, () => {
    for (const [family, face] of Object.entries(C.SHIPPED_FACES)) {
        const m = ttfMetrics(path.join(ttfDir, face.file));
        assert.ok(Math.abs(m.ascent - face.ascent) < 1e-9, `${family} ascent`);
        assert.ok(Math.abs(m.descent - face.descent) < 1e-9, `${family} descent`);
        assert.equal(m.gap, 0, `${family} has a line gap the layout ignores`);
    }
});
