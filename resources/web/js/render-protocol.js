// The render page: when Tessivo renders a movie through the editor's page, it
// loads this page into an offscreen web view and drives it with three
// functions, then snapshots the view once the page says a frame is painted.
//
//   window.loadRenderProject(params)     keep the project, show only a
//                                        params.width × params.height canvas
//   window.getRenderReuseState(time)     {kind: "empty" | "static" | "dynamic", key}
//   window.setRenderTime(time, requestId) draw that time, then post
//                                        {type: "frameReady", payload: {requestId}}
//
// Needs caption-renderer.js (window.TessivoCaptions) loaded before it.
(function (root, factory) {
    'use strict';
    const api = factory();
    if (typeof module !== 'undefined' && module.exports) module.exports = api;
    if (root && typeof root.document !== 'undefined') api.install(root);
})(typeof window !== 'undefined' ? window : undefined, function () {
    'use strict';

    const CANVAS_ID = 'tessivo-render-canvas';
    const RENDER_CLASS = 'tessivo-render-mode';
    // A font that never finishes loading must not hold the render forever.
    const FONT_LOAD_LIMIT_MS = 5000;
    // Offscreen views may throttle animation frames; the snapshot paints the
    // page anyway, so the frame is announced after this delay at the latest.
    const FRAME_FALLBACK_MS = 250;

    // Render params read as the engine reads them: a positive integral JSON
    // number, else the default.
    function frameDimension(value, defaultValue) {
        return typeof value === 'number' && Number.isInteger(value) && value > 0 ? value : defaultValue;
    }

    function withTimeout(promise, ms, setTimer) {
        return new Promise((resolve) => {
            let settled = false;
            const finish = () => {
                if (!settled) {
                    settled = true;
                    resolve();
                }
            };
            setTimer(finish, ms);
            Promise.resolve(promise).then(finish, finish);
        });
    }

    // env: {window, captions, createCanvas?, log?}. The window needs document,
    // requestAnimationFrame and setTimeout; createCanvas(width, height) may
    // replace the page's canvas (tests pass a fake one).
    function createRenderPage(env) {
        const win = env.window;
        const log = env.log || ((...args) => win.console && win.console.error && win.console.error(...args));
        const setTimer = (fn, ms) => (win.setTimeout ? win.setTimeout(fn, ms) : setTimeout(fn, ms));
        const captions = () => env.captions || win.TessivoCaptions;

        const state = {
            generation: 0,
            params: null,
            blocks: [],
            width: 1920,
            height: 1080,
            pixelRatio: 1,
            canvas: null,
            context: null,
            layouts: new Map(),
            fontsReady: Promise.resolve(),
        };

        function postMessage(message) {
            try {
                const handler = win.webkit && win.webkit.messageHandlers && win.webkit.messageHandlers.exportEngine;
                if (handler && typeof handler.postMessage === 'function') handler.postMessage(message);
            } catch (error) {
                log('Tessivo render page: postMessage failed', error);
            }
        }

        // Hides the editor and shows only the canvas over a transparent page.
        function prepareDocument(width, height) {
            const doc = win.document;
            if (!doc || !doc.documentElement) return;
            if (!doc.getElementById('tessivo-render-style')) {
                const style = doc.createElement('style');
                style.id = 'tessivo-render-style';
                style.textContent =
                    `html.${RENDER_CLASS}, html.${RENDER_CLASS} body {` +
                    ' margin: 0 !important; padding: 0 !important; overflow: hidden !important;' +
                    ' background: transparent !important; }\n' +
                    `html.${RENDER_CLASS} body > :not(#${CANVAS_ID}) { display: none !important; }\n` +
                    `#${CANVAS_ID} { position: fixed; left: 0; top: 0; z-index: 2147483647;` +
                    ' background: transparent; pointer-events: none; }';
                (doc.head || doc.documentElement).appendChild(style);
            }
            doc.documentElement.classList.add(RENDER_CLASS);
            doc.documentElement.style.width = `${width}px`;
            doc.documentElement.style.height = `${height}px`;
            if (doc.body) {
                doc.body.style.width = `${width}px`;
                doc.body.style.height = `${height}px`;
            }
        }

        function makeCanvas(width, height, ratio) {
            if (env.createCanvas) return env.createCanvas(Math.round(width * ratio), Math.round(height * ratio));
            const doc = win.document;
            let canvas = doc.getElementById(CANVAS_ID);
            if (!canvas) {
                canvas = doc.createElement('canvas');
                canvas.id = CANVAS_ID;
                (doc.body || doc.documentElement).appendChild(canvas);
            }
            canvas.width = Math.round(width * ratio);
            canvas.height = Math.round(height * ratio);
            canvas.style.width = `${width}px`;
            canvas.style.height = `${height}px`;
            return canvas;
        }

        function loadFonts(blocks) {
            const fonts = win.document && win.document.fonts;
            if (!fonts || typeof fonts.load !== 'function') return Promise.resolve();
            const loads = captions().declaredFamiliesUsed(blocks).map((family) =>
                fonts.load(`16px "${family}"`).catch((error) => log(`Tessivo render page: font ${family}`, error)));
            const all = Promise.all(loads).then(() => fonts.ready);
            return withTimeout(all, FONT_LOAD_LIMIT_MS, setTimer);
        }

        function loadRenderProject(params) {
            const p = params !== null && typeof params === 'object' && !Array.isArray(params) ? params : {};
            state.generation += 1;
            state.params = p;
            state.width = frameDimension(p.width, 1920);
            state.height = frameDimension(p.height, 1080);
            state.pixelRatio = win.devicePixelRatio > 0 ? win.devicePixelRatio : 1;
            state.layouts = new Map();
            try {
                state.blocks = captions().decodeSequences(p);
            } catch (error) {
                log('Tessivo render page: sequences not read', error);
                state.blocks = [];
            }
            try {
                prepareDocument(state.width, state.height);
                state.canvas = makeCanvas(state.width, state.height, state.pixelRatio);
                state.context = state.canvas ? state.canvas.getContext('2d') : null;
            } catch (error) {
                log('Tessivo render page: canvas not made', error);
                state.canvas = null;
                state.context = null;
            }
            try {
                state.fontsReady = loadFonts(state.blocks);
            } catch (error) {
                log('Tessivo render page: fonts not loaded', error);
                state.fontsReady = Promise.resolve();
            }
        }

        function getRenderReuseState(time) {
            try {
                return captions().frameState(state.blocks, Number(time), state.width, state.height);
            } catch (error) {
                log('Tessivo render page: reuse state', error);
                return { kind: 'dynamic', key: null };
            }
        }

        function drawAt(time) {
            if (!state.context) return;
            captions().drawFrame(state.context, state.blocks, time,
                { width: state.width, height: state.height, pixelRatio: state.pixelRatio }, state.layouts);
        }

        // Posts once, after the next animation frame (or the fallback delay).
        function announceWhenPainted(requestId) {
            let sent = false;
            const send = () => {
                if (sent) return;
                sent = true;
                postMessage({ type: 'frameReady', payload: { requestId } });
            };
            if (typeof win.requestAnimationFrame === 'function') {
                try {
                    win.requestAnimationFrame(() => send());
                } catch (error) {
                    send();
                    return;
                }
                setTimer(send, FRAME_FALLBACK_MS);
            } else {
                setTimer(send, 0);
            }
        }

        // Always answers, even when drawing fails: the engine waits for the
        // answer and has no time limit of its own.
        function setRenderTime(time, requestId) {
            const generation = state.generation;
            const t = Number(time);
            return state.fontsReady.then(() => {
                if (generation === state.generation) {
                    try {
                        drawAt(t);
                    } catch (error) {
                        log('Tessivo render page: frame not drawn', error);
                    }
                }
                announceWhenPainted(requestId);
            });
        }

        return {
            loadRenderProject,
            getRenderReuseState,
            setRenderTime,
            state,
        };
    }

    function install(win) {
        const page = createRenderPage({ window: win });
        win.loadRenderProject = (params) => {
            page.loadRenderProject(params);
        };
        win.getRenderReuseState = (time) => page.getRenderReuseState(time);
        win.setRenderTime = (time, requestId) => {
            page.setRenderTime(time, requestId);
        };
        return page;
    }

    return { createRenderPage, install, frameDimension };
});
