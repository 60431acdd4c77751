// What the style panel offers: the shipped font families, the names of the
// animations, effects and glows with their French labels, the numeric
// ranges, and the reading of the values the panel shows. Pure data and
// functions, tested without a page.
import {
    FONTS, ANIM_IN as MODEL_ANIM_IN, ANIM_OUT as MODEL_ANIM_OUT, EFFECTS as MODEL_EFFECTS,
    GLOW_TYPES as MODEL_GLOW_TYPES,
} from '../state/model.js';
import { NUMBER_RANGES } from '../state/style.js';

// Names as the model lists them, with the labels the panel shows.
const ANIM_IN_LABELS = {
    'none': 'Aucune', 'fade': 'Fondu', 'pop': 'Pop', 'slide-up': 'Glisse vers le haut', 'rise': 'Montée',
    'smooth-rise': 'Montée douce', 'zoom-blur': 'Zoom flou', 'scale-down': 'Réduction',
    'ghost-reveal': 'Apparition fantôme', 'whip-left': 'Fouet depuis la gauche', 'slam': 'Choc',
};
const ANIM_OUT_LABELS = {
    'none': 'Aucune', 'fade': 'Fondu', 'pop-out': 'Pop', 'slide-down': 'Glisse vers le bas', 'sink': 'Descente',
    'smooth-sink': 'Descente douce', 'zoom-blur-out': 'Zoom flou', 'ghost-out': 'Disparition fantôme',
    'whip-right-out': 'Fouet vers la droite',
};
const EFFECT_LABELS = { 'none': 'Aucun', 'shine-sweep': 'Reflet balayant' };
const GLOW_LABELS = {
    'none': 'Aucune', 'hard': 'Dure', 'cartoon': 'Cartoon', 'shadow': 'Ombre portée', 'wide': 'Large', 'neon': 'Néon',
};

const labelled = (names, labels) => Object.freeze(names.map((name) => [name, labels[name] || name]));

export const ANIM_IN = labelled(MODEL_ANIM_IN, ANIM_IN_LABELS);
export const ANIM_OUT = labelled(MODEL_ANIM_OUT, ANIM_OUT_LABELS);
export const EFFECTS = labelled(MODEL_EFFECTS, EFFECT_LABELS);
export const GLOW_TYPES = labelled(MODEL_GLOW_TYPES, GLOW_LABELS);

// The numeric fields: the store's accepted range (the sliders' bounds and
// the clamping of typed values), the slider step and the label.
const NUMBER_LOOK = {
    size: { step: 0.1, label: 'Taille', unit: '% larg.' },
    textScaleX: { step: 1, label: 'Étirement', unit: '%' },
    glowIntensity: { step: 1, label: 'Intensité', unit: '' },
    outlineWidth: { step: 0.5, label: 'Épaisseur', unit: 'px' },
    effectSpeed: { step: 0.05, label: 'Durée', unit: 's' },
    animSpeed: { step: 0.01, label: 'Durée', unit: 's' },
    x: { step: 0.1, label: 'X', unit: '%' },
    y: { step: 0.1, label: 'Y', unit: '%' },
};
export const NUMBER_FIELDS = Object.freeze(Object.fromEntries(Object.entries(NUMBER_LOOK).map(([key, look]) => {
    const [min, max] = NUMBER_RANGES[key];
    return [key, Object.freeze({ min, max, ...look })];
})));

export const COLOR_FIELDS = Object.freeze(['color', 'color2', 'effectColor', 'glowColor', 'outlineColor']);

// A number typed or slid into a field, clamped to its range; null when the
// text is not a number (the field then keeps its value).
export function readNumber(text, key) {
    const range = NUMBER_FIELDS[key];
    const value = typeof text === 'number' ? text : Number(String(text).trim().replace(',', '.'));
    if (String(text).trim() === '' || !Number.isFinite(value)) return null;
    if (!range) return value;
    return Math.min(range.max, Math.max(range.min, value));
}

// A colour as a colour well needs it: "#rrggbb" in lower case. Short forms
// are expanded; anything else gives `fallback`.
export function wellColor(value, fallback = '#ffffff') {
    const text = typeof value === 'string' ? value.trim().toLowerCase() : '';
    if (/^#[0-9a-f]{6}$/.test(text)) return text;
    if (/^#[0-9a-f]{3}$/.test(text)) return `#${text[1]}${text[1]}${text[2]}${text[2]}${text[3]}${text[3]}`;
    return fallback;
}

// The options of a choice, with the current value added (marked as other)
// when a block carries a name the list does not offer.
export function optionsWith(options, value) {
    if (value === undefined || value === null || options.some(([v]) => v === value)) return options;
    return [...options, [value, `${value} (autre)`]];
}

export function fontOptions(value) {
    return optionsWith(FONTS.map((f) => [f, f]), value);
}

// Where the panel's changes go: the selection, or every block when the user
// asks for it or nothing is selected.
export function effectiveScope(scope, selectionSize) {
    return scope === 'all' || selectionSize === 0 ? 'all' : 'selection';
}

// The block whose values the panel shows: the first selected one, else
// (changes going to all blocks) the first block, else none.
export function shownBlock(project, selection) {
    if (selection.length) {
        const first = project.blocks.find((b) => b.id === selection[0]);
        if (first) return first;
    }
    return project.blocks[0] || null;
}
