// The timeline: one canvas for the ruler, the lanes and every block, drawn
// by timeline-draw.js once per animation frame when something changed.
// Pointer gestures: click to select (Shift or Ctrl adds), drag over empty
// lanes to select the blocks a marquee meets, drag a block to
// move the selection (across lanes too), drag an end to trim, click or drag
// on the ruler to place the playhead; the wheel scrolls, Ctrl+wheel zooms,
// Shift+wheel (or the wheel over the lane names) scrolls the lanes.
import { useEffect, useRef } from 'preact/hooks';
import { capturePointer } from './pointer.js';
import { useEditor, useStore } from './context.js';
import {
    makeView, trackCountOf, drawTimeline, hitTest, blockRect, moveOffsets, trimTarget, zoomAround,
    followScroll, xToTime, timeToX, snapToFrame, blocksInRect,
} from './timeline-draw.js';
import { EditBar } from './toolbar.jsx';
import { lottieCapabilityOf } from '../capability/lottie-capability.js';

// The capability of a block object, computed once per version of the block.
function cachedCapability() {
    const cache = new WeakMap();
    return (block) => {
        let capability = cache.get(block);
        if (!capability) {
            capability = lottieCapabilityOf(block);
            cache.set(block, capability);
        }
        return capability;
    };
}

function viewOf(state, size, trackScroll) {
    const { project, ui } = state;
    return makeView({
        width: size.width,
        height: size.height,
        zoom: ui.zoom,
        scroll: ui.scroll,
        trackCount: trackCountOf(project.tracks, project.blocks),
        fps: project.fps,
        trackScroll,
    });
}

// The moving group's extent, for moveOffsets.
function groupOf(blocks, ids, anchor) {
    const moving = blocks.filter((b) => ids.includes(b.id));
    return {
        startTime: anchor.startTime,
        duration: anchor.duration,
        trackId: anchor.trackId,
        minStart: Math.min(...moving.map((b) => b.startTime)),
        minTrack: Math.min(...moving.map((b) => b.trackId)),
        maxTrack: Math.max(...moving.map((b) => b.trackId)),
    };
}

export function Timeline() {
    const { store } = useEditor();
    const canvasRef = useRef(null);
    const wrapRef = useRef(null);
    const playheadRef = useRef(null);
    const marqueeRef = useRef(null);
    const empty = useStore((s) => s.project.blocks.length === 0);
    const live = useRef({ size: { width: 0, height: 0 }, ratio: 1, trackScroll: 0, drag: null, frame: 0, view: null });

    useEffect(() => {
        const canvas = canvasRef.current;
        const ctx = canvas.getContext('2d');
        const capabilityOf = cachedCapability();
        const l = live.current;

        const playheadLine = playheadRef.current;
        // What the canvas shows besides the playhead: when none of it changed,
        // only the playhead line (an element over the canvas) moves, so
        // playback does not redraw the blocks every frame.
        let drawn = null;
        const inputsOf = (state) => [state.project.blocks, state.project.tracks, state.project.fps,
            state.ui.selection, state.ui.zoom, state.ui.scroll, l.size, l.trackScroll];

        const draw = () => {
            l.frame = 0;
            const state = store.getState();
            const view = viewOf(state, l.size, l.trackScroll);
            l.trackScroll = view.trackScroll;
            l.view = view;
            // The view pages along when the playhead moves out of it (playing,
            // stepping, jumping to an end), not when the user scrolls away.
            const playheadMoved = state.ui.playhead !== l.playhead;
            l.playhead = state.ui.playhead;
            if (playheadMoved && !(l.drag && l.drag.kind === 'scrub')) {
                const scroll = followScroll(view, state.ui.playhead);
                if (scroll !== null) {
                    store.dispatch({ type: 'view/scroll', scroll });
                    return;
                }
            }
            const inputs = inputsOf(state);
            if (!drawn || inputs.some((value, i) => value !== drawn[i])) {
                drawn = inputs;
                drawTimeline(ctx, {
                    blocks: state.project.blocks,
                    tracks: state.project.tracks,
                    selection: new Set(state.ui.selection),
                    playhead: null,
                    pixelRatio: l.ratio,
                    capabilityOf,
                }, view);
            }
            const x = Math.round(timeToX(state.ui.playhead, view));
            const shown = x >= view.header && x <= view.width;
            playheadLine.style.display = shown ? 'block' : 'none';
            if (shown) playheadLine.style.transform = `translateX(${x}px)`;
        };
        const schedule = () => {
            if (!l.frame) l.frame = requestAnimationFrame(draw);
        };
        l.schedule = schedule;

        const resize = () => {
            const width = wrapRef.current.clientWidth;
            const height = wrapRef.current.clientHeight;
            const ratio = window.devicePixelRatio > 0 ? window.devicePixelRatio : 1;
            l.size = { width, height };
            l.ratio = ratio;
            canvas.width = Math.max(1, Math.round(width * ratio));
            canvas.height = Math.max(1, Math.round(height * ratio));
            canvas.style.width = `${width}px`;
            canvas.style.height = `${height}px`;
            schedule();
        };
        resize();
        const observer = new ResizeObserver(resize);
        observer.observe(wrapRef.current);
        const unsubscribe = store.subscribe(schedule);

        // For the GUI tests and benchmarks: where a block is on the page.
        if (window.tessivoEditor) {
            window.tessivoEditor.timeline = {
                view: () => viewOf(store.getState(), l.size, l.trackScroll),
                blockClientRect(id) {
                    const block = store.getState().project.blocks.find((b) => b.id === id);
                    if (!block) return null;
                    const r = blockRect(block, this.view());
                    const c = canvas.getBoundingClientRect();
                    return { x: c.left + r.x, y: c.top + r.y, width: r.w, height: r.h };
                },
                // Draws everything again now (the benchmark times it).
                redraw() {
                    drawn = null;
                    draw();
                },
            };
        }
        return () => {
            unsubscribe();
            observer.disconnect();
            if (l.frame) cancelAnimationFrame(l.frame);
        };
    }, [store]);

    const localPoint = (event) => {
        const rect = canvasRef.current.getBoundingClientRect();
        return { x: event.clientX - rect.left, y: event.clientY - rect.top };
    };

    const onPointerDown = (event) => {
        if (event.button !== 0) return;
        const l = live.current;
        const state = store.getState();
        const view = viewOf(state, l.size, l.trackScroll);
        const { x, y } = localPoint(event);
        const selection = new Set(state.ui.selection);
        const hit = hitTest(x, y, state.project.blocks, view, selection);
        const additive = event.shiftKey || event.ctrlKey || event.metaKey;
        canvasRef.current.focus();

        if (hit.area === 'ruler') {
            if (state.ui.playing) store.dispatch({ type: 'playback/set', playing: false });
            store.dispatch({ type: 'playhead/set', time: hit.time });
            l.drag = { kind: 'scrub' };
        } else if (hit.area === 'block') {
            if (additive) {
                store.dispatch({ type: 'selection/toggle', id: hit.id });
                return;
            }
            let ids = state.ui.selection;
            if (!selection.has(hit.id)) {
                ids = [hit.id];
                store.dispatch({ type: 'selection/set', ids });
            }
            const anchor = state.project.blocks.find((b) => b.id === hit.id);
            const gesture = `timeline-${hit.part}-${Date.now()}`;
            l.drag = hit.part === 'body'
                ? { kind: 'move', ids, anchorId: anchor.id, group: groupOf(state.project.blocks, ids, anchor), x, y, gesture,
                    sent: { delta: 0, trackDelta: 0 }, moved: false }
                : { kind: 'trim', id: anchor.id, edge: hit.part, gesture };
        } else {
            if (!additive) store.dispatch({ type: 'selection/clear' });
            if (hit.area !== 'empty') return;
            if (state.ui.playing) store.dispatch({ type: 'playback/set', playing: false });
            store.dispatch({ type: 'playhead/set', time: hit.time });
            // A drag from here draws a marquee that selects the blocks it meets.
            l.drag = { kind: 'marquee', x, y, base: additive ? state.ui.selection : [], last: null };
        }
        capturePointer(canvasRef.current, event.pointerId);
        event.preventDefault();
    };

    const onPointerMove = (event) => {
        const l = live.current;
        const state = store.getState();
        const view = viewOf(state, l.size, l.trackScroll);
        const { x, y } = localPoint(event);
        const drag = l.drag;
        if (!drag) {
            const hit = hitTest(x, y, state.project.blocks, view, new Set(state.ui.selection));
            const cursor = hit.area === 'block' ? (hit.part === 'body' ? 'grab' : 'ew-resize') : hit.area === 'ruler' ? 'text' : 'default';
            if (canvasRef.current.style.cursor !== cursor) canvasRef.current.style.cursor = cursor;
            const block = hit.area === 'block' ? state.project.blocks.find((b) => b.id === hit.id) : null;
            const title = block ? capabilityTitle(block) : '';
            if (canvasRef.current.title !== title) canvasRef.current.title = title;
            return;
        }
        if (drag.kind === 'scrub') {
            store.dispatch({ type: 'playhead/set', time: Math.max(0, xToTime(x, view)) });
            return;
        }
        if (drag.kind === 'marquee') {
            const rect = { x: drag.x, y: drag.y, w: x - drag.x, h: y - drag.y };
            if (!drag.last && Math.abs(rect.w) + Math.abs(rect.h) < 5) return;
            showMarquee(marqueeRef.current, rect);
            const ids = [...new Set([...drag.base, ...blocksInRect(state.project.blocks, rect, view)])];
            if (drag.last && drag.last.length === ids.length && drag.last.every((id, i) => id === ids[i])) return;
            drag.last = ids;
            store.dispatch({ type: 'selection/set', ids });
            return;
        }
        const magnets = [state.ui.playhead];
        if (drag.kind === 'move') {
            const { delta, trackDelta } = moveOffsets(drag.group, x - drag.x, y - drag.y, view, magnets);
            // The store adds up the steps of one gesture from where the
            // blocks were when it began.
            const step = delta - drag.sent.delta;
            const trackStep = trackDelta - drag.sent.trackDelta;
            if (Math.abs(step) < 1e-9 && trackStep === 0) return;
            drag.sent = { delta, trackDelta };
            drag.moved = true;
            store.dispatch({ type: 'blocks/move', ids: drag.ids, delta: step, trackDelta: trackStep, gesture: drag.gesture });
        } else if (drag.kind === 'trim') {
            store.dispatch({ type: 'blocks/trim', id: drag.id, edge: drag.edge, time: trimTarget(x, view, magnets), gesture: drag.gesture });
        }
    };

    const endDrag = () => {
        const drag = live.current.drag;
        live.current.drag = null;
        marqueeRef.current.style.display = 'none';
        // A click (no move) on one block of a selection selects it alone.
        if (drag && drag.kind === 'move' && !drag.moved && drag.ids.length > 1) {
            store.dispatch({ type: 'selection/set', ids: [drag.anchorId] });
        }
    };

    // Double-click: on a block, edit its text in the style panel; on an
    // empty stretch of a lane, a new block there.
    const onDoubleClick = (event) => {
        const l = live.current;
        const state = store.getState();
        const view = viewOf(state, l.size, l.trackScroll);
        const { x, y } = localPoint(event);
        const hit = hitTest(x, y, state.project.blocks, view, new Set(state.ui.selection));
        if (hit.area === 'block') {
            store.dispatch({ type: 'selection/set', ids: [hit.id] });
            editSelectedText();
        } else if (hit.area === 'empty') {
            store.dispatch({ type: 'blocks/add', partial: { startTime: snapToFrame(hit.time, view.fps), trackId: hit.trackId } });
            editSelectedText();
        }
    };

    const onWheel = (event) => {
        event.preventDefault();
        const l = live.current;
        const state = store.getState();
        const view = viewOf(state, l.size, l.trackScroll);
        const unit = event.deltaMode === 1 ? 16 : event.deltaMode === 2 ? l.size.width : 1;
        if (event.ctrlKey || event.metaKey) {
            const { zoom, scroll } = zoomAround(view, Math.exp(-event.deltaY * unit * 0.002), localPoint(event).x);
            store.dispatch({ type: 'view/zoom', zoom });
            store.dispatch({ type: 'view/scroll', scroll });
        } else if ((event.shiftKey || localPoint(event).x < view.header) && view.maxTrackScroll > 0) {
            // Shift+wheel, or the wheel over the lane names, scrolls the lanes.
            l.trackScroll = Math.min(view.maxTrackScroll, Math.max(0, l.trackScroll + event.deltaY * unit));
            l.schedule();
        } else {
            const pixels = (Math.abs(event.deltaX) > Math.abs(event.deltaY) ? event.deltaX : event.deltaY) * unit;
            store.dispatch({ type: 'view/scroll', scroll: Math.max(0, view.scroll + pixels / view.zoom) });
        }
    };

    useEffect(() => {
        // Wheel listeners must not be passive to keep the page from scrolling.
        const canvas = canvasRef.current;
        canvas.addEventListener('wheel', onWheel, { passive: false });
        return () => canvas.removeEventListener('wheel', onWheel);
    });

    return (
        <section class="timeline" aria-label="Timeline">
            <EditBar />
            <div class="timeline-wrap" ref={wrapRef}>
                <canvas
                    ref={canvasRef}
                    data-testid="timeline-canvas"
                    tabIndex={0}
                    aria-label="Blocs de sous-titres sur les pistes"
                    onPointerDown={onPointerDown}
                    onPointerMove={onPointerMove}
                    onPointerUp={endDrag}
                    onPointerCancel={endDrag}
                    onDblClick={onDoubleClick}
                />
                <div class="playhead" ref={playheadRef} aria-hidden="true" />
                <div class="marquee" ref={marqueeRef} aria-hidden="true" />
                {empty && (
                    <p class="timeline-empty">
                        Aucun bloc : importez des sous-titres, ou double-cliquez sur une piste pour écrire le premier.
                    </p>
                )}
            </div>
        </section>
    );
}

function capabilityTitle(block) {
    const capability = lottieCapabilityOf(block);
    const text = String(block.text).split(/\r?\n/)[0];
    if (capability.status === 'supported') return `${text}\nLottie possible`;
    return `${text}\nRendu Exact Web : ${(capability.reasons || []).join(' ; ')}`;
}

function showMarquee(element, rect) {
    element.style.display = 'block';
    element.style.left = `${Math.min(rect.x, rect.x + rect.w)}px`;
    element.style.top = `${Math.min(rect.y, rect.y + rect.h)}px`;
    element.style.width = `${Math.abs(rect.w)}px`;
    element.style.height = `${Math.abs(rect.h)}px`;
}

// Shows the style tab and puts the caret in the selected block's text once
// the panel has rendered it.
function editSelectedText() {
    const tab = document.querySelector('[data-testid="tab-style"]');
    if (tab) tab.click();
    setTimeout(() => {
        const field = document.getElementById('style-text');
        if (field) {
            field.focus();
            field.select();
        }
    }, 0);
}
