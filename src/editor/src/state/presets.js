// Styles: applying a patch to blocks, the built-in looks and the user's own
// named presets. A preset is {name, style} with every STYLE_KEYS field; it
// carries no position, so applying it never moves a caption.
import { DEFAULT_STYLE, STYLE_KEYS } from './model.js';
import { patchBlock, sanitizeStylePatch, sanitizeStyleValue, styleOf } from './style.js';

function look(overrides) {
    const style = {};
    for (const key of STYLE_KEYS) style[key] = key in overrides ? overrides[key] : DEFAULT_STYLE[key];
    return Object.freeze(style);
}

export const BUILTIN_PRESETS = Object.freeze([
    { name: 'Classique', style: look({}) },
    {
        name: 'Néon', style: look({
            font: 'Montserrat', size: 6, color: '#ffffff', glowType: 'neon', glowColor: '#00e5ff',
            glowIntensity: 45, hasOutline: false, outlineWidth: 0, animIn: 'zoom-blur', animOut: 'zoom-blur-out',
        }),
    },
    {
        name: 'Reflet doré', style: look({
            font: 'Anton', size: 7.5, color: '#ffc93c', effect: 'shine-sweep', effectColor: '#fff6d5',
            effectSpeed: 1.2, outlineWidth: 2, animIn: 'pop', animOut: 'pop-out',
        }),
    },
    {
        name: 'Bande dessinée', style: look({
            font: 'Bangers', size: 8, color: '#ffe14d', glowType: 'cartoon', glowColor: '#000000',
            outlineWidth: 4, animIn: 'slam', animOut: 'pop-out', animSpeed: 0.25,
        }),
    },
    {
        name: 'Élégant', style: look({
            font: 'DM Serif Display', size: 6, color: '#f6f1e7', glowType: 'shadow', glowColor: '#000000',
            glowIntensity: 14, hasOutline: false, outlineWidth: 0, animIn: 'smooth-rise', animOut: 'smooth-sink',
            animSpeed: 0.5,
        }),
    },
    {
        name: 'Sobre', style: look({
            font: 'Inter', size: 4.5, glowType: 'shadow', glowColor: '#000000', glowIntensity: 10,
            hasOutline: false, outlineWidth: 0, animIn: 'fade', animOut: 'fade', animSpeed: 0.2,
        }),
    },
    {
        name: 'Graffiti', style: look({
            font: 'Rubik Spray Paint', size: 8, color: '#ff3d7f', color2: '#ffd23f', glowType: 'hard',
            glowColor: '#1a1a1a', outlineWidth: 0, hasOutline: false, animIn: 'whip-left',
            animOut: 'whip-right-out',
        }),
    },
    {
        name: 'Terminal', style: look({
            font: 'Space Mono', size: 4.5, color: '#39ff14', glowType: 'wide', glowColor: '#0b6e0b',
            glowIntensity: 25, hasOutline: false, outlineWidth: 0, animIn: 'ghost-reveal', animOut: 'ghost-out',
        }),
    },
]);

const BUILTIN_NAMES = new Set(BUILTIN_PRESETS.map((p) => p.name.toLowerCase()));
const MAX_NAME = 60;

// Every preset offered to the user: the built-in ones first, then the
// user's, each flagged.
export function allPresets(userPresets = []) {
    return [
        ...BUILTIN_PRESETS.map((p) => ({ ...p, builtin: true })),
        ...userPresets.map((p) => ({ ...p, builtin: false })),
    ];
}

export function findPreset(name, userPresets = []) {
    return userPresets.find((p) => p.name === name) || BUILTIN_PRESETS.find((p) => p.name === name) || null;
}

// A stored list of user presets → the valid ones, each with a complete style
// (unreadable values replaced by the defaults).
export function readUserPresets(raw) {
    if (!Array.isArray(raw)) return [];
    const out = [];
    const names = new Set();
    for (const p of raw) {
        if (!p || typeof p.name !== 'string' || !p.style || typeof p.style !== 'object') continue;
        const name = p.name.trim().slice(0, MAX_NAME);
        if (!name || names.has(name) || BUILTIN_NAMES.has(name.toLowerCase())) continue;
        const style = {};
        for (const key of STYLE_KEYS) {
            const v = sanitizeStyleValue(key, p.style[key]);
            style[key] = v === undefined ? DEFAULT_STYLE[key] : v;
        }
        names.add(name);
        out.push({ name, style });
    }
    return out;
}

const withUi = (state, patch) => ({ ...state, ui: { ...state.ui, ...patch } });
const warn = (state, text) => withUi(state, { notice: { tone: 'warning', text, source: 'editor' } });

// style/apply {scope, patch}: the valid part of `patch` on the selected
// blocks or on all blocks. Refused values (bad colour, NaN, unknown name) are
// dropped; numbers are clamped to their range.
export function applyStyle(state, { scope, patch }) {
    const clean = sanitizeStylePatch(patch);
    if (Object.keys(clean).length === 0) return state;
    const { project, ui } = state;
    const all = scope === 'all';
    const want = all ? null : new Set(ui.selection);
    if (want && want.size === 0) return state;
    let blocks = project.blocks;
    let copied = false;
    for (let i = 0; i < blocks.length; i++) {
        const b = blocks[i];
        if (want && !want.has(b.id)) continue;
        const nb = patchBlock(b, clean);
        if (nb === b) continue;
        if (!copied) {
            blocks = blocks.slice();
            copied = true;
        }
        blocks[i] = nb;
    }
    return copied ? { ...state, project: { ...project, blocks } } : state;
}

export function savePreset(state, { name }) {
    const clean = typeof name === 'string' ? name.trim().slice(0, MAX_NAME) : '';
    if (!clean) return warn(state, 'Donnez un nom au préréglage.');
    if (BUILTIN_NAMES.has(clean.toLowerCase())) {
        return warn(state, `« ${clean} » est le nom d'un préréglage intégré : choisissez un autre nom.`);
    }
    const { project, ui } = state;
    const source = ui.selection.length ? project.blocks.find((b) => b.id === ui.selection[0]) : null;
    if (!source) return warn(state, 'Sélectionnez le bloc dont le style doit devenir un préréglage.');
    const preset = { name: clean, style: styleOf(source) };
    const i = ui.presets.findIndex((p) => p.name === clean);
    const presets = i < 0 ? [...ui.presets, preset] : ui.presets.map((p, j) => (j === i ? preset : p));
    return withUi(state, { presets });
}

export function deletePreset(state, { name }) {
    const presets = state.ui.presets.filter((p) => p.name !== name);
    return presets.length === state.ui.presets.length ? state : withUi(state, { presets });
}

export function applyPreset(state, { name, scope }) {
    const preset = findPreset(name, state.ui.presets);
    if (!preset) return warn(state, `Préréglage introuvable : « ${name} ».`);
    return applyStyle(state, { scope, patch: preset.style });
}
