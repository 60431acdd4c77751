'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const C = require('../js/caption-renderer.js');

test('coercion reads numbers, numeric texts and boolean words like the engine', () => {
    const cases = [
        // [reader, value, default, expected]
        ['intValue', '12', 0, 12],
        ['intValue', '+12', 0, 12],
        ['intValue', ' 12', 5, 5],
        ['intValue', '12.0', 5, 5],
        ['intValue', '0x10', 5, 5],
        ['intValue', '9223372036854775808', 5, 5],
        ['intValue', 12.7, 0, 12],
        ['intValue', -2.9, 0, -2],
        ['doubleValue', '12,5', 3, 3],
        ['doubleValue', '1e3', 0, 1000],
        ['doubleValue', '.5', 0, 0.5],
        ['doubleValue', ' 1', 3, 3],
        ['doubleValue', '1e', 3, 3],
        ['doubleValue', '0x1p4', 0, 16],
        ['doubleValue', '0b1', 3, 3],
        ['doubleValue', 'Infinity', 0, Infinity],
        ['doubleValue', '-inf', 0, -Infinity],
        ['doubleValue', [1], 3, 3],
        ['boolValue', 'yes', false, true],
        ['boolValue', 'ON', false, true],
        ['boolValue', ' yes', false, false],
        ['boolValue', 'maybe', true, true],
        ['boolValue', 0, true, false],
        ['stringValue', 2.5, '', '2.5'],
        ['stringValue', true, '', '1'],
        ['stringValue', 1e15, '', '1e+15'],
        ['stringValue', 1.5e-7, '', '1.5e-07'],
        ['stringValue', 0.0025, '', '0.0025'],
        ['stringValue', 0.000025, '', '2.5e-05'],
    ];
    for (const [reader, value, defaultValue, expected] of cases) {
        assert.equal(C[reader](value, defaultValue), expected, `${reader}(${JSON.stringify(value)})`);
    }
    assert.ok(Number.isNaN(C.doubleValue('nan', 0)));
});

test('an empty dictionary decodes to the native defaults', () => {
    const block = C.decodeSequence({});
    assert.deepEqual({ ...block }, {
        text: '', startTime: 0, duration: 1, x: 50, y: 50, trackId: 0, font: 'HelveticaNeue-CondensedBlack',
        size: 8, textScaleX: 100, color: '#ffffff', color2: '#ffffff', effect: 'none', effectSpeed: 1,
        effectColor: '#ff7a00', glowType: 'none', glowIntensity: 20, glowColor: '#ffffff', hasOutline: false,
        outlineWidth: 0, outlineColor: '#000000', animIn: 'none', animOut: 'none', animSpeed: 0.35,
    });
    assert.ok(Object.isFrozen(block));
});

test('decoding coerces each key by its kind and clamps only textScaleX', () => {
    const cases = [
        [{ size: '12' }, 'size', 12],
        [{ hasOutline: 'yes' }, 'hasOutline', true],
        [{ trackId: '3' }, 'trackId', 3],
        [{ trackId: 2.9 }, 'trackId', 2],
        [{ text: 2025 }, 'text', '2025'],
        [{ startTime: 'soon' }, 'startTime', 0],
        [{ textScaleX: 500 }, 'textScaleX', 220],
        [{ textScaleX: 10 }, 'textScaleX', 40],
        [{ textScaleX: '150' }, 'textScaleX', 150],
        // Non-finite numbers count as absent.
        [{ textScaleX: 'inf' }, 'textScaleX', 100],
        [{ textScaleX: 'nan' }, 'textScaleX', 100],
        [{ startTime: '1e400' }, 'startTime', 0],
        [{ size: '-inf' }, 'size', 8],
        [{ animSpeed: null }, 'animSpeed', 0.35],
        [{ glowType: 'NEON' }, 'glowType', 'NEON'],
    ];
    for (const [dictionary, key, expected] of cases) {
        assert.equal(C.decodeSequence(dictionary)[key], expected, JSON.stringify(dictionary));
    }
});

test('only a list made of dictionaries gives sequences', () => {
    const one = { text: 'A' };
    assert.equal(C.decodeSequences({ sequences: one }).length, 0);
    assert.equal(C.decodeSequences({ sequences: [one, 'B'] }).length, 0);
    assert.equal(C.decodeSequences({}).length, 0);
    assert.equal(C.decodeSequences(null).length, 0);
    assert.equal(C.decodeSequences({ sequences: [one, one] }).length, 2);
});

test('blocks are sorted by track then start, ties in the order sent', () => {
    const sequences = [
        { text: 'b', trackId: 2, startTime: 0 },
        { text: 'a', trackId: 1, startTime: 5 },
        { text: 'c', trackId: 1, startTime: 1 },
        { text: 'd', trackId: 1, startTime: 1 },
        { text: 'e', trackId: '1', startTime: '1' },
        { text: 'f', trackId: -1, startTime: 9 },
        { text: 'g', startTime: 1 },
    ];
    const order = C.decodeSequences({ sequences }).map((b) => b.text).join('');
    assert.equal(order, 'fgcdeab');
});
