// Choices of the send panel and the checks made before a request leaves the
// page. The render accepts two containers; the background decides the codec
// (transparent → ProRes 4444 with alpha, anything else → H.264 over black),
// and MPEG-4 cannot carry ProRes, so a transparent MPEG-4 is never offered.

export const RENDER_FORMATS = [
    { value: 'mov', label: 'QuickTime (.mov)' },
    { value: 'mp4', label: 'MPEG-4 (.mp4)' },
];

export const RENDER_BACKGROUNDS = [
    { value: 'transparent', label: 'Transparent (alpha)' },
    { value: 'black', label: 'Noir' },
];

export const SEND_ROUTES = [
    { value: 'exact', label: 'Exact Web (vidéo avec alpha)' },
    { value: 'lottie', label: 'Lottie (sans encodage)' },
    { value: 'fusion', label: 'Titres Fusion' },
    { value: 'smart', label: 'Automatique (Lottie ou Exact Web)' },
];

export const SEND_RANGES = [
    { value: 'all', label: 'Tout le projet' },
    { value: 'selection', label: 'Blocs sélectionnés' },
    { value: 'playhead', label: 'De la tête de lecture à la fin' },
];

const has = (list, value) => list.some((o) => o.value === value);

// The codec the render will use for a background, as the user reads it.
export function codecLabel(bg) {
    return bg === 'transparent' ? 'ProRes 4444 avec alpha' : 'H.264 sur fond noir';
}

// Brings a format/background pair to one the render accepts: unknown values
// fall back to the defaults, and MPEG-4 forces the black background.
export function normalizeRenderChoice({ format, bg } = {}) {
    const f = has(RENDER_FORMATS, format) ? format : 'mov';
    let b = has(RENDER_BACKGROUNDS, bg) ? bg : f === 'mov' ? 'transparent' : 'black';
    if (f === 'mp4' && b === 'transparent') b = 'black';
    return { format: f, bg: b };
}

// Background options for a format, with the ones it cannot carry disabled.
export function backgroundOptions(format) {
    return RENDER_BACKGROUNDS.map((o) => ({
        ...o,
        disabled: format === 'mp4' && o.value === 'transparent',
    }));
}

// French reason why nothing can be sent for this range, or null.
// `blocks` are the blocks the range covers, `selectionSize` the number of
// selected blocks.
export function rangeProblem(range, blocks, selectionSize) {
    if (!has(SEND_RANGES, range)) return 'Plage inconnue.';
    if (range === 'selection' && selectionSize === 0) return 'Aucun bloc sélectionné.';
    if (!blocks || blocks.length === 0) {
        return range === 'playhead'
            ? 'Aucun bloc après la tête de lecture.'
            : 'Aucun bloc à envoyer dans cette plage.';
    }
    return null;
}

// How many blocks of the range the Lottie route expresses faithfully, and
// the distinct reasons that keep the others on Exact Web.
export function smartCounts(blocks, capabilityOf) {
    let capable = 0;
    const reasons = new Map();
    for (const block of blocks) {
        const cap = capabilityOf(block);
        if (cap && cap.status === 'supported') {
            capable += 1;
        } else {
            for (const r of (cap && cap.reasons) || []) reasons.set(r, (reasons.get(r) || 0) + 1);
        }
    }
    const sorted = [...reasons.entries()].sort((a, b) => b[1] - a[1]).map(([text, count]) => ({ text, count }));
    return { capable, exact: blocks.length - capable, total: blocks.length, reasons: sorted };
}

export function smartCountText({ capable, total }) {
    if (total === 0) return 'Aucun bloc dans la plage.';
    const blocs = (n) => (n > 1 ? 'blocs' : 'bloc');
    const exact = total - capable;
    return `${capable} ${blocs(capable)} sur ${total} en Lottie, ${exact} ${blocs(exact)} en Exact Web.`;
}
