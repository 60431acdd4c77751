// The one pure update of the editor's state {project, ui}: every action the
// page dispatches is handled here (the engine slice by engineUpdate). An
// action that changes nothing returns the very same state, which the store
// reads as "nothing to record, nothing to save".
import { engineUpdate, initialEngineState } from './engine-state.js';
import { fromFrame, newProject, toFrame, validFps } from './model.js';
import { normalizeColor } from './style.js';
import { validateProject, readSfxItem, nextSfxId } from './validate.js';
import {
    addBlock, addTrack, deleteBlocks, importBlocks, mergeBlocks, moveBlocks, retime, setText, splitBlocks, trimBlock,
} from './blocks.js';
import { applyPreset, applyStyle, deletePreset, readUserPresets, savePreset } from './presets.js';

export const MIN_ZOOM = 2;     // pixels per second
export const MAX_ZOOM = 2000;
export const PREVIEW_BACKGROUNDS = ['checker', 'color', 'still'];

export function initialUi() {
    return {
        selection: [],
        playhead: 0,
        playing: false,
        zoom: 80,
        scroll: 0,
        preview: { background: 'checker', color: '#1e1e1e', stillDataUrl: null },
        followResolve: false,
        presets: [],
        engine: initialEngineState(),
        notice: null,   // {tone, text, source} the editor's own message to show, or null
        restored: false, // whether the project was read back from the page's storage at start
        gesture: null,  // the move in progress under a gesture key (see moveBlocks)
    };
}

export function initialState(project = newProject()) {
    return { project, ui: initialUi() };
}

const withUi = (state, patch) => ({ ...state, ui: { ...state.ui, ...patch } });

function setUi(state, key, value) {
    return state.ui[key] === value ? state : withUi(state, { [key]: value });
}

function setProject(state, patch) {
    for (const key in patch) {
        if (state.project[key] !== patch[key]) return { ...state, project: { ...state.project, ...patch } };
    }
    return state;
}

function freshProject(state, project) {
    return { ...state, project, ui: { ...state.ui, selection: [], gesture: null, playhead: 0, scroll: 0 } };
}

function changeFps(state, fps) {
    if (!validFps(fps) || Number(fps) === state.project.fps) return state;
    return { ...state, project: retime(state.project, Number(fps)) };
}

function updateSfx(state, action) {
    const { project } = state;
    switch (action.type) {
        case 'sfx/add': {
            const item = readSfxItem(action, project.fps);
            if (!item) return withUi(state, { notice: { tone: 'warning', text: 'Ce son ne peut pas être ajouté : fichier audio illisible.', source: 'editor' } });
            item.id = nextSfxId(project.sfx);
            return setProject(state, { sfx: [...project.sfx, item] });
        }
        case 'sfx/update': {
            const i = project.sfx.findIndex((s) => s.id === action.id);
            if (i < 0 || !action.patch || typeof action.patch !== 'object') return state;
            // Each refused field keeps its value (a NaN volume must not become the default).
            const patch = {};
            const p = action.patch;
            if (typeof p.name === 'string') patch.name = p.name;
            if (typeof p.dataUrl === 'string' && p.dataUrl.startsWith('data:')) patch.dataUrl = p.dataUrl;
            if (num(p.time) !== null) patch.time = p.time;
            if (num(p.volume) !== null) patch.volume = p.volume;
            const merged = readSfxItem({ ...project.sfx[i], ...patch, id: action.id }, project.fps);
            if (!merged) return state;
            const old = project.sfx[i];
            if (merged.name === old.name && merged.time === old.time && merged.volume === old.volume && merged.dataUrl === old.dataUrl) return state;
            const sfx = project.sfx.slice();
            sfx[i] = merged;
            return setProject(state, { sfx });
        }
        case 'sfx/delete': {
            const sfx = project.sfx.filter((s) => s.id !== action.id);
            return sfx.length === project.sfx.length ? state : setProject(state, { sfx });
        }
        default:
            return state;
    }
}

function sameIds(a, b) {
    return a.length === b.length && a.every((id, i) => id === b[i]);
}

function updateSelection(state, action) {
    const { project, ui } = state;
    let selection;
    switch (action.type) {
        case 'selection/set': {
            const exists = new Set(project.blocks.map((b) => b.id));
            selection = [...new Set(Array.isArray(action.ids) ? action.ids : [])].filter((id) => exists.has(id));
            break;
        }
        case 'selection/toggle':
            if (ui.selection.includes(action.id)) selection = ui.selection.filter((id) => id !== action.id);
            else if (project.blocks.some((b) => b.id === action.id)) selection = [...ui.selection, action.id];
            else return state;
            break;
        case 'selection/all':
            selection = project.blocks.map((b) => b.id);
            break;
        default:
            selection = [];
    }
    return sameIds(selection, ui.selection) ? state : withUi(state, { selection });
}

function updatePreview(state, action) {
    const p = state.ui.preview;
    const next = { ...p };
    if (PREVIEW_BACKGROUNDS.includes(action.background)) next.background = action.background;
    if (action.color !== undefined) next.color = normalizeColor(action.color) ?? p.color;
    if (action.stillDataUrl !== undefined) {
        next.stillDataUrl = typeof action.stillDataUrl === 'string' && action.stillDataUrl.startsWith('data:image/') ? action.stillDataUrl : null;
    }
    const changed = Object.keys(next).some((k) => next[k] !== p[k]);
    return changed ? withUi(state, { preview: next }) : state;
}

const num = (v) => (typeof v === 'number' && Number.isFinite(v) ? v : null);

export function update(state, action) {
    if (!action || typeof action.type !== 'string') return state;
    const type = action.type;
    if (type.startsWith('engine/')) {
        const engine = engineUpdate(state.ui.engine, action);
        return engine === state.ui.engine ? state : withUi(state, { engine });
    }
    const next = route(state, action);
    // Any other change to the project ends a move gesture in progress.
    if (next.project !== state.project && type !== 'blocks/move' && next.ui.gesture) {
        return { ...next, ui: { ...next.ui, gesture: null } };
    }
    return next;
}

function route(state, action) {
    switch (action.type) {
        case 'project/new': {
            // Without a rate of its own, a new project takes the rate of the
            // Resolve timeline when the engine has reported one.
            const resolve = state.ui.engine && state.ui.engine.resolve;
            const fps = validFps(action.fps) ? action.fps : resolve && validFps(resolve.fps) ? resolve.fps : undefined;
            return freshProject(state, newProject({ width: action.width, height: action.height, fps }));
        }
        case 'project/load':
            return freshProject(state, validateProject(action.project));
        case 'project/setFps':
            return changeFps(state, action.fps);
        case 'project/rename': {
            const name = typeof action.name === 'string' ? action.name.trim().slice(0, 120) : '';
            return name ? setProject(state, { name }) : state;
        }
        case 'blocks/add': return addBlock(state, action);
        case 'blocks/import': return importBlocks(state, action);
        case 'blocks/setText': return setText(state, action);
        case 'blocks/move': return moveBlocks(state, action);
        case 'blocks/trim': return trimBlock(state, action);
        case 'blocks/split': return splitBlocks(state, action);
        case 'blocks/merge': return mergeBlocks(state, action);
        case 'blocks/delete': return deleteBlocks(state, action);
        case 'tracks/add': return addTrack(state);
        case 'style/apply': return applyStyle(state, action);
        case 'presets/save': return savePreset(state, action);
        case 'presets/delete': return deletePreset(state, action);
        case 'presets/apply': return applyPreset(state, action);
        case 'sfx/add':
        case 'sfx/update':
        case 'sfx/delete':
            return updateSfx(state, action);
        case 'selection/set':
        case 'selection/toggle':
        case 'selection/all':
        case 'selection/clear':
            return updateSelection(state, action);
        case 'playhead/set': {
            const t = num(action.time);
            return t === null ? state : setUi(state, 'playhead', Math.max(0, t));
        }
        case 'playhead/step': {
            const frames = num(action.frames);
            if (frames === null) return state;
            const fps = state.project.fps;
            return setUi(state, 'playhead', fromFrame(Math.max(0, toFrame(state.ui.playhead, fps) + Math.round(frames)), fps));
        }
        case 'playback/set': return setUi(state, 'playing', Boolean(action.playing));
        case 'view/zoom': {
            const z = num(action.zoom);
            return z === null ? state : setUi(state, 'zoom', Math.min(MAX_ZOOM, Math.max(MIN_ZOOM, z)));
        }
        case 'view/scroll': {
            const s = num(action.scroll);
            return s === null ? state : setUi(state, 'scroll', Math.max(0, s));
        }
        case 'preview/set': return updatePreview(state, action);
        case 'follow/set': return setUi(state, 'followResolve', Boolean(action.enabled));
        case 'notice/set': {
            const n = action.notice;
            const notice = n && typeof n.text === 'string' ? { tone: n.tone || 'info', text: n.text, source: n.source || 'editor' } : null;
            return withUi(state, { notice });
        }
        case 'notice/clear':
            return state.ui.notice === null ? state : withUi(state, { notice: null });
        case 'presets/load':
            return withUi(state, { presets: readUserPresets(action.presets) });
        default:
            return state;
    }
}
