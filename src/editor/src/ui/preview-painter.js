// Draws the store's project at the playhead into the preview canvas, with
// the caption drawing module's own drawFrame, as the render page does.
// Redraws at most once per animation frame and only when what is shown
// changed (the playhead, the blocks visible at it, the frame size or the
// canvas resolution): a change to blocks off screen, such as a timeline drag
// away from the playhead, leaves the canvas alone. Keeps the decoded blocks
// and their layouts between frames, so a block is decoded and laid out again
// only when the store replaced it, and decodes only the blocks that can be
// under the playhead.
import { captionBounds } from './preview-geometry.js';

// env: {canvas, store, captions (the drawing module), frames ({requestFrame,
// cancelFrame}), fonts (document.fonts or null), onDrawn()}. onDrawn runs
// after every frame looked at, drawn or not, so the selection boxes follow
// a selection change too.
export function createPainter({ canvas, store, captions, frames, fonts = null, onDrawn = () => {} }) {
    const decodedOf = new WeakMap();
    const idOf = new WeakMap();
    const requestedFamilies = new Set();
    let layouts = new WeakMap();
    const fontsSeen = new Set();
    let fontsOf = null;
    let drawnKey = null;
    let drawnShown = null;
    let drawnStill = null;
    let frameRequest = null;
    let ratio = 0;
    let stopped = false;

    function decoded(block) {
        let d = decodedOf.get(block);
        if (!d) {
            d = captions.decodeSequence(block);
            decodedOf.set(block, d);
            idOf.set(d, block.id);
        }
        return d;
    }

    // A start and a duration that are plain finite numbers decode to
    // themselves: such a block is known to be off screen at `time` without
    // decoding it, so a step of a drag over thousands of blocks decodes only
    // the few under the playhead.
    function surelyHidden(block, time) {
        const start = block.startTime;
        const duration = block.duration;
        return Number.isFinite(start) && Number.isFinite(duration) && !(start <= time && time <= start + duration);
    }

    // The decoded blocks drawn at `time`, in drawing order (sorting these
    // alone keeps the order they have among all the blocks).
    function shownAt(blocks, time, width, height) {
        const candidates = [];
        for (const block of blocks) if (!surelyHidden(block, time)) candidates.push(decoded(block));
        return captions.sortBlocks(candidates).filter((block) => captions.visiblePose(block, time, width, height));
    }

    // Faces are asked for as soon as a block uses them, shown or not, so
    // playback does not meet them late. Each font name is resolved once.
    function loadFonts(blocks) {
        if (blocks === fontsOf) return;
        fontsOf = blocks;
        if (!fonts || typeof fonts.load !== 'function') return;
        const fresh = [];
        for (const block of blocks) {
            const name = typeof block.font === 'string' ? block.font : decoded(block).font;
            if (fontsSeen.has(name)) continue;
            fontsSeen.add(name);
            fresh.push(decoded(block));
        }
        // Layouts measured before a face arrived are wrong: they are dropped
        // and the frame drawn again once it is there.
        for (const family of captions.declaredFamiliesUsed(fresh)) {
            if (requestedFamilies.has(family)) continue;
            requestedFamilies.add(family);
            fonts.load(`16px "${family}"`).then(() => {
                layouts = new WeakMap();
                drawnKey = null;
                drawnShown = null;
                drawnStill = null;
                schedule();
            }, (error) => console.error(`Tessivo : police ${family}`, error));
        }
    }

    function draw() {
        frameRequest = null;
        if (stopped) return;
        const { project, ui } = store.getState();
        loadFonts(project.blocks);
        if (!(ratio > 0)) return;
        const key = `${ui.playhead}|${project.width}x${project.height}@${ratio}`;
        // The decoded blocks drawn at the playhead, in drawing order: the
        // same objects at the same key draw the same pixels.
        const shown = shownAt(project.blocks, ui.playhead, project.width, project.height);
        // Other blocks standing still with the same looks draw the same
        // pixels too (a drag in time of the blocks under the playhead).
        const still = captions.frameState(shown, ui.playhead, project.width, project.height);
        const stillKey = still.kind === 'static' ? still.key : null;
        const unchanged = key === drawnKey && (sameList(shown, drawnShown) || (stillKey !== null && stillKey === drawnStill));
        drawnShown = shown;
        drawnStill = stillKey;
        if (!unchanged) {
            drawnKey = key;
            const width = Math.max(1, Math.round(project.width * ratio));
            const height = Math.max(1, Math.round(project.height * ratio));
            if (canvas.width !== width) canvas.width = width;
            if (canvas.height !== height) canvas.height = height;
            const frame = { width: project.width, height: project.height, pixelRatio: ratio };
            try {
                captions.drawFrame(canvas.getContext('2d'), shown, ui.playhead, frame, layouts);
            } catch (error) {
                console.error('Tessivo : aperçu non dessiné', error);
            }
        }
        onDrawn();
    }

    function sameList(a, b) {
        return b !== null && a.length === b.length && a.every((item, i) => item === b[i]);
    }

    function schedule() {
        if (frameRequest === null && !stopped) frameRequest = frames.requestFrame(draw);
    }

    // The captions visible at the playhead with their boxes (frame pixels,
    // neutral pose), in drawing order.
    function visibleItems() {
        const { project, ui } = store.getState();
        const frame = { width: project.width, height: project.height };
        const ctx = canvas.getContext('2d');
        const items = [];
        for (const block of shownAt(project.blocks, ui.playhead, frame.width, frame.height)) {
            let layout = layouts.get(block);
            if (!layout) {
                layout = captions.layoutBlock(ctx, block, frame);
                layouts.set(block, layout);
            }
            items.push({ id: idOf.get(block), bounds: captionBounds(block, layout, frame, captions.lineStep) });
        }
        return items;
    }

    // Boxes of the selected captions visible at the playhead.
    function selectedBoxes() {
        const selection = new Set(store.getState().ui.selection);
        if (!selection.size) return [];
        return visibleItems().filter((item) => selection.has(item.id)).map((item) => ({ id: item.id, ...item.bounds }));
    }

    const unsubscribe = store.subscribe(schedule);
    schedule();
    return {
        visibleItems,
        selectedBoxes,
        // Canvas pixels per frame pixel.
        setRatio(next) {
            if (next === ratio) return;
            ratio = next;
            schedule();
        },
        stop() {
            stopped = true;
            unsubscribe();
            if (frameRequest !== null) frames.cancelFrame(frameRequest);
            frameRequest = null;
        },
    };
}
