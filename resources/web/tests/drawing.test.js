'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const C = require('../js/caption-renderer.js');
const { FakeContext } = require('./fake-canvas.js');

const FRAME = { width: 1920, height: 1080 };
const near = (a, b, label, eps = 1e-9) => assert.ok(Math.abs(a - b) < eps, `${label}: ${a} ≠ ${b}`);

function drawn(sequences, t, frame = FRAME) {
    const ctx = new FakeContext();
    C.drawFrame(ctx, C.decodeSequences({ sequences }), t, frame);
    return ctx;
}

const caption = (fields) => ({ text: 'Hello', font: 'Anton', startTime: 0, duration: 10, ...fields });

test('the frame is cleared, then blocks are drawn lower tracks first', () => {
    const ctx = drawn([
        caption({ text: 'top', trackId: 2 }),
        caption({ text: 'late', trackId: 1, startTime: 1 }),
        caption({ text: 'early', trackId: 1 }),
        caption({ text: 'gone', trackId: 0, startTime: 5 }),
    ], 2);
    assert.equal(ctx.ops[0].op, 'clear');
    assert.deepEqual(ctx.texts().map((o) => o.text), ['early', 'late', 'top']);
});

test('passes of each line: glow, then outline (fill and stroke), then fill', () => {
    const ctx = drawn([caption({
        text: 'One\nTwo', glowType: 'neon', hasOutline: true, outlineWidth: 6, color: '#ffd200',
        outlineColor: '#101010', glowColor: '#00c8ff',
    })], 1);
    const ops = ctx.texts().map((o) => `${o.op}:${o.text}:${o.op === 'fill' ? o.fillStyle : o.strokeStyle}`);
    assert.deepEqual(ops, [
        'fill:One:rgba(0, 200, 255, 1)', 'fill:One:rgba(255, 210, 0, 1)', 'stroke:One:rgba(16, 16, 16, 1)',
        'fill:One:rgba(255, 210, 0, 1)',
        'fill:Two:rgba(0, 200, 255, 1)', 'fill:Two:rgba(255, 210, 0, 1)', 'stroke:Two:rgba(16, 16, 16, 1)',
        'fill:Two:rgba(255, 210, 0, 1)',
    ]);
    const texts = ctx.texts();
    near(texts[2].canvasLineWidth, 6, 'outline width');
    // The glow's shadow stays with the glow pass.
    assert.ok(texts[0].shadowBlur > 0);
    assert.ok(texts.slice(1, 4).every((o) => o.shadowBlur === 0));
});

test('outline width: none at 0, at least 1 pixel otherwise', () => {
    const cases = [[0, null], [-2, null], [0.5, 1], [3.5, 3.5]];
    for (const [outlineWidth, expected] of cases) {
        const strokes = drawn([caption({ hasOutline: true, outlineWidth })], 1).texts().filter((o) => o.op === 'stroke');
        assert.equal(strokes.length, expected === null ? 0 : 1, String(outlineWidth));
        if (expected !== null) near(strokes[0].canvasLineWidth, expected, String(outlineWidth));
    }
    assert.equal(drawn([caption({ hasOutline: false, outlineWidth: 4 })], 1).texts().length, 1);
});

test('font size, line step and centring on the anchor', () => {
    // Anton: ascent 2409/2048 and descent 674/2048 of the font size.
    const ctx = drawn([caption({ text: 'A\n\nBB', x: 25, y: 80 })], 1);
    const texts = ctx.texts();
    assert.deepEqual(texts.map((o) => o.text), ['A', ' ', 'BB']);
    // Text is set at 1000 px and scaled to the font size.
    assert.match(texts[0].font, /^normal normal 400 1000px "Anton", /);
    const fs = 153.6;
    assert.deepEqual(texts[0].matrix, [fs / 1000, 0, 0, fs / 1000, 480, 864]);
    const y = texts.map((o) => o.at[1] - 864);
    const x = texts.map((o) => o.at[0] - 480);
    const ascent = (2409 / 2048) * fs;
    const descent = (674 / 2048) * fs;
    near(y[1] - y[0], 125.952, 'line step');
    near(y[2] - y[1], 125.952, 'line step');
    // The middle line's box is centred on the anchor.
    near((y[1] - ascent + y[1] + descent) / 2, 0, 'middle line centre');
    // Each line is centred horizontally (fake advance: half the size per character).
    near(x[0], -fs / 4, 'x of A');
    near(x[2], -fs / 2, 'x of BB');
});

test('pose, stretch and opacity reach the transform', () => {
    const cases = [
        // [fields, t, [a, b, c, d, e, f], alpha]
        [{ textScaleX: 150 }, 1, [1.5, 0, 0, 1, 960, 540], 1],
        [{ textScaleX: 500 }, 1, [2.2, 0, 0, 1, 960, 540], 1],
        [{ animIn: 'pop', duration: 2, textScaleX: 200 }, 0.175, [0.9375 * 2, 0, 0, 0.9375, 960, 540], 0.875],
        [{ animIn: 'slide-up', duration: 2 }, 0.175, [1, 0, 0, 1, 960, 540 + 64 * 0.125], 0.875],
        [{ animOut: 'sink', duration: 2 }, 1.825, [1, 0, 0, 1, 960, 540 + 64 * 0.125], 0.875],
    ];
    const unit = 153.6 / 1000;
    for (const [fields, t, matrix, alpha] of cases) {
        const fill = drawn([caption(fields)], t).texts()[0];
        fill.matrix.forEach((v, i) => near(v, i < 4 ? matrix[i] * unit : matrix[i], `${JSON.stringify(fields)} matrix[${i}]`));
        near(fill.globalAlpha, alpha, `${JSON.stringify(fields)} alpha`);
    }
    // Positive rotation turns counter-clockwise on screen (y down): the
    // whip-right exit turns the text's x axis upwards.
    const whip = drawn([caption({ animOut: 'whip-right-out', duration: 2 })], 1.9).texts()[0];
    assert.ok(whip.matrix[1] < 0, `b = ${whip.matrix[1]}`);
    assert.ok(whip.matrix[4] > 960);
});

test('nothing is drawn at zero opacity, outside the block, or at an unusable size', () => {
    const cases = [
        [{ animIn: 'fade' }, 0],
        [{}, 10.5],
        [{ size: -4 }, 1],
        [{ size: 1e9 }, 1],
    ];
    for (const [fields, t] of cases) {
        assert.equal(drawn([caption(fields)], t).texts().length, 0, JSON.stringify(fields));
    }
});

test('glow kinds', () => {
    const fs = 153.6;
    const d = 0.035 * fs;
    const cases = [
        // [glowType, glowIntensity, {copies, blur, offset, shadowAlpha, textAlpha}]
        ['hard', 20, { copies: 4, blur: 0 }],
        ['Cartoon', 20, { copies: 4, blur: 0 }],
        ['shadow', 20, { copies: 1, blur: 3.2, offset: 4.8, shadowAlpha: 0.85, textAlpha: 0.42 }],
        ['shadow', 1, { copies: 1, blur: 2, offset: 2, shadowAlpha: 0.85, textAlpha: 0.42 }],
        ['neon', 20, { copies: 1, blur: 12.4, offset: 0, shadowAlpha: 0.92, textAlpha: 0.48 }],
        ['WIDE', 5, { copies: 1, blur: 8, offset: 0, shadowAlpha: 0.92, textAlpha: 0.48 }],
        ['soft', 20, { copies: 1, blur: 6.8, offset: 0, shadowAlpha: 0.92, textAlpha: 0.48 }],
        ['soft', 2, { copies: 1, blur: 4, offset: 0, shadowAlpha: 0.92, textAlpha: 0.48 }],
        // Blurs are capped at a quarter of the frame's larger side.
        ['neon', 1e6, { copies: 1, blur: 480, offset: 0, shadowAlpha: 0.92, textAlpha: 0.48 }],
    ];
    for (const [glowType, glowIntensity, expected] of cases) {
        const label = `${glowType} ${glowIntensity}`;
        const texts = drawn([caption({ glowType, glowIntensity, glowColor: '#ff3366', animIn: 'fade', duration: 2 })], 0.175).texts();
        const glow = texts.slice(0, expected.copies);
        assert.equal(texts.length, expected.copies + 1, label);
        const fill = texts[texts.length - 1];
        for (const copy of glow) {
            assert.match(copy.fillStyle, /^rgba\(255, 51, 102, 1\)$/, label);
            near(copy.shadowBlur, expected.blur, `${label} blur`);
        }
        if (expected.copies === 4) {
            const offsets = glow.map((o) => [o.at[0] - fill.at[0], o.at[1] - fill.at[1]]);
            const want = [[d, -d], [-d, -d], [d, d], [-d, d]];
            offsets.forEach(([dx, dy], i) => {
                near(dx, want[i][0], `${label} dx`);
                near(dy, want[i][1], `${label} dy`);
            });
            near(glow[0].globalAlpha, 0.875, `${label} alpha`);
        } else {
            near(glow[0].shadowOffsetX, expected.offset, `${label} offset x`);
            near(glow[0].shadowOffsetY, expected.offset, `${label} offset y`);
            assert.equal(glow[0].shadowColor, `rgba(255, 51, 102, ${expected.shadowAlpha})`, label);
            near(glow[0].globalAlpha, expected.textAlpha * 0.875, `${label} alpha`);
        }
    }
    assert.equal(drawn([caption({ glowType: 'none' })], 1).texts().length, 1);
    assert.equal(drawn([caption({ glowType: 'NONE' })], 1).texts().length, 1);
});

test('shine sweep: white core, glowing band, fill elsewhere', () => {
    // Ten clusters of 76.8 px (fake advance); at phase 0.5 the centre is at
    // half of 768 px, the band 92.16 px wide, its core 32.256 px.
    const ctx = drawn([caption({
        text: 'ABCDEFGHIJ', effect: 'shine-sweep', effectSpeed: 2, color: '#ffd200', effectColor: '#ff7a00',
    })], 1);
    const texts = ctx.texts();
    assert.equal(texts.length, 10);
    const byText = Object.fromEntries(texts.map((o) => [o.text, o]));
    // E and F sit 38.4 px from the centre: inside the band, outside the core.
    for (const c of 'EF') {
        assert.equal(byText[c].fillStyle, 'rgba(255, 122, 0, 1)', c);
        assert.equal(byText[c].shadowColor, 'rgba(255, 122, 0, 0.8)', c);
        near(byText[c].shadowBlur, 0.22 * 92.16, `${c} blur`);
    }
    for (const c of 'ABCDGHIJ') {
        assert.equal(byText[c].fillStyle, 'rgba(255, 210, 0, 1)', c);
        assert.equal(byText[c].shadowBlur, 0, c);
    }
    texts.forEach((o, i) => near(o.at[0] - 960, -384 + 76.8 * i, `x of ${o.text}`));

    // A cluster on the centre is white; combining marks stay with their letter.
    const core = drawn([caption({ text: 'ae\u0301i', effect: 'shine-sweep', effectSpeed: 2 })], 1).texts();
    assert.deepEqual(core.map((o) => o.text), ['a', 'e\u0301', 'i']);
    assert.equal(core[1].fillStyle, 'rgba(255, 255, 255, 1)');

    // Outside the sweep's window the line is drawn whole.
    assert.deepEqual(drawn([caption({ text: 'ABC', effect: 'shine-sweep', effectSpeed: 2 })], 3).texts().map((o) => o.text), ['ABC']);
});

test('canvas pixels per frame pixel scale the frame and the shadows', () => {
    const ctx = drawn([caption({ glowType: 'neon' })], 1, { width: 960, height: 540, pixelRatio: 2 });
    const [glow, fill] = ctx.texts();
    assert.deepEqual(ctx.ops[0], { op: 'clear', x: 0, y: 0, w: 1920, h: 1080 });
    near(fill.matrix[0], 2 * 0.0768, 'scale');
    assert.deepEqual(fill.matrix.slice(4), [960, 540]);
    near(glow.shadowBlur, 24.8, 'blur in canvas pixels');
});
