// The editor's store: one state {project, ui, history}, changed only by
// dispatching actions through the pure `update`. Project changes are recorded
// for undo (merged under a gesture key), saved to the page's storage shortly
// after, and the user's presets are saved whenever they change.
import { HISTORY_DEPTH, HISTORY_WEIGHT, changeWeight, createHistory } from './history.js';
import { newProject } from './model.js';
import { initialState, update } from './update.js';
import { validateProject } from './validate.js';
import {
    PRESETS_FAILED_TEXT, STORAGE_FULL_TEXT, createAutosave, loadStoredPresets, loadStoredProject, savePresets,
} from './persistence.js';

// options: storage (localStorage-like, optional), win (the window whose
// `pagehide` flushes the pending save; default the global window), saveDelay
// (ms), timers ({setTimeout, clearTimeout}), historyDepth, historyWeight (see
// history.js), project (start with this project instead of the stored one),
// now (clock, for the name of a set-aside project).
export function createStore(options = {}) {
    const { storage = null, saveDelay = 400, timers = globalThis } = options;
    // With a storage and no window named, the page's own window (when there is
    // one) flushes the pending save as the page goes away; `win: null` opts out.
    const win = options.win !== undefined ? options.win
        : storage && typeof globalThis.addEventListener === 'function' ? globalThis : null;
    const history = createHistory(options.historyDepth ?? HISTORY_DEPTH, options.historyWeight ?? HISTORY_WEIGHT);
    const listeners = new Set();

    let project = options.project ? validateProject(options.project) : null;
    let startNotice = null;
    let blocked = false;
    if (!project && storage) {
        const stored = loadStoredProject(storage, options.now ? options.now() : Date.now());
        project = stored.project;
        startNotice = stored.notice;
        blocked = stored.blocked;
    }
    const restored = Boolean(project);
    let state = initialState(project ?? newProject());
    state = {
        ...state,
        ui: { ...state.ui, presets: loadStoredPresets(storage), notice: startNotice, restored },
        history: { canUndo: false, canRedo: false },
    };

    const autosave = createAutosave({
        storage,
        delay: saveDelay,
        timers,
        getProject: () => state.project,
        report: reportSave,
    });
    if (blocked) autosave.block();

    function reportSave(ok) {
        const current = state.ui.notice;
        if (!ok && !(current && current.text === STORAGE_FULL_TEXT)) {
            set({ ...state, ui: { ...state.ui, notice: { tone: 'error', text: STORAGE_FULL_TEXT, source: 'storage' } } });
        } else if (ok && current && current.text === STORAGE_FULL_TEXT) {
            set({ ...state, ui: { ...state.ui, notice: null } });
        }
    }

    function historyFlags(s) {
        const canUndo = history.canUndo();
        const canRedo = history.canRedo();
        if (s.history && s.history.canUndo === canUndo && s.history.canRedo === canRedo) return s;
        return { ...s, history: { canUndo, canRedo } };
    }

    function set(next) {
        state = historyFlags(next);
        for (const listener of [...listeners]) {
            try {
                listener(state);
            } catch (error) {
                console.error('Erreur dans un abonné du store :', error);
            }
        }
    }

    function dispatch(action) {
        switch (action && action.type) {
            case 'history/undo': return undo();
            case 'history/redo': return redo();
            case 'history/seal':
                history.seal();
                if (state.ui.gesture) set({ ...state, ui: { ...state.ui, gesture: null } });
                return undefined;
            default:
                break;
        }
        const prev = state;
        const next = update(prev, action); // may throw (project/load of a bad project): nothing changes then
        if (next === prev) return undefined;
        if (next.project !== prev.project) {
            history.record({ project: prev.project, selection: prev.ui.selection }, action.gesture, changeWeight(prev.project, next.project));
            autosave.changed(action.gesture != null);
        }
        if (next.ui.presets !== prev.ui.presets && !savePresets(storage, next.ui.presets)) {
            set({ ...next, ui: { ...next.ui, notice: { tone: 'error', text: PRESETS_FAILED_TEXT, source: 'storage' } } });
            return undefined;
        }
        set(next);
        return undefined;
    }

    // Restores a snapshot; the selection comes back as it was, less any
    // block the restored project does not have.
    function restore(snapshot) {
        const ids = new Set(snapshot.project.blocks.map((b) => b.id));
        const selection = snapshot.selection.filter((id) => ids.has(id));
        autosave.changed();
        set({ ...state, project: snapshot.project, ui: { ...state.ui, selection, gesture: null } });
    }

    function undo() {
        const snapshot = history.undo({ project: state.project, selection: state.ui.selection });
        if (snapshot) restore(snapshot);
    }

    function redo() {
        const snapshot = history.redo({ project: state.project, selection: state.ui.selection });
        if (snapshot) restore(snapshot);
    }

    const onPageHide = () => autosave.flush();
    const onVisibility = () => {
        if (win && win.document && win.document.visibilityState === 'hidden') autosave.flush();
    };
    const doc = win && win.document && typeof win.document.addEventListener === 'function' ? win.document : null;
    if (win && typeof win.addEventListener === 'function') win.addEventListener('pagehide', onPageHide);
    if (doc) doc.addEventListener('visibilitychange', onVisibility);

    return {
        getState: () => state,
        dispatch,
        subscribe(listener) {
            listeners.add(listener);
            return () => listeners.delete(listener);
        },
        undo,
        redo,
        // Writes a pending save now (the page calls it at `pagehide`).
        flush: () => autosave.flush(),
        dispose() {
            autosave.flush();
            autosave.dispose();
            if (win && typeof win.removeEventListener === 'function') win.removeEventListener('pagehide', onPageHide);
            if (doc) doc.removeEventListener('visibilitychange', onVisibility);
            listeners.clear();
        },
    };
}
