// Draws .lottie archives with ThorVG through dotlottie-web, which reads the
// archive itself (manifest and animation), and prints where the ink of each
// asked frame lies, as page.js does for lottie-web:
//   node dotlottie-frames.mjs WIDTH HEIGHT FRAMES_JSON ARCHIVE...
// prints one JSON line: [{frames: [{rows, cols}], errors: [...]}, ...], one
// entry per archive, the largest alpha of every row and column of a frame and the count of
// pixels of each alpha and, per row, of the pixels at least half as opaque
// as the most opaque one.
// The player draws through a canvas stand-in whose context keeps the last
// image it was given.
import { DotLottie } from '@lottiefiles/dotlottie-web/dist/index.js';
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);
const wasm = readFileSync(require.resolve('@lottiefiles/dotlottie-web/dist/dotlottie-player.wasm'));
DotLottie.setWasmUrl('data:application/wasm;base64,' + wasm.toString('base64'));

function canvasStandIn(width, height) {
    const context = {
        image: null,
        putImageData(image) { this.image = image; },
        createImageData(width, height) { return { width, height, data: new Uint8ClampedArray(width * height * 4) }; },
        clearRect() {},
        drawImage() {},
    };
    const canvas = {
        width, height, style: {},
        getContext: () => context,
        addEventListener() {}, removeEventListener() {},
        getBoundingClientRect() { return { left: 0, top: 0, width: this.width, height: this.height }; },
    };
    context.canvas = canvas;
    return { canvas, context };
}

function profiles(image) {
    const { width, height, data } = image;
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

function once(player, type, seconds) {
    return new Promise((resolve) => {
        const timer = setTimeout(() => resolve(null), seconds * 1000);
        player.addEventListener(type, (event) => { clearTimeout(timer); resolve(event); });
    });
}

async function draw(path, width, height, frames) {
    const errors = [];
    const { canvas, context } = canvasStandIn(width, height);
    const bytes = readFileSync(path);
    const player = new DotLottie({
        canvas, data: new Uint8Array(bytes).buffer,
        autoplay: false, loop: false,
        renderConfig: { autoResize: false, devicePixelRatio: 1, freezeOnOffscreen: false },
    });
    const loaded = await Promise.race([once(player, 'load', 10), once(player, 'loadError', 10).then((e) => e && { error: e.error })]);
    if (!loaded || loaded.error) {
        errors.push(loaded ? String((loaded.error && loaded.error.message) || loaded.error) : 'pas de chargement');
        return { frames: [], errors };
    }
    if (!player.manifest || !player.manifest.animations || player.manifest.animations.length !== 1)
        errors.push('manifeste illisible');
    const size = player.animationSize();
    if (size.width !== width || size.height !== height) errors.push(`taille ${size.width}x${size.height}`);
    const result = [];
    for (const frame of frames) {
        context.image = null;
        const rendered = once(player, 'render', 2);
        player.setFrame(frame);
        await rendered;
        if (!context.image || context.image.width !== width || context.image.height !== height) {
            errors.push(`image ${frame} absente`);
            continue;
        }
        result.push(profiles(context.image));
    }
    player.destroy();
    return { frames: result, errors };
}

const width = Number(process.argv[2]);
const height = Number(process.argv[3]);
const frames = JSON.parse(process.argv[4]);
const outcomes = [];
for (const path of process.argv.slice(5)) {
    try {
        outcomes.push(await draw(path, width, height, frames));
    } catch (e) {
        outcomes.push({ frames: [], errors: [String((e && e.message) || e)] });
    }
}
// Timers of events that never came must not hold the process.
process.stdout.write(JSON.stringify(outcomes) + '\n', () => process.exit(0));
