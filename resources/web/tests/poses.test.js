'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const C = require('../js/caption-renderer.js');

const block = (fields) => C.decodeSequence({ duration: 2, ...fields });

function assertPose(actual, expected, label) {
    for (const [key, value] of Object.entries(expected)) {
        assert.ok(Math.abs(actual[key] - value) < 1e-9, `${label}: ${key} ${actual[key]} ≠ ${value}`);
    }
}

test('entrance and exit lengths', () => {
    const cases = [
        // [fields, entrance, exit]
        [{ animIn: 'pop', animOut: 'fade', animSpeed: 0.35 }, 0.35, 0.35],
        [{ animIn: 'pop', animOut: 'fade', animSpeed: 1, duration: 0.5 }, 0.225, 0.225],
        [{ animIn: 'pop', animSpeed: 0 }, 0.01, 0],
        [{ animIn: 'pop', animSpeed: -3, duration: 0.01 }, 0.0045, 0],
        [{ animIn: 'none', animOut: 'sink' }, 0, 0.35],
        [{ animIn: 'pop', duration: -1 }, -0.45, 0],
    ];
    for (const [fields, a, b] of cases) {
        const s = block(fields);
        assert.ok(Math.abs(C.entranceLength(s) - a) < 1e-12, `entrance ${JSON.stringify(fields)}`);
        assert.ok(Math.abs(C.exitLength(s) - b) < 1e-12, `exit ${JSON.stringify(fields)}`);
    }
});

test('poses at given times', () => {
    // A = B = 0.35 s on a 2 s block: half-way through the entrance p = 0.5,
    // e = 0.875; half-way through the exit q = 0.5, c = 0.125.
    const e = 0.875;
    const c = 0.125;
    const cases = [
        [{ animIn: 'pop' }, 0.175, { opacity: e, scale: 0.5 + 0.5 * e }],
        [{ animIn: 'fade' }, 0.175, { opacity: e, scale: 1, yOffset: 0 }],
        [{ animIn: 'slide-up' }, 0.175, { opacity: e, yOffset: 64 * (1 - e) }],
        [{ animIn: 'rise' }, 0.175, { yOffset: 64 * (1 - e) }],
        [{ animIn: 'smooth-rise' }, 0.175, { yOffset: 38 * (1 - e), scale: 0.94 + 0.06 * e }],
        [{ animIn: 'zoom-blur' }, 0.175, { scale: 1 + 1.2 * (1 - e) }],
        [{ animIn: 'scale-down' }, 0.175, { scale: 1 + 1.2 * (1 - e) }],
        [{ animIn: 'ghost-reveal' }, 0.175, { xOffset: -92 * (1 - e), yOffset: 22 * (1 - e) }],
        [{ animIn: 'whip-left' }, 0.175, { xOffset: -180 * (1 - e), rotation: -0.02 * (1 - e) }],
        [{ animIn: 'slam' }, 0, { opacity: 0, scale: 1.85 }],
        [{ animIn: 'slam' }, 0.175, { scale: 1.85 - 0.85 * e }],
        // Names outside the table fade only; names are compared exactly.
        [{ animIn: 'rotate' }, 0.175, { opacity: e, scale: 1, rotation: 0 }],
        [{ animIn: 'Pop' }, 0.175, { opacity: e, scale: 1 }],
        // The entrance ends at A exactly.
        [{ animIn: 'pop' }, 0.35, { opacity: 1, scale: 1 }],
        [{ animOut: 'fade' }, 1.0, { opacity: 1 }],
        [{ animOut: 'fade' }, 1.65, { opacity: 1 }],
        [{ animOut: 'fade' }, 1.825, { opacity: 1 - c }],
        [{ animOut: 'fade' }, 2, { opacity: 0 }],
        [{ animOut: 'pop-out' }, 1.825, { scale: 1 - 0.35 * c }],
        // The downward exits move the block down the screen (positive y).
        [{ animOut: 'slide-down' }, 1.825, { yOffset: 64 * c }],
        [{ animOut: 'sink' }, 1.825, { yOffset: 64 * c }],
        [{ animOut: 'smooth-sink' }, 1.825, { yOffset: 38 * c, scale: 1 - 0.06 * c }],
        [{ animOut: 'zoom-blur-out' }, 1.825, { scale: 1 + 1.2 * c }],
        [{ animOut: 'ghost-out' }, 1.825, { xOffset: 110 * c, yOffset: -22 * c }],
        [{ animOut: 'whip-right-out' }, 1.825, { xOffset: 180 * c, rotation: 0.02 * c }],
        [{ animOut: 'rotate-out' }, 1.825, { opacity: 1 - c, scale: 1, rotation: 0 }],
    ];
    for (const [fields, u, expected] of cases) {
        assertPose(C.blockPose(block(fields), u), expected, `${JSON.stringify(fields)} at ${u}`);
    }
});

test('the neutral pose is exact, so a still frame is recognised', () => {
    assert.ok(C.isNeutralPose(C.blockPose(block({ animIn: 'pop', animOut: 'pop-out' }), 1)));
    assert.ok(!C.isNeutralPose(C.blockPose(block({ animIn: 'pop' }), 0.3)));
    assert.ok(!C.isNeutralPose(C.blockPose(block({ animOut: 'fade' }), 1.999)));
});

test('the shine sweep passes once, after the entrance', () => {
    const cases = [
        // [fields, elapsed, active, phase]
        [{ effect: 'shine-sweep', effectSpeed: 1, animIn: 'fade' }, 0.2, false],
        [{ effect: 'shine-sweep', effectSpeed: 1, animIn: 'fade' }, 0.35, true, 0],
        [{ effect: 'shine-sweep', effectSpeed: 1, animIn: 'fade' }, 0.85, true, 0.5],
        [{ effect: 'shine-sweep', effectSpeed: 1, animIn: 'fade' }, 1.35, true, 1],
        [{ effect: 'shine-sweep', effectSpeed: 1, animIn: 'fade' }, 1.36, false],
        [{ effect: 'shine-sweep', effectSpeed: 1 }, 0, true, 0],
        [{ effect: 'shine-sweep', effectSpeed: 0 }, 0.025, true, 0.5],
        [{ effect: 'Shine-Sweep', effectSpeed: 1 }, 0.5, false],
        // A non-finite speed is the default speed.
        [{ effect: 'shine-sweep', effectSpeed: 'nan' }, 0.5, true, 0.5],
    ];
    for (const [fields, u, active, phase] of cases) {
        const shine = C.shineState(block({ duration: 10, ...fields }), u);
        assert.equal(shine.active, active, `${JSON.stringify(fields)} at ${u}`);
        if (active) assert.ok(Math.abs(shine.phase - phase) < 1e-9, `phase ${shine.phase}`);
    }
});
