// Test doubles of the bridge's surroundings: a window with the native
// channel and manual timers, and a store that keeps the engine slice with the
// real update and a few ui fields, recording every action.
import { engineUpdate, initialEngineState } from '../src/state/engine-state.js';

export function fakeWindow({ channel = true, throws = false } = {}) {
    const posted = [];
    const timers = new Map();
    let clock = 0;
    let serial = 0;
    const win = {
        posted,
        setTimeout(fn, ms) {
            timers.set(++serial, { fn, due: clock + ms });
            return serial;
        },
        clearTimeout(id) {
            timers.delete(id);
        },
        // Runs the timers due within the next `ms` milliseconds.
        advance(ms) {
            clock += ms;
            for (const [id, t] of [...timers]) {
                if (t.due <= clock) {
                    timers.delete(id);
                    t.fn();
                }
            }
        },
        pendingTimers: () => timers.size,
    };
    if (channel) {
        win.webkit = {
            messageHandlers: {
                exportEngine: {
                    postMessage(message) {
                        if (throws) throw new Error('refusé');
                        posted.push(JSON.parse(JSON.stringify(message)));
                    },
                },
            },
        };
    }
    return win;
}

export function block(id, startTime, duration, extra = {}) {
    return {
        id, text: `Texte ${id}`, startTime, duration, trackId: 0, x: 50, y: 80, font: 'Inter', size: 6,
        textScaleX: 100, color: '#ffffff', color2: '#ffffff', effect: 'none', effectSpeed: 1, effectColor: '#ff7a00',
        glowType: 'none', glowIntensity: 20, glowColor: '#ffffff', hasOutline: false, outlineWidth: 0,
        outlineColor: '#000000', animIn: 'fade', animOut: 'fade', animSpeed: 0.35, ...extra,
    };
}

export function fakeStore({ blocks = [], fps = 25, selection = [], playhead = 0, sfx = [], followResolve = false } = {}) {
    const actions = [];
    let state = {
        project: { version: 1, name: 'Test', width: 1920, height: 1080, fps, resolveTimelineId: null, tracks: [{ id: 0, name: 'Piste 1' }], blocks, sfx },
        ui: { selection, playhead, followResolve, preview: { background: 'checker' }, engine: initialEngineState() },
    };
    const store = {
        actions,
        getState: () => state,
        dispatch(action) {
            actions.push(action);
            const { project, ui } = state;
            if (action.type.startsWith('engine/')) state = { project, ui: { ...ui, engine: engineUpdate(ui.engine, action) } };
            else if (action.type === 'project/setFps') state = { project: { ...project, fps: action.fps }, ui };
            else if (action.type === 'follow/set') state = { project, ui: { ...ui, followResolve: action.enabled } };
            else if (action.type === 'playhead/set') state = { project, ui: { ...ui, playhead: action.time } };
            else if (action.type === 'preview/set') state = { project, ui: { ...ui, preview: { ...ui.preview, ...action } } };
        },
        engine: () => state.ui.engine,
        of: (type) => actions.filter((a) => a.type === type),
    };
    return store;
}
