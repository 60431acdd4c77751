// The toolbar (project name, files and import, undo and redo) and the
// editing bar over the timeline (transport with the timecode, block editing,
// zoom).
import { useEffect, useState } from 'preact/hooks';
import { useEditor, useStore } from './context.js';
import { formatTimecode, clampZoom, makeView, timeToX, zoomAround, HEADER_WIDTH } from './timeline-draw.js';
import { projectDuration } from '../state/selectors.js';
import { ImportMenu } from './panels/index.jsx';

const ZOOM_STEP = 1.5;

// Small line icons drawn in the text colour.
const ICONS = {
    start: 'M4 3v10M13 3L6 8l7 5z',
    play: 'M5 3l8 5-8 5z',
    pause: 'M5 3v10M11 3v10',
    undo: 'M6 4L3 7l3 3M3 7h6.5a3.5 3.5 0 0 1 0 7H7',
    redo: 'M10 4l3 3-3 3M13 7H6.5a3.5 3.5 0 0 0 0 7H9',
};

function Icon({ name }) {
    const filled = name === 'play' || name === 'start';
    return (
        <svg class="glyph" viewBox="0 0 16 16" width="16" height="16" aria-hidden="true">
            <path d={ICONS[name]} fill={filled ? 'currentColor' : 'none'} stroke="currentColor" stroke-width="1.6"
                stroke-linecap="round" stroke-linejoin="round" />
        </svg>
    );
}

function ProjectName() {
    const { store } = useEditor();
    const name = useStore((s) => s.project.name);
    const [draft, setDraft] = useState(name);
    useEffect(() => setDraft(name), [name]);
    const commit = () => {
        const next = draft.trim();
        if (next && next !== name) store.dispatch({ type: 'project/rename', name: next });
        else setDraft(name);
    };
    return (
        <input
            class="project-name"
            type="text"
            aria-label="Nom du projet"
            value={draft}
            onInput={(e) => setDraft(e.currentTarget.value)}
            onBlur={commit}
            onKeyDown={(e) => {
                if (e.key === 'Enter') e.currentTarget.blur();
                if (e.key === 'Escape') {
                    setDraft(name);
                    e.currentTarget.blur();
                }
            }}
        />
    );
}

function Timecode() {
    const playhead = useStore((s) => s.ui.playhead);
    const fps = useStore((s) => s.project.fps);
    const duration = useStore((s) => projectDuration(s.project));
    return (
        <div class="timecode" aria-live="off" title="Position de la tête de lecture / durée du projet">
            <span class="tc-now">{formatTimecode(playhead, fps)}</span>
            <span class="tc-total">{formatTimecode(duration, fps)}</span>
            <span class="tc-fps">{Number(fps.toFixed(3))} i/s</span>
        </div>
    );
}

// The timeline canvas' drawable width, to fit the whole project in it.
function timelineWidth() {
    const canvas = document.querySelector('[data-testid="timeline-canvas"]');
    return canvas ? canvas.clientWidth - HEADER_WIDTH : 800;
}

// Zooms the timeline by `factor` around the playhead when it is in view
// (else around the view's start), so the playhead stays where it is.
function zoomTimeline(store, factor) {
    const { project, ui } = store.getState();
    const view = makeView({ width: timelineWidth() + HEADER_WIDTH, height: 100, zoom: ui.zoom, scroll: ui.scroll,
        trackCount: 1, fps: project.fps });
    const x = timeToX(ui.playhead, view);
    const pivot = x >= view.header && x <= view.width ? x : view.header;
    const { zoom, scroll } = zoomAround(view, factor, pivot);
    store.dispatch({ type: 'view/zoom', zoom });
    store.dispatch({ type: 'view/scroll', scroll });
}

// The top bar: the project's name, files and import, undo and redo.
export function Toolbar() {
    const { store } = useEditor();
    const canUndo = useStore((s) => s.history.canUndo);
    const canRedo = useStore((s) => s.history.canRedo);
    return (
        <header class="toolbar" role="toolbar" aria-label="Barre d’outils">
            <div class="group brand">
                <span class="logo" aria-hidden="true">T</span>
                <ProjectName />
            </div>
            <div class="group files">
                <ImportMenu />
            </div>
            <div class="group history">
                <button type="button" class="icon" title="Annuler (Ctrl+Z)" aria-label="Annuler"
                    disabled={!canUndo} onClick={() => store.undo()}><Icon name="undo" /></button>
                <button type="button" class="icon" title="Rétablir (Ctrl+Maj+Z)" aria-label="Rétablir"
                    disabled={!canRedo} onClick={() => store.redo()}><Icon name="redo" /></button>
            </div>
        </header>
    );
}

// The editing bar over the timeline: transport and timecode, block editing,
// tracks and zoom.
export function EditBar() {
    const { store } = useEditor();
    const dispatch = store.dispatch;
    const playing = useStore((s) => s.ui.playing);
    const selection = useStore((s) => s.ui.selection);
    const count = selection.length;

    const fit = () => {
        const duration = Math.max(projectDuration(store.getState().project), 5);
        dispatch({ type: 'view/zoom', zoom: clampZoom((timelineWidth() - 24) / duration) });
        dispatch({ type: 'view/scroll', scroll: 0 });
    };

    return (
        <div class="editbar" role="toolbar" aria-label="Lecture et édition">
            <div class="group transport">
                <button type="button" class="icon" title="Début (Origine)" aria-label="Aller au début"
                    onClick={() => dispatch({ type: 'playhead/set', time: 0 })}><Icon name="start" /></button>
                <button type="button" class="icon play" title="Lecture / pause (Espace)"
                    aria-label={playing ? 'Pause' : 'Lecture'} aria-pressed={playing ? 'true' : 'false'}
                    onClick={() => dispatch({ type: 'playback/set', playing: !playing })}>
                    <Icon name={playing ? 'pause' : 'play'} />
                </button>
                <Timecode />
            </div>
            <div class="group">
                <button type="button" title="Nouveau bloc à la tête de lecture"
                    onClick={() => dispatch({ type: 'blocks/add' })}>+ Bloc</button>
                <button type="button" title="Couper les blocs sélectionnés à la tête de lecture"
                    disabled={!count} onClick={() => dispatch({ type: 'blocks/split' })}>Couper</button>
                <button type="button" title="Fusionner les blocs sélectionnés"
                    disabled={count < 2} onClick={() => dispatch({ type: 'blocks/merge', ids: selection })}>Fusionner</button>
                <button type="button" class="danger" title="Supprimer la sélection (Suppr)"
                    disabled={!count} onClick={() => dispatch({ type: 'blocks/delete', ids: selection })}>Supprimer</button>
                <button type="button" title="Ajouter une piste au-dessus des autres"
                    onClick={() => dispatch({ type: 'tracks/add' })}>+ Piste</button>
            </div>
            <div class="group zoom">
                <button type="button" class="icon" title="Dézoomer la timeline (Ctrl+molette)" aria-label="Dézoomer"
                    onClick={() => zoomTimeline(store, 1 / ZOOM_STEP)}>−</button>
                <button type="button" class="icon" title="Zoomer la timeline (Ctrl+molette)" aria-label="Zoomer"
                    onClick={() => zoomTimeline(store, ZOOM_STEP)}>+</button>
                <button type="button" title="Voir tout le projet" onClick={fit}>Ajuster</button>
            </div>
            <div class="legend" title="Route de chaque bloc pour l’envoi intelligent">
                <span><span class="mark lottie" /> Lottie</span>
                <span><span class="mark exact" /> Exact Web</span>
            </div>
        </div>
    );
}
