// Reading the state. Selectors that build a list remember their last answer
// for the same inputs, so components comparing with Object.is re-render only
// when the answer really changes.
import { blockEnd } from './model.js';

function memo2(fn) {
    let lastA;
    let lastB;
    let last;
    let primed = false;
    return (a, b) => {
        if (primed && a === lastA && b === lastB) return last;
        lastA = a;
        lastB = b;
        last = fn(a, b);
        primed = true;
        return last;
    };
}

const selectedOf = memo2((blocks, selection) => {
    if (selection.length === 0) return [];
    const want = new Set(selection);
    return blocks.filter((b) => want.has(b.id));
});

// The selected blocks, in project order.
export function selectedBlocks(state) {
    return selectedOf(state.project.blocks, state.ui.selection);
}

export function blockById(project, id) {
    return project.blocks.find((b) => b.id === id) || null;
}

// Blocks showing at `time` (start included, end excluded), lowest track first
// (the order they are drawn in).
export function blocksAt(project, time) {
    const out = [];
    for (const b of project.blocks) if (b.startTime <= time && time < blockEnd(b)) out.push(b);
    return out.sort((a, b) => a.trackId - b.trackId || a.startTime - b.startTime);
}

// End of the last block or sound, seconds.
export function projectDuration(project) {
    let end = 0;
    for (const b of project.blocks) end = Math.max(end, blockEnd(b));
    for (const s of project.sfx) end = Math.max(end, s.time);
    return end;
}

// The blocks a send or a render covers: "all", "selection", or "playhead"
// (every block still running at or after the playhead). Sorted by track, then
// start.
export function blocksInRange(project, range, ui) {
    let list;
    if (range === 'selection') {
        const want = new Set(ui.selection);
        list = project.blocks.filter((b) => want.has(b.id));
    } else if (range === 'playhead') {
        list = project.blocks.filter((b) => blockEnd(b) > ui.playhead);
    } else {
        list = project.blocks.slice();
    }
    return list.sort((a, b) => a.trackId - b.trackId || a.startTime - b.startTime);
}

// Time span {start, end} of a range: for "playhead" from the playhead to the
// end of the project, otherwise the span of the range's blocks ({0, 0} when
// there are none).
export function rangeBounds(project, range, ui) {
    const blocks = blocksInRange(project, range, ui);
    if (range === 'playhead') return { start: ui.playhead, end: Math.max(ui.playhead, projectDuration(project)) };
    if (blocks.length === 0) return { start: 0, end: 0 };
    if (range === 'all') return { start: 0, end: projectDuration(project) };
    let start = Infinity;
    let end = 0;
    for (const b of blocks) {
        start = Math.min(start, b.startTime);
        end = Math.max(end, blockEnd(b));
    }
    return { start, end };
}

// Blocks of each track, sorted by start: {trackId: [blocks]}; remembered per
// blocks list, for the timeline's drawing and hit testing.
export const blocksByTrack = (() => {
    let lastBlocks = null;
    let last = null;
    return (project) => {
        if (project.blocks === lastBlocks) return last;
        const map = new Map();
        for (const t of project.tracks) map.set(t.id, []);
        for (const b of project.blocks) {
            if (!map.has(b.trackId)) map.set(b.trackId, []);
            map.get(b.trackId).push(b);
        }
        for (const list of map.values()) list.sort((a, b) => a.startTime - b.startTime);
        lastBlocks = project.blocks;
        last = map;
        return map;
    };
})();

export const canUndo = (state) => state.history.canUndo;
export const canRedo = (state) => state.history.canRedo;
