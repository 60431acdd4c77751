import { test } from 'node:test';
import assert from 'node:assert/strict';
import { byId, memoryStorage, storeWith } from './store-helpers.js';
import { ANIM_IN, ANIM_OUT, DEFAULT_STYLE, EFFECTS, FONTS, GLOW_TYPES, STYLE_KEYS } from '../src/state/model.js';
import { BUILTIN_PRESETS } from '../src/state/presets.js';
import { PRESETS_KEY } from '../src/state/persistence.js';
import { createStore } from '../src/state/store.js';

test('style values are validated and clamped before they reach a block', () => {
    const cases = [
        // key, value sent, value stored (undefined: refused, the block keeps its value)
        ['color', '#ABC', '#aabbcc'],
        ['color', ' #12aB9f ', '#12ab9f'],
        ['color', 'red', undefined],
        ['color', '#12345', undefined],
        ['color', '#ggg', undefined],
        ['color', 42, undefined],
        ['outlineColor', '', undefined],
        ['size', NaN, undefined],
        ['size', Infinity, undefined],
        ['size', '12', 12],
        ['size', '', undefined],
        ['size', 1000, 40],
        ['size', -3, 0.5],
        ['textScaleX', 10, 40],
        ['textScaleX', 500, 220],
        ['x', -20, 0],
        ['y', 130, 100],
        ['animSpeed', -1, 0],
        ['effectSpeed', 0, 0.05],
        ['glowIntensity', null, undefined],
        ['outlineWidth', true, undefined],
        ['glowType', 'NEON', 'neon'],
        ['glowType', 'halo', undefined],
        ['animIn', 'slam', 'slam'],
        ['animIn', 'pop-out', undefined],
        ['animOut', 'pop-out', 'pop-out'],
        ['effect', 'shine-sweep', 'shine-sweep'],
        ['effect', 'explode', undefined],
        ['font', '  Anton ', 'Anton'],
        ['font', '', undefined],
        ['hasOutline', false, false],
        ['hasOutline', 'yes', undefined],
        ['text', 'pas un style', undefined],
        ['startTime', 9, undefined],
    ];
    for (const [key, value, expected] of cases) {
        const { store } = storeWith([[0, 1]]);
        const before = byId(store, 'b1')[key];
        store.dispatch({ type: 'style/apply', scope: 'all', patch: { [key]: value } });
        const stored = byId(store, 'b1')[key];
        assert.equal(stored, expected === undefined ? before : expected, `${key} = ${String(value)}`);
    }
});

test('style applies to the selection or to all blocks, in one undo step', () => {
    const { store } = storeWith([[0, 1], [1, 1], [2, 1]]);
    store.dispatch({ type: 'selection/set', ids: ['b2'] });
    store.dispatch({ type: 'style/apply', scope: 'selection', patch: { color: '#00ff00', size: 9, bogus: 1 } });
    assert.deepEqual(store.getState().project.blocks.map((b) => b.color), ['#ffffff', '#00ff00', '#ffffff']);
    assert.equal(byId(store, 'b2').bogus, undefined);
    const untouched = byId(store, 'b1');
    store.dispatch({ type: 'style/apply', scope: 'all', patch: { color: '#00ff00' } });
    assert.equal(byId(store, 'b2'), store.getState().project.blocks[1], 'already green block kept as is');
    assert.notEqual(byId(store, 'b1'), untouched);
    store.undo();
    assert.deepEqual(store.getState().project.blocks.map((b) => b.color), ['#ffffff', '#00ff00', '#ffffff']);
});

test('built-in presets are complete, valid looks with French names', () => {
    assert.ok(BUILTIN_PRESETS.length >= 6 && BUILTIN_PRESETS.length <= 8);
    assert.equal(new Set(BUILTIN_PRESETS.map((p) => p.name)).size, BUILTIN_PRESETS.length);
    for (const { name, style } of BUILTIN_PRESETS) {
        assert.deepEqual(Object.keys(style).sort(), [...STYLE_KEYS].sort(), name);
        assert.ok(FONTS.includes(style.font), `${name}: shipped font`);
        assert.ok(ANIM_IN.includes(style.animIn) && ANIM_OUT.includes(style.animOut), `${name}: animations`);
        assert.ok(EFFECTS.includes(style.effect) && GLOW_TYPES.includes(style.glowType), `${name}: effect, glow`);
        for (const key of ['color', 'color2', 'effectColor', 'glowColor', 'outlineColor']) {
            assert.match(style[key], /^#[0-9a-f]{6}$/, `${name}: ${key}`);
        }
    }
    assert.ok(FONTS.includes(DEFAULT_STYLE.font));
});

test('applying a preset sets its look but never moves a caption', () => {
    const { store } = storeWith([[0, 1]]);
    store.dispatch({ type: 'style/apply', scope: 'all', patch: { x: 20, y: 30 } });
    store.dispatch({ type: 'presets/apply', name: 'Bande dessinée', scope: 'all' });
    const b = byId(store, 'b1');
    const preset = BUILTIN_PRESETS.find((p) => p.name === 'Bande dessinée');
    for (const key of STYLE_KEYS) assert.equal(b[key], preset.style[key], key);
    assert.deepEqual([b.x, b.y], [20, 30]);
});

test('user presets: saved from the first selected block, replaced by name, deleted, kept in storage', () => {
    const storage = memoryStorage();
    const { store } = storeWith([[0, 1], [1, 1]], { storage });
    store.dispatch({ type: 'selection/set', ids: ['b2'] });
    store.dispatch({ type: 'style/apply', scope: 'selection', patch: { color: '#123456', x: 10 } });
    store.dispatch({ type: 'presets/save', name: '  Mon style ' });
    store.dispatch({ type: 'style/apply', scope: 'selection', patch: { color: '#654321' } });
    store.dispatch({ type: 'presets/save', name: 'Mon style' });
    const presets = store.getState().ui.presets;
    assert.equal(presets.length, 1);
    assert.equal(presets[0].style.color, '#654321');
    assert.equal('x' in presets[0].style, false, 'no position in a preset');
    assert.equal(JSON.parse(storage.getItem(PRESETS_KEY))[0].name, 'Mon style');

    // A new store on the same storage has them; applying one restyles.
    const again = createStore({ storage, timers: { setTimeout() {}, clearTimeout() {} } });
    assert.deepEqual(again.getState().ui.presets, presets);
    store.dispatch({ type: 'presets/apply', name: 'Mon style', scope: 'all' });
    assert.equal(byId(store, 'b1').color, '#654321');

    store.dispatch({ type: 'presets/delete', name: 'Mon style' });
    assert.deepEqual(store.getState().ui.presets, []);
    assert.deepEqual(JSON.parse(storage.getItem(PRESETS_KEY)), []);
    assert.equal(store.getState().history.canUndo, true, 'only the style changes were undoable');
});

test('refused preset saves leave a French notice and change nothing', () => {
    const cases = [
        ['no name', '   ', ['b1']],
        ['built-in name', 'néon', ['b1']],
        ['no selection', 'Le mien', []],
    ];
    for (const [name, presetName, selection] of cases) {
        const { store } = storeWith([[0, 1]]);
        store.dispatch({ type: 'selection/set', ids: selection });
        store.dispatch({ type: 'presets/save', name: presetName });
        assert.deepEqual(store.getState().ui.presets, [], name);
        assert.equal(store.getState().ui.notice.tone, 'warning', name);
    }
});

test('stored presets that do not read are filtered, their bad values defaulted', () => {
    const storage = memoryStorage({
        [PRESETS_KEY]: JSON.stringify([
            { name: 'Bon', style: { color: '#ff0000', size: 'énorme' } },
            { name: 'Bon', style: {} },
            { name: 'Classique', style: {} },
            { style: {} },
            'texte',
        ]),
    });
    const store = createStore({ storage });
    const presets = store.getState().ui.presets;
    assert.deepEqual(presets.map((p) => p.name), ['Bon']);
    assert.equal(presets[0].style.color, '#ff0000');
    assert.equal(presets[0].style.size, DEFAULT_STYLE.size);
    const broken = createStore({ storage: memoryStorage({ [PRESETS_KEY]: '{oops' }) });
    assert.deepEqual(broken.getState().ui.presets, []);
});
