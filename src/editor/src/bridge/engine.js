// The page's side of the engine channel: posts one envelope per user request,
// and turns every callback the engine makes (window.onXxx) into an `engine/*`
// action on the store. Each request is marked pending first; one that gets no
// answer in a sensible time becomes a "pas de réponse" notice instead of
// spinning forever (some operations have no native side in every build).
import * as P from './payloads.js';
import { cuesToBlocks, resolveEntriesToCues } from '../files/subtitles.js';

// Callback name → action type.
export const CALLBACK_ACTIONS = {
    onResolveSubtitlesImported: 'engine/subtitlesImported',
    onResolveBridgeError: 'engine/bridgeError',
    onResolvePreviewCaptured: 'engine/previewCaptured',
    onResolveExportComplete: 'engine/exportComplete',
    onFusionLibraryLoaded: 'engine/libraryLoaded',
    onFusionEffectCaptured: 'engine/effectCaptured',
    onFusionEffectPreviewed: 'engine/effectPreviewed',
    onFusionEffectUpdated: 'engine/effectUpdated',
    onFusionEffectDeleted: 'engine/effectDeleted',
    onFusionEffectInserted: 'engine/effectInserted',
    onFusionNativeTemplateStatus: 'engine/templateStatus',
    onFusionSharedLibraryProgress: 'engine/sharedProgress',
    onFusionSharedLibraryResult: 'engine/sharedResult',
    onFusionLiveResult: 'engine/liveResult',
    onFusionTimelineLoaded: 'engine/timelineLoaded',
    onFusionPlayheadChanged: 'engine/playheadChanged',
    onFusionFloatingPaletteState: 'engine/paletteState',
    onRenderComplete: 'engine/renderComplete',
    onRenderCancelled: 'engine/renderCancelled',
};

// Seconds without an answer before a request is given up. They sit above
// the engine's own script limits (a subtitle import may take 120 s, a preview
// refresh 45 s, ...). A render has none: the save panel waits for the user.
export const DEFAULT_TIMEOUTS = {
    import: 150,
    timelineFacts: 150,
    render: 0,
    // A send that renders (Exact Web, smart) waits this long plus its frames
    // at a slow five a second; the direct routes write small files only.
    export: 600,
    exportDirect: 240,
    still: 30,
    watch: 15,
    timelineLoad: 40,
    libraryLoad: 60,
    libraryInsert: 60,
    libraryApply: 60,
    libraryCapture: 120,
    libraryPreview: 90,
    libraryUpdate: 30,
    libraryArchive: 30,
    sharedLibrary: 200,
    templateStatus: 15,
    templateRegister: 40,
    palette: 15,
    live: 60,
};

export const NO_CHANNEL = 'Canal natif indisponible : la page n’est pas ouverte dans Tessivo.';
const DEFAULT_FPS = 25;

export function createEngineBridge({ win, store, now = () => Date.now(), timeouts = {} }) {
    const limits = { ...DEFAULT_TIMEOUTS, ...timeouts };
    const timers = new Map();
    // Subtitle imports are asked for two reasons (facts at start, a real
    // import); their answers come back in request order.
    const importPurposes = [];
    let exportRoute = null;
    let importReplace = true;
    let requestSerial = 0;
    // The watch prints only on change: a second start of a running watch
    // gets no answer, so it is not awaited.
    let watching = false;

    const dispatch = (action) => store.dispatch({ ...action, at: now() });
    const state = () => store.getState();
    const engine = () => (state().ui && state().ui.engine) || { requests: {} };
    const pending = (op) => {
        const r = engine().requests && engine().requests[op];
        return !!r && r.status === 'pending';
    };
    const newRequestId = () => `req-${now().toString(36)}-${++requestSerial}`;

    function channel() {
        const handlers = win && win.webkit && win.webkit.messageHandlers;
        const handler = handlers && handlers.exportEngine;
        return handler && typeof handler.postMessage === 'function' ? handler : null;
    }

    function clearTimer(op) {
        const t = timers.get(op);
        if (t !== undefined) {
            (win.clearTimeout || clearTimeout)(t);
            timers.delete(op);
        }
    }

    function armTimer(op, seconds) {
        clearTimer(op);
        if (!seconds || seconds <= 0) return;
        const setTimer = win.setTimeout ? win.setTimeout.bind(win) : setTimeout;
        timers.set(op, setTimer(() => {
            timers.delete(op);
            if (op === 'watch') watching = false;
            dispatch({ type: 'engine/timeout', op, seconds, quiet: op === 'timelineFacts' });
            if (op === 'timelineFacts') factsFallback();
        }, seconds * 1000));
    }

    // Posts {type, payload}. Without the native channel (the page opened in a
    // plain browser) the operation fails at once with a notice.
    function send(type, payload = {}, op = null) {
        const handler = channel();
        if (!handler) {
            if (op) dispatch({ type: 'engine/failed', op, message: NO_CHANNEL, quiet: op === 'timelineFacts' });
            else dispatch({ type: 'engine/notice', tone: 'error', title: NO_CHANNEL });
            return false;
        }
        try {
            handler.postMessage({ type, payload });
            return true;
        } catch (error) {
            const message = `Message « ${type} » non transmis : ${error && error.message ? error.message : error}`;
            if (op) dispatch({ type: 'engine/failed', op, message });
            else dispatch({ type: 'engine/notice', tone: 'error', title: message });
            return false;
        }
    }

    // Marks `op` pending, posts the message, arms its time limit.
    function request(op, type, payload, { requestId, timeout = limits[op], label, detail } = {}) {
        dispatch({ type: 'engine/pending', op, requestId, label, detail });
        if (!send(type, payload, op)) {
            clearTimer(op);
            return false;
        }
        armTimer(op, timeout);
        return true;
    }

    function refuse(title, op = null) {
        dispatch({ type: 'engine/notice', tone: 'warning', title, op });
        return false;
    }

    const view = () => ({ selection: state().ui.selection || [], playhead: state().ui.playhead || 0 });
    const projectIsEmpty = () => (state().project.blocks || []).length === 0;
    const firstSelected = () => {
        const ids = new Set(state().ui.selection || []);
        return (state().project.blocks || []).find((b) => ids.has(b.id)) || null;
    };

    function factsFallback() {
        const project = state().project;
        if (projectIsEmpty() && project.fps !== DEFAULT_FPS) store.dispatch({ type: 'project/setFps', fps: DEFAULT_FPS });
    }

    // ---- Resolve subtitles and timeline facts --------------------------------

    function importResolveSubtitles({ replace = true, trackIndices } = {}) {
        if (pending('import')) return refuse('Un import depuis Resolve est déjà en cours.', 'import');
        const project = state().project;
        // Adding to a project that came from a timeline: Resolve refuses when
        // another timeline is active, so captions of two edits never mix.
        const timelineId = replace ? undefined : project.resolveTimelineId || undefined;
        importReplace = replace;
        if (!request('import', 'importResolveSubtitles', P.importPayload({ trackIndices, timelineId }))) return false;
        importPurposes.push('import');
        return true;
    }

    // At start: the active timeline's name, id and rate; an empty project
    // takes the timeline's rate (25 fps when Resolve does not answer).
    function askTimelineFacts() {
        if (pending('timelineFacts')) return false;
        if (!request('timelineFacts', 'importResolveSubtitles', {})) {
            factsFallback();
            return false;
        }
        importPurposes.push('timelineFacts');
        return true;
    }

    function onSubtitles(payload, type) {
        const purpose = importPurposes.length ? importPurposes.shift() : 'import';
        clearTimer(purpose);
        const p = payload && typeof payload === 'object' ? payload : {};
        if (purpose === 'timelineFacts') {
            // Only the facts are kept: the subtitle list is dropped here.
            const facts = type === 'engine/subtitlesImported'
                ? { success: p.success, timelineName: p.timelineName, timelineId: p.timelineId, fps: p.fps }
                : p;
            dispatch({ type, purpose, payload: facts });
            if (p.success === true && typeof p.fps === 'number' && p.fps > 0 && p.fps <= 240) {
                if (projectIsEmpty()) store.dispatch({ type: 'project/setFps', fps: p.fps });
            } else factsFallback();
            return;
        }
        dispatch({ type, purpose, payload: p });
        if (type !== 'engine/subtitlesImported' || p.success !== true) return;
        const project = state().project;
        const fps = typeof p.fps === 'number' && p.fps > 0 ? p.fps : project.fps;
        const blocks = cuesToBlocks(resolveEntriesToCues(p.subtitles), { ...project, fps }, 'resolve');
        store.dispatch({ type: 'blocks/import', blocks, replace: importReplace, fps, timelineId: p.timelineId || null });
    }

    // ---- render and sends ----------------------------------------------------

    function busyWithRender() {
        return pending('render') || pending('export');
    }

    function startRender(options = {}) {
        if (busyWithRender()) return refuse('Un rendu ou un envoi est déjà en cours.', 'render');
        const payload = P.startRenderPayload(state().project, options, view());
        if (!payload.sequences.length) return refuse('Aucun bloc à rendre dans cette plage.', 'render');
        return request('render', 'startRender', payload, { detail: { format: payload.format, codec: payload.codec } });
    }

    function exportToResolve(route = 'smart', range = 'all') {
        if (!P.ROUTE_MESSAGES[route]) return refuse(`Route inconnue : ${route}`, 'export');
        if (busyWithRender()) return refuse('Un rendu ou un envoi est déjà en cours.', 'export');
        const { type, payload, span } = P.exportPayload(state().project, route, range, view());
        if (span.empty) return refuse('Aucun bloc à envoyer dans cette plage.', 'export');
        exportRoute = route;
        const frames = (span.end - span.start) * (payload.fps || DEFAULT_FPS);
        const timeout = route === 'lottie' || route === 'fusion' ? limits.exportDirect : limits.export + Math.ceil(frames / 5);
        return request('export', type, payload, { timeout, detail: { route, range, count: span.blocks.length } });
    }

    // ---- Resolve viewer and playhead -------------------------------------------

    function requestStill() {
        if (pending('still')) return false; // the engine drops a second capture anyway
        const requestId = newRequestId();
        return request('still', 'exportResolveStillPreview', { requestId }, { requestId });
    }

    function onStill(payload) {
        clearTimer('still');
        dispatch({ type: 'engine/previewCaptured', payload });
        if (payload && payload.success === true && typeof payload.image === 'string') {
            store.dispatch({ type: 'preview/set', background: 'still', stillDataUrl: payload.image });
        }
    }

    function watchPlayhead(enabled) {
        store.dispatch({ type: 'follow/set', enabled: !!enabled });
        if (!enabled) {
            clearTimer('watch');
            watching = false;
            return send('fusionTimelineWatchStop', {});
        }
        if (watching) return send('fusionTimelineWatchStart', {});
        watching = request('watch', 'fusionTimelineWatchStart', {});
        return watching;
    }

    function onPlayhead(payload) {
        clearTimer('watch');
        // A watch that could not start reports an error; the next start must be awaited again.
        if (payload.success === false && payload.error) watching = false;
        dispatch({ type: 'engine/playheadChanged', payload });
        const r = engine().resolve;
        if (state().ui.followResolve && r && r.playhead && r.playhead.available) {
            store.dispatch({ type: 'playhead/set', time: r.playhead.time });
        }
    }

    const timeline = {
        load: (payload = {}) => request('timelineLoad', 'fusionTimelineLoad', payload),
        seek: (payload) => request('timelineLoad', 'fusionTimelineSeek', payload || {}),
    };

    // ---- effect library ----------------------------------------------------------

    const effectById = (id) => {
        const lib = engine().library;
        return lib ? lib.effects.find((e) => e.id === id) || lib.renderEffects.find((e) => e.id === id) || null : null;
    };

    function sharedOperation(type) {
        if (pending('sharedLibrary')) return refuse('Le chutier partagé travaille déjà.', 'sharedLibrary');
        dispatch({ type: 'engine/sharedStarted' });
        return request('sharedLibrary', type, {});
    }

    const library = {
        load: () => request('libraryLoad', 'fusionLibraryLoad', {}),
        insert(effectId, track = 'auto') {
            const requestId = newRequestId();
            const project = state().project;
            const payload = P.insertEffectPayload(effectId, {
                track, block: firstSelected(), effect: effectById(effectId), fps: project.fps, requestId,
                timelineId: engine().resolve && engine().resolve.timelineId,
            });
            return request('libraryInsert', 'fusionInsertEffect', payload, { requestId });
        },
        applyToSelected: (effectId) =>
            request('libraryApply', 'fusionApplyToSelectedTitle', P.applyEffectPayload(effectId, firstSelected(), state().project.fps)),
        capture: (options = {}) => request('libraryCapture', 'fusionCaptureCurrent', P.captureEffectPayload(options)),
        refreshPreview(effectId) {
            // Shared effects are previewed by the shared library, which answers
            // with its progress and result callbacks.
            if (String(effectId).startsWith('shared-')) {
                if (pending('sharedLibrary')) return refuse('Le chutier partagé travaille déjà.', 'sharedLibrary');
                dispatch({ type: 'engine/sharedStarted' });
                return request('sharedLibrary', 'fusionRefreshPreview', { id: effectId });
            }
            return request('libraryPreview', 'fusionRefreshPreview', { id: effectId });
        },
        update: (effectId, fields = {}) => request('libraryUpdate', 'fusionUpdateEffect', P.updateEffectPayload(effectId, fields)),
        archive: (effectId) => request('libraryArchive', 'fusionDeleteEffect', { id: effectId }),
        sharedCreate: () => sharedOperation('fusionSharedLibraryCreate'),
        sharedScan: () => sharedOperation('fusionSharedLibraryScan'),
        templateStatus: () => request('templateStatus', 'fusionNativeTemplateStatus', {}),
        templateRegister: () => request('templateRegister', 'fusionNativeTemplateRegister', {}),
    };

    // One callback answers both an insertion and an application to the
    // selected title: the insertion's request id, the apply script's
    // operation name, or else the order of the requests tells them apart.
    function insertedOp(payload) {
        const reqs = engine().requests;
        const ins = reqs.libraryInsert;
        const app = reqs.libraryApply;
        if (payload.requestId !== undefined && ins && ins.requestId === payload.requestId) return 'libraryInsert';
        if (payload.operation === 'applySelectedTitle') return 'libraryApply';
        const insPending = pending('libraryInsert');
        const appPending = pending('libraryApply');
        if (appPending && (!insPending || (app.startedAt ?? 0) < (ins.startedAt ?? 0))) return 'libraryApply';
        return 'libraryInsert';
    }

    const palette = {
        show: () => request('palette', 'fusionFloatingPaletteShow', {}),
        setEnabled: (enabled) => request('palette', 'fusionFloatingPaletteSetEnabled', { enabled: !!enabled }),
    };

    const live = {
        begin: () => send('fusionLiveBuildBegin', {}),
        end: () => send('fusionLiveBuildEnd', {}),
        upsert(payload = {}) {
            const requestId = payload.requestId || newRequestId();
            return request('live', 'fusionLiveUpsert', { ...payload, requestId }, { requestId });
        },
        delete(payload = {}) {
            const requestId = payload.requestId || newRequestId();
            return request('live', 'fusionLiveDelete', { ...payload, requestId }, { requestId });
        },
    };

    function openExternal(url) {
        if (typeof url !== 'string' || !url) return false;
        return send('openExternal', { url });
    }

    // ---- callbacks -----------------------------------------------------------------

    const p0 = (payload) => (payload && typeof payload === 'object' ? payload : {});
    const simple = (op, type) => (payload) => {
        clearTimer(op);
        dispatch({ type, payload: p0(payload) });
    };
    const handlers = {
        onResolveSubtitlesImported: (payload) => onSubtitles(payload, 'engine/subtitlesImported'),
        onResolveBridgeError: (payload) => onSubtitles(payload, 'engine/bridgeError'),
        onResolvePreviewCaptured: (payload) => onStill(p0(payload)),
        onResolveExportComplete(payload) {
            clearTimer('export');
            dispatch({ type: 'engine/exportComplete', payload: p0(payload), route: exportRoute });
        },
        onFusionLibraryLoaded: simple('libraryLoad', 'engine/libraryLoaded'),
        onFusionEffectCaptured: simple('libraryCapture', 'engine/effectCaptured'),
        onFusionEffectPreviewed: simple('libraryPreview', 'engine/effectPreviewed'),
        onFusionEffectUpdated: simple('libraryUpdate', 'engine/effectUpdated'),
        onFusionEffectDeleted: simple('libraryArchive', 'engine/effectDeleted'),
        onFusionEffectInserted(payload) {
            const p = p0(payload);
            const op = insertedOp(p);
            clearTimer(op);
            dispatch({ type: 'engine/effectInserted', payload: p, op });
        },
        onFusionNativeTemplateStatus(payload) {
            const p = p0(payload);
            clearTimer(p.notify === true ? 'templateRegister' : 'templateStatus');
            dispatch({ type: 'engine/templateStatus', payload: p });
        },
        onFusionSharedLibraryProgress(payload) {
            // Each preview of the chain may take its own time: progress re-arms the limit.
            if (pending('sharedLibrary')) armTimer('sharedLibrary', limits.sharedLibrary);
            dispatch({ type: 'engine/sharedProgress', payload: p0(payload) });
        },
        onFusionSharedLibraryResult: simple('sharedLibrary', 'engine/sharedResult'),
        onFusionLiveResult: simple('live', 'engine/liveResult'),
        onFusionTimelineLoaded: simple('timelineLoad', 'engine/timelineLoaded'),
        onFusionPlayheadChanged: (payload) => onPlayhead(p0(payload)),
        onFusionFloatingPaletteState: simple('palette', 'engine/paletteState'),
        onRenderComplete() {
            clearTimer('render');
            dispatch({ type: 'engine/renderComplete' });
        },
        onRenderCancelled() {
            clearTimer('render');
            // An Exact Web send whose render stops never gets its own answer.
            const exportRender = pending('export') && exportRoute === 'exact';
            if (exportRender) clearTimer('export');
            dispatch({ type: 'engine/renderCancelled', exportRender });
        },
    };

    const installed = {};
    for (const [name, handler] of Object.entries(handlers)) {
        installed[name] = handler;
        win[name] = handler;
    }

    function dispose() {
        for (const op of [...timers.keys()]) clearTimer(op);
        for (const [name, handler] of Object.entries(installed)) if (win[name] === handler) delete win[name];
    }

    return {
        send,
        importResolveSubtitles,
        askTimelineFacts,
        startRender,
        exportToResolve,
        requestStill,
        watchPlayhead,
        timeline,
        library,
        palette,
        live,
        openExternal,
        hasChannel: () => !!channel(),
        dispose,
    };
}
