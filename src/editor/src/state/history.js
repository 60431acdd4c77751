// Undo history. Projects are immutable values that share every unchanged
// block with their previous version, so an entry is just the project as it
// was (a reference, not a copy) and the selection at that moment, which undo
// restores with it. Consecutive changes made under the same gesture key (a
// drag, a slider, typing) keep only the first "before" and so undo at once.

export const HISTORY_DEPTH = 200;

export function createHistory(depth = HISTORY_DEPTH) {
    let past = [];   // oldest first
    let future = []; // next redo last
    let openGesture = null; // gesture key of the newest entry while it may still grow

    return {
        // `before` = {project, selection} just before a project change made by
        // an action carrying `gesture` (or none).
        record(before, gesture) {
            future = [];
            if (gesture != null && gesture === openGesture && past.length > 0) return;
            past.push(before);
            if (past.length > depth) past = past.slice(past.length - depth);
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
            future.push(current);
            return past.pop();
        },
        redo(current) {
            if (future.length === 0) return null;
            openGesture = null;
            past.push(current);
            return future.pop();
        },
        canUndo: () => past.length > 0,
        canRedo: () => future.length > 0,
        size: () => past.length,
        clear() {
            past = [];
            future = [];
            openGesture = null;
        },
    };
}
