// Draws the store's project at the playhead into the preview canvas, with
// the caption drawing module's own drawFrame, as the render page does.
// Redraws at most once per animation frame and only when what is shown
// changed (the playhead, the blocks visible at it, the frame size or the
// canvas resolution): a change to blocks off screen, such as a timeline drag
// away from the playhead, leaves the canvas alone. Keeps the decoded blocks
// and their layouts between frames, so a block is decoded and laid out again
// only when the store replaced it.
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
    let order = [];
    let decodedBlocks = null;
    let drawnKey = null;
    let drawnShown = null;
    let drawnStill = null;
    let frameRequest = null;
    let ratio = 0;
    let stopped = false;

    function decode(blocks) {
        if (blocks === decodedBlocks) return;
        decodedBlocks = blocks;
        order = captions.sortBlocks(blocks.map((block) => {
            let decoded = decodedOf.get(block);
            if (!decoded) {
                decoded = captions.decodeSequence(block);
                decodedOf.set(block, decoded);
                idOf.set(decoded, block.id);
            }
            return decoded;
        }));
        loadFonts();
    }

    // Layouts measured before a face arrived are wrong: they are dropped and
    // the frame drawn again once it is there.
    function loadFonts() {
        if (!fonts || typeof fonts.load !== 'function') return;
        for (const family of captions.declaredFamiliesUsed(order)) {
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
        decode(project.blocks);
        if (!(ratio > 0)) return;
        const key = `${ui.playhead}|${project.width}x${project.height}@${ratio}`;
        // The decoded blocks drawn at the playhead, in drawing order: the
        // same objects at the same key draw the same pixels.
        const shown = [];
        for (const block of order) {
            if (captions.visiblePose(block, ui.playhead, project.width, project.height)) shown.push(block);
        }
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
        decode(project.blocks);
        const frame = { width: project.width, height: project.height };
        const ctx = canvas.getContext('2d');
        const items = [];
        for (const block of order) {
            if (!captions.visiblePose(block, ui.playhead, frame.width, frame.height)) continue;
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
