import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
    exportPayload, startRenderPayload, rangeOf, sfxEvents, toSequence, targetTrack, insertEffectPayload,
    applyEffectPayload, fusionInstance,
} from '../src/bridge/payloads.js';
import { block } from './bridge-fakes.js';

const project = (extra = {}) => ({
    width: 1280, height: 720, fps: 30,
    blocks: [block('a', 0, 2), block('b', 3, 1.5, { trackId: 1, animIn: 'slam' }), block('c', 6, 2)],
    sfx: [
        { id: 's1', name: 'Boum', dataUrl: 'data:audio/wav;base64,AAAA', time: 1, volume: 0.5 },
        { id: 's2', name: '  ', dataUrl: 'data:audio/mpeg;base64,BBBB', time: 7, volume: 3 },
        { id: 's3', name: 'Sans données', dataUrl: 'vide', time: 2, volume: 1 },
    ],
    ...extra,
});

test('each route posts its message with the keys its native side reads', () => {
    const common = ['width', 'height', 'fps', 'start', 'end', 'sequences', 'sfxEvents'];
    const rendered = ['format', 'bg', 'encoding', 'renderer', 'splitBySubtitles'];
    const cases = [
        { route: 'exact', type: 'exportToResolve', keys: [...common, ...rendered] },
        { route: 'smart', type: 'exportResolveSmart', keys: [...common, ...rendered] },
        { route: 'lottie', type: 'exportResolveLottie', keys: common },
        { route: 'fusion', type: 'exportResolveHTML', keys: common },
    ];
    for (const c of cases) {
        const { type, payload } = exportPayload(project(), c.route, 'all');
        assert.equal(type, c.type, c.route);
        assert.deepEqual(Object.keys(payload).sort(), [...c.keys].sort(), c.route);
        assert.equal(payload.width, 1280);
        assert.equal(payload.height, 720);
        assert.equal(payload.fps, 30);
        for (const s of payload.sequences) assert.ok(['supported', 'unsupported'].includes(s.lottieCapability.status), c.route);
    }
    const exact = exportPayload(project(), 'exact').payload;
    assert.equal(exact.format, 'mov');
    assert.equal(exact.bg, 'transparent');
    assert.equal(exact.splitBySubtitles, true);
    assert.throws(() => exportPayload(project(), 'ftp'), /Route inconnue/);
});

test('a range picks its blocks and its span', () => {
    const cases = [
        { range: 'all', view: {}, ids: ['a', 'b', 'c'], start: 0, end: 8 },
        { range: 'selection', view: { selection: ['c', 'b'] }, ids: ['b', 'c'], start: 3, end: 8 },
        { range: 'selection', view: { selection: ['b'] }, ids: ['b'], start: 3, end: 4.5 },
        { range: 'selection', view: { selection: [] }, ids: [], start: 0, end: 0, empty: true },
        // Playhead to end: blocks still showing after the playhead, the one under it included.
        { range: 'playhead', view: { playhead: 4 }, ids: ['b', 'c'], start: 4, end: 8 },
        { range: 'playhead', view: { playhead: 4.5 }, ids: ['c'], start: 4.5, end: 8 },
        { range: 'playhead', view: { playhead: 9 }, ids: [], start: 9, end: 9, empty: true },
    ];
    for (const c of cases) {
        const span = rangeOf(project(), c.range, c.view);
        const label = `${c.range} ${JSON.stringify(c.view)}`;
        assert.deepEqual(span.blocks.map((b) => b.id), c.ids, label);
        assert.equal(span.start, c.start, label);
        assert.equal(span.end, c.end, label);
        assert.equal(span.empty, !!c.empty, label);
    }
    assert.equal(rangeOf({ blocks: [] }, 'all').empty, true);
});

test('sound effects in the range travel as events with data URL, name, volume and time', () => {
    assert.deepEqual(sfxEvents(project(), 0, 8), [
        { dataUrl: 'data:audio/wav;base64,AAAA', start: 1, name: 'Boum', volume: 0.5 },
        { dataUrl: 'data:audio/mpeg;base64,BBBB', start: 7, name: 'Tessivo SFX', volume: 1 },
    ]);
    // Range [3, 7): the effect at 7 belongs to the next range.
    assert.deepEqual(sfxEvents(project(), 3, 7), []);
    const selection = exportPayload(project(), 'lottie', 'selection', { selection: ['c'] }).payload;
    assert.deepEqual(selection.sfxEvents.map((e) => e.start), [7]);
});

test('render options become format, background, codec and range', () => {
    const cases = [
        { options: {}, format: 'mov', bg: 'transparent', codec: 'ProRes 4444' },
        { options: { format: 'mov', background: 'black' }, format: 'mov', bg: 'black', codec: 'H.264' },
        // An MP4 file cannot hold ProRes: it is H.264 over black.
        { options: { format: 'mp4', background: 'transparent' }, format: 'mp4', bg: 'black', codec: 'H.264' },
        { options: { format: 'avi' }, format: 'mov', bg: 'transparent', codec: 'ProRes 4444' },
    ];
    for (const c of cases) {
        const p = startRenderPayload(project(), c.options);
        assert.equal(p.format, c.format, JSON.stringify(c.options));
        assert.equal(p.bg, c.bg, JSON.stringify(c.options));
        assert.equal(p.codec, c.codec, JSON.stringify(c.options));
        assert.equal(p.renderer, 'web');
        assert.equal(p.encoding, 'quality');
        assert.ok(Number.isInteger(p.width) && Number.isInteger(p.height));
    }
    const p = startRenderPayload(project(), { range: 'playhead' }, { playhead: 2.5 });
    assert.deepEqual([p.start, p.end, p.sequences.length], [2.5, 8, 2]);
});

test('a sequence carries the caption fields, the id and the verdict, never unreadable numbers', () => {
    const s = toSequence(block('x', 1, 2, { size: NaN, source: { kind: 'srt' }, glowType: 'Neon' }));
    assert.equal(s.id, 'x');
    assert.equal('size' in s, false);
    assert.equal('source' in s, false);
    assert.equal(s.glowType, 'Neon');
    assert.equal(s.lottieCapability.status, 'unsupported');
    assert.doesNotThrow(() => JSON.stringify(s));
    const odd = project({ width: 1280.5, height: -1, fps: 0 });
    const { payload } = exportPayload(odd, 'fusion');
    assert.deepEqual([payload.width, payload.height, payload.fps], [1920, 1080, 25]);
});

test('effect requests: target track, instance from the block, own layout without one', () => {
    for (const [input, expected] of [
        ['auto', 'auto'], ['new', 'new'], [3, 'track:3'], ['track:2', 'track:2'], ['2', 'track:2'],
        [0, 'auto'], [-1, 'auto'], ['top', 'auto'], [1.5, 'auto'], [undefined, 'auto'],
    ]) assert.equal(targetTrack(input), expected, String(input));

    const b = block('a', 0, 2, { size: 10, x: 25, y: 80, color: '#ff0000', color2: '#00ff00', text: 'Salut' });
    assert.deepEqual(fusionInstance(b), { text: 'Salut', font: 'Inter', size: 0.1, color: '#ff0000', color2: '#00ff00', x: 0.25, y: 0.2, duration: 2 });

    const withBlock = insertEffectPayload('builtin-pop-clean', { track: 2, block: b, requestId: 'r1', timelineId: 'tl' });
    assert.deepEqual(
        { id: withBlock.id, requestId: withBlock.requestId, targetTrack: withBlock.targetTrack, preserveLayout: withBlock.preserveLayout, timelineId: withBlock.timelineId },
        { id: 'builtin-pop-clean', requestId: 'r1', targetTrack: 'track:2', preserveLayout: false, timelineId: 'tl' },
    );
    const effect = { id: 'e', name: 'Pop', duration: 3, textTargets: [{ text: 'POP', font: 'Anton', size: 0.13, color: '#8b5cf6', center: [0.4, 0.6] }] };
    const own = insertEffectPayload('e', { effect, requestId: 'r2' });
    assert.equal(own.preserveLayout, true);
    assert.deepEqual(own.instance, { text: 'POP', font: 'Anton', size: 0.13, color: '#8b5cf6', x: 0.4, y: 0.6, duration: 3 });
    assert.deepEqual(applyEffectPayload('e', b).instance.text, 'Salut');
});
