// What the style panel offers: the shipped font families, the names of the
// animations, effects and glows with their French labels, the numeric
// ranges, and the reading of the values the panel shows. Pure data and
// functions, tested without a page.

// The families resources/fonts ships and css/fonts.css declares.
export const FONT_FAMILIES = Object.freeze([
    'Anton', 'Archivo Black', 'Bangers', 'Bebas Neue', 'DM Serif Display', 'Inter', 'Montserrat',
    'Rubik Dirt', 'Rubik Spray Paint', 'Space Mono', 'Teko',
]);

export const ANIM_IN = Object.freeze([
    ['none', 'Aucune'], ['fade', 'Fondu'], ['pop', 'Pop'], ['slide-up', 'Glisse vers le haut'],
    ['rise', 'Montée'], ['smooth-rise', 'Montée douce'], ['zoom-blur', 'Zoom flou'], ['scale-down', 'Réduction'],
    ['ghost-reveal', 'Apparition fantôme'], ['whip-left', 'Fouet depuis la gauche'], ['slam', 'Choc'],
]);

export const ANIM_OUT = Object.freeze([
    ['none', 'Aucune'], ['fade', 'Fondu'], ['pop-out', 'Pop'], ['slide-down', 'Glisse vers le bas'],
    ['sink', 'Descente'], ['smooth-sink', 'Descente douce'], ['zoom-blur-out', 'Zoom flou'],
    ['ghost-out', 'Disparition fantôme'], ['whip-right-out', 'Fouet vers la droite'],
]);

export const EFFECTS = Object.freeze([['none', 'Aucun'], ['shine-sweep', 'Reflet balayant']]);

export const GLOW_TYPES = Object.freeze([
    ['none', 'Aucune'], ['hard', 'Dure'], ['cartoon', 'Cartoon'], ['shadow', 'Ombre portée'],
    ['wide', 'Large'], ['neon', 'Néon'],
]);

// Ranges of the numeric fields: the sliders' bounds and the clamping of
// typed values.
export const NUMBER_FIELDS = Object.freeze({
    size: { min: 1, max: 30, step: 0.1, label: 'Taille', unit: '% de la largeur' },
    textScaleX: { min: 40, max: 220, step: 1, label: 'Étirement', unit: '%' },
    glowIntensity: { min: 0, max: 100, step: 1, label: 'Intensité', unit: '' },
    outlineWidth: { min: 0, max: 30, step: 0.5, label: 'Épaisseur', unit: 'px' },
    effectSpeed: { min: 0.05, max: 10, step: 0.05, label: 'Durée d’un passage', unit: 's' },
    animSpeed: { min: 0.01, max: 3, step: 0.01, label: 'Durée', unit: 's' },
    x: { min: 0, max: 100, step: 0.1, label: 'X', unit: '%' },
    y: { min: 0, max: 100, step: 0.1, label: 'Y', unit: '%' },
});

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
    return optionsWith(FONT_FAMILIES.map((f) => [f, f]), value);
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
