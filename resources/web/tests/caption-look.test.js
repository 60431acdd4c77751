// The caption look the page shares with the native renderer, checked against
// the vectors both test suites read (tests/vectors/caption-look.json).
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const C = require('../js/caption-renderer.js');
const { FakeContext } = require('./fake-canvas.js');

const VECTORS_FILE = process.env.TESSIVO_CAPTION_VECTORS ||
    path.join(__dirname, '..', '..', '..', 'tests', 'vectors', 'caption-look.json');
const V = JSON.parse(fs.readFileSync(VECTORS_FILE, 'utf8'));

const near = (a, b, label, eps = 1e-9) => assert.ok(Math.abs(a - b) < eps, `${label}: ${a} ≠ ${b}`);
const label = (v) => JSON.stringify(v);
const decode = (sequence) => C.decodeSequence(sequence);

test('decoding', () => {
    for (const v of V.decode) {
        assert.deepEqual({ ...decode(v.sequence) }, v.decoded, label(v.sequence));
    }
});

test('drawing order', () => {
    for (const v of V.drawingOrder) {
        assert.deepEqual(C.decodeSequences({ sequences: v.sequences }).map((b) => b.text), v.texts, label(v.sequences));
    }
});

test('easing', () => {
    const block = decode(V.easing.block);
    const a = C.entranceLength(block);
    const b = C.exitLength(block);
    assert.ok(a > 0 && b > 0);
    for (const v of V.easing.values) {
        near(C.blockPose(block, v.p * a).opacity, v.easeOut, `ease-out ${v.p}`);
        near(1 - C.blockPose(block, block.duration - b + v.p * b).opacity, v.easeIn, `ease-in ${v.p}`);
    }
});

test('animation lengths', () => {
    for (const v of V.animationLengths) {
        const block = decode(v.sequence);
        near(C.entranceLength(block), v.entrance, `entrance ${label(v.sequence)}`, 1e-12);
        near(C.exitLength(block), v.exit, `exit ${label(v.sequence)}`, 1e-12);
    }
});

test('poses', () => {
    for (const v of V.poses) {
        const pose = C.blockPose(decode(v.sequence), v.elapsed);
        for (const key of ['opacity', 'xOffset', 'yOffset', 'rotation', 'scale']) {
            near(pose[key], v.pose[key], `${label(v.sequence)} at ${v.elapsed}: ${key}`);
        }
    }
});

test('shine sweep', () => {
    for (const v of V.shine) {
        const shine = C.shineState(decode(v.sequence), v.elapsed);
        const what = `${label(v.sequence)} at ${v.elapsed}`;
        assert.equal(shine.active, v.active, what);
        if (v.active) near(shine.phase, v.phase, what);
    }
});

test('colours', () => {
    for (const v of V.colors) {
        const c = C.parseColor(v.text, v.default);
        assert.deepEqual([c.r, c.g, c.b], v.rgb, label(v));
    }
    for (const v of V.glowColors) {
        const c = C.effectiveGlowColor(decode({ glowColor: v.glowColor }));
        assert.deepEqual([c.r, c.g, c.b], v.rgb, label(v));
    }
});

test('layout: font size, line step, lines and line origins', () => {
    for (const v of V.layout) {
        const block = decode(v.sequence);
        const fs = C.fontSize(block, v.frameWidth);
        near(fs, v.fontSize, `font size ${label(v)}`);
        near(C.lineStep(fs), v.lineStep, `line step ${label(v)}`);
        assert.deepEqual(C.splitLines(block.text), v.lines, label(v));
    }
    for (const v of V.lineOrigins) {
        const origins = C.lineOrigins(v.lines, v.fontSize);
        assert.equal(origins.length, v.origins.length);
        origins.forEach((o, k) => {
            near(o.x, v.origins[k].x, `x of line ${k} in ${label(v)}`);
            near(o.baseline, v.origins[k].baseline, `baseline of line ${k} in ${label(v)}`);
        });
    }
});

test('fonts: candidate names and the shipped faces they draw with', () => {
    for (const v of V.fontCandidates) assert.deepEqual(C.fontCandidates(v.font), v.candidates, v.font);
    for (const v of V.shippedFaces.cases) {
        const face = C.resolveFont(v.font).metricsFace;
        assert.equal(face && face.postscriptName, v.postscriptName, v.font);
    }
});

// The transform every text of the block is drawn with: anchor, own-axis
// scales and rotation, and the opacity.
test('placement', () => {
    const frame = V.placements.frame;
    for (const v of V.placements.cases) {
        const what = `${label(v.sequence)} at ${v.time}`;
        const ctx = new FakeContext();
        C.drawFrame(ctx, C.decodeSequences({ sequences: [v.sequence] }), v.time, frame);
        const texts = ctx.texts();
        assert.ok(texts.length > 0, what);
        const unit = C.fontSize(decode(v.sequence), frame.width) / 1000;
        for (const op of texts) {
            const [a, b, c, d, e, f] = op.matrix;
            near(e, v.anchor[0], `${what}: anchor x`);
            near(f, v.anchor[1], `${what}: anchor y`);
            near(Math.hypot(a, b) / unit, v.scaleX, `${what}: scale x`);
            near(Math.hypot(c, d) / unit, v.scaleY, `${what}: scale y`);
            near(-Math.atan2(b, a), v.rotation, `${what}: rotation`);
            // The axes stay at right angles: no shear.
            near(a * c + b * d, 0, `${what}: shear`);
            near(op.globalAlpha, v.opacity, `${what}: opacity`);
        }
    }
});

test('frame states', () => {
    const { width, height } = V.frameStates.frame;
    for (const c of V.frameStates.cases) {
        const blocks = C.decodeSequences({ sequences: c.sequences });
        const state = (t) => C.frameState(blocks, t, width, height);
        for (const t of c.times) {
            const what = `${label(c.sequences)} at ${t.time}`;
            assert.equal(state(t.time).kind, t.kind, what);
            const visible = [];
            for (const block of blocks) {
                const pose = C.visiblePose(block, t.time, width, height);
                if (!pose) continue;
                const shine = C.shineState(block, t.time - block.startTime);
                visible.push({ text: block.text, opacity: pose.opacity, shine: shine.active ? shine.phase : null });
            }
            assert.deepEqual(visible.map((b) => b.text), t.visible.map((b) => b.text), what);
            visible.forEach((b, i) => {
                near(b.opacity, t.visible[i].opacity, `${what}: opacity of ${b.text}`);
                assert.equal(b.shine === null, t.visible[i].shine === null, `${what}: sweep of ${b.text}`);
                if (b.shine !== null) near(b.shine, t.visible[i].shine, `${what}: sweep of ${b.text}`);
            });
            // What is drawn is what the state says is visible.
            const ctx = new FakeContext();
            C.drawFrame(ctx, blocks, t.time, { width, height });
            const expected = visible.flatMap((b) => (b.shine === null ? [b.text] : C.graphemes(b.text)));
            assert.deepEqual([...new Set(ctx.texts().map((o) => o.text))], [...new Set(expected)], `${what}: drawn`);
        }
        for (const [a, b] of c.sameKey) {
            assert.equal(state(a).kind, 'static', `${a}`);
            assert.equal(state(a).key, state(b).key, `${a} and ${b}`);
        }
        for (const [a, b] of c.differentKey) assert.notEqual(state(a).key, state(b).key, `${a} and ${b}`);
    }
});
