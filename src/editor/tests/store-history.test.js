import { test } from 'node:test';
import assert from 'node:assert/strict';
import { byId, storeWith } from './store-helpers.js';
import { newProject } from '../src/state/model.js';
import { changeWeight, createHistory } from '../src/state/history.js';
import { createStore } from '../src/state/store.js';

const DATA = 'data:audio/wav;base64,UklGRg==';

// Every action that changes the project: one undo brings the project (the
// same object) and the selection back, one redo brings the change back.
test('every project action undoes and redoes as one step', () => {
    const cases = [
        ['project/new', { type: 'project/new', fps: 30 }],
        ['project/load', { type: 'project/load', project: { ...newProject(), name: 'Chargé', blocks: [{ text: 'a', startTime: 0, duration: 1 }] } }],
        ['project/setFps', { type: 'project/setFps', fps: 24 }],
        ['project/rename', { type: 'project/rename', name: 'Nouveau nom' }],
        ['blocks/add', { type: 'blocks/add' }],
        ['blocks/import', { type: 'blocks/import', blocks: [{ text: 'i', startTime: 9, duration: 1 }], replace: false }],
        ['blocks/setText', { type: 'blocks/setText', id: 'b1', text: 'autre' }],
        ['blocks/move', { type: 'blocks/move', ids: ['b1'], delta: 1 }],
        ['blocks/trim', { type: 'blocks/trim', id: 'b1', edge: 'end', time: 4 }],
        ['blocks/split', { type: 'blocks/split', time: 1.4 }],
        ['blocks/merge', { type: 'blocks/merge', ids: ['b1', 'b2'] }],
        ['blocks/delete', { type: 'blocks/delete', ids: ['b1'] }],
        ['tracks/add', { type: 'tracks/add' }],
        ['style/apply', { type: 'style/apply', scope: 'selection', patch: { color: '#ff0000' } }],
        ['presets/apply', { type: 'presets/apply', name: 'Néon', scope: 'all' }],
        ['sfx/add', { type: 'sfx/add', name: 'pop', dataUrl: DATA, time: 1, volume: 0.5 }],
        ['sfx/update', { type: 'sfx/update', id: 's1', patch: { volume: 0.2 } }],
        ['sfx/delete', { type: 'sfx/delete', id: 's1' }],
    ];
    for (const [name, action] of cases) {
        const { store } = storeWith([[1, 1, 0, 'un'], [3, 1, 0, 'deux']]);
        store.dispatch({ type: 'sfx/add', name: 'clic', dataUrl: DATA, time: 0, volume: 1 });
        store.dispatch({ type: 'selection/set', ids: ['b1'] });
        const before = store.getState();
        store.dispatch(action);
        const after = store.getState();
        assert.notEqual(after.project, before.project, `${name} changes the project`);
        assert.equal(after.history.canUndo, true);
        store.undo();
        assert.equal(store.getState().project, before.project, `${name}: undo restores the project`);
        assert.deepEqual(store.getState().ui.selection, ['b1'], `${name}: undo restores the selection`);
        assert.equal(store.getState().history.canRedo, true);
        store.redo();
        assert.equal(store.getState().project, after.project, `${name}: redo restores the change`);
        assert.deepEqual(store.getState().ui.selection, after.ui.selection, `${name}: redo restores its selection`);
    }
});

test('actions that change nothing record no undo step and notify nobody', () => {
    const noops = [
        { type: 'blocks/move', ids: ['b1'], delta: 0.001 },
        { type: 'blocks/move', ids: ['nope'], delta: 1 },
        { type: 'blocks/trim', id: 'b1', edge: 'end', time: 2 },
        { type: 'blocks/setText', id: 'b1', text: 'un' },
        { type: 'blocks/delete', ids: [] },
        { type: 'blocks/split', time: 10 },
        { type: 'style/apply', scope: 'all', patch: { color: 'rouge', size: NaN } },
        { type: 'style/apply', scope: 'all', patch: { size: 7 } },
        { type: 'style/apply', scope: 'selection', patch: { size: 9 } },
        { type: 'project/setFps', fps: 25 },
        { type: 'sfx/delete', id: 'nope' },
        { type: 'unknown/action' },
    ];
    for (const action of noops) {
        const { store } = storeWith([[1, 1, 0, 'un']]);
        let calls = 0;
        store.subscribe(() => calls++);
        store.dispatch(action);
        assert.equal(store.getState().history.canUndo, false, JSON.stringify(action));
        assert.equal(calls, 0, `${JSON.stringify(action)} notifies`);
    }
});

test('a gesture is one undo step; a new key or another action starts a new one', () => {
    const { store } = storeWith([[1, 1]]);
    const move = (gesture) => store.dispatch({ type: 'blocks/move', ids: ['b1'], delta: 0.4, gesture });
    move('g1');
    move('g1');
    move('g1');
    assert.equal(byId(store, 'b1').startTime, 2.2);
    move('g2');
    store.dispatch({ type: 'blocks/setText', id: 'b1', text: 'a', gesture: 'typing' });
    store.dispatch({ type: 'blocks/setText', id: 'b1', text: 'ab', gesture: 'typing' });
    move('g2'); // same key as before, but after another change: a new step
    const undone = [];
    while (store.getState().history.canUndo) {
        store.undo();
        undone.push([byId(store, 'b1').startTime, byId(store, 'b1').text]);
    }
    assert.deepEqual(undone, [[2.6, 'ab'], [2.6, 'x'], [2.2, 'x'], [1, 'x']]);
});

test('a gesture continued after undo starts from the restored blocks', () => {
    const { store } = storeWith([[1, 1]]);
    store.dispatch({ type: 'blocks/move', ids: ['b1'], delta: 1, gesture: 'g' });
    store.undo();
    store.dispatch({ type: 'blocks/move', ids: ['b1'], delta: 0.4, gesture: 'g' });
    assert.equal(byId(store, 'b1').startTime, 1.4);
    store.undo();
    assert.equal(byId(store, 'b1').startTime, 1);
});

test('a new change after undo drops the redo steps', () => {
    const { store } = storeWith([[1, 1]]);
    store.dispatch({ type: 'blocks/move', ids: ['b1'], delta: 1 });
    store.undo();
    store.dispatch({ type: 'blocks/setText', id: 'b1', text: 'z' });
    assert.equal(store.getState().history.canRedo, false);
    store.redo();
    assert.equal(byId(store, 'b1').startTime, 1);
});

test('undo restores the selection minus blocks that no longer exist', () => {
    const { store } = storeWith([[1, 1], [3, 1]]);
    store.dispatch({ type: 'selection/set', ids: ['b1', 'b2'] });
    store.dispatch({ type: 'blocks/delete', ids: ['b1', 'b2'] });
    assert.deepEqual(store.getState().ui.selection, []);
    store.undo();
    assert.deepEqual(store.getState().ui.selection, ['b1', 'b2']);
    store.dispatch({ type: 'selection/set', ids: ['b2'] });
    store.dispatch({ type: 'blocks/add' }); // selects the new block
    store.dispatch({ type: 'blocks/delete', ids: ['b1'] });
    store.undo();
    store.undo(); // back before the add: the new block's id must not stay selected
    assert.deepEqual(store.getState().ui.selection, ['b2']);
});

test('history keeps a bounded number of steps, the oldest dropped first', () => {
    const h = createHistory(3);
    for (let i = 0; i < 5; i++) h.record({ project: i, selection: [] }, null);
    const got = [];
    let snap;
    while ((snap = h.undo({ project: 'now', selection: [] }))) got.push(snap.project);
    assert.deepEqual(got, [4, 3, 2]);
});

test('history is also bounded by the block copies it keeps alive', () => {
    const blocks = Array.from({ length: 100 }, (_, i) => [i, 1]);
    const { store } = storeWith(blocks);
    // Each "apply to all" keeps 100 block copies apart; at most ~300 may be kept.
    const h = createHistory(200, 300);
    let state = store.getState();
    for (let i = 0; i < 10; i++) {
        store.dispatch({ type: 'style/apply', scope: 'all', patch: { size: 10 + i } });
        const next = store.getState();
        h.record({ project: state.project, selection: [] }, null, changeWeight(state.project, next.project));
        state = next;
    }
    assert.ok(h.weight() <= 300, `weight ${h.weight()}`);
    assert.equal(h.size(), 2);
    assert.equal(changeWeight(state.project, state.project), 1);
    const moved = store.getState().project;
    store.dispatch({ type: 'blocks/move', ids: ['b1'], delta: 0.4 });
    assert.equal(changeWeight(moved, store.getState().project), 1 + 3 + 1, 'one block copy and the list');
    // The store's own history holds the same bound.
    const bounded = storeWith(blocks).store;
    const many = createStoreWithWeight(bounded, 250);
    for (let i = 0; i < 10; i++) many.dispatch({ type: 'style/apply', scope: 'all', patch: { size: 10 + i } });
    let undos = 0;
    while (many.getState().history.canUndo) {
        many.undo();
        undos++;
    }
    assert.equal(undos, 2);
    assert.equal(many.getState().project.blocks[0].size, 17);
});

function createStoreWithWeight(store, historyWeight) {
    return createStore({ project: store.getState().project, historyWeight, timers: { setTimeout() {}, clearTimeout() {} } });
}

test('history/undo and history/redo actions drive the same history', () => {
    const { store } = storeWith([[1, 1]]);
    store.dispatch({ type: 'blocks/delete', ids: ['b1'] });
    store.dispatch({ type: 'history/undo' });
    assert.equal(store.getState().project.blocks.length, 1);
    store.dispatch({ type: 'history/redo' });
    assert.equal(store.getState().project.blocks.length, 0);
});

test('a bad project/load throws a French error and changes nothing', () => {
    const { store } = storeWith([[1, 1]]);
    const before = store.getState();
    assert.throws(() => store.dispatch({ type: 'project/load', project: { blocks: 'non' } }), /projet Tessivo/);
    assert.equal(store.getState(), before);
});
