// Shared fakes for the store tests: a localStorage-like map that can be made
// to fail, and timers that only run when the test says so.
import { createStore } from '../src/state/store.js';

export function memoryStorage(initial = {}) {
    const map = new Map(Object.entries(initial));
    return {
        map,
        failWrites: false,
        getItem(key) {
            return map.has(key) ? map.get(key) : null;
        },
        setItem(key, value) {
            if (this.failWrites) {
                const e = new Error('QuotaExceededError');
                e.name = 'QuotaExceededError';
                throw e;
            }
            map.set(key, String(value));
        },
        removeItem(key) {
            map.delete(key);
        },
    };
}

export function manualTimers() {
    let next = 1;
    const pending = new Map();
    return {
        setTimeout(fn) {
            const id = next++;
            pending.set(id, fn);
            return id;
        },
        clearTimeout(id) {
            pending.delete(id);
        },
        runAll() {
            const fns = [...pending.values()];
            pending.clear();
            for (const fn of fns) fn();
        },
        get count() {
            return pending.size;
        },
    };
}

// A store on an in-memory storage with manual timers; `blocks` are
// [start, duration, trackId?, text?] tuples imported as the starting project
// (not an undo step: history is cleared by building the store on a project).
export function storeWith(blocks = [], { fps = 25, tracks = 1, storage = memoryStorage() } = {}) {
    const project = {
        version: 1, name: 'Essai', width: 1920, height: 1080, fps, resolveTimelineId: null,
        tracks: Array.from({ length: tracks }, (_, id) => ({ id, name: `Piste ${id + 1}` })),
        blocks: blocks.map(([startTime, duration, trackId = 0, text = 'x'], i) => ({
            ...baseStyle, id: `b${i + 1}`, text, startTime, duration, trackId,
        })),
        sfx: [],
    };
    const timers = manualTimers();
    const store = createStore({ storage, timers, project });
    return { store, storage, timers, ids: project.blocks.map((b) => b.id) };
}

const baseStyle = {
    x: 50, y: 80, font: 'Bebas Neue', size: 7, textScaleX: 100, color: '#ffffff', color2: '#ffffff',
    effect: 'none', effectSpeed: 1, effectColor: '#ff7a00', glowType: 'none', glowIntensity: 20,
    glowColor: '#000000', hasOutline: true, outlineWidth: 3, outlineColor: '#000000', animIn: 'fade',
    animOut: 'fade', animSpeed: 0.3,
};

export const byId = (store, id) => store.getState().project.blocks.find((b) => b.id === id);
export const spans = (store) => store.getState().project.blocks.map((b) => [b.id, b.startTime, b.duration, b.trackId]);
