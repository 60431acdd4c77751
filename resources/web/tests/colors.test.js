'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const C = require('../js/caption-renderer.js');

test('colours: hexadecimal forms only, anything else white', () => {
    const white = { r: 255, g: 255, b: 255 };
    const cases = [
        ['#f80', '#ffffff', { r: 255, g: 136, b: 0 }],
        ['#FF8800', '#ffffff', { r: 255, g: 136, b: 0 }],
        ['00c8ff', '#ffffff', { r: 0, g: 200, b: 255 }],
        ['  #101010\n', '#ffffff', { r: 16, g: 16, b: 16 }],
        ['\u00a0#abc\u2028', '#ffffff', { r: 170, g: 187, b: 204 }],
        ['', '#000000', { r: 0, g: 0, b: 0 }],
        ['', '#ff7a00', { r: 255, g: 122, b: 0 }],
        [undefined, '#000000', { r: 0, g: 0, b: 0 }],
        // The default stands in only for an empty text, not for a bad one.
        ['red', '#000000', white],
        ['transparent', '#000000', white],
        ['rgb(0, 0, 0)', '#000000', white],
        ['#00000080', '#000000', white],
        ['#0000', '#000000', white],
        ['#12345g', '#000000', white],
        ['##123456', '#000000', white],
        ['#-12345', '#000000', white],
        ['   ', '#000000', white],
        ['\ufeff#000000', '#000000', white],
    ];
    for (const [text, fallback, expected] of cases) {
        assert.deepEqual({ ...C.parseColor(text, fallback) }, expected, JSON.stringify(text));
    }
    assert.equal(C.cssColor({ r: 1, g: 2, b: 3 }, 0.5), 'rgba(1, 2, 3, 0.5)');
});

test('black or empty glow colours glow white', () => {
    const cases = [
        ['#000000', { r: 255, g: 255, b: 255 }],
        [' #000 ', { r: 255, g: 255, b: 255 }],
        ['BLACK', { r: 255, g: 255, b: 255 }],
        ['', { r: 255, g: 255, b: 255 }],
        ['#010101', { r: 1, g: 1, b: 1 }],
        ['#00c8ff', { r: 0, g: 200, b: 255 }],
        ['teal', { r: 255, g: 255, b: 255 }],
    ];
    for (const [glowColor, expected] of cases) {
        assert.deepEqual({ ...C.effectiveGlowColor(C.decodeSequence({ glowColor })) }, expected, glowColor);
    }
});
