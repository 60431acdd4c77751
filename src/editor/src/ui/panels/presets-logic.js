// The preset list of the presets panel: built-in presets first, then the
// user's, whatever shape each collection is kept in (an array of
// {name, style} or an object keyed by name), and the checks of a new name.

function entriesOf(collection, builtin) {
    if (!collection) return [];
    const pairs = Array.isArray(collection)
        ? collection.map((p) => [p?.name, p?.style ?? p?.patch ?? p])
        : Object.entries(collection).map(([name, p]) => [name, p?.style ?? p?.patch ?? p]);
    return pairs
        .filter(([name, style]) => typeof name === 'string' && name && style && typeof style === 'object')
        .map(([name, style]) => ({ name, style, builtin }));
}

export function presetEntries(builtin, user) {
    const b = entriesOf(builtin, true);
    const names = new Set(b.map((p) => p.name));
    const u = entriesOf(user, false)
        .filter((p) => !names.has(p.name))
        .sort((x, y) => x.name.localeCompare(y.name, 'fr', { sensitivity: 'base' }));
    return [...b, ...u];
}

export const MAX_PRESET_NAME = 60;

// Checks the name a style is saved under. Returns {name, overwrite} or
// {error}; a built-in preset's name is refused, a user preset's name means
// replacing it.
export function presetNameCheck(rawName, entries) {
    const name = String(rawName || '').replace(/\s+/g, ' ').trim();
    if (!name) return { error: 'Donne un nom au préréglage.' };
    if (name.length > MAX_PRESET_NAME) return { error: `Le nom est trop long (${MAX_PRESET_NAME} caractères au plus).` };
    const same = entries.find((p) => p.name.toLocaleLowerCase('fr') === name.toLocaleLowerCase('fr'));
    if (same && same.builtin) return { error: `« ${same.name} » est un préréglage intégré : choisis un autre nom.` };
    return { name: same ? same.name : name, overwrite: Boolean(same) };
}

// CSS of the small sample drawn beside a preset's name.
export function presetSampleStyle(style) {
    const css = {};
    if (typeof style.font === 'string') css.fontFamily = `'${style.font}', sans-serif`;
    if (typeof style.color === 'string') css.color = style.color;
    if (style.hasOutline && typeof style.outlineColor === 'string') {
        css.WebkitTextStroke = `1px ${style.outlineColor}`;
    }
    if (style.glowType && style.glowType !== 'none' && typeof style.glowColor === 'string') {
        css.textShadow = `0 0 6px ${style.glowColor}`;
    }
    return css;
}
