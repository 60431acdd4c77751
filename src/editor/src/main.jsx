// Entry of the editor page. The same page is loaded a second time as the
// offscreen render page: there the window carries `tessivoRenderMode` from
// the first script on, and the editor does not start (no storage, no
// messages to the engine), leaving the page to the render protocol.
import { render } from 'preact';
import { App } from './ui/app.jsx';
import './ui/editor.css';

function start() {
    if (window.tessivoRenderMode) return;
    const root = document.getElementById('editor-root');
    if (root) render(<App />, root);
}

if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', start);
else start();
