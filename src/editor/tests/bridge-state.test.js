import { test } from 'node:test';
import assert from 'node:assert/strict';
import { engineUpdate, initialEngineState } from '../src/state/engine-state.js';

const run = (actions, start = initialEngineState()) => actions.reduce((s, a) => engineUpdate(s, { at: 5, ...a }), start);
const pending = (op, extra = {}) => ({ type: 'engine/pending', op, ...extra });

test('library answers keep the effect list in step', () => {
    const loaded = run([pending('libraryLoad'), { type: 'engine/libraryLoaded', payload: { success: true, effects: [{ id: 'a', name: 'A' }, { id: 'b', name: 'B' }], renderEffects: [{ id: 'a' }, { id: 'b' }, { id: 'h' }] } }]);
    const cases = [
        { name: 'capture adds', op: 'libraryCapture', action: { type: 'engine/effectCaptured', payload: { success: true, effect: { id: 'c', name: 'C' } } }, ids: ['a', 'b', 'c'], tone: 'ok' },
        { name: 'rename replaces', op: 'libraryUpdate', action: { type: 'engine/effectUpdated', payload: { success: true, effect: { id: 'b', name: 'Bis' } } }, ids: ['a', 'b'], names: ['A', 'Bis'], tone: 'ok' },
        { name: 'preview replaces', op: 'libraryPreview', action: { type: 'engine/effectPreviewed', payload: { success: true, effect: { id: 'a', name: 'A', previewFrames: ['data:'] } } }, ids: ['a', 'b'], tone: 'ok' },
        { name: 'archive removes', op: 'libraryArchive', action: { type: 'engine/effectDeleted', payload: { success: true, id: 'a' } }, ids: ['b'], tone: 'ok' },
        { name: 'a failure changes nothing', op: 'libraryArchive', action: { type: 'engine/effectDeleted', payload: { success: false, error: "Identifiant d'effet Fusion invalide." } }, ids: ['a', 'b'], tone: 'error', status: 'failed' },
    ];
    for (const c of cases) {
        const s = run([pending(c.op), c.action], loaded);
        assert.deepEqual(s.library.effects.map((e) => e.id), c.ids, c.name);
        if (c.names) assert.deepEqual(s.library.effects.map((e) => e.name), c.names, c.name);
        assert.equal(s.requests[c.op].status, c.status || 'done', c.name);
        assert.equal(s.notice.tone, c.tone, c.name);
    }
    assert.deepEqual(run([{ type: 'engine/effectDeleted', payload: { success: true, id: 'h' } }], loaded).library.renderEffects.map((e) => e.id), ['a', 'b']);
    const failed = run([pending('libraryLoad'), { type: 'engine/libraryLoaded', payload: { success: false, effects: [], error: 'Le dossier Application Support est introuvable.' } }]);
    assert.equal(failed.library.error, 'Le dossier Application Support est introuvable.');
    assert.match(failed.notice.title, /Application Support/);
});

test('template, palette, live and timeline answers', () => {
    const cases = [
        {
            name: 'status asked: no notice',
            actions: [pending('templateStatus'), { type: 'engine/templateStatus', payload: { success: false, source: {}, message: 'Choisis un vrai Text+ dans un chutier Resolve, puis mémorise-le ici.' } }],
            check: (s) => {
                assert.equal(s.requests.templateStatus.status, 'done');
                assert.equal(s.library.template.registered, false);
                assert.equal(s.notice, null);
            },
        },
        {
            name: 'registration half-way: a warning with the next step',
            actions: [pending('templateRegister'), { type: 'engine/templateStatus', payload: { success: false, notify: true, source: {}, message: 'Titre prêt. Dans Resolve, sélectionne Chutiers partagés > Tessivo' } }],
            check: (s) => {
                assert.equal(s.requests.templateRegister.status, 'failed');
                assert.equal(s.notice.tone, 'warning');
                assert.match(s.notice.title, /Chutiers partagés/);
            },
        },
        {
            name: 'registration done',
            actions: [pending('templateRegister'), { type: 'engine/templateStatus', payload: { success: true, notify: true, source: { name: 'Text+' }, message: '« Text+ » est enregistré' } }],
            check: (s) => {
                assert.equal(s.library.template.registered, true);
                assert.equal(s.library.template.source.name, 'Text+');
                assert.equal(s.notice.tone, 'ok');
            },
        },
        {
            name: 'palette switched off',
            actions: [pending('palette'), { type: 'engine/paletteState', payload: { success: true, enabled: false, visible: false } }],
            check: (s) => {
                assert.deepEqual(s.library.palette, { enabled: false, visible: false, automaticShowing: true, message: '' });
                assert.equal(s.requests.palette.status, 'done');
            },
        },
        {
            name: 'palette on a desktop that does not say which application is in front',
            actions: [pending('palette'), { type: 'engine/paletteState', payload: { success: true, enabled: true, visible: true, automaticShowing: false, message: 'Ouverture depuis l’éditeur seulement.' } }],
            check: (s) => {
                assert.equal(s.library.palette.automaticShowing, false);
                assert.equal(s.library.palette.message, 'Ouverture depuis l’éditeur seulement.');
            },
        },
        {
            name: 'insert with warnings',
            actions: [pending('libraryApply'), { type: 'engine/effectInserted', op: 'libraryApply', payload: { success: true, message: 'Effet appliqué.', warnings: ['Le réglage Font n’a pas pu être appliqué automatiquement.'] } }],
            check: (s) => {
                assert.equal(s.notice.tone, 'warning');
                assert.deepEqual(s.notice.lines, ['Le réglage Font n’a pas pu être appliqué automatiquement.']);
                assert.equal(s.library.lastApply.success, true);
                assert.equal(s.library.lastInsert, null);
            },
        },
        {
            name: 'the viewer had no frame',
            actions: [pending('still'), { type: 'engine/previewCaptured', payload: { success: true, emptyFrame: true } }],
            check: (s) => {
                assert.equal(s.requests.still.status, 'done');
                assert.equal(s.resolve.still, null);
                assert.equal(s.notice.tone, 'warning');
            },
        },
    ];
    for (const c of cases) c.check(run(c.actions));
});

test('time limits, failures and notices', () => {
    const answered = run([pending('libraryLoad'), { type: 'engine/libraryLoaded', payload: { success: true, effects: [] } }, { type: 'engine/timeout', op: 'libraryLoad', seconds: 60 }]);
    assert.equal(answered.requests.libraryLoad.status, 'done', 'a late timer does not undo an answer');
    const late = run([pending('libraryLoad'), { type: 'engine/timeout', op: 'libraryLoad', seconds: 60 }]);
    assert.equal(late.notice.title, 'Chargement de la bibliothèque : pas de réponse après 60 s.');
    const quiet = run([pending('timelineFacts'), { type: 'engine/timeout', op: 'timelineFacts', quiet: true }]);
    assert.equal(quiet.notice, null);
    assert.equal(quiet.requests.timelineFacts.status, 'failed');
    const twice = run([{ type: 'engine/notice', title: 'a' }, { type: 'engine/notice', title: 'b' }]);
    assert.equal(twice.notice.id, 2);
    assert.equal(engineUpdate(twice, { type: 'engine/dismissNotice', id: 1 }), twice, 'an older notice id leaves the newer one');
    assert.equal(engineUpdate(twice, { type: 'engine/dismissNotice', id: 2 }).notice, null);
    const s = initialEngineState();
    assert.equal(engineUpdate(s, { type: 'engine/unknown' }), s);
    assert.equal(engineUpdate(undefined, { type: 'engine/unknown' }).requests !== undefined, true);
    const restarted = run([pending('export'), { type: 'engine/failed', op: 'export', message: 'x' }, pending('export', { detail: { route: 'smart' } })]);
    assert.equal(restarted.requests.export.status, 'pending');
    assert.equal(restarted.requests.export.result, null);
});
