// The timeline's geometry, hit testing and drawing on one 2D canvas.
//
// Everything here is a pure function of the blocks and a view; drawTimeline
// uses only the standard CanvasRenderingContext2D calls, so it draws on the
// page's canvas, an OffscreenCanvas or a recording stand-in alike. Only the
// visible time range is drawn, each colour is set once for all its
// rectangles, and rectangles are drawn one by one (fillRect), so a project of
// thousands of blocks redraws within a frame.
//
// Coordinates are CSS pixels of the canvas; track 0 is the bottom lane.
import { MIN_ZOOM, MAX_ZOOM } from '../state/update.js';

export const RULER_HEIGHT = 26;
export const TRACK_HEIGHT = 44;
export const HEADER_WIDTH = 84;
// Zoom bounds in pixels per second: the store's, so a zoom computed here is
// the zoom the store keeps.
export { MIN_ZOOM, MAX_ZOOM } from '../state/update.js';
export const EDGE_GRAB = 6; // pixels of a block's ends that trim instead of moving
export const SNAP_DISTANCE = 8; // pixels within which a time sticks to the playhead

const BLOCK_INSET = 3;
const MIN_LABEL_SPACING = 96;

export function clampZoom(zoom) {
    if (!Number.isFinite(zoom)) return 100;
    return Math.min(MAX_ZOOM, Math.max(MIN_ZOOM, zoom));
}

// Lanes needed: the declared tracks, or more when a block sits above them.
export function trackCountOf(tracks, blocks) {
    let count = Array.isArray(tracks) ? tracks.length : 0;
    for (const block of blocks) if (block.trackId + 1 > count) count = block.trackId + 1;
    return Math.max(count, 1);
}

export function makeView({ width, height, zoom, scroll, trackCount, fps, trackScroll = 0 }) {
    const lanesHeight = Math.max(trackCount, 1) * TRACK_HEIGHT;
    const maxTrackScroll = Math.max(0, lanesHeight - (height - RULER_HEIGHT));
    return {
        width,
        height,
        zoom: clampZoom(zoom),
        scroll: Math.max(0, Number.isFinite(scroll) ? scroll : 0),
        trackCount: Math.max(trackCount, 1),
        fps: fps > 0 ? fps : 25,
        trackScroll: Math.min(Math.max(0, trackScroll), maxTrackScroll),
        maxTrackScroll,
        ruler: RULER_HEIGHT,
        header: HEADER_WIDTH,
        trackHeight: TRACK_HEIGHT,
    };
}

export function timeToX(time, view) {
    return view.header + (time - view.scroll) * view.zoom;
}

export function xToTime(x, view) {
    return view.scroll + (x - view.header) / view.zoom;
}

export function trackTop(trackId, view) {
    return view.ruler + (view.trackCount - 1 - trackId) * view.trackHeight - view.trackScroll;
}

// The lane under y, clamped to the existing lanes (a drag past the last
// lane stays on it).
export function trackAt(y, view) {
    const row = Math.floor((y - view.ruler + view.trackScroll) / view.trackHeight);
    const id = view.trackCount - 1 - row;
    return Math.min(view.trackCount - 1, Math.max(0, id));
}

export function visibleTimeRange(view) {
    return { start: xToTime(view.header, view), end: xToTime(view.width, view) };
}

// A block's rectangle; at least 2 pixels wide so a very short block stays
// visible and clickable.
export function blockRect(block, view) {
    const x = timeToX(block.startTime, view);
    return {
        x,
        y: trackTop(block.trackId, view) + BLOCK_INSET,
        w: Math.max(block.duration * view.zoom, 2),
        h: view.trackHeight - 2 * BLOCK_INSET,
    };
}

function rectVisible(r, view) {
    return r.x + r.w >= view.header && r.x <= view.width && r.y + r.h >= view.ruler && r.y <= view.height;
}

export function snapToFrame(time, fps) {
    return Math.round(time * fps) / fps;
}

// Snaps a time to the nearest frame, or to one of `magnets` (the playhead)
// when it lies within SNAP_DISTANCE pixels of it.
export function snapTime(time, view, magnets = []) {
    let best = null;
    for (const m of magnets) {
        const d = Math.abs(m - time) * view.zoom;
        if (d <= SNAP_DISTANCE && (best === null || d < Math.abs(best - time) * view.zoom)) best = m;
    }
    return snapToFrame(best === null ? time : best, view.fps);
}

// What lies under (x, y): the ruler, a lane's name, a block (its body or one
// of its ends) or an empty stretch of a lane. Selected blocks are drawn over
// the others, so they are tried first; then the last drawn wins.
export function hitTest(x, y, blocks, view, selection = new Set()) {
    if (y < view.ruler) return { area: 'ruler', time: Math.max(0, xToTime(x, view)) };
    const trackId = trackAt(y, view);
    if (x < view.header) return { area: 'header', trackId };
    const pass = (wantSelected) => {
        for (let i = blocks.length - 1; i >= 0; i--) {
            const block = blocks[i];
            if (selection.has(block.id) !== wantSelected) continue;
            const r = blockRect(block, view);
            if (x < r.x || x > r.x + r.w || y < r.y || y > r.y + r.h) continue;
            const grab = Math.min(EDGE_GRAB, r.w / 3);
            const part = x <= r.x + grab ? 'start' : x >= r.x + r.w - grab ? 'end' : 'body';
            return { area: 'block', id: block.id, part, trackId: block.trackId };
        }
        return null;
    };
    return pass(true) || pass(false) || { area: 'empty', time: Math.max(0, xToTime(x, view)), trackId };
}

// Ids of the blocks whose rectangles meet `rect` ({x, y, w, h}, any sign of
// w and h): what a marquee drawn over the lanes selects.
export function blocksInRect(blocks, rect, view) {
    const left = Math.min(rect.x, rect.x + rect.w);
    const right = Math.max(rect.x, rect.x + rect.w);
    const top = Math.min(rect.y, rect.y + rect.h);
    const bottom = Math.max(rect.y, rect.y + rect.h);
    const ids = [];
    for (const block of blocks) {
        const r = blockRect(block, view);
        if (r.x <= right && r.x + r.w >= left && r.y <= bottom && r.y + r.h >= top) ids.push(block.id);
    }
    return ids;
}

// Where a dragged group goes. `group` = {startTime, duration, trackId} of the
// block under the pointer when the drag began, with the lowest start and the
// lowest and highest lane of every moving block. The returned offsets are
// measured from the positions at the start of the drag, keep every block at
// or after 0 s and on an existing lane, and put the grabbed block's start on
// a frame (or its start or end on the playhead nearby).
export function moveOffsets(group, dx, dy, view, magnets = []) {
    const raw = group.startTime + dx / view.zoom;
    let start = snapTime(raw, view, magnets);
    // The grabbed block's end sticks to a magnet too, when it is nearer.
    if (group.duration > 0 && start === snapToFrame(raw, view.fps)) {
        const end = snapTime(raw + group.duration, view, magnets);
        if (end !== snapToFrame(raw + group.duration, view.fps)) start = snapToFrame(end - group.duration, view.fps);
    }
    let delta = start - group.startTime;
    if (group.minStart + delta < 0) delta = -group.minStart;
    let trackDelta = -Math.round(dy / view.trackHeight) || 0;
    trackDelta = Math.min(view.trackCount - 1 - group.maxTrack, Math.max(-group.minTrack, trackDelta));
    return { delta, trackDelta };
}

// The time a dragged end goes to: snapped, never before 0.
export function trimTarget(x, view, magnets = []) {
    return Math.max(0, snapTime(xToTime(x, view), view, magnets));
}

// Zooms by `factor` keeping the time under x where it is.
export function zoomAround(view, factor, x) {
    const zoom = clampZoom(view.zoom * factor);
    const pivot = xToTime(x, view);
    return { zoom, scroll: Math.max(0, pivot - (x - view.header) / zoom) };
}

// While playing, pages the view when the playhead leaves it; null when it
// is in view.
export function followScroll(view, playhead) {
    const { start, end } = visibleTimeRange(view);
    if (playhead >= start && playhead <= end - 8 / view.zoom) return null;
    return Math.max(0, playhead - 24 / view.zoom);
}

// HH:MM:SS:FF at the project's rate (the frame count shown against the
// nominal integral rate, as an editing timecode without drop frames).
export function formatTimecode(time, fps, withFrames = true) {
    const rate = Math.max(1, Math.round(fps));
    const frames = Math.max(0, Math.round((Number.isFinite(time) ? time : 0) * fps));
    const seconds = Math.floor(frames / rate);
    const pad = (n) => String(n).padStart(2, '0');
    const text = `${pad(Math.floor(seconds / 3600))}:${pad(Math.floor(seconds / 60) % 60)}:${pad(seconds % 60)}`;
    return withFrames ? `${text}:${pad(frames % rate)}` : text;
}

// The ruler's ticks over the visible range: a labelled major tick at least
// MIN_LABEL_SPACING pixels apart, minor ticks between.
export function rulerTicks(view) {
    const frame = 1 / view.fps;
    const steps = [frame, 2 * frame, 5 * frame, 10 * frame, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 1800, 3600];
    const major = steps.find((s) => s * view.zoom >= MIN_LABEL_SPACING) || steps[steps.length - 1];
    const divisions = (major * view.zoom) / 5 >= 10 ? 5 : (major * view.zoom) / 2 >= 10 ? 2 : 1;
    const minor = major / divisions;
    const { start, end } = visibleTimeRange(view);
    const ticks = [];
    const first = Math.max(0, Math.floor(start / minor));
    for (let i = first; i * minor <= end; i++) {
        const time = i * minor;
        const isMajor = i % divisions === 0;
        ticks.push({
            time,
            x: timeToX(time, view),
            major: isMajor,
            label: isMajor ? formatTimecode(time, view.fps, major < 1) : null,
        });
    }
    return ticks;
}

// The part of a block's text that fits in `width` pixels (first line only),
// estimated from an average glyph width to avoid measuring every block.
export function fitLabel(text, width, charWidth = 6.6) {
    const line = String(text).split(/\r?\n|\r/, 1)[0];
    const room = Math.floor((width - 14) / charWidth);
    if (room <= 0) return '';
    return line.length <= room ? line : room > 1 ? line.slice(0, room - 1) + '…' : '';
}

export const COLORS = Object.freeze({
    background: '#17191d',
    laneEven: '#1e2126',
    laneOdd: '#1b1e22',
    laneLine: '#2a2e35',
    header: '#202328',
    headerText: '#aab1bc',
    ruler: '#24272d',
    rulerText: '#9aa3ae',
    tick: '#4a505a',
    block: '#2f6f9f',
    blockEdge: '#4d93c8',
    selected: '#4fa3e0',
    selectedEdge: '#ffffff',
    blockText: '#eef3f8',
    lottie: '#3ecf8e',
    exactWeb: '#f0a040',
    playhead: '#ff4d5e',
});

// scene = {blocks, tracks, selection (Set of ids), playhead (null: not
// drawn), pixelRatio?, capabilityOf?(block) → {status}}. Draws the whole
// canvas.
export function drawTimeline(ctx, scene, view) {
    const ratio = scene.pixelRatio || 1;
    ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
    ctx.fillStyle = COLORS.background;
    ctx.fillRect(0, 0, view.width, view.height);

    drawLanes(ctx, view);

    ctx.save();
    ctx.beginPath();
    ctx.rect(view.header, view.ruler, view.width - view.header, view.height - view.ruler);
    ctx.clip();
    drawBlocks(ctx, scene, view);
    ctx.restore();

    drawHeader(ctx, scene.tracks, view);
    drawRuler(ctx, view);
    if (Number.isFinite(scene.playhead)) drawPlayhead(ctx, scene.playhead, view);
}

function drawLanes(ctx, view) {
    for (let id = 0; id < view.trackCount; id++) {
        const y = trackTop(id, view);
        if (y + view.trackHeight < view.ruler || y > view.height) continue;
        ctx.fillStyle = id % 2 ? COLORS.laneOdd : COLORS.laneEven;
        ctx.fillRect(view.header, y, view.width - view.header, view.trackHeight);
        ctx.fillStyle = COLORS.laneLine;
        ctx.fillRect(view.header, y + view.trackHeight - 1, view.width - view.header, 1);
    }
}

function drawBlocks(ctx, scene, view) {
    const selection = scene.selection || new Set();
    const plain = [];
    const chosen = [];
    for (const block of scene.blocks) {
        const r = blockRect(block, view);
        if (!rectVisible(r, view)) continue;
        (selection.has(block.id) ? chosen : plain).push({ block, r });
    }
    fillRects(ctx, plain, COLORS.block);
    strokeRects(ctx, plain, COLORS.blockEdge, 1);
    fillRects(ctx, chosen, COLORS.selected);
    strokeRects(ctx, chosen, COLORS.selectedEdge, 2);

    const items = plain.concat(chosen);
    ctx.font = '12px "Inter", sans-serif';
    ctx.textAlign = 'left';
    ctx.textBaseline = 'middle';
    ctx.fillStyle = COLORS.blockText;
    for (const { block, r } of items) {
        // A block cut by the lane names shows its label in its visible part.
        const left = Math.max(r.x, view.header);
        const label = fitLabel(block.text, r.x + r.w - left);
        if (label) ctx.fillText(label, left + 6, r.y + r.h / 2 + 1);
    }

    if (scene.capabilityOf) {
        const lottie = [];
        const exact = [];
        for (const item of items) {
            if (item.r.w < 12) continue;
            const capability = scene.capabilityOf(item.block);
            (capability && capability.status === 'supported' ? lottie : exact).push(item);
        }
        fillMarks(ctx, lottie, COLORS.lottie);
        fillMarks(ctx, exact, COLORS.exactWeb);
    }
}

// One fillRect per rectangle: the canvas fills a lone rectangle much faster
// than a path of thousands of them (a path is scan-converted as a whole).
function fillRects(ctx, items, color) {
    if (!items.length) return;
    ctx.fillStyle = color;
    for (const { r } of items) ctx.fillRect(r.x, r.y, r.w, r.h);
}

function strokeRects(ctx, items, color, width) {
    if (!items.length) return;
    ctx.strokeStyle = color;
    ctx.lineWidth = width;
    for (const { r } of items) if (r.w > 3) ctx.strokeRect(r.x + width / 2, r.y + width / 2, r.w - width, r.h - width);
}

// A small square in the block's top-right corner: green when the block can
// go to Resolve as Lottie, amber when it needs the rendered route.
function fillMarks(ctx, items, color) {
    if (!items.length) return;
    ctx.fillStyle = color;
    for (const { r } of items) ctx.fillRect(r.x + r.w - 9, r.y + 3, 6, 6);
}

function drawHeader(ctx, tracks, view) {
    ctx.fillStyle = COLORS.header;
    ctx.fillRect(0, view.ruler, view.header, view.height - view.ruler);
    ctx.font = '12px "Inter", sans-serif';
    ctx.textAlign = 'left';
    ctx.textBaseline = 'middle';
    const names = new Map((tracks || []).map((t) => [t.id, t.name]));
    for (let id = 0; id < view.trackCount; id++) {
        const y = trackTop(id, view);
        if (y + view.trackHeight < view.ruler || y > view.height) continue;
        ctx.fillStyle = COLORS.headerText;
        ctx.fillText(fitLabel(names.get(id) || `Piste ${id + 1}`, view.header + 4, 6.6), 10, y + view.trackHeight / 2);
        ctx.fillStyle = COLORS.laneLine;
        ctx.fillRect(0, y + view.trackHeight - 1, view.header, 1);
    }
}

function drawRuler(ctx, view) {
    ctx.fillStyle = COLORS.ruler;
    ctx.fillRect(0, 0, view.width, view.ruler);
    const ticks = rulerTicks(view);
    ctx.beginPath();
    for (const t of ticks) {
        if (t.x < view.header) continue;
        const length = t.major ? 10 : 5;
        ctx.rect(Math.round(t.x), view.ruler - length, 1, length);
    }
    ctx.fillStyle = COLORS.tick;
    ctx.fill();
    ctx.font = '11px "Inter", sans-serif';
    ctx.textAlign = 'left';
    ctx.textBaseline = 'top';
    ctx.fillStyle = COLORS.rulerText;
    for (const t of ticks) if (t.label && t.x >= view.header) ctx.fillText(t.label, Math.round(t.x) + 4, 4);
    ctx.fillStyle = COLORS.laneLine;
    ctx.fillRect(0, view.ruler - 1, view.width, 1);
}

function drawPlayhead(ctx, playhead, view) {
    const x = Math.round(timeToX(playhead, view));
    if (x < view.header || x > view.width) return;
    ctx.fillStyle = COLORS.playhead;
    ctx.fillRect(x - 1, 0, 2, view.height);
    ctx.beginPath();
    ctx.moveTo(x - 6, 0);
    ctx.lineTo(x + 6, 0);
    ctx.lineTo(x, 9);
    ctx.closePath();
    ctx.fill();
}
