'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const C = require('../js/caption-renderer.js');

const W = 1920;
const H = 1080;
const blocks = (...sequences) => C.decodeSequences({ sequences });
const state = (list, t) => C.frameState(list, t, W, H);

test('reuse kinds', () => {
    const still = { text: 'Hi', startTime: 1, duration: 2 };
    const cases = [
        [[still], 0.5, 'empty'],
        [[still], 1, 'static'],            // both ends of a block are drawn
        [[still], 3, 'static'],
        [[still], 3.0001, 'empty'],
        [[{ ...still, animIn: 'pop' }], 1.1, 'dynamic'],
        [[{ ...still, animIn: 'pop' }], 1.35, 'static'],
        [[{ ...still, animOut: 'fade' }], 2.9, 'dynamic'],
        // At the very end of a fade-out nothing is left to draw.
        [[{ ...still, animOut: 'fade' }], 3, 'empty'],
        [[{ ...still, animIn: 'fade' }], 1, 'empty'],
        [[{ ...still, effect: 'shine-sweep', effectSpeed: 0.5 }], 1.2, 'dynamic'],
        [[{ ...still, effect: 'shine-sweep', effectSpeed: 0.5 }], 1.6, 'static'],
        [[{ ...still, size: 0 }], 2, 'empty'],
        [[still, { text: 'Yo', startTime: 2, duration: 1, animIn: 'pop' }], 2.1, 'dynamic'],
        [[still, { text: 'Yo', startTime: 2, duration: 1, animIn: 'pop' }], 2.5, 'static'],
    ];
    for (const [sequences, t, kind] of cases) {
        const s = state(blocks(...sequences), t);
        assert.equal(s.kind, kind, `${JSON.stringify(sequences)} at ${t}`);
        assert.equal(typeof s.key === 'string', kind === 'static');
    }
});

test('static keys are equal exactly when the same pixels are drawn', () => {
    const a = { text: 'Hello', startTime: 0, duration: 2 };
    const later = { ...a, startTime: 5 };
    const key = (list, t) => state(blocks(...list), t).key;

    // The same block at two times, and a copy of it at another time.
    assert.equal(key([a], 0.5), key([a], 1.5));
    assert.equal(key([a, later], 1), key([a, later], 6));
    // Timing and animation names do not change a still frame.
    assert.equal(key([a], 1), key([{ ...a, duration: 9, animIn: 'pop', animOut: 'sink' }], 1));

    const changed = [
        { text: 'Hello!' }, { x: 51 }, { y: 49 }, { font: 'Anton' }, { size: 9 }, { textScaleX: 90 },
        { color: '#ff0000' }, { glowType: 'shadow' }, { glowIntensity: 30 },
        { glowColor: '#00ff00' }, { hasOutline: false }, { outlineWidth: 3 }, { outlineColor: '#ff0000' },
    ];
    const styled = { ...a, glowType: 'neon', hasOutline: true, outlineWidth: 2 };
    const base = key([styled], 1);
    for (const change of changed) {
        assert.notEqual(key([{ ...styled, ...change }], 1), base, JSON.stringify(change));
    }
    // Two blocks against one, and their stacking order.
    const b = { text: 'World', startTime: 0, duration: 2, trackId: 1 };
    assert.notEqual(key([a, b], 1), key([a], 1));
    assert.notEqual(key([a, b], 1), key([{ ...a, trackId: 2 }, b], 1));
    // Another frame size draws other pixels.
    assert.notEqual(C.frameState(blocks(a), 1, 1280, 720).key, key([a], 1));
});
