// Reading blocks and projects that come from outside the store: imported
// subtitles, the page's storage, `.tessivo.json` files. The structure must be
// right (a French error says what is wrong otherwise); individual style values
// that are out of range or unreadable are replaced by their defaults, so a
// file written by an older or newer editor still opens.
import {
    PROJECT_VERSION, ensureTracks, fromFrame, idNumber, newProject, reserveIdsOf, toFrame, trackName,
    validDimension, validFps, nextBlockId,
} from './model.js';
import { sanitizeFullStyle } from './style.js';

const MAX_TRACKS = 64;
const SOURCE_KINDS = ['resolve', 'srt', 'vtt', 'typed'];

function finite(v) {
    const n = typeof v === 'string' && v.trim() !== '' ? Number(v) : v;
    return typeof n === 'number' && Number.isFinite(n) ? n : null;
}

// A raw block → a complete block snapped to `fps`, keeping `id` (the caller
// makes ids unique), or a French reason why it cannot be read.
export function readBlock(raw, fps) {
    if (!raw || typeof raw !== 'object' || Array.isArray(raw)) return { error: "ce n'est pas un objet" };
    const start = finite(raw.startTime);
    const duration = finite(raw.duration);
    if (start === null || start < 0) return { error: 'début manquant ou invalide' };
    if (duration === null || duration <= 0) return { error: 'durée manquante ou invalide' };
    let text = raw.text;
    if (typeof text === 'number') text = String(text);
    if (typeof text !== 'string') return { error: 'texte manquant' };
    const trackRaw = finite(raw.trackId);
    const trackId = trackRaw === null ? 0 : Math.round(trackRaw);
    if (trackId < 0 || trackId >= MAX_TRACKS) return { error: `piste ${trackRaw} hors limites` };
    const startFrame = toFrame(start, fps);
    const block = {
        id: typeof raw.id === 'string' && raw.id ? raw.id : null,
        text: text.replace(/\r\n?/g, '\n'),
        startTime: fromFrame(startFrame, fps),
        duration: fromFrame(Math.max(1, toFrame(start + duration, fps) - startFrame), fps),
        trackId,
        ...sanitizeFullStyle(raw),
    };
    const src = raw.source;
    if (src && typeof src === 'object' && SOURCE_KINDS.includes(src.kind)) {
        block.source = { kind: src.kind };
        if (typeof src.id === 'string' || typeof src.id === 'number') block.source.id = src.id;
    }
    return { block };
}

// A raw project (parsed JSON) → a valid project; throws an Error with a
// French message when the structure is not that of a project.
export function validateProject(raw) {
    if (!raw || typeof raw !== 'object' || Array.isArray(raw)) {
        throw new Error("Ce fichier ne contient pas de projet Tessivo.");
    }
    if (!Array.isArray(raw.blocks)) {
        throw new Error("Ce fichier ne contient pas de projet Tessivo : la liste des blocs est absente.");
    }
    const version = raw.version ?? PROJECT_VERSION;
    if (version !== PROJECT_VERSION) {
        throw new Error(`Ce projet a été enregistré par une autre version de Tessivo (version ${version}) et ne peut pas être ouvert.`);
    }
    if (raw.fps !== undefined && !validFps(raw.fps)) {
        throw new Error("Cadence d'images du projet invalide (attendu : entre 1 et 240 images par seconde).");
    }
    for (const key of ['width', 'height']) {
        if (raw[key] !== undefined && !validDimension(raw[key])) {
            throw new Error(`Dimension du projet invalide (${key === 'width' ? 'largeur' : 'hauteur'} : ${raw[key]}).`);
        }
    }
    const base = newProject({ width: raw.width, height: raw.height, fps: raw.fps, name: raw.name });
    const fps = base.fps;
    const blocks = [];
    const used = new Set();
    const needId = [];
    raw.blocks.forEach((rb, i) => {
        const { block, error } = readBlock(rb, fps);
        if (error) throw new Error(`Bloc n° ${i + 1} illisible : ${error}.`);
        if (block.id === null || used.has(block.id) || idNumber(block.id, 'b') === 0) needId.push(block);
        else used.add(block.id);
        blocks.push(block);
    });
    let tracks = readTracks(raw.tracks);
    for (const b of blocks) tracks = ensureTracks(tracks, b.trackId);
    const project = {
        ...base,
        resolveTimelineId: typeof raw.resolveTimelineId === 'string' && raw.resolveTimelineId ? raw.resolveTimelineId : null,
        tracks,
        blocks,
        sfx: readSfx(raw.sfx, fps),
    };
    // Blocks without a usable id (missing, duplicated, foreign form) get fresh
    // ones after the kept ids are reserved.
    if (needId.length) {
        reserveIdsOf({ blocks: blocks.filter((b) => !needId.includes(b)) });
        for (const b of needId) b.id = nextBlockId(null);
    }
    reserveIdsOf(project);
    return project;
}

function readTracks(raw) {
    const tracks = [{ id: 0, name: trackName(0) }];
    if (!Array.isArray(raw)) return tracks;
    const count = Math.min(MAX_TRACKS, raw.length);
    for (let i = 0; i < count; i++) {
        const t = raw[i];
        const name = t && typeof t.name === 'string' && t.name.trim() ? t.name.trim().slice(0, 80) : trackName(i);
        tracks[i] = { id: i, name };
    }
    return tracks;
}

function readSfx(raw, fps) {
    if (!Array.isArray(raw)) return [];
    const out = [];
    const ids = new Set();
    for (const s of raw) {
        const item = readSfxItem(s, fps);
        if (!item) continue;
        if (!item.id || ids.has(item.id)) item.id = nextSfxId(raw.concat(out));
        ids.add(item.id);
        out.push(item);
    }
    return out;
}

// "s" + one more than the highest numbered sound id in `list`.
export function nextSfxId(list) {
    let max = 0;
    for (const s of list) max = Math.max(max, idNumber(s && s.id, 's'));
    return `s${max + 1}`;
}

export function readSfxItem(s, fps) {
    if (!s || typeof s !== 'object') return null;
    if (typeof s.dataUrl !== 'string' || !s.dataUrl.startsWith('data:')) return null;
    const time = finite(s.time);
    const volume = finite(s.volume);
    return {
        id: typeof s.id === 'string' ? s.id : null,
        name: typeof s.name === 'string' && s.name.trim() ? s.name.trim().slice(0, 200) : 'Son',
        dataUrl: s.dataUrl,
        time: fromFrame(Math.max(0, toFrame(time ?? 0, fps)), fps),
        volume: volume === null ? 0.85 : Math.min(1, Math.max(0, volume)),
    };
}
