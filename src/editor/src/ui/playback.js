// Real-time playback: on every animation frame the playhead moves by the
// wall-clock time elapsed since play was pressed, so a slow frame drops
// frames instead of slowing the project down. Sound effects the playhead
// passes are played. Playback stops at the end of the project.
//
// The clock and frame scheduler are passed in, so the loop runs the same in
// the page (performance.now, requestAnimationFrame) and in the tests.
import { projectDuration } from '../state/selectors.js';

// Sound effects whose time lies in (from, to], in time order.
export function soundsBetween(sfx, from, to) {
    return (sfx || []).filter((e) => e.time > from && e.time <= to).sort((a, b) => a.time - b.time);
}

// The page's clock and frame scheduler for createPlayback. The window's
// functions are called on the window: called as methods of another object
// they throw.
export function pageFrames(win = globalThis) {
    return {
        now: () => win.performance.now(),
        requestFrame: (fn) => win.requestAnimationFrame(fn),
        cancelFrame: (handle) => win.cancelAnimationFrame(handle),
    };
}

// env: {now() → ms, requestFrame(fn) → handle, cancelFrame(handle), playSound(effect)}
export function createPlayback(store, env) {
    const state = store.getState();
    const fps = state.project.fps > 0 ? state.project.fps : 25;
    let base = state.ui.playhead;
    // Play from the start when the playhead stands at the end.
    if (base >= projectDuration(state.project) - 0.5 / fps) base = 0;
    let startedAt = env.now();
    let heard = base;
    let expected = null;
    let handle = null;
    let stopped = false;

    function set(time) {
        store.dispatch({ type: 'playhead/set', time });
        expected = store.getState().ui.playhead;
    }

    function tick() {
        handle = null;
        if (stopped) return;
        const { project, ui } = store.getState();
        if (!ui.playing) return;
        const now = env.now();
        // The user moved the playhead meanwhile: play on from there.
        if (expected !== null && Math.abs(ui.playhead - expected) > 1e-9) {
            base = ui.playhead;
            startedAt = now;
            heard = base;
        }
        const end = projectDuration(project);
        const time = Math.min(base + (now - startedAt) / 1000, end);
        for (const effect of soundsBetween(project.sfx, heard, time)) env.playSound(effect);
        heard = time;
        set(time);
        if (time >= end) {
            store.dispatch({ type: 'playback/set', playing: false });
            return;
        }
        handle = env.requestFrame(tick);
    }

    // Sounds placed exactly where playback starts are heard too.
    for (const effect of (store.getState().project.sfx || []).filter((e) => e.time === base)) env.playSound(effect);
    set(base);
    handle = env.requestFrame(tick);

    return {
        stop() {
            stopped = true;
            if (handle !== null) env.cancelFrame(handle);
            handle = null;
        },
    };
}
