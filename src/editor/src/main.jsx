// Entry of the editor page. The same page is loaded a second time as the
// offscreen render page: there the window carries `tessivoRenderMode` from
// the first script on, and the editor does not start (no storage, no
// messages to the engine), leaving the page to the render protocol.
import { render } from 'preact';
import { App } from './ui/app.jsx';
import { EditorContext } from './ui/context.js';
import { createStore } from './state/store.js';
import { createEngineBridge } from './bridge/engine.js';
import './ui/editor.css';

// The page's storage, or none when the web view refuses it (the project then
// lives only as long as the page).
function pageStorage() {
    try {
        return window.localStorage || undefined;
    } catch (error) {
        console.error('Tessivo: stockage de la page indisponible', error);
        return undefined;
    }
}

function start() {
    if (window.tessivoRenderMode) return;
    const root = document.getElementById('editor-root');
    if (!root) return;
    const store = createStore({ storage: pageStorage() });
    const bridge = createEngineBridge({ win: window, store });
    // The GUI tests and the benchmarks drive the editor through these.
    window.tessivoEditor = { store, bridge };
    render(
        <EditorContext.Provider value={{ store, bridge }}>
            <App />
        </EditorContext.Provider>,
        root,
    );
    // The Resolve timeline's rate becomes the rate of a new project.
    bridge.askTimelineFacts();
}

if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', start);
else start();
