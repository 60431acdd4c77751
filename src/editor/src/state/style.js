// Validation of style values. Everything that enters a block from outside the
// store (the style panel, presets, files, imports) goes through here, so a
// project never holds a colour the renderers cannot read, a NaN, or a size
// that would draw nothing or fill the screen a thousand times over.
import {
    ANIM_IN, ANIM_OUT, DEFAULT_STYLE, EFFECTS, GLOW_TYPES, POSITION_KEYS, STYLE_KEYS,
} from './model.js';

// Numeric fields and their accepted range; values outside are clamped.
export const NUMBER_RANGES = {
    x: [0, 100],
    y: [0, 100],
    size: [0.5, 40],
    textScaleX: [40, 220],
    effectSpeed: [0.05, 10],
    glowIntensity: [0, 100],
    outlineWidth: [0, 40],
    animSpeed: [0, 3],
};
const COLOR_KEYS = new Set(['color', 'color2', 'effectColor', 'glowColor', 'outlineColor']);
const NAME_LISTS = { effect: EFFECTS, glowType: GLOW_TYPES, animIn: ANIM_IN, animOut: ANIM_OUT };
export const PATCH_KEYS = [...POSITION_KEYS, ...STYLE_KEYS];

const HEX = /^#([0-9a-f]{3}|[0-9a-f]{6})$/i;

// "#ABC" / "#aabbcc" → "#aabbcc"; anything else → null. Only the hexadecimal
// forms are kept: every renderer reads them the same way.
export function normalizeColor(value) {
    if (typeof value !== 'string') return null;
    const v = value.trim();
    if (!HEX.test(v)) return null;
    const hex = v.slice(1).toLowerCase();
    return hex.length === 3 ? `#${hex[0]}${hex[0]}${hex[1]}${hex[1]}${hex[2]}${hex[2]}` : `#${hex}`;
}

function finiteNumber(value) {
    if (typeof value === 'number') return Number.isFinite(value) ? value : null;
    if (typeof value === 'string' && value.trim() !== '') {
        const n = Number(value);
        return Number.isFinite(n) ? n : null;
    }
    return null;
}

// One style value, validated: the value to store, or undefined when it must
// be refused (unknown key, wrong type, NaN, unknown name, bad colour).
export function sanitizeStyleValue(key, value) {
    if (key in NUMBER_RANGES) {
        const n = finiteNumber(value);
        if (n === null) return undefined;
        const [lo, hi] = NUMBER_RANGES[key];
        return Math.round(Math.min(hi, Math.max(lo, n)) * 1000) / 1000;
    }
    if (COLOR_KEYS.has(key)) return normalizeColor(value) ?? undefined;
    if (key in NAME_LISTS) {
        if (typeof value !== 'string') return undefined;
        const name = value.trim().toLowerCase();
        return NAME_LISTS[key].includes(name) ? name : undefined;
    }
    if (key === 'font') {
        if (typeof value !== 'string') return undefined;
        const font = value.trim();
        return font && font.length <= 120 ? font : undefined;
    }
    if (key === 'hasOutline') return typeof value === 'boolean' ? value : undefined;
    return undefined;
}

// A patch of style/position values → the valid part of it (possibly empty).
export function sanitizeStylePatch(patch) {
    const out = {};
    if (!patch || typeof patch !== 'object') return out;
    for (const key of PATCH_KEYS) {
        if (!(key in patch)) continue;
        const v = sanitizeStyleValue(key, patch[key]);
        if (v !== undefined) out[key] = v;
    }
    return out;
}

// The full style of a raw block: each field validated, the default where the
// raw value is missing or refused.
export function sanitizeFullStyle(raw) {
    const out = {};
    for (const key of PATCH_KEYS) {
        const v = raw && key in raw ? sanitizeStyleValue(key, raw[key]) : undefined;
        out[key] = v === undefined ? DEFAULT_STYLE[key] : v;
    }
    return out;
}

// The look of a block (STYLE_KEYS only), for presets.
export function styleOf(block) {
    const out = {};
    for (const key of STYLE_KEYS) out[key] = block[key];
    return out;
}

// block with `patch` applied, or the same block when nothing changes (so an
// unchanged block keeps its identity and the timeline need not redraw it).
export function patchBlock(block, patch) {
    for (const key in patch) {
        if (block[key] !== patch[key]) return { ...block, ...patch };
    }
    return block;
}
