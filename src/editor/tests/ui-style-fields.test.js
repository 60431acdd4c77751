import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
    readNumber, wellColor, optionsWith, fontOptions, effectiveScope, shownBlock, NUMBER_FIELDS, ANIM_IN, ANIM_OUT,
    EFFECTS, GLOW_TYPES,
} from '../src/ui/style-fields.js';
import { sanitizeStyleValue } from '../src/state/style.js';

test('typed numbers are read with a comma or a point and clamped to the field', () => {
    const cases = [
        ['12', 'size', 12], ['7,5', 'size', 7.5], [' 3.25 ', 'size', 3.25], ['1000', 'size', NUMBER_FIELDS.size.max],
        ['-4', 'outlineWidth', 0], ['10', 'textScaleX', 40], ['abc', 'size', null], ['', 'x', null],
        ['NaN', 'y', null], [55, 'y', 55],
    ];
    for (const [text, key, expected] of cases) assert.equal(readNumber(text, key), expected, `${key} ${text}`);
});

test('every slider bound is a value the store keeps as it is', () => {
    for (const [key, range] of Object.entries(NUMBER_FIELDS)) {
        assert.equal(sanitizeStyleValue(key, range.min), range.min, `${key} min`);
        assert.equal(sanitizeStyleValue(key, range.max), range.max, `${key} max`);
    }
});

test('every name the panel offers is one the store accepts', () => {
    const lists = { animIn: ANIM_IN, animOut: ANIM_OUT, effect: EFFECTS, glowType: GLOW_TYPES };
    for (const [key, options] of Object.entries(lists)) {
        for (const [value, label] of options) {
            assert.equal(sanitizeStyleValue(key, value), value, `${key} ${value}`);
            assert.ok(label && label !== value, `${key} ${value} has a label of its own`);
        }
    }
    for (const [font] of fontOptions('Anton')) assert.equal(sanitizeStyleValue('font', font), font);
});

test('colour wells get #rrggbb whatever the block holds', () => {
    const cases = [['#AABBCC', '#aabbcc'], ['#abc', '#aabbcc'], [' #0F0 ', '#00ff00'], ['red', '#ffffff'],
        ['rgb(1,2,3)', '#ffffff'], [undefined, '#ffffff'], ['#12345', '#ffffff']];
    for (const [value, expected] of cases) assert.equal(wellColor(value), expected, String(value));
    assert.equal(wellColor('nope', '#000000'), '#000000');
});

test('a value outside the offered names stays shown, marked as other', () => {
    const options = [['a', 'A'], ['b', 'B']];
    assert.equal(optionsWith(options, 'a'), options);
    assert.deepEqual(optionsWith(options, 'zz').at(-1), ['zz', 'zz (autre)']);
    assert.ok(fontOptions('HelveticaNeue-CondensedBlack').some(([v]) => v === 'HelveticaNeue-CondensedBlack'));
    assert.equal(fontOptions('Teko').filter(([v]) => v === 'Teko').length, 1);
});

test('changes go to the selection, or to every block when asked or when nothing is selected', () => {
    const cases = [['selection', 2, 'selection'], ['selection', 0, 'all'], ['all', 3, 'all'], ['all', 0, 'all']];
    for (const [scope, size, expected] of cases) assert.equal(effectiveScope(scope, size), expected);
    const project = { blocks: [{ id: 'b1' }, { id: 'b2' }, { id: 'b3' }] };
    const shown = [[['b2', 'b3'], 'b2'], [[], 'b1'], [['gone'], 'b1']];
    for (const [selection, id] of shown) assert.equal(shownBlock(project, selection).id, id);
    assert.equal(shownBlock({ blocks: [] }, []), null);
});
