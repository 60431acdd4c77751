import { test } from 'node:test';
import assert from 'node:assert/strict';
import { storeWith } from './store-helpers.js';
import {
    blocksAt, blocksByTrack, blocksInRange, projectDuration, rangeBounds, selectedBlocks,
} from '../src/state/selectors.js';

const DATA = 'data:audio/wav;base64,AAAA';

test('blocks at a time: start included, end excluded, lowest track first', () => {
    const { store } = storeWith([[1, 1, 1, 'haut'], [0, 2, 0, 'bas'], [2, 1, 0, 'après']], { tracks: 2 });
    const { project } = store.getState();
    const cases = [
        [0.99, ['bas']],
        [1, ['bas', 'haut']],
        [1.96, ['bas', 'haut']],
        [2, ['après']],
        [3, []],
    ];
    for (const [time, texts] of cases) assert.deepEqual(blocksAt(project, time).map((b) => b.text), texts, `t=${time}`);
    // 0.04 + 0.2 is 0.24000000000000002 in floating point: the block still ends at 0.24.
    const short = storeWith([[0.04, 0.2, 0, 'court']]).store.getState().project;
    assert.deepEqual(blocksAt(short, 0.24), []);
    assert.equal(blocksAt(short, 0.04).length, 1);
    assert.deepEqual(blocksInRange(short, 'playhead', { playhead: 0.24, selection: [] }), []);
});

test('ranges of a send: all, selection, playhead to end', () => {
    const { store } = storeWith([[4, 1, 0, 'c'], [0, 1, 0, 'a'], [2, 1.6, 1, 'b']], { tracks: 2 });
    store.dispatch({ type: 'selection/set', ids: ['b1', 'b2'] });
    store.dispatch({ type: 'playhead/set', time: 3 });
    const { project, ui } = store.getState();
    const cases = [
        ['all', ['a', 'c', 'b'], { start: 0, end: 5 }],
        ['selection', ['a', 'c'], { start: 0, end: 5 }],
        ['playhead', ['c', 'b'], { start: 3, end: 5 }],
    ];
    for (const [range, texts, bounds] of cases) {
        assert.deepEqual(blocksInRange(project, range, ui).map((b) => b.text), texts, range);
        assert.deepEqual(rangeBounds(project, range, ui), bounds, range);
    }
    store.dispatch({ type: 'selection/clear' });
    assert.deepEqual(rangeBounds(project, 'selection', store.getState().ui), { start: 0, end: 0 });
});

test('project duration counts blocks and sounds', () => {
    const { store } = storeWith([[1, 2]]);
    assert.equal(projectDuration(store.getState().project), 3);
    store.dispatch({ type: 'sfx/add', name: 'boum', dataUrl: DATA, time: 7, volume: 1 });
    assert.equal(projectDuration(store.getState().project), 7);
});

test('list selectors return the same list until their inputs change', () => {
    const { store } = storeWith([[0, 1], [1, 1, 1]], { tracks: 2 });
    store.dispatch({ type: 'selection/set', ids: ['b2'] });
    const first = selectedBlocks(store.getState());
    store.dispatch({ type: 'playhead/set', time: 4 });
    assert.equal(selectedBlocks(store.getState()), first);
    store.dispatch({ type: 'style/apply', scope: 'selection', patch: { size: 9 } });
    const second = selectedBlocks(store.getState());
    assert.notEqual(second, first);
    assert.equal(second[0].size, 9);
    const tracks = blocksByTrack(store.getState().project);
    assert.deepEqual([...tracks.keys()], [0, 1]);
    assert.equal(blocksByTrack(store.getState().project), tracks);
});

test('sound actions keep valid values and refuse bad ones', () => {
    const { store } = storeWith([]);
    store.dispatch({ type: 'sfx/add', name: 'pop', dataUrl: DATA, time: 1.013, volume: 0.5 });
    store.dispatch({ type: 'sfx/add', name: 'web', dataUrl: 'https://exemple/son.wav', time: 0, volume: 1 });
    const sfx = () => store.getState().project.sfx;
    assert.deepEqual(sfx().map((s) => [s.id, s.time, s.volume]), [['s1', 1, 0.5]]);
    assert.match(store.getState().ui.notice.text, /son/);
    const steps = [
        [{ volume: 3 }, 1],
        [{ volume: NaN }, 1],
        [{ volume: 'fort' }, 1],
        [{ volume: 0.25 }, 0.25],
    ];
    for (const [patch, volume] of steps) {
        store.dispatch({ type: 'sfx/update', id: 's1', patch });
        assert.equal(sfx()[0].volume, volume, JSON.stringify(patch));
    }
    store.dispatch({ type: 'sfx/update', id: 's1', patch: { time: -4, name: '  clap ' } });
    assert.deepEqual([sfx()[0].time, sfx()[0].name], [0, 'clap']);
    store.dispatch({ type: 'sfx/update', id: 's1', patch: { time: 'plus tard', dataUrl: 'ailleurs' } });
    assert.deepEqual([sfx()[0].time, sfx()[0].dataUrl], [0, DATA]);
    store.dispatch({ type: 'sfx/add', name: 'pop2', dataUrl: DATA, time: 2, volume: 1 });
    store.dispatch({ type: 'sfx/delete', id: 's1' });
    store.dispatch({ type: 'sfx/add', name: 'pop3', dataUrl: DATA, time: 2, volume: 1 });
    assert.deepEqual(sfx().map((s) => s.id), ['s2', 's3']);
});
