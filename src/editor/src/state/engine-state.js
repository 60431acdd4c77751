// The engine slice of the editor's state: what the native side has said and
// what is still pending. Pure functions; the bridge dispatches `engine/*`
// actions from the engine's callbacks, always with the time (`at`, ms) so
// that the update stays a function of its arguments.
import {
    exportSummary, importSummary, libraryResultText, sharedLibraryText, paletteStateText, stillText, renderText,
} from '../bridge/summaries.js';

// Operations tracked under `requests`, with the label shown while pending.
export const OPERATION_LABELS = {
    import: 'Import des sous-titres de Resolve',
    timelineFacts: 'Lecture de la timeline Resolve',
    render: 'Rendu du film',
    export: 'Envoi vers DaVinci Resolve',
    still: 'Image du viewer Resolve',
    watch: 'Suivi de la tête de lecture',
    timelineLoad: 'Lecture de la timeline Fusion',
    libraryLoad: 'Chargement de la bibliothèque',
    libraryInsert: 'Insertion de l’effet',
    libraryApply: 'Application au titre sélectionné',
    libraryCapture: 'Capture de l’effet',
    libraryPreview: 'Actualisation de l’aperçu',
    libraryUpdate: 'Modification de l’effet',
    libraryArchive: 'Archivage de l’effet',
    sharedLibrary: 'Chutier partagé',
    templateStatus: 'Modèle Text+',
    templateRegister: 'Mémorisation du modèle Text+',
    palette: 'Palette flottante',
    live: 'Élément direct',
};

export function initialEngineState() {
    return { requests: {}, lastExport: null, library: null, resolve: null, notice: null };
}

function emptyLibrary() {
    return {
        effects: [],
        renderEffects: [],
        loaded: false,
        error: null,
        shared: { busy: false, progress: [], result: null },
        template: null,
        palette: null,
        lastInsert: null,
        lastApply: null,
        lastCapture: null,
        live: null,
    };
}

function emptyResolve() {
    return { timelineName: null, timelineId: null, fps: null, width: null, height: null, playhead: null, still: null, timeline: null };
}

const library = (s) => s.library || emptyLibrary();
const resolve = (s) => s.resolve || emptyResolve();

function setRequest(s, op, patch) {
    const previous = s.requests[op] || { label: OPERATION_LABELS[op] || op };
    return { ...s, requests: { ...s.requests, [op]: { ...previous, ...patch } } };
}

function finish(s, op, status, result, at) {
    return setRequest(s, op, { status, result, finishedAt: at ?? null });
}

function notice(s, tone, title, lines = [], op = null, at = null) {
    const id = (s.notice ? s.notice.id : 0) + 1;
    return { ...s, notice: { id, tone, title, lines, op, at } };
}

const isObject = (v) => v !== null && typeof v === 'object' && !Array.isArray(v);
const payloadOf = (action) => (isObject(action.payload) ? action.payload : {});
const message = (p, fallback) =>
    (typeof p.error === 'string' && p.error) || (typeof p.message === 'string' && p.message) || fallback;
const byId = (list, id) => list.findIndex((e) => e && e.id === id);

function replaceEffect(list, effect) {
    if (!isObject(effect) || typeof effect.id !== 'string') return list;
    const i = byId(list, effect.id);
    if (i < 0) return [...list, effect];
    const next = list.slice();
    next[i] = effect;
    return next;
}

// A library answer: {success, effect} or {success: false, error}.
function effectAnswer(s, action, op, kind, apply) {
    const p = payloadOf(action);
    const ok = p.success === true;
    const text = libraryResultText(kind, p);
    let next = finish(s, op, ok ? 'done' : 'failed', { success: ok, text }, action.at);
    if (ok) {
        const lib = library(next);
        next = { ...next, library: apply(lib, p) };
    }
    return notice(next, ok ? 'ok' : 'error', text, [], op, action.at);
}

function timelineFacts(s, p) {
    const r = resolve(s);
    return {
        ...s,
        resolve: {
            ...r,
            timelineName: typeof p.timelineName === 'string' ? p.timelineName : r.timelineName,
            timelineId: typeof p.timelineId === 'string' ? p.timelineId : r.timelineId,
            fps: typeof p.fps === 'number' && p.fps > 0 ? p.fps : r.fps,
        },
    };
}

// The watch's line → {timelineName, timelineId, fps, time (s from the
// timeline start), timecode} or {available: false, ...}.
function playheadOf(p) {
    if (p.success !== true) {
        return { available: false, needsTimeline: p.needsTimeline === true, projectName: p.projectName || '', error: p.error || null };
    }
    const fps = typeof p.fps === 'number' && p.fps > 0 ? p.fps : 30;
    const start = typeof p.startFrame === 'number' ? p.startFrame : 0;
    const current = typeof p.currentFrame === 'number' ? p.currentFrame : start;
    return {
        available: true,
        timelineName: p.timelineName || 'Timeline Resolve',
        timelineId: p.timelineId || null,
        fps,
        time: Math.max(0, (current - start) / fps),
        timecode: p.currentTimecode || '',
    };
}

export function engineUpdate(slice, action) {
    const s = slice || initialEngineState();
    const at = action.at ?? null;
    switch (action.type) {
        case 'engine/pending':
            return setRequest(s, action.op, {
                status: 'pending',
                label: action.label || OPERATION_LABELS[action.op] || action.op,
                startedAt: at,
                finishedAt: null,
                result: null,
                requestId: action.requestId ?? null,
                detail: action.detail ?? null,
            });
        case 'engine/failed': {
            const next = finish(s, action.op, 'failed', { success: false, text: action.message }, at);
            return action.quiet ? next : notice(next, 'error', action.message, [], action.op, at);
        }
        case 'engine/timeout': {
            const req = s.requests[action.op];
            if (!req || req.status !== 'pending') return s;
            const text = `${req.label} : pas de réponse${action.seconds ? ` après ${action.seconds} s` : ''}.`;
            const next = finish(s, action.op, 'failed', { success: false, text, timedOut: true }, at);
            return action.quiet ? next : notice(next, 'error', text, [], action.op, at);
        }
        case 'engine/notice':
            return notice(s, action.tone || 'ok', action.title, action.lines || [], action.op || null, at);
        case 'engine/dismissNotice':
            return action.id === undefined || (s.notice && s.notice.id === action.id) ? { ...s, notice: null } : s;

        case 'engine/subtitlesImported': {
            const p = payloadOf(action);
            const ok = p.success === true;
            const next = ok ? timelineFacts(s, p) : s;
            if (action.purpose === 'timelineFacts') {
                return finish(next, 'timelineFacts', ok ? 'done' : 'failed', { success: ok, text: ok ? null : message(p, '') }, at);
            }
            const summary = importSummary(p);
            const done = finish(next, 'import', ok ? 'done' : 'failed', { success: ok, text: summary.title }, at);
            return notice(done, summary.tone, summary.title, summary.lines, 'import', at);
        }
        case 'engine/bridgeError': {
            const text = message(payloadOf(action), 'DaVinci Resolve n’a pas répondu.');
            const op = action.purpose || 'import';
            const next = finish(s, op, 'failed', { success: false, text }, at);
            return op === 'timelineFacts' ? next : notice(next, 'error', `Import impossible : ${text}`, [], op, at);
        }
        case 'engine/exportComplete': {
            const p = payloadOf(action);
            const summary = exportSummary(p, action.route);
            const lastExport = { ...summary, route: action.route || null, success: p.success === true, at, payload: p };
            const next = finish({ ...s, lastExport }, 'export', p.success === true ? 'done' : 'failed', { success: p.success === true, text: summary.title }, at);
            return notice(next, summary.tone, summary.title, summary.lines, 'export', at);
        }
        case 'engine/renderComplete':
        case 'engine/renderCancelled': {
            const complete = action.type === 'engine/renderComplete';
            // An Exact Web send whose render was cancelled never gets its own answer.
            if (!complete && action.exportRender && s.requests.export && s.requests.export.status === 'pending') {
                const text = 'Le rendu Exact Web a été interrompu.';
                const next = finish(s, 'export', 'failed', { success: false, text }, at);
                return notice(next, 'error', text, [], 'export', at);
            }
            const text = renderText(complete ? 'complete' : 'cancelled');
            const next = finish(s, 'render', complete ? 'done' : 'failed', { success: complete, text }, at);
            return notice(next, complete ? 'ok' : 'warning', text, [], 'render', at);
        }
        case 'engine/previewCaptured': {
            const p = payloadOf(action);
            const ok = p.success === true && typeof p.image === 'string';
            const text = stillText(p);
            const r = resolve(s);
            const still = ok ? { image: p.image, at } : r.still;
            const next = finish({ ...s, resolve: { ...r, still } }, 'still', ok || (p.success === true && p.emptyFrame) ? 'done' : 'failed', { success: ok, text }, at);
            return ok ? next : notice(next, p.emptyFrame ? 'warning' : 'error', text, [], 'still', at);
        }
        case 'engine/playheadChanged': {
            const p = payloadOf(action);
            const r = resolve(s);
            const playhead = playheadOf(p);
            let next = { ...s, resolve: { ...r, playhead } };
            if (s.requests.watch && s.requests.watch.status === 'pending') {
                next = finish(next, 'watch', playhead.error ? 'failed' : 'done', { success: !playhead.error, text: playhead.error }, at);
                if (playhead.error) next = notice(next, 'error', `Suivi de Resolve impossible : ${playhead.error}`, [], 'watch', at);
            }
            if (playhead.available) {
                next = { ...next, resolve: { ...next.resolve, timelineName: playhead.timelineName, timelineId: playhead.timelineId ?? next.resolve.timelineId, fps: playhead.fps } };
            }
            return next;
        }
        case 'engine/timelineLoaded': {
            const p = payloadOf(action);
            const ok = p.success === true;
            const next = { ...s, resolve: { ...resolve(s), timeline: ok ? p : resolve(s).timeline } };
            const done = finish(next, 'timelineLoad', ok ? 'done' : 'failed', { success: ok, text: ok ? null : message(p, 'Timeline Resolve indisponible.') }, at);
            return ok ? done : notice(done, 'error', message(p, 'Timeline Resolve indisponible.'), [], 'timelineLoad', at);
        }

        case 'engine/libraryLoaded': {
            const p = payloadOf(action);
            const ok = p.success === true;
            const lib = library(s);
            const nextLib = ok
                ? { ...lib, loaded: true, error: null, effects: Array.isArray(p.effects) ? p.effects : [], renderEffects: Array.isArray(p.renderEffects) ? p.renderEffects : [] }
                : { ...lib, loaded: true, error: message(p, 'Bibliothèque illisible.') };
            const next = finish({ ...s, library: nextLib }, 'libraryLoad', ok ? 'done' : 'failed', { success: ok, text: libraryResultText('load', p) }, at);
            return ok ? next : notice(next, 'error', libraryResultText('load', p), [], 'libraryLoad', at);
        }
        case 'engine/effectCaptured':
            return effectAnswer(s, action, 'libraryCapture', 'capture', (lib, p) => ({
                ...lib,
                effects: replaceEffect(lib.effects, p.effect),
                lastCapture: { success: true, effectId: p.effect && p.effect.id },
            }));
        case 'engine/effectPreviewed':
            return effectAnswer(s, action, 'libraryPreview', 'preview', (lib, p) => ({ ...lib, effects: replaceEffect(lib.effects, p.effect) }));
        case 'engine/effectUpdated':
            return effectAnswer(s, action, 'libraryUpdate', 'update', (lib, p) => ({ ...lib, effects: replaceEffect(lib.effects, p.effect) }));
        case 'engine/effectDeleted':
            return effectAnswer(s, action, 'libraryArchive', 'archive', (lib, p) => ({
                ...lib,
                effects: lib.effects.filter((e) => e.id !== p.id),
                renderEffects: lib.renderEffects.filter((e) => e.id !== p.id),
            }));
        case 'engine/effectInserted': {
            const op = action.op === 'libraryApply' ? 'libraryApply' : 'libraryInsert';
            const kind = op === 'libraryApply' ? 'apply' : 'insert';
            const p = payloadOf(action);
            const ok = p.success === true;
            const text = libraryResultText(kind, p);
            const record = { success: ok, text, requestId: p.requestId ?? null, trackIndex: p.trackIndex ?? null, timecode: p.timecode ?? null, warnings: Array.isArray(p.warnings) ? p.warnings : [] };
            const lib = library(s);
            const next = finish({ ...s, library: { ...lib, [op === 'libraryApply' ? 'lastApply' : 'lastInsert']: record } }, op, ok ? 'done' : 'failed', record, at);
            const warn = ok && record.warnings.length;
            return notice(next, ok ? (warn ? 'warning' : 'ok') : 'error', text, ok ? record.warnings : [], op, at);
        }
        case 'engine/liveResult': {
            const p = payloadOf(action);
            const ok = p.success === true;
            const text = libraryResultText('live', p);
            const next = finish({ ...s, library: { ...library(s), live: { success: ok, text, requestId: p.requestId ?? null, payload: p } } }, 'live', ok ? 'done' : 'failed', { success: ok, text }, at);
            return ok ? next : notice(next, 'error', text, [], 'live', at);
        }
        case 'engine/templateStatus': {
            const p = payloadOf(action);
            const template = { registered: p.success === true, source: isObject(p.source) ? p.source : {}, message: typeof p.message === 'string' ? p.message : '' };
            const op = p.notify === true ? 'templateRegister' : 'templateStatus';
            let next = { ...s, library: { ...library(s), template } };
            // Answers to a registration carry `notify`; a refused one is the user's next step, not a fault.
            next = finish(next, op, p.success === true || op === 'templateStatus' ? 'done' : 'failed', { success: p.success === true, text: template.message }, at);
            if (p.notify === true && s.requests.templateStatus && s.requests.templateStatus.status === 'pending') {
                next = finish(next, 'templateStatus', 'done', { success: p.success === true, text: template.message }, at);
            }
            return p.notify === true ? notice(next, p.success === true ? 'ok' : 'warning', template.message, [], op, at) : next;
        }
        case 'engine/sharedProgress': {
            const p = payloadOf(action);
            const lib = library(s);
            const entry = { message: typeof p.message === 'string' ? p.message : '', warning: p.warning === true };
            return { ...s, library: { ...lib, shared: { ...lib.shared, busy: true, progress: [...lib.shared.progress, entry].slice(-50) } } };
        }
        case 'engine/sharedResult': {
            const p = payloadOf(action);
            const ok = p.success === true;
            const text = sharedLibraryText(p);
            const lib = library(s);
            const next = finish({ ...s, library: { ...lib, shared: { ...lib.shared, busy: false, result: { success: ok, text, payload: p } } } }, 'sharedLibrary', ok ? 'done' : 'failed', { success: ok, text }, at);
            const warnings = lib.shared.progress.filter((e) => e.warning).map((e) => e.message);
            return notice(next, ok ? (warnings.length ? 'warning' : 'ok') : 'error', text, warnings, 'sharedLibrary', at);
        }
        case 'engine/sharedStarted': {
            const lib = library(s);
            return { ...s, library: { ...lib, shared: { busy: true, progress: [], result: null } } };
        }
        case 'engine/paletteState': {
            const p = payloadOf(action);
            const ok = p.success !== false;
            const palette = {
                enabled: p.enabled !== false,
                visible: p.visible === true,
                // False where the desktop does not say which application is in
                // front: the palette then opens from the editor only.
                automaticShowing: p.automaticShowing !== false,
                message: typeof p.message === 'string' ? p.message : '',
            };
            const next = finish({ ...s, library: { ...library(s), palette } }, 'palette', ok ? 'done' : 'failed', { success: ok, text: paletteStateText(p) }, at);
            return ok ? next : notice(next, 'error', paletteStateText(p), [], 'palette', at);
        }
        default:
            return s;
    }
}
