import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
    categoriesOf, effectBadges, effectEditProblem, filterEffects, isEditable, previewFrameIndex,
    previewFrameMs, targetTrackProblem, targetTrackValue,
} from '../src/ui/panels/library-view.js';
import { libraryView, requestOf } from '../src/ui/panels/engine-view.js';

const effects = [
    { id: 'builtin-pop-clean', name: 'Pop Clean', category: 'Essentiels', source: 'built-in' },
    { id: 'builtin-slide-kinetic', name: 'Slide Kinetic', category: 'Mouvement', source: 'built-in' },
    { id: 'captured-1', name: 'Éclat', category: 'Mes effets', source: 'captured', compatibility: { status: 'dependency-risk' } },
    { id: 'captured-2', name: 'sans cat', category: '  ', source: 'captured' },
    { id: 'included-shine', name: 'Shine', category: 'essentiels' },
];

test('categories are distinct, sorted in French order, with a name for the empty one', () => {
    assert.deepEqual(categoriesOf(effects), ['Essentiels', 'essentiels', 'Mes effets', 'Mouvement', 'Sans catégorie']);
    assert.deepEqual(categoriesOf(undefined), []);
});

test('effects are filtered by category and by name, accents and case alike', () => {
    const cases = [
        ['', '', 5],
        ['Essentiels', '', 1],
        ['Sans catégorie', '', 1],
        ['', 'éCLAT', 1],
        ['', 'kinetic', 1],
        ['Mouvement', 'pop', 0],
    ];
    for (const [cat, q, n] of cases) assert.equal(filterEffects(effects, cat, q).length, n, `${cat}/${q}`);
});

test('preview frames cycle at their own rate, looping, clamped to a rate the page keeps', () => {
    const cases = [
        // elapsed ms, frames, fps → index
        [0, 10, 10, 0],
        [99, 10, 10, 0],
        [100, 10, 10, 1],
        [1050, 10, 10, 0], // looped after ten frames
        [250, 4, undefined, 3], // default 12 fps: 83.3 ms a frame
        [100, 8, 240, 3], // clamped to 30 fps
        [-5, 4, 10, 0],
        [500, 0, 10, -1],
    ];
    for (const [ms, count, fps, expected] of cases) {
        assert.equal(previewFrameIndex(ms, count, fps), expected, `${ms} ms, ${count} frames, ${fps} fps`);
    }
    assert.equal(previewFrameMs(0), 1000 / 12);
    assert.equal(previewFrameMs('25'), 40);
});

test('the target track is sent as the engine reads it', () => {
    const cases = [
        ['auto', '', 'auto'],
        ['new', '7', 'new'],
        ['track', '3', 'track:3'],
        ['track', 3, 'track:3'],
        ['track', '0', null],
        ['track', '1.5', null],
        ['track', '', null],
        ['anything', '2', 'auto'],
    ];
    for (const [choice, n, expected] of cases) {
        assert.equal(targetTrackValue(choice, n), expected, `${choice} ${n}`);
        assert.equal(targetTrackProblem(choice, n) === null, expected !== null);
    }
});

test('a rename keeps a name and falls back to the default category', () => {
    assert.deepEqual(effectEditProblem({ name: '  Flash ', category: '' }), { name: 'Flash', category: 'Mes effets' });
    assert.match(effectEditProblem({ name: '   ', category: 'x' }).error, /vide/);
    assert.match(effectEditProblem({ name: 'x'.repeat(81), category: '' }).error, /trop long/);
    assert.match(effectEditProblem({ name: 'ok', category: 'c'.repeat(41) }).error, /catégorie/);
});

test('badges and edit rights follow the effect origin', () => {
    assert.deepEqual(effectBadges(effects[0]), ['Intégré']);
    assert.deepEqual(effectBadges(effects[2]), ['Capturé', 'Dépendances externes']);
    assert.deepEqual(effectBadges({ id: 'shared-9', source: 'captured' }), ['Partagé']);
    assert.equal(isEditable(effects[4]), false);
    assert.equal(isEditable(effects[0]), true);
});

test('the newest request among an operation\'s names is the one shown', () => {
    const engine = { requests: { a: { status: 'done', startedAt: 5 }, b: { status: 'pending', startedAt: 9 } } };
    assert.equal(requestOf(engine, ['a', 'b']).status, 'pending');
    assert.equal(requestOf(engine, ['a', 'zz']).startedAt, 5);
    assert.equal(requestOf({}, ['a']), null);
});

test('the library view has every part even before any answer', () => {
    const empty = libraryView({ library: null });
    assert.deepEqual(empty.effects, []);
    assert.equal(empty.loaded, false);
    assert.deepEqual(empty.shared, { busy: false, progress: [], result: null });
    const full = libraryView({ library: { loaded: true, effects, shared: { busy: true, progress: [{ message: 'Aperçu 1/2' }] } } });
    assert.equal(full.shared.busy, true);
    assert.equal(full.loaded, true);
    assert.equal(full.shared.progress.length, 1);
});

test('every target track the panel sends passes the engine\'s rule unchanged', async () => {
    const { targetTrack } = await import('../src/bridge/payloads.js');
    for (const [choice, n] of [['auto', ''], ['new', ''], ['track', '1'], ['track', '12'], ['track', 7]]) {
        const value = targetTrackValue(choice, n);
        assert.equal(targetTrack(value), value, `${choice} ${n}`);
    }
});
