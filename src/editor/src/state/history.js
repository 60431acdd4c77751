// Undo history. Projects are immutable values that share every unchanged
// block with their previous version, so an entry is just the project as it
// was (a reference, not a copy) and the selection at that moment, which undo
// restores with it. Consecutive changes made under the same gesture key (a
// drag, a slider, typing) keep only the first "before" and so undo at once.

export const HISTORY_DEPTH = 200;
// Bound on what the kept projects hold apart from each other, counted in
// block copies (a block is a few hundred bytes): applying a style to 2,000
// blocks a hundred times must not keep a hundred copies of the project.
export const HISTORY_WEIGHT = 100000;

// How many block copies `before` keeps alive that `after` does not share,
// plus its list itself (a pointer per block, counted as 1/40 of a block).
export function changeWeight(before, after) {
    const a = before.blocks;
    const b = after.blocks;
    if (a === b) return 1;
    let w = 1 + Math.ceil(a.length / 40);
    if (a.length === b.length) {
        for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) w++;
        return w;
    }
    const kept = new Set(b);
    for (const block of a) if (!kept.has(block)) w++;
    return w;
}

export function createHistory(depth = HISTORY_DEPTH, maxWeight = HISTORY_WEIGHT) {
    let past = [];   // oldest first; entries {project, selection, weight}
    let future = []; // next redo last
    let openGesture = null; // gesture key of the newest entry while it may still grow
    let weight = 0;  // sum of the weights of `past`

    // Drops the oldest entries beyond the depth or the weight (the newest
    // entry always stays, whatever its weight).
    function trim() {
        let drop = 0;
        let w = 0;
        while (drop < past.length - 1 && (past.length - drop > depth || weight - w > maxWeight)) {
            w += past[drop].weight;
            drop++;
        }
        if (drop > 0) {
            weight -= w;
            past = past.slice(drop);
        }
    }

    return {
        // `before` = {project, selection} just before a project change made by
        // an action carrying `gesture` (or none); `w` its changeWeight.
        record(before, gesture, w = 1) {
            future = [];
            if (gesture != null && gesture === openGesture && past.length > 0) {
                const top = past[past.length - 1];
                if (w > top.weight) {
                    weight += w - top.weight;
                    top.weight = w;
                    trim();
                }
                return;
            }
            past.push({ ...before, weight: w });
            weight += w;
            trim();
            openGesture = gesture ?? null;
        },
        // Ends any open gesture: the next change starts a new entry even with
        // the same key.
        seal() {
            openGesture = null;
        },
        // current = {project, selection} now; returns the snapshot to restore
        // or null when there is nothing to undo.
        undo(current) {
            if (past.length === 0) return null;
            openGesture = null;
            const entry = past.pop();
            weight -= entry.weight;
            future.push({ ...current, weight: entry.weight });
            return entry;
        },
        redo(current) {
            if (future.length === 0) return null;
            openGesture = null;
            const entry = future.pop();
            past.push({ ...current, weight: entry.weight });
            weight += entry.weight;
            return entry;
        },
        canUndo: () => past.length > 0,
        canRedo: () => future.length > 0,
        size: () => past.length,
        weight: () => weight,
        clear() {
            past = [];
            future = [];
            openGesture = null;
            weight = 0;
        },
    };
}
