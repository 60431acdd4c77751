// Whether a block's style can travel by the Lottie route without looking
// different from the preview. The rules list, per caption field, the values a
// Lottie document reproduces faithfully; a block using any other value goes
// through Exact Web instead (the smart export reads the verdict).
import defaultRules from '../../../../resources/data/lottie-capability.json' with { type: 'json' };

// The caption fields a rule may constrain, with the value the renderer uses
// when a block leaves the field out: the caption drawing module's defaults
// (the tests hold the two tables equal; the module is not bundled twice).
const FIELD_DEFAULTS = {
    text: '',
    startTime: 0,
    duration: 1,
    x: 50,
    y: 50,
    trackId: 0,
    font: 'HelveticaNeue-CondensedBlack',
    size: 8,
    textScaleX: 100,
    color: '#ffffff',
    color2: '#ffffff',
    effect: 'none',
    effectSpeed: 1,
    effectColor: '#ff7a00',
    glowType: 'none',
    glowIntensity: 20,
    glowColor: '#ffffff',
    hasOutline: false,
    outlineWidth: 0,
    outlineColor: '#000000',
    animIn: 'none',
    animOut: 'none',
    animSpeed: 0.35,
};

// Fields whose names are compared without regard to case.
const CASE_FREE = new Set(['glowType']);

const REASONS = {
    animIn: (v) => `L’animation d’entrée « ${v} » n’existe pas en Lottie.`,
    animOut: (v) => `L’animation de sortie « ${v} » n’existe pas en Lottie.`,
    effect: (v) => `L’effet « ${v} » n’est pas rendu en Lottie.`,
    glowType: (v) => `La lueur « ${v} » n’est pas rendue en Lottie.`,
    font: (v) => `La police « ${v} » n’est pas disponible en Lottie.`,
};

function reasonFor(field, value) {
    const shown = String(value);
    const make = REASONS[field];
    return make ? make(shown) : `Le réglage « ${field} » = « ${shown} » n’est pas rendu en Lottie.`;
}

function comparable(field, value) {
    if (typeof value === 'string') return CASE_FREE.has(field) ? value.trim().toLowerCase() : value;
    return value;
}

// The rules file turned into {field: Set of comparable values}; unknown keys
// and keys that are not lists are left out. Cached per rules object.
const compiled = new WeakMap();
function compile(rules) {
    let table = compiled.get(rules);
    if (table) return table;
    table = [];
    for (const [field, allowed] of Object.entries(rules)) {
        if (!Object.prototype.hasOwnProperty.call(FIELD_DEFAULTS, field) || !Array.isArray(allowed)) continue;
        table.push([field, new Set(allowed.map((v) => comparable(field, v)))]);
    }
    compiled.set(rules, table);
    return table;
}

// block → {status: "supported"} or {status: "unsupported", reasons: [French]}.
export function lottieCapabilityOf(block, rules = defaultRules) {
    rules = rules && typeof rules === 'object' ? rules : defaultRules;
    const table = compile(rules);
    const reasons = [];
    for (const [field, allowed] of table) {
        const raw = block && block[field] !== undefined && block[field] !== null ? block[field] : FIELD_DEFAULTS[field];
        if (!allowed.has(comparable(field, raw))) reasons.push(reasonFor(field, raw));
    }
    // An outline is drawn faithfully only in the faces listed for outlines
    // (players join its corners differently on the others).
    const outlineFonts = rules && Array.isArray(rules.outlineFont) ? rules.outlineFont : null;
    if (outlineFonts && outlined(block)) {
        const font = block.font !== undefined && block.font !== null ? block.font : FIELD_DEFAULTS.font;
        if (!outlineFonts.includes(font)) reasons.push(`Le contour de la police « ${font} » n’est pas rendu fidèlement en Lottie.`);
    }
    return reasons.length ? { status: 'unsupported', reasons } : { status: 'supported' };
}

// Whether the block draws an outline: asked for, with a width above 0.
function outlined(block) {
    if (!block) return false;
    const on = block.hasOutline === true || block.hasOutline === 'true' || block.hasOutline === 1;
    const width = Number(block.outlineWidth);
    return on && Number.isFinite(width) && width > 0;
}

export { defaultRules as lottieRules, FIELD_DEFAULTS };
