import { test } from 'node:test';
import assert from 'node:assert/strict';
import { byId, spans, storeWith } from './store-helpers.js';
import { snapTime } from '../src/state/model.js';
import { initialState, update } from '../src/state/update.js';

test('moves snap to frames, stop at 0 as a group and stay on existing tracks', () => {
    const cases = [
        // name, blocks, ids, steps [[delta, trackDelta]], expected [id, start, track]
        ['snaps to the nearest frame', [[1, 1]], ['b1'], [[0.513, 0]], [['b1', 1.52, 0]]],
        ['never before 0', [[1, 1]], ['b1'], [[-5, 0]], [['b1', 0, 0]]],
        ['group stops as a whole at 0', [[1, 1], [3, 1]], ['b1', 'b2'], [[-2, 0]], [['b1', 0, 0], ['b2', 2, 0]]],
        ['track change', [[1, 1]], ['b1'], [[0, 1]], [['b1', 1, 1]]],
        ['no track above the last', [[1, 1, 1]], ['b1'], [[0, 3]], [['b1', 1, 1]]],
        ['no track below 0, group keeps its spread', [[1, 1, 0], [1, 1, 1]], ['b1', 'b2'], [[0, -1]], [['b1', 1, 0], ['b2', 1, 1]]],
        ['sub-frame steps add up within a gesture', [[1, 1]], ['b1'], Array(10).fill([0.01, 0]), [['b1', 1.12, 0]]],
        ['back from the wall keeps the spacing', [[1, 1], [3, 1]], ['b1', 'b2'], [[-3, 0], [1.5, 0]], [['b1', 0, 0], ['b2', 2, 0]]],
        ['drag beyond the last track and back', [[1, 1, 0]], ['b1'], [[0, 4], [0, -4]], [['b1', 1, 0]]],
        ['a NaN step does nothing', [[1, 1]], ['b1'], [[NaN, NaN]], [['b1', 1, 0]]],
    ];
    for (const [name, blocks, ids, steps, expected] of cases) {
        const { store } = storeWith(blocks, { tracks: 2 });
        for (const [delta, trackDelta] of steps) store.dispatch({ type: 'blocks/move', ids, delta, trackDelta, gesture: 'drag' });
        for (const [id, start, track] of expected) {
            assert.equal(byId(store, id).startTime, start, `${name}: start of ${id}`);
            assert.equal(byId(store, id).trackId, track, `${name}: track of ${id}`);
        }
    }
});

test('moves without a gesture are separate steps, each snapped', () => {
    const { store } = storeWith([[1, 1]]);
    for (let i = 0; i < 3; i++) store.dispatch({ type: 'blocks/move', ids: ['b1'], delta: 0.04 });
    assert.equal(byId(store, 'b1').startTime, 1.12);
    store.undo();
    assert.equal(byId(store, 'b1').startTime, 1.08);
});

test('moving one block of 2,000 copies only that block', () => {
    const blocks = Array.from({ length: 2000 }, (_, i) => [i, 0.8]);
    const { store } = storeWith(blocks);
    const before = store.getState().project.blocks;
    store.dispatch({ type: 'blocks/move', ids: ['b5'], delta: 0.2, gesture: 'g' });
    const after = store.getState().project.blocks;
    assert.notEqual(after, before);
    const changed = after.filter((b, i) => b !== before[i]).map((b) => b.id);
    assert.deepEqual(changed, ['b5']);
});

test('trim keeps one frame at least and never starts before 0', () => {
    const cases = [
        ['end later', 'end', 4.013, [1, 3]],
        ['end before start', 'end', 0.5, [1, 0.04]],
        ['end onto the start', 'end', 1, [1, 0.04]],
        ['start earlier', 'start', 0.6, [0.6, 1.4]],
        ['start before 0', 'start', -3, [0, 2]],
        ['start past the end', 'start', 9, [1.96, 0.04]],
        ['start snapped', 'start', 1.519, [1.52, 0.48]],
        ['NaN time', 'start', NaN, [1, 1]],
        ['unknown edge', 'middle', 1.5, [1, 1]],
    ];
    for (const [name, edge, time, [start, duration]] of cases) {
        const { store } = storeWith([[1, 1]]);
        store.dispatch({ type: 'blocks/trim', id: 'b1', edge, time });
        const b = byId(store, 'b1');
        assert.deepEqual([b.startTime, b.duration], [start, duration], name);
    }
});

test('split cuts the selected blocks under the time; the right parts become the selection', () => {
    const cases = [
        // name, blocks, selection, time, expected spans (id placeholders "L"/"R" checked by order)
        ['inside', [[1, 2]], ['b1'], 2, [[1, 1], [2, 1]]],
        ['snapped to a frame', [[1, 2]], ['b1'], 2.013, [[1, 1], [2, 1]]],
        ['on the start: nothing', [[1, 2]], ['b1'], 1, [[1, 2]]],
        ['on the end: nothing', [[1, 2]], ['b1'], 3, [[1, 2]]],
        ['less than a frame from the end: nothing', [[1, 2]], ['b1'], 2.99, [[1, 2]]],
        ['one frame from the start', [[1, 2]], ['b1'], 1.04, [[1, 0.04], [1.04, 1.96]]],
        ['unselected block untouched', [[1, 2], [1, 2, 1]], ['b2'], 2, [[1, 2], [1, 1], [2, 1]]],
        ['nothing selected: every block under the time', [[1, 2], [1.6, 2, 1], [5, 1]], [], 2, [[1, 1], [2, 1], [1.6, 0.4], [2, 1.6], [5, 1]]],
    ];
    for (const [name, blocks, selection, time, expected] of cases) {
        const { store } = storeWith(blocks, { tracks: 2 });
        store.dispatch({ type: 'selection/set', ids: selection });
        store.dispatch({ type: 'blocks/split', time });
        const got = store.getState().project.blocks.map((b) => [b.startTime, b.duration]);
        assert.deepEqual(got, expected, name);
    }
    const { store } = storeWith([[1, 2, 0, 'Bonjour']]);
    store.dispatch({ type: 'selection/set', ids: ['b1'] });
    store.dispatch({ type: 'playhead/set', time: 2.4 });
    store.dispatch({ type: 'blocks/split' });
    const [left, right] = store.getState().project.blocks;
    assert.equal(left.id, 'b1');
    assert.notEqual(right.id, 'b1');
    assert.equal(right.text, 'Bonjour');
    assert.equal(right.startTime, 2.4);
    assert.deepEqual(store.getState().ui.selection, [right.id]);
});

test('merge joins blocks of one track in time order', () => {
    const { store } = storeWith([[5, 1, 0, 'deux'], [1, 1, 0, 'un'], [8, 0.6, 0, 'trois'], [2, 1, 0, 'autre']]);
    store.dispatch({ type: 'blocks/merge', ids: ['b1', 'b2', 'b3'] });
    const blocks = store.getState().project.blocks;
    assert.deepEqual(blocks.map((b) => b.id), ['b2', 'b4']);
    assert.equal(blocks[0].text, 'un\ndeux\ntrois');
    assert.deepEqual([blocks[0].startTime, blocks[0].duration], [1, 7.6]);
    assert.deepEqual(store.getState().ui.selection, ['b2']);
});

test('merge edge cases change nothing in the project', () => {
    const cases = [
        ['one block', ['b1'], false],
        ['unknown ids', ['zz', 'yy'], false],
        ['different tracks', ['b1', 'b3'], true],
    ];
    for (const [name, ids, warns] of cases) {
        const { store } = storeWith([[1, 1], [3, 1], [1, 1, 1]], { tracks: 2 });
        const before = store.getState().project;
        store.dispatch({ type: 'blocks/merge', ids });
        assert.equal(store.getState().project, before, name);
        assert.equal(Boolean(store.getState().ui.notice), warns, `${name}: notice`);
    }
    // A block nested inside a longer one: the span ends at the longer end.
    const { store } = storeWith([[1, 5, 0, 'long'], [2, 1, 0, '']]);
    store.dispatch({ type: 'blocks/merge', ids: ['b1', 'b2'] });
    const [m] = store.getState().project.blocks;
    assert.deepEqual([m.text, m.startTime, m.duration], ['long', 1, 5]);
});

test('add places a typed block at the playhead on the selected block\'s track', () => {
    const { store } = storeWith([[0, 1, 1]], { tracks: 2 });
    store.dispatch({ type: 'selection/set', ids: ['b1'] });
    store.dispatch({ type: 'playhead/set', time: 3.013 });
    store.dispatch({ type: 'blocks/add' });
    const s = store.getState();
    const added = s.project.blocks[1];
    assert.deepEqual([added.startTime, added.duration, added.trackId], [3.0, 2, 1]);
    assert.deepEqual(s.ui.selection, [added.id]);
    assert.equal(added.source.kind, 'typed');
    store.dispatch({ type: 'blocks/add', partial: { color: 'pas une couleur', text: 'Salut' } });
    const typed = store.getState().project.blocks[2];
    assert.equal(typed.color, '#ffffff');
    assert.equal(typed.text, 'Salut');
    assert.equal(new Set(store.getState().project.blocks.map((b) => b.id)).size, 3);
});

test('import replaces or appends; appended blocks that would overlap go on new tracks', () => {
    const cues = [
        { text: 'Un', startTime: 0.6, duration: 1, source: { kind: 'srt' } },
        { text: 'Deux', startTime: 'abc', duration: 1 },
        { text: 'Trois', startTime: 3, duration: 1.013 },
    ];
    const cases = [
        ['replace', [[0.6, 1]], true, undefined, [['Un', 0.6, 0], ['Trois', 3, 0]], 1],
        ['append without overlap', [[10, 1]], false, undefined, [['x', 10, 0], ['Un', 0.6, 0], ['Trois', 3, 0]], 1],
        ['append with overlap', [[1, 1]], false, undefined, [['x', 1, 0], ['Un', 0.6, 1], ['Trois', 3, 1]], 2],
        ['replace at the timeline rate', [], true, 30, [['Un', 0.6, 0], ['Trois', 3, 0]], 1],
        ['append inside a long block', [[0, 10], [0.2, 0.2]], false, undefined, [['x', 0, 0], ['x', 0.2, 0], ['Un', 0.6, 1], ['Trois', 3, 1]], 2],
        ['append next to blocks, touching ends', [[0, 0.6], [1.6, 1.4]], false, undefined, [['x', 0, 0], ['x', 1.6, 0], ['Un', 0.6, 0], ['Trois', 3, 0]], 1],
    ];
    for (const [name, blocks, replace, fps, expected, trackCount] of cases) {
        const { store } = storeWith(blocks);
        store.dispatch({ type: 'blocks/import', blocks: cues, replace, fps, timelineId: 'tl-1' });
        const p = store.getState().project;
        assert.deepEqual(p.blocks.map((b) => [b.text, b.startTime, b.trackId]), expected, name);
        assert.equal(p.tracks.length, trackCount, `${name}: tracks`);
        assert.equal(p.resolveTimelineId, 'tl-1');
        assert.equal(new Set(p.blocks.map((b) => b.id)).size, p.blocks.length, `${name}: unique ids`);
        if (fps) assert.equal(p.fps, fps);
        const last = p.blocks[p.blocks.length - 1];
        assert.equal(last.duration, snapTime(1.013, p.fps), `${name}: snapped duration`);
    }
});

test('an import at another frame rate puts the blocks already there on its frames too', () => {
    const { store } = storeWith([[0.04, 0.12]]);
    store.dispatch({ type: 'blocks/import', blocks: [{ text: 'n', startTime: 5, duration: 1 }], replace: false, fps: 30 });
    const [old] = store.getState().project.blocks;
    assert.deepEqual([old.startTime, old.duration], [0.033333, 0.133333]);
});

test('delete removes blocks and drops them from the selection', () => {
    const { store } = storeWith([[0, 1], [1, 1], [2, 1]]);
    store.dispatch({ type: 'selection/set', ids: ['b1', 'b3'] });
    store.dispatch({ type: 'blocks/delete', ids: ['b1', 'b2'] });
    assert.deepEqual(spans(store).map((s) => s[0]), ['b3']);
    assert.deepEqual(store.getState().ui.selection, ['b3']);
});

test('changing the frame rate keeps every block on frames and at least one frame long', () => {
    const { store } = storeWith([[1.04, 0.04], [0.52, 1]]);
    store.dispatch({ type: 'project/setFps', fps: 10 });
    assert.deepEqual(spans(store).map(([, s, d]) => [s, d]), [[1, 0.1], [0.5, 1]]);
    const before = store.getState().project;
    store.dispatch({ type: 'project/setFps', fps: 'rapide' });
    assert.equal(store.getState().project, before);
});

test('selection actions', () => {
    const { store } = storeWith([[0, 1], [1, 1], [2, 1]]);
    const steps = [
        [{ type: 'selection/set', ids: ['b2', 'b2', 'nope'] }, ['b2']],
        [{ type: 'selection/toggle', id: 'b1' }, ['b2', 'b1']],
        [{ type: 'selection/toggle', id: 'b2' }, ['b1']],
        [{ type: 'selection/toggle', id: 'nope' }, ['b1']],
        [{ type: 'selection/all' }, ['b1', 'b2', 'b3']],
        [{ type: 'selection/clear' }, []],
    ];
    for (const [action, expected] of steps) {
        store.dispatch(action);
        assert.deepEqual(store.getState().ui.selection, expected, action.type);
    }
});

test('view and playhead actions keep their values in range', () => {
    const { store } = storeWith([]);
    const steps = [
        [{ type: 'playhead/set', time: -2 }, (s) => s.ui.playhead, 0],
        [{ type: 'playhead/set', time: 1.013 }, (s) => s.ui.playhead, 1.013],
        [{ type: 'playhead/step', frames: 1 }, (s) => s.ui.playhead, 1.04],
        [{ type: 'playhead/step', frames: -100 }, (s) => s.ui.playhead, 0],
        [{ type: 'view/zoom', zoom: 0 }, (s) => s.ui.zoom, 2],
        [{ type: 'view/zoom', zoom: NaN }, (s) => s.ui.zoom, 2],
        [{ type: 'view/scroll', scroll: -1 }, (s) => s.ui.scroll, 0],
        [{ type: 'preview/set', background: 'color', color: '#ABC' }, (s) => s.ui.preview.color, '#aabbcc'],
        [{ type: 'preview/set', background: 'plaid', color: 'red' }, (s) => s.ui.preview.background + s.ui.preview.color, 'color#aabbcc'],
        [{ type: 'follow/set', enabled: 1 }, (s) => s.ui.followResolve, true],
        [{ type: 'playback/set', playing: true }, (s) => s.ui.playing, true],
    ];
    for (const [action, read, expected] of steps) {
        store.dispatch(action);
        assert.equal(read(store.getState()), expected, JSON.stringify(action));
    }
    assert.equal(store.getState().history.canUndo, false, 'view actions are not undoable');
});

test('a new project takes the given rate, else the Resolve timeline\'s, else 25', () => {
    const withResolve = (fps) => {
        const s = initialState();
        return { ...s, ui: { ...s.ui, engine: { ...s.ui.engine, resolve: fps === undefined ? null : { fps } } } };
    };
    const cases = [
        [{ fps: 50 }, 30, 50],
        [{}, 30, 30],
        [{}, 'n/a', 25],
        [{}, undefined, 25],
        [{ fps: 0 }, undefined, 25],
    ];
    for (const [opts, resolveFps, expected] of cases) {
        const next = update(withResolve(resolveFps), { type: 'project/new', ...opts });
        assert.equal(next.project.fps, expected, JSON.stringify([opts, resolveFps]));
        assert.deepEqual([next.project.width, next.project.height, next.project.blocks], [1920, 1080, []]);
    }
});
