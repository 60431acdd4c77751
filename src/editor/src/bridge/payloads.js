// Pure builders of the payloads the page posts to the engine. Each takes the
// project (and, where needed, the selection and playhead) and returns the
// plain object the native operation reads; nothing here touches the window.
import { lottieCapabilityOf } from '../capability/lottie-capability.js';

// The caption fields a sequence carries, in the order the renderer reads them.
export const SEQUENCE_KEYS = [
    'text', 'startTime', 'duration', 'x', 'y', 'trackId', 'font', 'size', 'textScaleX',
    'color', 'color2', 'effect', 'effectSpeed', 'effectColor', 'glowType', 'glowIntensity',
    'glowColor', 'hasOutline', 'outlineWidth', 'outlineColor', 'animIn', 'animOut', 'animSpeed',
];

// Message type of each route into Resolve.
export const ROUTE_MESSAGES = {
    exact: 'exportToResolve',
    lottie: 'exportResolveLottie',
    fusion: 'exportResolveHTML',
    smart: 'exportResolveSmart',
};

export const RANGES = ['all', 'selection', 'playhead'];

const finite = (v) => typeof v === 'number' && Number.isFinite(v);
const round6 = (v) => Math.round(v * 1e6) / 1e6;

function blockEnd(block) {
    return (finite(block.startTime) ? block.startTime : 0) + Math.max(0, finite(block.duration) ? block.duration : 0);
}

// One block as the caption record the engine reads, with its id and its
// Lottie verdict. Values the native side cannot read (undefined, non-finite
// numbers) are left out so that its defaults apply.
export function toSequence(block, rules) {
    const sequence = {};
    if (block.id !== undefined && block.id !== null) sequence.id = String(block.id);
    for (const key of SEQUENCE_KEYS) {
        const value = block[key];
        if (value === undefined || value === null) continue;
        if (typeof value === 'number' && !Number.isFinite(value)) continue;
        sequence[key] = value;
    }
    sequence.lottieCapability = lottieCapabilityOf(block, rules);
    return sequence;
}

export function projectEnd(project) {
    let end = 0;
    for (const block of project.blocks || []) end = Math.max(end, blockEnd(block));
    return end;
}

// The blocks and time span a range covers:
//   all        every block, from 0 to the end of the last block
//   selection  the selected blocks, from the first start to the last end
//   playhead   the blocks still visible after the playhead, from it to the end
// → {start, end, blocks, empty}
export function rangeOf(project, range, { selection = [], playhead = 0 } = {}) {
    const blocks = project.blocks || [];
    let chosen;
    let start;
    let end;
    if (range === 'selection') {
        const ids = new Set(selection);
        chosen = blocks.filter((b) => ids.has(b.id));
        start = chosen.length ? Math.min(...chosen.map((b) => b.startTime || 0)) : 0;
        end = chosen.length ? Math.max(...chosen.map(blockEnd)) : 0;
    } else if (range === 'playhead') {
        start = Math.max(0, finite(playhead) ? playhead : 0);
        chosen = blocks.filter((b) => blockEnd(b) > start);
        end = Math.max(start, projectEnd(project));
    } else {
        chosen = blocks.slice();
        start = 0;
        end = projectEnd(project);
    }
    start = round6(start);
    end = round6(end);
    return { start, end, blocks: chosen, empty: chosen.length === 0 || !(end > start) };
}

// The project's sound effects inside [start, end), as the engine reads them.
export function sfxEvents(project, start = 0, end = Infinity) {
    const events = [];
    for (const sfx of project.sfx || []) {
        const time = finite(sfx.time) ? sfx.time : 0;
        if (time < start || time >= end) continue;
        if (typeof sfx.dataUrl !== 'string' || !sfx.dataUrl.includes(',')) continue;
        events.push({
            dataUrl: sfx.dataUrl,
            start: round6(time),
            name: typeof sfx.name === 'string' && sfx.name.trim() ? sfx.name.trim() : 'Tessivo SFX',
            volume: finite(sfx.volume) ? Math.min(1, Math.max(0, sfx.volume)) : 0.85,
        });
    }
    return events;
}

function frameOf(project) {
    return {
        width: Number.isInteger(project.width) && project.width > 0 ? project.width : 1920,
        height: Number.isInteger(project.height) && project.height > 0 ? project.height : 1080,
        fps: finite(project.fps) && project.fps > 0 ? project.fps : 25,
    };
}

// Display name of the codec a render will use: a transparent background
// needs ProRes 4444 in a QuickTime file; anything else is H.264 over black.
export function renderCodecName(background) {
    return background === 'transparent' ? 'ProRes 4444' : 'H.264';
}

// Render options → {format, bg}: "mov" keeps the chosen background; an MP4
// file cannot hold ProRes, so it is always H.264 over black.
export function renderFormat({ format = 'mov', background = 'transparent' } = {}) {
    const fmt = format === 'mp4' ? 'mp4' : 'mov';
    const bg = fmt === 'mp4' ? 'black' : background === 'black' ? 'black' : 'transparent';
    return { format: fmt, bg };
}

// "startRender": options {format: "mov"|"mp4", background: "transparent"|"black",
// range, encoding?}; view {selection, playhead}.
export function startRenderPayload(project, options = {}, view = {}, rules) {
    const span = rangeOf(project, options.range || 'all', view);
    const { format, bg } = renderFormat(options);
    return {
        ...frameOf(project),
        start: span.start,
        end: span.end,
        format,
        codec: renderCodecName(bg),
        encoding: options.encoding || 'quality',
        renderer: 'web',
        bg,
        sequences: span.blocks.map((b) => toSequence(b, rules)),
    };
}

// The payload of a send into Resolve by one route → {type, payload, span}.
export function exportPayload(project, route, range = 'all', view = {}, rules) {
    const type = ROUTE_MESSAGES[route];
    if (!type) throw new Error(`Route inconnue : ${route}`);
    const span = rangeOf(project, range, view);
    const payload = {
        ...frameOf(project),
        start: span.start,
        end: span.end,
        sequences: span.blocks.map((b) => toSequence(b, rules)),
        sfxEvents: sfxEvents(project, span.start, span.end),
    };
    if (route === 'exact' || route === 'smart') {
        // A movie with alpha cut into one clip per block.
        Object.assign(payload, { format: 'mov', bg: 'transparent', encoding: 'auto', renderer: 'web', splitBySubtitles: true });
    }
    return { type, payload, span };
}

// "importResolveSubtitles": trackIndices limits the tracks read (from 1);
// timelineId makes Resolve refuse the import when another timeline is active.
export function importPayload({ trackIndices, timelineId } = {}) {
    const payload = {};
    if (Array.isArray(trackIndices) && trackIndices.length) payload.trackIndices = trackIndices.filter(Number.isInteger);
    if (typeof timelineId === 'string' && timelineId) payload.timelineId = timelineId;
    return payload;
}

// The style of a block as a Fusion title reads it: fractions of the frame,
// size relative to the width, the centre's y counted from the bottom.
export function fusionInstance(block, fps = 25) {
    const b = block || {};
    const num = (v, d) => (finite(v) ? v : d);
    return {
        text: typeof b.text === 'string' ? b.text : '',
        font: typeof b.font === 'string' && b.font ? b.font : 'Inter',
        size: num(b.size, 8) / 100,
        color: typeof b.color === 'string' ? b.color : '#ffffff',
        color2: typeof b.color2 === 'string' ? b.color2 : typeof b.color === 'string' ? b.color : '#ffffff',
        x: num(b.x, 50) / 100,
        y: (100 - num(b.y, 50)) / 100,
        duration: block ? Math.max(1 / fps, num(b.duration, 2.5)) : 2.5,
    };
}

// Target track of an insertion: "auto", "new", or a video track from 1.
export function targetTrack(track) {
    if (track === 'new' || track === 'auto') return track;
    const n = typeof track === 'string' && /^track:\d+$/.test(track) ? Number(track.slice(6)) : Number(track);
    return Number.isInteger(n) && n >= 1 ? `track:${n}` : 'auto';
}

// The style an effect carries itself (its first text target), used when no
// block is selected: the effect is inserted as it looks in the library.
export function effectOwnInstance(effect) {
    const targets = effect && Array.isArray(effect.textTargets) ? effect.textTargets : [];
    const target = targets.find((t) => t && typeof t === 'object') || {};
    const center = Array.isArray(target.center) ? target.center : [0.5, 0.5];
    return {
        text: typeof target.text === 'string' ? target.text : (effect && typeof effect.name === 'string' ? effect.name : 'Texte'),
        font: typeof target.font === 'string' && target.font ? target.font : 'Inter',
        size: finite(target.size) ? target.size : 0.1,
        color: typeof target.color === 'string' ? target.color : '#ffffff',
        x: finite(center[0]) ? center[0] : 0.5,
        y: finite(center[1]) ? center[1] : 0.5,
        duration: effect && finite(effect.duration) ? effect.duration : 2.5,
    };
}

// "fusionInsertEffect": with a block, the effect takes its text and style;
// without one, the effect's own text and layout are kept.
export function insertEffectPayload(effectId, { track = 'auto', block = null, effect = null, fps = 25, requestId, timelineId } = {}) {
    const payload = {
        id: effectId,
        requestId,
        targetTrack: targetTrack(track),
        preserveLayout: !block,
        instance: block ? fusionInstance(block, fps) : effectOwnInstance(effect),
    };
    if (typeof timelineId === 'string' && timelineId) payload.timelineId = timelineId;
    return payload;
}

export function applyEffectPayload(effectId, block = null, fps = 25) {
    return { id: effectId, instance: fusionInstance(block, fps) };
}

export function captureEffectPayload({ name = '', category = '' } = {}) {
    return { name: String(name).trim().slice(0, 160), category: String(category).trim().slice(0, 120) };
}

export function updateEffectPayload(effectId, { name, category } = {}) {
    const payload = { id: effectId };
    if (typeof name === 'string') payload.name = name.trim().slice(0, 120);
    if (typeof category === 'string') payload.category = category.trim().slice(0, 80);
    return payload;
}
