// The preview: the project's frame at the playhead, drawn by the caption
// drawing module exactly as the render page draws it (same decoding, same
// drawing order, same drawFrame call), at the size it is shown (canvas
// pixels per frame pixel = the displayed scale times the screen's pixel
// ratio, never above one), over a checkerboard, a colour or Resolve's
// current frame. Plays in real time, follows Resolve's playhead on demand,
// and moves the selected captions by dragging them.
import { useEffect, useRef, useState } from 'preact/hooks';
import { capturePointer } from './pointer.js';
import { useEditor, useStore } from './context.js';
import { fitFrame, toFramePoint, pickCaption, dragPosition } from './preview-geometry.js';
import { createPainter } from './preview-painter.js';
import { createPlayback, pageFrames } from './playback.js';

const captions = () => window.TessivoCaptions;

function backgroundStyle(preview) {
    if (preview.background === 'color') return { background: preview.color || '#000000' };
    if (preview.background === 'still' && preview.stillDataUrl) {
        return { background: `#000 url("${preview.stillDataUrl}") center / contain no-repeat` };
    }
    return null;
}

function sameBoxes(a, b) {
    return a.length === b.length && a.every((box, i) => box.id === b[i].id &&
        box.left === b[i].left && box.top === b[i].top && box.width === b[i].width && box.height === b[i].height);
}

function PreviewBar() {
    const { store, bridge } = useEditor();
    const preview = useStore((s) => s.ui.preview);
    const follow = useStore((s) => s.ui.followResolve);
    const stillPending = useStore((s) => s.ui.engine?.requests?.still?.status === 'pending');
    const setBackground = (patch) => store.dispatch({ type: 'preview/set', ...patch });
    return (
        <div class="preview-bar">
            <div class="segmented" role="radiogroup" aria-label="Fond de l’aperçu">
                {[['checker', 'Damier'], ['color', 'Couleur'], ['still', 'Image Resolve']].map(([value, label]) => (
                    <label key={value} class={preview.background === value ? 'seg active' : 'seg'}>
                        <input type="radio" name="preview-background" value={value}
                            checked={preview.background === value}
                            onChange={() => setBackground({ background: value })} />
                        {label}
                    </label>
                ))}
            </div>
            {preview.background === 'color' && (
                <input type="color" aria-label="Couleur du fond" value={preview.color || '#000000'}
                    onInput={(e) => setBackground({ color: e.currentTarget.value })} />
            )}
            {preview.background === 'still' && (
                <button type="button" disabled={stillPending}
                    title="Capturer l’image courante de la timeline Resolve"
                    onClick={() => bridge.requestStill()}>
                    {stillPending ? 'Capture…' : 'Capturer l’image'}
                </button>
            )}
            <label class="toggle" title="La tête de lecture suit celle de Resolve">
                <input type="checkbox" checked={follow}
                    onChange={(e) => bridge.watchPlayhead(e.currentTarget.checked)} />
                Suivre Resolve
            </label>
        </div>
    );
}

export function Preview() {
    const { store } = useEditor();
    const width = useStore((s) => s.project.width);
    const height = useStore((s) => s.project.height);
    const preview = useStore((s) => s.ui.preview);
    const playing = useStore((s) => s.ui.playing);
    const boxRef = useRef(null);
    const canvasRef = useRef(null);
    const painterRef = useRef(null);
    const dragRef = useRef(null);
    const [box, setBox] = useState({ width: 0, height: 0 });
    const [boxes, setBoxes] = useState([]);
    const [guides, setGuides] = useState({ x: false, y: false });
    const display = fitFrame(box.width, box.height, width, height);

    useEffect(() => {
        const element = boxRef.current;
        const measure = () => setBox({ width: element.clientWidth, height: element.clientHeight });
        measure();
        const observer = new ResizeObserver(measure);
        observer.observe(element);
        return () => observer.disconnect();
    }, []);

    // The boxes around the selected captions follow each drawn frame.
    useEffect(() => {
        if (!captions()) return undefined;
        const painter = createPainter({
            canvas: canvasRef.current,
            store,
            captions: captions(),
            frames: pageFrames(window),
            fonts: document.fonts,
            onDrawn: () => {
                const next = painter.selectedBoxes();
                setBoxes((previous) => (sameBoxes(previous, next) ? previous : next));
            },
        });
        painterRef.current = painter;
        return () => painter.stop();
    }, [store]);

    // Canvas pixels per frame pixel: as many as the screen shows, no more
    // than the frame has; every frame pixel when asked (the GUI tests compare
    // the preview with the render page's frame, the benchmark times it).
    const [fullResolution, setFullResolution] = useState(false);
    const ratio = fullResolution ? 1 : display.width > 0
        ? Math.min(1, (display.width * (window.devicePixelRatio > 0 ? window.devicePixelRatio : 1)) / width) : 0;
    useEffect(() => {
        if (!window.tessivoEditor) return undefined;
        window.tessivoEditor.preview = {
            canvas: () => canvasRef.current,
            fullResolution: (enabled) => setFullResolution(Boolean(enabled)),
        };
        return () => {
            delete window.tessivoEditor.preview;
        };
    }, []);
    useEffect(() => {
        if (painterRef.current) painterRef.current.setRatio(ratio);
    }, [ratio]);

    useEffect(() => {
        if (!playing) return undefined;
        const playback = createPlayback(store, { ...pageFrames(window), playSound: playSoundEffect });
        return () => playback.stop();
    }, [playing, store]);

    const framePoint = (event) => {
        const rect = canvasRef.current.getBoundingClientRect();
        return toFramePoint(event.clientX - rect.left, event.clientY - rect.top,
            { width: rect.width, height: rect.height }, width, height);
    };

    const onPointerDown = (event) => {
        if (event.button !== 0 || !painterRef.current) return;
        const point = framePoint(event);
        const id = pickCaption(painterRef.current.visibleItems(), point);
        const { ui, project } = store.getState();
        if (!id) {
            if (!event.shiftKey && !event.ctrlKey && !event.metaKey) store.dispatch({ type: 'selection/clear' });
            return;
        }
        if (event.shiftKey || event.ctrlKey || event.metaKey) {
            store.dispatch({ type: 'selection/toggle', id });
            return;
        }
        if (!ui.selection.includes(id)) store.dispatch({ type: 'selection/set', ids: [id] });
        const block = project.blocks.find((b) => b.id === id);
        if (!block) return;
        if (ui.playing) store.dispatch({ type: 'playback/set', playing: false });
        dragRef.current = { origin: { x: block.x, y: block.y }, start: point, last: null, gesture: `preview-move-${Date.now()}` };
        capturePointer(event.currentTarget, event.pointerId);
        event.preventDefault();
    };

    const onPointerMove = (event) => {
        const drag = dragRef.current;
        if (!drag) return;
        const point = framePoint(event);
        const next = dragPosition(drag.origin, point.x - drag.start.x, point.y - drag.start.y,
            { width, height }, { free: event.altKey });
        setGuides(next.guides);
        if (drag.last && drag.last.x === next.x && drag.last.y === next.y) return;
        drag.last = next;
        store.dispatch({ type: 'style/apply', scope: 'selection', patch: { x: next.x, y: next.y }, gesture: drag.gesture });
    };

    const endDrag = () => {
        dragRef.current = null;
        setGuides({ x: false, y: false });
    };

    const scale = display.scale;
    return (
        <div class="preview">
            <div class="preview-box" ref={boxRef}>
                <div
                    class={preview.background === 'checker' || !backgroundStyle(preview) ? 'preview-frame checker' : 'preview-frame'}
                    style={{ left: `${display.left}px`, top: `${display.top}px`, width: `${display.width}px`,
                        height: `${display.height}px`, ...(backgroundStyle(preview) || {}) }}
                >
                    <canvas
                        ref={canvasRef}
                        class="preview-canvas"
                        data-testid="preview-canvas"
                        aria-label="Aperçu des sous-titres"
                        onPointerDown={onPointerDown}
                        onPointerMove={onPointerMove}
                        onPointerUp={endDrag}
                        onPointerCancel={endDrag}
                    />
                    <div class="preview-overlay" aria-hidden="true">
                        {boxes.map((b) => (
                            <div key={b.id} class="caption-box" style={{ left: `${b.left * scale}px`, top: `${b.top * scale}px`,
                                width: `${b.width * scale}px`, height: `${b.height * scale}px` }} />
                        ))}
                        {guides.x && <div class="guide vertical" />}
                        {guides.y && <div class="guide horizontal" />}
                    </div>
                    {!captions() && <p class="preview-missing">Module de dessin des sous-titres introuvable.</p>}
                </div>
            </div>
            <PreviewBar />
        </div>
    );
}

// One sound effect heard as the playhead passes it.
function playSoundEffect(effect) {
    try {
        const audio = new Audio(effect.dataUrl);
        const volume = Number(effect.volume);
        audio.volume = Number.isFinite(volume) ? Math.min(1, Math.max(0, volume)) : 0.85;
        audio.play().catch((error) => console.error(`Tessivo: son ${effect.name}`, error));
    } catch (error) {
        console.error(`Tessivo: son ${effect.name}`, error);
    }
}
