// Timeline edits on blocks: add, import, text, move, trim, split, merge,
// delete, tracks. Each takes the editor state {project, ui} and an action and
// returns the next state, or the same state when nothing changes (so no undo
// step is recorded for a no-op). Only the blocks that change are copied.
import {
    DEFAULT_BLOCK_DURATION, DEFAULT_TEXT, blockEnd, ensureTracks, fromFrame, makeBlock, nextBlockId,
    reserveIdsOf, snapTime, toFrame, trackName, validFps,
} from './model.js';
import { sanitizeStylePatch } from './style.js';
import { readBlock } from './validate.js';

const withProject = (state, project, ui = state.ui) => ({ ...state, project, ui });
const withUi = (state, patch) => ({ ...state, ui: { ...state.ui, ...patch } });

function notice(state, text, tone = 'warning') {
    return withUi(state, { notice: { tone, text, source: 'editor' } });
}

function idSet(ids, ui) {
    return new Set(Array.isArray(ids) ? ids : ui.selection);
}

function sameList(a, b) {
    if (a.length !== b.length) return false;
    for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) return false;
    return true;
}

export function addBlock(state, action) {
    const { project, ui } = state;
    const partial = action.partial && typeof action.partial === 'object' ? action.partial : {};
    let trackId = 0;
    if (ui.selection.length) {
        const first = project.blocks.find((b) => b.id === ui.selection[0]);
        if (first) trackId = first.trackId;
    }
    if (Number.isInteger(partial.trackId) && partial.trackId >= 0 && partial.trackId < project.tracks.length) {
        trackId = partial.trackId;
    }
    const start = Number.isFinite(partial.startTime) && partial.startTime >= 0 ? partial.startTime : ui.playhead;
    const duration = Number.isFinite(partial.duration) && partial.duration > 0 ? partial.duration : DEFAULT_BLOCK_DURATION;
    const block = makeBlock({
        ...sanitizeStylePatch(partial),
        text: typeof partial.text === 'string' ? partial.text : DEFAULT_TEXT,
        startTime: start,
        duration,
        trackId,
        source: { kind: 'typed' },
    }, project);
    return withProject(state, { ...project, blocks: [...project.blocks, block] }, { ...ui, selection: [block.id] });
}

// blocks/import {blocks, replace, fps?, timelineId?}: raw blocks (subtitle
// cues, Resolve's subtitles) read and validated; unreadable ones are left
// out. Appended blocks that would overlap existing ones on their tracks are
// placed on new tracks above, so nothing already there is covered.
export function importBlocks(state, action) {
    let project = state.project;
    if (validFps(action.fps) && Number(action.fps) !== project.fps) project = retime(project, Number(action.fps));
    const timelineId = typeof action.timelineId === 'number' ? String(action.timelineId) : action.timelineId;
    if (typeof timelineId === 'string' && timelineId) project = { ...project, resolveTimelineId: timelineId };
    const raws = Array.isArray(action.blocks) ? action.blocks : [];
    const incoming = [];
    for (const raw of raws) {
        const { block } = readBlock(raw, project.fps);
        if (block) incoming.push(block);
    }
    if (!action.replace && incoming.length === 0) return project === state.project ? state : withProject(state, project);
    const kept = action.replace ? [] : project.blocks;
    if (!action.replace && overlapsAny(kept, incoming)) {
        const offset = project.tracks.length;
        for (const b of incoming) b.trackId += offset;
    }
    reserveIdsOf(project);
    let tracks = action.replace ? [{ id: 0, name: trackName(0) }] : project.tracks;
    for (const b of incoming) {
        b.id = nextBlockId(null);
        tracks = ensureTracks(tracks, b.trackId);
    }
    const blocks = kept.concat(incoming);
    const selection = action.replace ? [] : state.ui.selection;
    return withProject(state, { ...project, tracks, blocks }, { ...state.ui, selection, gesture: null });
}

// The project at another frame rate: every time moved to the nearest frame
// of the new rate (blocks at least one frame long), so it stays on frames.
export function retime(project, fps) {
    const blocks = project.blocks.map((b) => {
        const s = toFrame(b.startTime, fps);
        const e = Math.max(s + 1, toFrame(blockEnd(b), fps));
        return { ...b, startTime: fromFrame(s, fps), duration: fromFrame(e - s, fps) };
    });
    const sfx = project.sfx.map((s) => ({ ...s, time: snapTime(s.time, fps) }));
    return { ...project, fps, blocks, sfx };
}

// Whether any incoming block overlaps an existing block of its track. Per
// track the existing blocks are sorted by start with the running maximum of
// their ends: the blocks starting before n ends overlap n exactly when the
// latest end among them is after n starts (blocks may nest, so ends are not
// sorted themselves).
function overlapsAny(existing, incoming) {
    const byTrack = new Map();
    for (const b of existing) {
        if (!byTrack.has(b.trackId)) byTrack.set(b.trackId, []);
        byTrack.get(b.trackId).push(b);
    }
    const index = new Map();
    for (const [trackId, list] of byTrack) {
        list.sort((a, b) => a.startTime - b.startTime);
        const maxEnd = [];
        let m = -Infinity;
        for (const b of list) maxEnd.push((m = Math.max(m, blockEnd(b))));
        index.set(trackId, { starts: list.map((b) => b.startTime), maxEnd });
    }
    const EPS = 1e-9;
    for (const n of incoming) {
        const t = index.get(n.trackId);
        if (!t) continue;
        const end = blockEnd(n);
        let lo = 0;
        let hi = t.starts.length;
        while (lo < hi) {
            const mid = (lo + hi) >> 1;
            if (t.starts[mid] < end - EPS) lo = mid + 1;
            else hi = mid;
        }
        if (lo > 0 && t.maxEnd[lo - 1] > n.startTime + EPS) return true;
    }
    return false;
}

export function setText(state, { id, text }) {
    if (typeof text !== 'string') return state;
    const clean = text.replace(/\r\n?/g, '\n');
    const blocks = replaceBlock(state.project.blocks, id, (b) => (b.text === clean ? b : { ...b, text: clean }));
    return blocks === state.project.blocks ? state : withProject(state, { ...state.project, blocks });
}

function replaceBlock(blocks, id, fn) {
    const i = blocks.findIndex((b) => b.id === id);
    if (i < 0) return blocks;
    const next = fn(blocks[i]);
    if (next === blocks[i]) return blocks;
    const out = blocks.slice();
    out[i] = next;
    return out;
}

// blocks/move {ids, delta, trackDelta?, gesture?}. `delta` (seconds) and
// `trackDelta` (tracks) are steps relative to the previous move. Under one
// gesture the steps are summed and applied to the blocks as they were when
// the gesture began, then snapped to frames: a slow drag whose steps are each
// smaller than a frame still moves the blocks, and pushing a group against 0
// and back keeps its spacing. The group stops at 0 and at the first and last
// tracks as a whole.
export function moveBlocks(state, action) {
    const { project, ui } = state;
    const ids = Array.isArray(action.ids) ? action.ids : ui.selection;
    const key = action.gesture ?? null;
    let g = ui.gesture;
    if (!(key !== null && g && g.type === 'move' && g.key === key && sameList(g.ids, ids))) {
        const want = new Set(ids);
        const origin = new Map();
        project.blocks.forEach((b, index) => {
            if (want.has(b.id)) origin.set(b.id, { startTime: b.startTime, trackId: b.trackId, index });
        });
        if (origin.size === 0) return state;
        g = { type: 'move', key, ids, origin, delta: 0, trackDelta: 0 };
    }
    const step = Number.isFinite(action.delta) ? action.delta : 0;
    const trackStep = Number.isFinite(action.trackDelta) ? action.trackDelta : 0;
    g = { ...g, delta: g.delta + step, trackDelta: g.trackDelta + trackStep };

    const fps = project.fps;
    let frames = toFrame(g.delta, fps);
    let tracks = Math.round(g.trackDelta);
    let minFrame = Infinity;
    let minTrack = Infinity;
    let maxTrack = -Infinity;
    for (const o of g.origin.values()) {
        minFrame = Math.min(minFrame, toFrame(o.startTime, fps));
        minTrack = Math.min(minTrack, o.trackId);
        maxTrack = Math.max(maxTrack, o.trackId);
    }
    if (minFrame + frames < 0) frames = -minFrame;
    if (maxTrack + tracks > project.tracks.length - 1) tracks = project.tracks.length - 1 - maxTrack;
    if (minTrack + tracks < 0) tracks = -minTrack;

    // Only the moved blocks are visited: each remembers its index, checked
    // (blocks keep their order while they move; other edits end the gesture).
    let blocks = project.blocks;
    let copied = false;
    for (const [id, o] of g.origin) {
        let i = o.index;
        if (blocks[i] === undefined || blocks[i].id !== id) i = blocks.findIndex((b) => b.id === id);
        if (i < 0) continue;
        const b = blocks[i];
        const startTime = fromFrame(toFrame(o.startTime, fps) + frames, fps);
        const trackId = o.trackId + tracks;
        if (startTime === b.startTime && trackId === b.trackId) continue;
        if (!copied) {
            blocks = blocks.slice();
            copied = true;
        }
        blocks[i] = { ...b, startTime, trackId };
    }
    const nextUi = key === null ? ui : { ...ui, gesture: g };
    if (!copied) return nextUi === ui ? state : { ...state, ui: nextUi };
    return withProject(state, { ...project, blocks }, nextUi);
}

// blocks/trim {id, edge, time}: moves one edge to `time` (snapped), keeping
// the other edge in place; a block stays at least one frame long and never
// starts before 0.
export function trimBlock(state, { id, edge, time }) {
    if (!Number.isFinite(time) || (edge !== 'start' && edge !== 'end')) return state;
    const fps = state.project.fps;
    const blocks = replaceBlock(state.project.blocks, id, (b) => {
        const s = toFrame(b.startTime, fps);
        const e = toFrame(blockEnd(b), fps);
        const t = toFrame(time, fps);
        const ns = edge === 'start' ? Math.min(Math.max(t, 0), e - 1) : s;
        const ne = edge === 'end' ? Math.max(t, s + 1) : e;
        const startTime = fromFrame(ns, fps);
        const duration = fromFrame(ne - ns, fps);
        return startTime === b.startTime && duration === b.duration ? b : { ...b, startTime, duration };
    });
    return blocks === state.project.blocks ? state : withProject(state, { ...state.project, blocks });
}

// blocks/split {time?}: cuts the selected blocks (every block when nothing is
// selected) that run across `time` (default the playhead), snapped to a
// frame. The left part keeps the id; the right parts, with the same text and
// style, become the selection, so cutting again further on cuts them.
export function splitBlocks(state, action) {
    const { project, ui } = state;
    const fps = project.fps;
    const t = toFrame(Number.isFinite(action.time) ? action.time : ui.playhead, fps);
    const candidates = ui.selection.length ? new Set(ui.selection) : null;
    const out = [];
    const rights = [];
    const lefts = new Set();
    for (const b of project.blocks) {
        const s = toFrame(b.startTime, fps);
        const e = toFrame(blockEnd(b), fps);
        if ((candidates && !candidates.has(b.id)) || !(s < t && t < e)) {
            out.push(b);
            continue;
        }
        const right = { ...b, id: nextBlockId(project), startTime: fromFrame(t, fps), duration: fromFrame(e - t, fps) };
        out.push({ ...b, duration: fromFrame(t - s, fps) }, right);
        rights.push(right.id);
        lefts.add(b.id);
    }
    if (rights.length === 0) return state;
    const selection = ui.selection.filter((id) => !lefts.has(id)).concat(rights);
    return withProject(state, { ...project, blocks: out }, { ...ui, selection });
}

// blocks/merge {ids}: blocks of one track become the first of them (its id
// and style), its text the texts joined by line breaks in time order, its
// span from the first start to the last end.
export function mergeBlocks(state, action) {
    const { project, ui } = state;
    const want = idSet(action.ids, ui);
    const picked = project.blocks.filter((b) => want.has(b.id));
    if (picked.length < 2) return state;
    if (picked.some((b) => b.trackId !== picked[0].trackId)) {
        return notice(state, 'Fusion impossible : les blocs à fusionner doivent être sur la même piste.');
    }
    const ordered = picked.slice().sort((a, b) => a.startTime - b.startTime);
    const first = ordered[0];
    const end = Math.max(...ordered.map(blockEnd));
    const fps = project.fps;
    const merged = {
        ...first,
        text: ordered.map((b) => b.text).filter((t) => t.trim() !== '').join('\n'),
        duration: fromFrame(toFrame(end, fps) - toFrame(first.startTime, fps), fps),
    };
    const blocks = [];
    for (const b of project.blocks) {
        if (b.id === first.id) blocks.push(merged);
        else if (!want.has(b.id)) blocks.push(b);
    }
    return withProject(state, { ...project, blocks }, { ...ui, selection: [first.id] });
}

export function deleteBlocks(state, action) {
    const { project, ui } = state;
    const gone = idSet(action.ids, ui);
    const blocks = project.blocks.filter((b) => !gone.has(b.id));
    if (blocks.length === project.blocks.length) return state;
    return withProject(state, { ...project, blocks }, { ...ui, selection: ui.selection.filter((id) => !gone.has(id)) });
}

export function addTrack(state) {
    const { project } = state;
    if (project.tracks.length >= 64) return notice(state, 'Nombre maximal de pistes atteint (64).');
    const id = project.tracks.length;
    return withProject(state, { ...project, tracks: [...project.tracks, { id, name: trackName(id) }] });
}
