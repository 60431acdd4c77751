// What the effect library panel shows and sends, apart from the components:
// categories, filtering, the timing of the animated previews, the target
// track of an insertion and the checks of a rename.

export const ALL_CATEGORIES = '';
export const DEFAULT_PREVIEW_FPS = 12;
export const MAX_PREVIEW_FPS = 30;

export function categoryOf(effect) {
    const c = typeof effect?.category === 'string' ? effect.category.trim() : '';
    return c || 'Sans catégorie';
}

// Distinct categories, sorted as French readers expect.
export function categoriesOf(effects) {
    const set = new Set((effects || []).map(categoryOf));
    return [...set].sort((a, b) => a.localeCompare(b, 'fr', { sensitivity: 'base' }));
}

export function filterEffects(effects, category, query) {
    const q = (query || '').trim().toLocaleLowerCase('fr');
    return (effects || []).filter((e) => {
        if (category && categoryOf(e) !== category) return false;
        if (!q) return true;
        return String(e.name || e.id || '').toLocaleLowerCase('fr').includes(q);
    });
}

// Milliseconds each preview frame stays on screen, from the frames' own
// rate (captured previews carry it) clamped to a rate the page can keep.
export function previewFrameMs(fps) {
    const f = Number(fps);
    const rate = Number.isFinite(f) && f > 0 ? Math.min(f, MAX_PREVIEW_FPS) : DEFAULT_PREVIEW_FPS;
    return 1000 / rate;
}

// The frame to show `elapsedMs` after the preview started; previews loop.
export function previewFrameIndex(elapsedMs, frameCount, fps) {
    if (!(frameCount > 0)) return -1;
    const step = Math.floor(Math.max(0, elapsedMs) / previewFrameMs(fps));
    return step % frameCount;
}

// Target track of an insertion, as the engine reads it: "auto", "new" or
// "track:N" with N a video track from 1.
export function targetTrackValue(choice, trackNumber) {
    if (choice === 'new') return 'new';
    if (choice === 'track') {
        const n = Number(trackNumber);
        if (Number.isInteger(n) && n >= 1) return `track:${n}`;
        return null;
    }
    return 'auto';
}

export function targetTrackProblem(choice, trackNumber) {
    return targetTrackValue(choice, trackNumber) === null
        ? 'La piste vidéo doit être un nombre entier à partir de 1.'
        : null;
}

// Checks a rename or a change of category; returns the trimmed values or a
// French reason.
export function effectEditProblem({ name, category }) {
    const n = (name || '').trim();
    const c = (category || '').trim();
    if (!n) return { error: "Le nom de l'effet ne peut pas être vide." };
    if (n.length > 80) return { error: 'Le nom est trop long (80 caractères au plus).' };
    if (c.length > 40) return { error: 'La catégorie est trop longue (40 caractères au plus).' };
    return { name: n, category: c || 'Mes effets' };
}

const STATUS_LABELS = {
    editable: 'Texte modifiable',
    advanced: 'Graphe avancé',
    'dependency-risk': 'Dépendances externes',
};

const SOURCE_LABELS = {
    'built-in': 'Intégré',
    captured: 'Capturé',
};

// Short labels for an effect's origin and compatibility.
export function effectBadges(effect) {
    const badges = [];
    const id = String(effect?.id || '');
    if (id.startsWith('shared-')) badges.push('Partagé');
    else if (id.startsWith('included-')) badges.push('Inclus');
    else if (SOURCE_LABELS[effect?.source]) badges.push(SOURCE_LABELS[effect.source]);
    const status = effect?.compatibility?.status;
    if (STATUS_LABELS[status]) badges.push(STATUS_LABELS[status]);
    return badges;
}

// Included effects live in the program's resources, which the library never
// writes: renaming or archiving one could only fail, so the panel offers
// neither.
export function isEditable(effect) {
    return !String(effect?.id || '').startsWith('included-');
}

// The animated stand-in of an effect without captured frames: its preview
// style names a CSS animation.
export function previewStyleClass(effect) {
    const s = effect?.previewStyle;
    return s === 'slide' || s === 'type' ? `fx-preview-${s}` : 'fx-preview-pulse';
}
