// The editor's layout: the toolbar on top, the preview in the centre, the
// side panel with its tabs on the right, the timeline along the bottom.
// Also owns the keyboard shortcuts of the whole page.
import { useEffect, useState } from 'preact/hooks';
import { useEditor } from './context.js';
import { Toolbar } from './toolbar.jsx';
import { Preview } from './preview.jsx';
import { Timeline } from './timeline.jsx';
import { StylePanel } from './style-panel.jsx';
import { commandForKey } from './keys.js';
import { projectDuration } from '../state/selectors.js';
import { PresetsPanel, SendPanel, SoundPanel, LibraryPanel, Notices, saveProjectFile } from './panels/index.jsx';

const TABS = [
    { id: 'style', label: 'Style', Panel: StylePanel },
    { id: 'presets', label: 'Préréglages', Panel: PresetsPanel },
    { id: 'send', label: 'Envoyer', Panel: SendPanel },
    { id: 'sounds', label: 'Sons', Panel: SoundPanel },
    { id: 'effects', label: 'Effets', Panel: LibraryPanel },
];

function runCommand(store, { command, frames }) {
    const state = store.getState();
    const { ui, project } = state;
    switch (command) {
    case 'togglePlay':
        store.dispatch({ type: 'playback/set', playing: !ui.playing });
        break;
    case 'step':
        if (ui.playing) store.dispatch({ type: 'playback/set', playing: false });
        store.dispatch({ type: 'playhead/step', frames });
        break;
    case 'delete':
        if (ui.selection.length) store.dispatch({ type: 'blocks/delete', ids: ui.selection });
        break;
    case 'undo':
        store.undo();
        break;
    case 'redo':
        store.redo();
        break;
    case 'save':
        saveProjectFile(store);
        break;
    case 'selectAll':
        store.dispatch({ type: 'selection/all' });
        break;
    case 'clearSelection':
        store.dispatch({ type: 'selection/clear' });
        break;
    case 'home':
        store.dispatch({ type: 'playhead/set', time: 0 });
        break;
    case 'end':
        store.dispatch({ type: 'playhead/set', time: projectDuration(project) });
        break;
    default:
        break;
    }
}

function useShortcuts(store) {
    useEffect(() => {
        const onKey = (event) => {
            const command = commandForKey(event, store.getState().project.fps);
            if (!command) return;
            event.preventDefault();
            try {
                runCommand(store, command);
            } catch (error) {
                console.error('Tessivo: raccourci', command.command, error);
            }
        };
        window.addEventListener('keydown', onKey);
        return () => window.removeEventListener('keydown', onKey);
    }, [store]);
}

function SidePanel() {
    const [tab, setTab] = useState('style');
    const current = TABS.find((t) => t.id === tab) || TABS[0];
    const { Panel } = current;
    const onTabKey = (event) => {
        if (event.key !== 'ArrowLeft' && event.key !== 'ArrowRight') return;
        event.preventDefault();
        event.stopPropagation();
        const index = TABS.findIndex((t) => t.id === tab);
        const next = TABS[(index + (event.key === 'ArrowRight' ? 1 : TABS.length - 1)) % TABS.length];
        setTab(next.id);
        const button = document.getElementById(`tab-${next.id}`);
        if (button) button.focus();
    };
    return (
        <aside class="side">
            <div class="tabs" role="tablist" aria-label="Panneaux" onKeyDown={onTabKey}>
                {TABS.map((t) => (
                    <button
                        key={t.id}
                        id={`tab-${t.id}`}
                        type="button"
                        role="tab"
                        class={t.id === tab ? 'tab active' : 'tab'}
                        aria-selected={t.id === tab ? 'true' : 'false'}
                        aria-controls="side-panel"
                        tabIndex={t.id === tab ? 0 : -1}
                        data-testid={`tab-${t.id}`}
                        onClick={() => setTab(t.id)}
                    >
                        {t.label}
                    </button>
                ))}
            </div>
            <section id="side-panel" class="side-body" role="tabpanel" aria-labelledby={`tab-${current.id}`}>
                <Panel />
            </section>
        </aside>
    );
}

export function App() {
    const { store } = useEditor();
    useShortcuts(store);
    return (
        <div class="editor">
            <Toolbar />
            <main class="stage">
                <Preview />
            </main>
            <SidePanel />
            <Timeline />
            <Notices />
        </div>
    );
}
