// Draws Lottie documents with lottie-web, with its canvas and SVG renderers,
// and reports where the ink of each drawn frame lies: for every row and every
// column of the frame, the largest alpha (0...255) in it, how many pixels have each alpha, and per row
// how many pixels are at least half as opaque as the most opaque one. The test compares
// these profiles with the native renderer's (dotlottie-frames.mjs does the
// same with the second player, under node).

const errors = [];
window.addEventListener('error', (e) => errors.push(String(e.message || e.error || e)));
window.addEventListener('unhandledrejection', (e) => errors.push(String((e.reason && e.reason.message) || e.reason)));

function profiles(ctx, width, height) {
    const data = ctx.getImageData(0, 0, width, height).data;
    const rows = new Array(height).fill(0);
    const cols = new Array(width).fill(0);
    const hist = new Array(256).fill(0);
    for (let y = 0; y < height; y++) {
        for (let x = 0; x < width; x++) {
            const a = data[(y * width + x) * 4 + 3];
            if (a > rows[y]) rows[y] = a;
            if (a > cols[x]) cols[x] = a;
            hist[a] += 1;
        }
    }
    // Per row, the pixels at least half as opaque as the most opaque one.
    let top = 0;
    for (const a of rows) if (a > top) top = a;
    const counts = new Array(height).fill(0);
    for (let y = 0; y < height; y++) {
        if (rows[y] * 2 < top) continue;
        for (let x = 0; x < width; x++) if (data[(y * width + x) * 4 + 3] * 2 >= top) counts[y] += 1;
    }
    return { rows, cols, hist, counts };
}

function stage(width, height) {
    const element = document.getElementById('stage');
    element.innerHTML = '';
    element.style.width = width + 'px';
    element.style.height = height + 'px';
    return element;
}

function scratchContext(width, height) {
    const canvas = document.createElement('canvas');
    canvas.width = width;
    canvas.height = height;
    return canvas.getContext('2d', { willReadFrequently: true });
}

function withTimeout(promise, seconds, what) {
    return Promise.race([promise, new Promise((_, reject) => setTimeout(() => reject(new Error(what + ': délai dépassé')), seconds * 1000))]);
}

// lottie-web, renderer "canvas" or "svg". The SVG is drawn into a canvas
// through an image of its markup to be read.
async function lottieWeb(renderer, documentText, frames) {
    const animationData = JSON.parse(documentText);
    const width = animationData.w;
    const height = animationData.h;
    const container = stage(width, height);
    const failures = [];
    const animation = lottie.loadAnimation({
        container, renderer, loop: false, autoplay: false, animationData,
        rendererSettings: { clearCanvas: true, preserveAspectRatio: 'xMidYMid meet', dpr: 1 },
    });
    animation.addEventListener('data_failed', () => failures.push('data_failed'));
    animation.addEventListener('error', (e) => failures.push(String((e && e.nativeError) || e)));
    await withTimeout(new Promise((resolve) => {
        if (animation.isLoaded) resolve();
        animation.addEventListener('DOMLoaded', resolve);
    }), 10, 'lottie-web ' + renderer);
    const result = [];
    for (const frame of frames) {
        animation.goToAndStop(frame, true);
        if (renderer === 'canvas') {
            const canvas = container.querySelector('canvas');
            result.push(profiles(canvas.getContext('2d'), width, height));
        } else {
            const svg = container.querySelector('svg');
            svg.setAttribute('width', width);
            svg.setAttribute('height', height);
            const markup = new XMLSerializer().serializeToString(svg);
            const image = new Image();
            image.src = URL.createObjectURL(new Blob([markup], { type: 'image/svg+xml' }));
            await image.decode();
            const ctx = scratchContext(width, height);
            ctx.drawImage(image, 0, 0, width, height);
            URL.revokeObjectURL(image.src);
            result.push(profiles(ctx, width, height));
        }
    }
    animation.destroy();
    return { frames: result, failures };
}

// kind: "lottie-canvas" or "lottie-svg". Resolves to a JSON text:
// {frames: [{rows, cols}], errors: [...]} with every error the page saw.
window.measureLottie = async (kind, payload, framesText, width, height) => {
    errors.length = 0;
    const frames = JSON.parse(framesText);
    let outcome;
    try {
        outcome = await lottieWeb(kind === 'lottie-canvas' ? 'canvas' : 'svg', payload, frames);
    } catch (e) {
        outcome = { frames: [], failures: [String((e && e.message) || e)] };
    }
    return JSON.stringify({ frames: outcome.frames, errors: outcome.failures.concat(errors) });
};
window.playersReady = true;
