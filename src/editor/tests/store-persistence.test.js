import { test } from 'node:test';
import assert from 'node:assert/strict';
import { manualTimers, memoryStorage, storeWith } from './store-helpers.js';
import { createStore } from '../src/state/store.js';
import {
    PROJECT_KEY, SET_ASIDE_PREFIX, parseProjectFile, projectFileName, serializeProject,
} from '../src/state/persistence.js';
import { newProject } from '../src/state/model.js';

const asideKeys = (storage) => [...storage.map.keys()].filter((k) => k.startsWith(SET_ASIDE_PREFIX));

test('changes are saved once per pause, the latest version, and restored by the next page', () => {
    const { store, storage, timers } = storeWith([[1, 1]]);
    for (let i = 0; i < 5; i++) store.dispatch({ type: 'blocks/move', ids: ['b1'], delta: 0.04 * (i + 1), gesture: 'g' });
    assert.equal(storage.getItem(PROJECT_KEY), null, 'nothing written during the burst');
    assert.equal(timers.count, 1, 'one save pending for the whole burst');
    timers.runAll();
    assert.equal(storage.getItem(PROJECT_KEY), null, 'a drag going on puts the write off');
    timers.runAll();
    const saved = JSON.parse(storage.getItem(PROJECT_KEY));
    assert.deepEqual(saved, store.getState().project);

    store.dispatch({ type: 'selection/all' });
    assert.equal(timers.count, 0, 'selection is not saved');

    const next = createStore({ storage, timers: manualTimers() });
    assert.deepEqual(next.getState().project, store.getState().project);
    assert.equal(next.getState().ui.restored, true);
    assert.equal(next.getState().history.canUndo, false);
    next.dispatch({ type: 'blocks/add' });
    const ids = next.getState().project.blocks.map((b) => b.id);
    assert.equal(new Set(ids).size, ids.length, 'new ids do not collide with restored ones');
});

test('a drag that never pauses is still saved after a bounded wait', () => {
    const { store, storage, timers } = storeWith([[1, 1]]);
    let ticks = 0;
    while (storage.getItem(PROJECT_KEY) === null && ticks < 20) {
        store.dispatch({ type: 'blocks/move', ids: ['b1'], delta: 0.04, gesture: 'g' });
        timers.runAll();
        ticks++;
    }
    assert.equal(ticks, 7);
});

test('leaving the page writes the pending save at once', () => {
    const handlers = {};
    const win = {
        addEventListener: (type, fn) => (handlers[type] = fn),
        removeEventListener: (type) => delete handlers[type],
    };
    const storage = memoryStorage();
    const store = createStore({ storage, win, timers: manualTimers(), project: newProject() });
    store.dispatch({ type: 'blocks/add' });
    assert.equal(storage.getItem(PROJECT_KEY), null);
    handlers.pagehide();
    assert.equal(JSON.parse(storage.getItem(PROJECT_KEY)).blocks.length, 1);
    store.dispose();
    assert.equal(handlers.pagehide, undefined);

    // Without a window named, the page's own window is used.
    const saved = [globalThis.addEventListener, globalThis.removeEventListener];
    globalThis.addEventListener = win.addEventListener;
    globalThis.removeEventListener = win.removeEventListener;
    try {
        const own = createStore({ storage: memoryStorage(), timers: manualTimers(), project: newProject() });
        assert.equal(typeof handlers.pagehide, 'function');
        own.dispose();
    } finally {
        [globalThis.addEventListener, globalThis.removeEventListener] = saved;
    }
});

test('a full storage is reported in French, never thrown, and retried', () => {
    const { store, storage, timers } = storeWith([[1, 1]]);
    storage.failWrites = true;
    assert.doesNotThrow(() => {
        store.dispatch({ type: 'blocks/setText', id: 'b1', text: 'long' });
        timers.runAll();
    });
    const notice = store.getState().ui.notice;
    assert.equal(notice.tone, 'error');
    assert.match(notice.text, /n'a pas pu être enregistré/);
    assert.equal(store.getState().project.blocks[0].text, 'long', 'the edit itself stands');

    storage.failWrites = false;
    store.flush();
    assert.equal(JSON.parse(storage.getItem(PROJECT_KEY)).blocks[0].text, 'long', 'retried at the next flush');
    assert.equal(store.getState().ui.notice, null, 'the notice goes once saving works again');
});

test('a stored project that does not read is set aside, never lost', () => {
    const cases = [
        ['not JSON', '{"blocks": [', /contenu illisible/],
        ['not a project', JSON.stringify({ blocks: 3 }), /liste des blocs/],
        ['a broken block', JSON.stringify({ ...newProject(), blocks: [{ text: 'a', startTime: -1, duration: 1 }] }), /Bloc n° 1/],
    ];
    for (const [name, text, reason] of cases) {
        const storage = memoryStorage({ [PROJECT_KEY]: text });
        const timers = manualTimers();
        const store = createStore({ storage, timers, now: () => Date.UTC(2026, 0, 2, 3, 4, 5) });
        const [aside] = asideKeys(storage);
        assert.equal(aside, `${SET_ASIDE_PREFIX}2026-01-02T03:04:05.000Z`, name);
        assert.equal(storage.getItem(aside), text, `${name}: original kept`);
        assert.equal(store.getState().project.blocks.length, 0, `${name}: a new project opens`);
        assert.equal(store.getState().ui.restored, false);
        assert.match(store.getState().ui.notice.text, reason, name);
        store.dispatch({ type: 'blocks/add' });
        timers.runAll();
        assert.equal(storage.getItem(aside), text, `${name}: still kept after a save`);
        assert.equal(JSON.parse(storage.getItem(PROJECT_KEY)).blocks.length, 1);
    }
});

test('when the unreadable project cannot be set aside, autosave leaves it alone', () => {
    const storage = memoryStorage({ [PROJECT_KEY]: 'garbage' });
    storage.failWrites = true;
    const timers = manualTimers();
    const store = createStore({ storage, timers });
    assert.equal(store.getState().ui.notice.tone, 'error');
    storage.failWrites = false;
    store.dispatch({ type: 'blocks/add' });
    timers.runAll();
    store.flush();
    assert.equal(storage.getItem(PROJECT_KEY), 'garbage');
});

test('a project file round trip keeps the project', () => {
    const { store } = storeWith([[1, 1, 0, 'Ligne 1\nLigne 2'], [2.4, 0.6, 1, 'é « » 😀']], { tracks: 2 });
    store.dispatch({ type: 'sfx/add', name: 'pop', dataUrl: 'data:audio/wav;base64,AAAA', time: 1.2, volume: 0.7 });
    store.dispatch({ type: 'selection/all' });
    store.dispatch({ type: 'presets/apply', name: 'Néon', scope: 'selection' });
    store.dispatch({ type: 'project/rename', name: 'Émission 12' });
    const project = store.getState().project;
    const text = serializeProject(project);
    assert.deepEqual(parseProjectFile(text), project);
    assert.deepEqual(parseProjectFile('\ufeff' + text), project, 'with a byte order mark');
    assert.equal(projectFileName({ name: 'a/b: c?' }), 'a b c.tessivo.json');
});

test('bad project files are refused with a French reason', () => {
    const base = newProject();
    const block = { text: 'a', startTime: 0, duration: 1 };
    const cases = [
        ['empty', '', /vide/],
        ['not JSON', '{', /pas du JSON valide/],
        ['an array', '[]', /ne contient pas de projet/],
        ['another format', JSON.stringify({ format: 'autre', blocks: [] }), /pas un projet Tessivo/],
        ['no blocks', JSON.stringify({ ...base, blocks: undefined }), /liste des blocs/],
        ['newer version', JSON.stringify({ ...base, version: 2 }), /version 2/],
        ['bad frame rate', JSON.stringify({ ...base, fps: 0 }), /Cadence/],
        ['bad width', JSON.stringify({ ...base, width: -5 }), /largeur/],
        ['block not an object', JSON.stringify({ ...base, blocks: [block, 7] }), /Bloc n° 2 illisible/],
        ['block without start', JSON.stringify({ ...base, blocks: [{ ...block, startTime: 'x' }] }), /début/],
        ['block of zero length', JSON.stringify({ ...base, blocks: [{ ...block, duration: 0 }] }), /durée/],
        ['block without text', JSON.stringify({ ...base, blocks: [{ ...block, text: null }] }), /texte/],
        ['block on track -1', JSON.stringify({ ...base, blocks: [{ ...block, trackId: -1 }] }), /piste/],
    ];
    for (const [name, text, message] of cases) {
        assert.throws(() => parseProjectFile(text), (e) => e instanceof Error && message.test(e.message), name);
    }
});

test('a project file with odd values opens with those values repaired', () => {
    const raw = {
        ...newProject(),
        tracks: [{ id: 0, name: 'Voix' }],
        blocks: [
            { id: 'b7', text: 'a', startTime: 0.013, duration: 1, color: 'javascript:alert(1)', size: NaN, trackId: 2 },
            { id: 'b7', text: 5, startTime: '1', duration: '0.001', glowType: 'halo', hasOutline: 'oui' },
            { text: 'c', startTime: 3, duration: 1, id: 'custom' },
        ],
        sfx: [{ name: 'x', dataUrl: 'http://ailleurs/son.wav', time: 0 }, { name: 'ok', dataUrl: 'data:audio/wav;base64,AA', time: -2, volume: 9 }],
    };
    const p = parseProjectFile(JSON.stringify(raw));
    const [a, b, c] = p.blocks;
    assert.deepEqual([a.startTime, a.color, a.size, a.trackId], [0, '#ffffff', 7, 2]);
    assert.deepEqual([b.text, b.startTime, b.duration, b.glowType, b.hasOutline], ['5', 1, 0.04, 'none', true]);
    assert.deepEqual(p.tracks.map((t) => t.name), ['Voix', 'Piste 2', 'Piste 3']);
    const ids = p.blocks.map((x) => x.id);
    assert.equal(ids[0], 'b7');
    assert.equal(new Set(ids).size, 3, 'duplicated and foreign ids renumbered');
    assert.ok(ids.every((id) => /^b\d+$/.test(id)), ids.join());
    assert.equal(c.id !== 'custom', true);
    assert.deepEqual(p.sfx.map((s) => [s.name, s.time, s.volume]), [['ok', 0, 1]]);
});
