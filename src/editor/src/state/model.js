// The project model: what a caption block and a project are, their defaults,
// the value vocabularies the editor offers, and the frame arithmetic every
// timeline edit goes through. Plain data, no classes: the store keeps these
// objects immutable and shares unchanged blocks between versions.

export const PROJECT_VERSION = 1;

// The fields a style (a preset, the style panel) may set on a block. The
// position (x, y) is set by the same actions but is not part of a look.
export const STYLE_KEYS = [
    'font', 'size', 'textScaleX', 'color', 'color2', 'effect', 'effectSpeed', 'effectColor',
    'glowType', 'glowIntensity', 'glowColor', 'hasOutline', 'outlineWidth', 'outlineColor',
    'animIn', 'animOut', 'animSpeed',
];
export const POSITION_KEYS = ['x', 'y'];

// The font families shipped with the program (resources/fonts), in the order
// the style panel lists them.
export const FONTS = [
    'Bebas Neue', 'Anton', 'Teko', 'Archivo Black', 'Bangers', 'DM Serif Display', 'Arial Black',
    'Inter', 'Montserrat', 'Space Mono', 'Rubik Dirt', 'Rubik Spray Paint',
];
export const ANIM_IN = [
    'none', 'fade', 'pop', 'slide-up', 'rise', 'smooth-rise', 'zoom-blur', 'scale-down',
    'ghost-reveal', 'whip-left', 'slam',
];
export const ANIM_OUT = [
    'none', 'fade', 'pop-out', 'slide-down', 'sink', 'smooth-sink', 'zoom-blur-out', 'ghost-out',
    'whip-right-out',
];
export const EFFECTS = ['none', 'shine-sweep'];
export const GLOW_TYPES = ['none', 'hard', 'cartoon', 'shadow', 'wide', 'neon'];

// A new block's look: white condensed capitals with a thin black outline in
// the lower part of the frame, readable over any picture, fading in and out.
export const DEFAULT_STYLE = Object.freeze({
    x: 50,
    y: 80,
    font: 'Bebas Neue',
    size: 7,
    textScaleX: 100,
    color: '#ffffff',
    color2: '#ffffff',
    effect: 'none',
    effectSpeed: 1,
    effectColor: '#ff7a00',
    glowType: 'none',
    glowIntensity: 20,
    glowColor: '#000000',
    hasOutline: true,
    outlineWidth: 3,
    outlineColor: '#000000',
    animIn: 'fade',
    animOut: 'fade',
    animSpeed: 0.3,
});

export const DEFAULT_BLOCK_DURATION = 2;
export const DEFAULT_TEXT = 'Nouveau texte';

export function trackName(id) {
    return `Piste ${id + 1}`;
}

export function newProject(opts = {}) {
    const fps = validFps(opts.fps) ? Number(opts.fps) : 25;
    return {
        version: PROJECT_VERSION,
        name: typeof opts.name === 'string' && opts.name.trim() ? opts.name.trim() : 'Projet sans titre',
        width: validDimension(opts.width) ? Math.round(opts.width) : 1920,
        height: validDimension(opts.height) ? Math.round(opts.height) : 1080,
        fps,
        resolveTimelineId: null,
        tracks: [{ id: 0, name: trackName(0) }],
        blocks: [],
        sfx: [],
    };
}

export function validFps(fps) {
    const n = Number(fps);
    return typeof fps !== 'boolean' && fps !== null && fps !== '' && Number.isFinite(n) && n >= 1 && n <= 240;
}

export function validDimension(v) {
    return typeof v === 'number' && Number.isFinite(v) && v >= 16 && v <= 16384;
}

// ---- frames --------------------------------------------------------------
// Times are stored in seconds but always on a frame boundary of the project's
// rate, so that what the timeline shows, what the render draws and what
// Resolve receives agree to the frame.

export function toFrame(time, fps) {
    return Math.round(time * fps);
}

export function fromFrame(frame, fps) {
    // Rounded to the microsecond so that 3 frames at 25 fps is 0.12, not
    // 0.12000000000000001, and repeated snapping is stable.
    return Math.round((frame / fps) * 1e6) / 1e6;
}

export function snapTime(time, fps) {
    return fromFrame(toFrame(time, fps), fps);
}

export function frameDuration(fps) {
    return 1 / fps;
}

// Rounded like the stored times: 0.04 + 0.2 is 0.24000000000000002 in
// floating point, and a block must not still show at its own end.
export function blockEnd(block) {
    return Math.round((block.startTime + block.duration) * 1e6) / 1e6;
}

// ---- ids -----------------------------------------------------------------
// Block ids are "b" + a number. A module counter hands them out; it is moved
// past the highest id of any project a block is made for, so ids stay unique
// after a project is loaded from storage or a file.

let lastBlockNumber = 0;
const seenBlockLists = new WeakSet();

export function idNumber(id, prefix) {
    if (typeof id !== 'string' || !id.startsWith(prefix)) return 0;
    const n = Number(id.slice(prefix.length));
    return Number.isInteger(n) && n > 0 ? n : 0;
}

export function reserveIdsOf(project) {
    if (!project || !Array.isArray(project.blocks) || seenBlockLists.has(project.blocks)) return;
    for (const b of project.blocks) lastBlockNumber = Math.max(lastBlockNumber, idNumber(b.id, 'b'));
    seenBlockLists.add(project.blocks);
}

export function nextBlockId(project) {
    reserveIdsOf(project);
    lastBlockNumber += 1;
    return `b${lastBlockNumber}`;
}

// makeBlock(partial, project): a complete block with a fresh id. Times are
// snapped to the project's frames (at least one frame long), style fields
// missing from `partial` take DEFAULT_STYLE. `partial` is trusted to carry
// valid values: untrusted input goes through readBlock (validate.js).
export function makeBlock(partial = {}, project = null) {
    const fps = project && validFps(project.fps) ? project.fps : 25;
    const start = Math.max(0, toFrame(Number(partial.startTime) || 0, fps));
    const frames = Math.max(1, toFrame(partial.duration === undefined ? DEFAULT_BLOCK_DURATION : Number(partial.duration) || 0, fps));
    const block = {
        id: nextBlockId(project),
        text: typeof partial.text === 'string' ? partial.text : DEFAULT_TEXT,
        startTime: fromFrame(start, fps),
        duration: fromFrame(frames, fps),
        trackId: Number.isInteger(partial.trackId) && partial.trackId >= 0 ? partial.trackId : 0,
    };
    for (const key of Object.keys(DEFAULT_STYLE)) block[key] = key in partial ? partial[key] : DEFAULT_STYLE[key];
    if (partial.source) block.source = { ...partial.source };
    return block;
}

// Tracks 0..maxTrackId all exist; returns the tracks list extended so that
// `trackId` exists too (same array when nothing is missing).
export function ensureTracks(tracks, trackId) {
    if (tracks.length > trackId) return tracks;
    const out = tracks.slice();
    for (let id = tracks.length; id <= trackId; id++) out.push({ id, name: trackName(id) });
    return out;
}
