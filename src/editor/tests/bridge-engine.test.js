import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createEngineBridge, CALLBACK_ACTIONS, DEFAULT_TIMEOUTS } from '../src/bridge/engine.js';
import { fakeWindow, fakeStore, block } from './bridge-fakes.js';

function setup(storeOptions = {}, winOptions = {}) {
    const win = fakeWindow(winOptions);
    const store = fakeStore(storeOptions);
    const bridge = createEngineBridge({ win, store, now: () => 1000 });
    return { win, store, bridge, engine: () => store.engine() };
}

test('every engine callback is installed and becomes its engine action', () => {
    const { win, store, bridge } = setup();
    for (const [name, type] of Object.entries(CALLBACK_ACTIONS)) {
        assert.equal(typeof win[name], 'function', name);
        const before = store.actions.length;
        win[name]({ success: true });
        assert.ok(store.actions.slice(before).some((a) => a.type === type), `${name} → ${type}`);
    }
    bridge.dispose();
    for (const name of Object.keys(CALLBACK_ACTIONS)) assert.equal(win[name], undefined, name);
});

test('without the native channel a request fails at once, in French', () => {
    const { win, store, bridge, engine } = setup({ blocks: [block('a', 0, 2)] }, { channel: false });
    assert.equal(bridge.exportToResolve('exact', 'all'), false);
    assert.equal(engine().requests.export.status, 'failed');
    assert.match(engine().notice.title, /^Canal natif indisponible/);
    assert.equal(bridge.send('openExternal', { url: 'x' }), false);
    assert.equal(win.pendingTimers(), 0);
    assert.ok(store.of('engine/failed').length >= 1);
});

test('a message the channel refuses fails the request with the reason', () => {
    const { bridge, engine } = setup({}, { throws: true });
    bridge.library.load();
    assert.equal(engine().requests.libraryLoad.status, 'failed');
    assert.match(engine().notice.title, /fusionLibraryLoad.*refusé/);
});

test('requests post their message and wait; no answer in time becomes "pas de réponse"', () => {
    const cases = [
        { call: (b) => b.requestStill(), type: 'exportResolveStillPreview', op: 'still' },
        { call: (b) => b.library.load(), type: 'fusionLibraryLoad', op: 'libraryLoad' },
        { call: (b) => b.library.capture({ name: 'X' }), type: 'fusionCaptureCurrent', op: 'libraryCapture' },
        { call: (b) => b.library.refreshPreview('captured-1'), type: 'fusionRefreshPreview', op: 'libraryPreview' },
        { call: (b) => b.library.refreshPreview('shared-1'), type: 'fusionRefreshPreview', op: 'sharedLibrary' },
        { call: (b) => b.library.update('e', { name: 'N' }), type: 'fusionUpdateEffect', op: 'libraryUpdate' },
        { call: (b) => b.library.archive('e'), type: 'fusionDeleteEffect', op: 'libraryArchive' },
        { call: (b) => b.library.insert('e', 'new'), type: 'fusionInsertEffect', op: 'libraryInsert' },
        { call: (b) => b.library.applyToSelected('e'), type: 'fusionApplyToSelectedTitle', op: 'libraryApply' },
        { call: (b) => b.library.sharedCreate(), type: 'fusionSharedLibraryCreate', op: 'sharedLibrary' },
        { call: (b) => b.library.sharedScan(), type: 'fusionSharedLibraryScan', op: 'sharedLibrary' },
        { call: (b) => b.library.templateStatus(), type: 'fusionNativeTemplateStatus', op: 'templateStatus' },
        { call: (b) => b.library.templateRegister(), type: 'fusionNativeTemplateRegister', op: 'templateRegister' },
        { call: (b) => b.palette.show(), type: 'fusionFloatingPaletteShow', op: 'palette' },
        { call: (b) => b.palette.setEnabled(false), type: 'fusionFloatingPaletteSetEnabled', op: 'palette', payload: { enabled: false } },
        { call: (b) => b.watchPlayhead(true), type: 'fusionTimelineWatchStart', op: 'watch' },
        { call: (b) => b.timeline.load(), type: 'fusionTimelineLoad', op: 'timelineLoad' },
        { call: (b) => b.live.upsert({ id: 'e' }), type: 'fusionLiveUpsert', op: 'live' },
        { call: (b) => b.importResolveSubtitles(), type: 'importResolveSubtitles', op: 'import' },
        { call: (b) => b.exportToResolve('lottie', 'all'), type: 'exportResolveLottie', op: 'export' },
    ];
    for (const c of cases) {
        const { win, bridge, engine } = setup({ blocks: [block('a', 0, 2)] });
        assert.equal(c.call(bridge), true, c.type);
        assert.equal(win.posted.at(-1).type, c.type);
        if (c.payload) assert.deepEqual(win.posted.at(-1).payload, c.payload);
        assert.equal(engine().requests[c.op].status, 'pending', c.type);
        const limit = c.op === 'export' ? DEFAULT_TIMEOUTS.exportDirect : DEFAULT_TIMEOUTS[c.op];
        win.advance(limit * 1000 - 1);
        assert.equal(engine().requests[c.op].status, 'pending', `${c.type} still waiting`);
        win.advance(1);
        assert.equal(engine().requests[c.op].status, 'failed', `${c.type} given up`);
        assert.match(engine().notice.title, /pas de réponse/, c.type);
        bridge.dispose();
    }
});

test('an answer stops the clock: no late "pas de réponse"', () => {
    const { win, bridge, engine } = setup();
    bridge.library.load();
    win.onFusionLibraryLoaded({ success: true, effects: [{ id: 'a', name: 'A' }], renderEffects: [] });
    assert.equal(win.pendingTimers(), 0);
    win.advance(10 * 60 * 1000);
    assert.equal(engine().requests.libraryLoad.status, 'done');
    assert.deepEqual(engine().library.effects.map((e) => e.id), ['a']);
});

test('timeline facts at start set the rate of an empty project only', () => {
    const cases = [
        { name: 'empty, Resolve answers', blocks: [], answer: { success: true, timelineName: 'Montage', timelineId: 'tl1', fps: 23.976, subtitles: [{ id: 's', text: 'x', start: 0, duration: 1 }] }, fps: 23.976 },
        { name: 'empty, Resolve refuses', blocks: [], fps0: 30, answer: { success: false, message: 'Aucune timeline active dans DaVinci Resolve.' }, fps: 25 },
        { name: 'empty, bridge error', blocks: [], fps0: 30, error: { message: 'Délai dépassé' }, fps: 25 },
        { name: 'project with blocks', blocks: [block('a', 0, 1)], answer: { success: true, timelineName: 'M', timelineId: 't', fps: 50 }, fps: 25 },
    ];
    for (const c of cases) {
        const { win, store, bridge, engine } = setup({ blocks: c.blocks, fps: c.fps0 ?? 25 });
        bridge.askTimelineFacts();
        assert.deepEqual(win.posted[0], { type: 'importResolveSubtitles', payload: {} }, c.name);
        if (c.answer) win.onResolveSubtitlesImported(c.answer);
        else win.onResolveBridgeError(c.error);
        assert.equal(store.getState().project.fps, c.fps, c.name);
        assert.equal(store.of('blocks/import').length, 0, `${c.name}: nothing imported`);
        if (c.answer && c.answer.success) {
            assert.deepEqual(
                [engine().resolve.timelineName, engine().resolve.timelineId, engine().resolve.fps],
                [c.answer.timelineName, c.answer.timelineId, c.answer.fps], c.name,
            );
        }
        // The facts are asked quietly: a refusal is no error notice.
        assert.equal(engine().notice, null, c.name);
    }
    // No answer at all: 25 fps, quietly.
    const { win, store, bridge, engine } = setup({ fps: 30 });
    bridge.askTimelineFacts();
    win.advance(DEFAULT_TIMEOUTS.timelineFacts * 1000);
    assert.equal(store.getState().project.fps, 25);
    assert.equal(engine().notice, null);
});

test('answers to a facts request and an import are told apart by their order', () => {
    const { win, store, bridge } = setup();
    bridge.askTimelineFacts();
    bridge.importResolveSubtitles();
    win.onResolveSubtitlesImported({ success: true, timelineName: 'M', timelineId: 't', fps: 24, subtitles: [] });
    assert.equal(store.of('blocks/import').length, 0);
    win.onResolveSubtitlesImported({
        success: true, timelineName: 'M', timelineId: 't', fps: 24, subtitleTracks: [1, 3],
        subtitles: [
            { id: 'resolve_st1_001', text: 'Un', start: 0, duration: 1, subtitleTrack: 1 },
            { id: 'resolve_st3_001', text: 'Deux', start: 0.5, duration: 1, subtitleTrack: 3 },
        ],
    });
    const [imported] = store.of('blocks/import');
    assert.equal(imported.replace, true);
    assert.equal(imported.fps, 24);
    assert.equal(imported.timelineId, 't');
    assert.deepEqual(imported.blocks.map((b) => [b.text, b.trackId, b.source.id]), [['Un', 0, 'resolve_st1_001'], ['Deux', 1, 'resolve_st3_001']]);
    assert.equal(store.engine().requests.import.status, 'done');
    assert.match(store.engine().notice.title, /2 sous-titres importés/);
});

test('adding to a project from a timeline asks Resolve to check it is the same timeline', () => {
    const { win, store, bridge } = setup({ blocks: [block('a', 0, 1)] });
    store.getState().project.resolveTimelineId = 'tl-7';
    bridge.importResolveSubtitles({ replace: false, trackIndices: [1] });
    assert.deepEqual(win.posted[0].payload, { trackIndices: [1], timelineId: 'tl-7' });
    win.onResolveSubtitlesImported({ success: false, message: 'La timeline a changé. Relance l’import depuis le montage actuel.' });
    assert.equal(store.of('blocks/import').length, 0);
    assert.match(store.engine().notice.title, /La timeline a changé/);
    assert.equal(store.engine().notice.tone, 'error');
});

test('sends and renders: one at a time, empty ranges refused, the route remembered', () => {
    const { win, bridge, engine } = setup({ blocks: [block('a', 0, 2)], selection: [] });
    assert.equal(bridge.exportToResolve('smart', 'selection'), false);
    assert.match(engine().notice.title, /Aucun bloc/);
    assert.equal(win.posted.length, 0);
    assert.equal(bridge.startRender({ format: 'mov' }), true);
    assert.equal(bridge.exportToResolve('exact', 'all'), false);
    assert.match(engine().notice.title, /déjà en cours/);
    win.onRenderComplete();
    assert.equal(engine().requests.render.status, 'done');
    assert.equal(bridge.exportToResolve('fusion', 'all'), true);
    win.onResolveExportComplete({ success: true, message: 'Blocs Fusion natifs ajoutés dans DaVinci.', clipCount: 1, fusionClipCount: 1, videoTrack: 3 });
    assert.equal(engine().lastExport.route, 'fusion');
    assert.equal(engine().lastExport.tone, 'ok');
    assert.ok(engine().lastExport.lines.some((l) => /1 titre Fusion/.test(l)));
});

test('a cancelled Exact Web render ends the send, a cancelled movie render ends the render', () => {
    const a = setup({ blocks: [block('a', 0, 2)] });
    a.bridge.exportToResolve('exact', 'all');
    a.win.onRenderCancelled();
    assert.equal(a.engine().requests.export.status, 'failed');
    assert.match(a.engine().notice.title, /interrompu/);
    assert.equal(a.win.pendingTimers(), 0);
    assert.equal(a.engine().requests.render, undefined, 'no movie render was asked');

    const b = setup({ blocks: [block('a', 0, 2)] });
    b.bridge.startRender({});
    b.win.onRenderCancelled();
    assert.equal(b.engine().requests.render.status, 'failed');
    assert.equal(b.engine().requests.export, undefined);
});

test('the still of the viewer echoes its request id and becomes the preview background', () => {
    const { win, store, bridge, engine } = setup();
    bridge.requestStill();
    const { requestId } = win.posted[0].payload;
    assert.ok(requestId);
    assert.equal(engine().requests.still.requestId, requestId);
    // A second request while one runs is not sent: the engine would drop it.
    assert.equal(bridge.requestStill(), false);
    assert.equal(win.posted.length, 1);
    win.onResolvePreviewCaptured({ success: true, image: 'data:image/jpeg;base64,AAA', requestId });
    assert.equal(store.getState().ui.preview.stillDataUrl, 'data:image/jpeg;base64,AAA');
    assert.equal(store.getState().ui.preview.background, 'still');
    bridge.requestStill();
    win.onResolvePreviewCaptured({ success: false, stale: true, requestId: '' });
    assert.equal(engine().requests.still.status, 'failed');
    assert.match(engine().notice.title, /bibliothèque partagée/);
});

test('following Resolve moves the playhead to the watched time', () => {
    const { win, store, bridge, engine } = setup();
    bridge.watchPlayhead(true);
    assert.equal(store.getState().ui.followResolve, true);
    win.onFusionPlayheadChanged({ success: true, timelineName: 'M', timelineId: 't', fps: 25, startFrame: 90000, endFrame: 91500, currentFrame: 90050, currentTimecode: '01:00:02:00' });
    assert.equal(engine().requests.watch.status, 'done');
    assert.equal(store.getState().ui.playhead, 2);
    bridge.watchPlayhead(false);
    assert.equal(win.posted.at(-1).type, 'fusionTimelineWatchStop');
    win.onFusionPlayheadChanged({ success: true, fps: 25, startFrame: 0, currentFrame: 100 });
    assert.equal(store.getState().ui.playhead, 2, 'not followed any more');
    assert.equal(engine().resolve.playhead.time, 4);
    win.onFusionPlayheadChanged({ success: false, needsTimeline: true, projectName: 'P' });
    assert.equal(engine().resolve.playhead.available, false);
    // A watch that cannot start says so through the same callback.
    bridge.watchPlayhead(true);
    win.onFusionPlayheadChanged({ success: false, error: 'python3 introuvable' });
    assert.equal(engine().requests.watch.status, 'failed');
    assert.match(engine().notice.title, /python3 introuvable/);
});

test('insertion and application share a callback and are told apart', () => {
    const cases = [
        { name: 'insert echoes its id', start: ['insert', 'apply'], answer: (ids) => ({ success: true, requestId: ids.insert, trackIndex: 2 }), op: 'libraryInsert' },
        { name: 'apply names its operation', start: ['insert', 'apply'], answer: () => ({ success: true, operation: 'applySelectedTitle' }), op: 'libraryApply' },
        { name: 'only apply pending', start: ['apply'], answer: () => ({ success: false, error: 'Sélectionne exactement un titre' }), op: 'libraryApply' },
        { name: 'only insert pending, no id in the answer', start: ['insert'], answer: () => ({ success: true }), op: 'libraryInsert' },
    ];
    for (const c of cases) {
        const { win, bridge, engine } = setup({ blocks: [block('a', 0, 2)], selection: ['a'] });
        const ids = {};
        for (const what of c.start) {
            if (what === 'insert') {
                bridge.library.insert('e', 2);
                ids.insert = win.posted.at(-1).payload.requestId;
                assert.equal(win.posted.at(-1).payload.targetTrack, 'track:2');
                assert.equal(win.posted.at(-1).payload.instance.text, 'Texte a');
            } else bridge.library.applyToSelected('e');
        }
        win.onFusionEffectInserted(c.answer(ids));
        assert.notEqual(engine().requests[c.op].status, 'pending', c.name);
        for (const other of ['libraryInsert', 'libraryApply']) {
            if (other !== c.op && engine().requests[other]) assert.equal(engine().requests[other].status, 'pending', c.name);
        }
    }
});

test('shared library progress keeps the operation alive and lists warnings', () => {
    const { win, bridge, engine } = setup();
    bridge.library.sharedScan();
    assert.equal(bridge.library.sharedCreate(), false, 'one at a time');
    for (let i = 1; i <= 3; i++) {
        win.advance((DEFAULT_TIMEOUTS.sharedLibrary - 1) * 1000);
        win.onFusionSharedLibraryProgress({ message: `Aperçu ${i}/3 · calcul dans Resolve…` });
    }
    win.onFusionSharedLibraryProgress({ message: 'Un aperçu n’a pas pu être calculé.', warning: true });
    assert.equal(engine().requests.sharedLibrary.status, 'pending');
    assert.equal(engine().library.shared.progress.length, 4);
    win.onFusionSharedLibraryResult({ success: true, message: 'Chutier synchronisé.' });
    assert.equal(engine().library.shared.busy, false);
    assert.equal(engine().notice.tone, 'warning');
    assert.deepEqual(engine().notice.lines, ['Un aperçu n’a pas pu être calculé.']);
});

test('a send that renders waits in proportion to its frames', () => {
    const { win, bridge, engine } = setup({ blocks: [block('a', 0, 8)] });
    bridge.exportToResolve('smart', 'all');
    // 8 s at 25 fps = 200 frames: 40 s on top of the base.
    win.advance((DEFAULT_TIMEOUTS.export + 39) * 1000);
    assert.equal(engine().requests.export.status, 'pending');
    win.advance(1000);
    assert.equal(engine().requests.export.status, 'failed');
});

test('asking twice while waiting posts once: facts, watch, still', () => {
    const { win, bridge, engine } = setup();
    bridge.askTimelineFacts();
    bridge.askTimelineFacts();
    assert.equal(win.posted.filter((m) => m.type === 'importResolveSubtitles').length, 1);
    // A running watch prints nothing new on a second start: it is not awaited.
    bridge.watchPlayhead(true);
    win.onFusionPlayheadChanged({ success: true, fps: 25, startFrame: 0, currentFrame: 0 });
    bridge.watchPlayhead(true);
    win.advance(DEFAULT_TIMEOUTS.watch * 1000);
    assert.equal(engine().requests.watch.status, 'done');
    assert.equal(win.posted.filter((m) => m.type === 'fusionTimelineWatchStart').length, 2);
    // A watch that never answered is awaited again next time.
    bridge.watchPlayhead(false);
    bridge.watchPlayhead(true);
    win.advance(DEFAULT_TIMEOUTS.watch * 1000);
    assert.equal(engine().requests.watch.status, 'failed');
    bridge.watchPlayhead(true);
    assert.equal(engine().requests.watch.status, 'pending');
});
