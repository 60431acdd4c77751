// Caption blocks drawn on a 2D canvas with the same look as Tessivo's native
// (Pango/Cairo) renderer: same decoding and defaults, same drawing order, same
// entrance and exit poses, same fonts, layout and passes (glow, outline, fill,
// shine sweep). Used by the offscreen render page and by the editor's preview.
//
// Plain script: loaded with a <script> tag it defines window.TessivoCaptions;
// loaded from node it is a CommonJS module (the tests use it that way).
(function (root, factory) {
    'use strict';
    const api = factory();
    if (typeof module !== 'undefined' && module.exports) module.exports = api;
    if (root && typeof root.document !== 'undefined') root.TessivoCaptions = api;
})(typeof window !== 'undefined' ? window : undefined, function () {
    'use strict';

    // ------------------------------------------------------------------
    // Reading editor values with a default, by the same rules as the engine.

    // Integral values without a fraction; others in the shortest form that reads back.
    function numberText(value) {
        if (Number.isFinite(value) && Math.trunc(value) === value && Math.abs(value) < 1e15) {
            return String(value === 0 ? 0 : value);
        }
        if (!Number.isFinite(value)) return Number.isNaN(value) ? 'nan' : value > 0 ? 'inf' : '-inf';
        // The shortest digits that read back, written in fixed or scientific
        // notation, whichever is shorter (fixed on a tie), the exponent with at
        // least two digits.
        const [mantissa, exponentText] = value.toExponential().split('e');
        const exponent = parseInt(exponentText, 10);
        const sign = mantissa.startsWith('-') ? '-' : '';
        const digits = mantissa.replace(/[-.]/g, '');
        let fixed;
        if (exponent < 0) fixed = '0.' + '0'.repeat(-exponent - 1) + digits;
        else if (exponent + 1 >= digits.length) fixed = digits + '0'.repeat(exponent + 1 - digits.length);
        else fixed = digits.slice(0, exponent + 1) + '.' + digits.slice(exponent + 1);
        const magnitude = String(Math.abs(exponent)).padStart(2, '0');
        const scientific = mantissa.replace('-', '') + 'e' + (exponent < 0 ? '-' : '+') + magnitude;
        return sign + (fixed.length <= scientific.length ? fixed : scientific);
    }

    function stringValue(value, defaultValue) {
        if (typeof value === 'string') return value;
        if (typeof value === 'boolean') return value ? '1' : '0';
        if (typeof value === 'number') return numberText(value);
        return defaultValue;
    }

    function boolValue(value, defaultValue) {
        if (typeof value === 'boolean') return value;
        if (typeof value === 'number') return value !== 0;
        if (typeof value === 'string') {
            const text = asciiLower(value);
            if (text === 'true' || text === '1' || text === 'yes' || text === 'on') return true;
            if (text === 'false' || text === '0' || text === 'no' || text === 'off') return false;
        }
        return defaultValue;
    }

    const INT64_MAX = 9223372036854775807n;
    const INT64_MIN = -9223372036854775808n;

    function intValue(value, defaultValue) {
        if (typeof value === 'boolean') return value ? 1 : 0;
        if (typeof value === 'number') {
            if (Number.isNaN(value)) return 0;
            const t = Math.trunc(value);
            if (t >= 9223372036854775807) return Number(INT64_MAX);
            if (t <= -9223372036854775808) return Number(INT64_MIN);
            return t === 0 ? 0 : t;
        }
        if (typeof value === 'string') {
            if (!/^[+-]?[0-9]+$/.test(value)) return defaultValue;
            const n = BigInt(value);
            if (n > INT64_MAX || n < INT64_MIN) return defaultValue;
            const result = Number(n);
            return result === 0 ? 0 : result;
        }
        return defaultValue;
    }

    const DECIMAL = /^[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?$/;
    const HEXADECIMAL = /^([+-]?)0[xX]([0-9a-fA-F]+\.?[0-9a-fA-F]*|\.[0-9a-fA-F]+)([pP]([+-]?[0-9]+))?$/;
    const INFINITE = /^([+-]?)(inf|infinity)$/i;
    const NOT_A_NUMBER = /^[+-]?nan(\([0-9A-Za-z_]*\))?$/i;

    // A text must be a whole C-locale floating-point number: decimal or
    // hexadecimal, "inf", "infinity" or "nan", no white space around it.
    function parseCDouble(text) {
        if (DECIMAL.test(text)) return Number(text);
        let m = HEXADECIMAL.exec(text);
        if (m) {
            const [whole, fraction = ''] = m[2].split('.');
            let mantissa = 0;
            for (const d of whole + fraction) mantissa = mantissa * 16 + parseInt(d, 16);
            const exponent = (m[4] ? parseInt(m[4], 10) : 0) - 4 * fraction.length;
            const magnitude = mantissa * Math.pow(2, exponent);
            return m[1] === '-' ? -magnitude : magnitude;
        }
        m = INFINITE.exec(text);
        if (m) return m[1] === '-' ? -Infinity : Infinity;
        if (NOT_A_NUMBER.test(text)) return NaN;
        return undefined;
    }

    function doubleValue(value, defaultValue) {
        if (typeof value === 'number') return value;
        if (typeof value === 'boolean') return value ? 1 : 0;
        if (typeof value === 'string') {
            const parsed = parseCDouble(value);
            return parsed === undefined ? defaultValue : parsed;
        }
        return defaultValue;
    }

    // A non-finite number ("nan", "inf", "1e400") counts as absent: it would
    // hide the block or scramble the drawing order of the others.
    function finiteDoubleValue(value, defaultValue) {
        const result = doubleValue(value, defaultValue);
        return Number.isFinite(result) ? result : defaultValue;
    }

    function asciiLower(text) {
        return text.replace(/[A-Z]/g, (c) => String.fromCharCode(c.charCodeAt(0) + 32));
    }

    // White space and line breaks as the native renderer trims them.
    function trimSpace(text) {
        return text.replace(/^[ \t\n\r\v\f\u0085\u00a0\u2028\u2029]+|[ \t\n\r\v\f\u0085\u00a0\u2028\u2029]+$/g, '');
    }

    // ------------------------------------------------------------------
    // Caption sequences.

    const DEFAULTS = Object.freeze({
        text: '',
        startTime: 0,
        duration: 1,
        x: 50,
        y: 50,
        trackId: 0,
        font: 'HelveticaNeue-CondensedBlack',
        size: 8,
        textScaleX: 100,
        color: '#ffffff',
        color2: '#ffffff',
        effect: 'none',
        effectSpeed: 1,
        effectColor: '#ff7a00',
        glowType: 'none',
        glowIntensity: 20,
        glowColor: '#ffffff',
        hasOutline: false,
        outlineWidth: 0,
        outlineColor: '#000000',
        animIn: 'none',
        animOut: 'none',
        animSpeed: 0.35,
    });

    const FIELD_KINDS = [
        ['text', 'string'], ['startTime', 'double'], ['duration', 'double'], ['x', 'double'],
        ['y', 'double'], ['trackId', 'int'], ['font', 'string'], ['size', 'double'],
        ['textScaleX', 'double'], ['color', 'string'], ['color2', 'string'], ['effect', 'string'],
        ['effectSpeed', 'double'], ['effectColor', 'string'], ['glowType', 'string'],
        ['glowIntensity', 'double'], ['glowColor', 'string'], ['hasOutline', 'bool'],
        ['outlineWidth', 'double'], ['outlineColor', 'string'], ['animIn', 'string'],
        ['animOut', 'string'], ['animSpeed', 'double'],
    ];
    const READERS = { string: stringValue, double: finiteDoubleValue, int: intValue, bool: boolValue };

    function isDictionary(value) {
        return value !== null && typeof value === 'object' && !Array.isArray(value);
    }

    // One editor dictionary → a frozen block with every field coerced or
    // defaulted, every number finite. Only textScaleX is changed: clamped to 40...220.
    function decodeSequence(dictionary) {
        const d = isDictionary(dictionary) ? dictionary : {};
        const block = {};
        for (const [key, kind] of FIELD_KINDS) {
            const value = Object.prototype.hasOwnProperty.call(d, key) ? d[key] : undefined;
            block[key] = READERS[kind](value, DEFAULTS[key]);
        }
        const s = block.textScaleX;
        block.textScaleX = s < 40 ? 40 : s > 220 ? 220 : s;
        return Object.freeze(block);
    }

    // params.sequences decoded and put in drawing order: track, then start,
    // ties keeping the editor's order. Anything but a list of dictionaries
    // gives no blocks.
    function decodeSequences(params) {
        const list = isDictionary(params) ? params.sequences : undefined;
        if (!Array.isArray(list) || !list.every(isDictionary)) return [];
        return sortBlocks(list.map(decodeSequence));
    }

    function sortBlocks(blocks) {
        return blocks
            .map((block, index) => ({ block, index }))
            .sort((a, b) => {
                if (a.block.trackId !== b.block.trackId) return a.block.trackId < b.block.trackId ? -1 : 1;
                if (a.block.startTime < b.block.startTime) return -1;
                if (a.block.startTime > b.block.startTime) return 1;
                return a.index - b.index;
            })
            .map((entry) => entry.block);
    }

    // ------------------------------------------------------------------
    // Colours: "#rgb" or "#rrggbb" only; anything else is white.

    const WHITE = Object.freeze({ r: 255, g: 255, b: 255 });

    function parseColor(text, defaultHex) {
        let s = asciiLower(trimSpace(typeof text === 'string' && text !== '' ? text : defaultHex || ''));
        if (s.startsWith('#')) s = s.slice(1);
        if (s.length === 3) s = s[0] + s[0] + s[1] + s[1] + s[2] + s[2];
        if (!/^[0-9a-f]{6}$/.test(s)) return WHITE;
        const v = parseInt(s, 16);
        return { r: (v >> 16) & 0xff, g: (v >> 8) & 0xff, b: v & 0xff };
    }

    function cssColor(color, alpha) {
        const a = alpha === undefined ? 1 : alpha;
        return `rgba(${color.r}, ${color.g}, ${color.b}, ${a})`;
    }

    // A black or empty glow colour would read as a smudge: it glows white.
    function effectiveGlowColor(block) {
        const key = asciiLower(trimSpace(block.glowColor));
        if (key === '' || key === 'black' || key === '#000' || key === '#000000') return WHITE;
        return parseColor(block.glowColor, '#ffffff');
    }

    // ------------------------------------------------------------------
    // Entrance and exit poses.

    const NEUTRAL_POSE = Object.freeze({ opacity: 1, xOffset: 0, yOffset: 0, rotation: 0, scale: 1 });
    const MINIMUM_OPACITY = 0.001;

    function animationLength(block, name) {
        if (name === 'none') return 0;
        return Math.min(Math.max(block.animSpeed, 0.01), 0.45 * block.duration);
    }

    function entranceLength(block) {
        return animationLength(block, block.animIn);
    }

    function exitLength(block) {
        return animationLength(block, block.animOut);
    }

    function clamp01(v) {
        return v < 0 ? 0 : v > 1 ? 1 : v;
    }

    function entrancePose(name, e) {
        const r = 1 - e;
        const p = { opacity: e, xOffset: 0, yOffset: 0, rotation: 0, scale: 1 };
        switch (name) {
        case 'pop': p.scale = 0.5 + 0.5 * e; break;
        case 'slide-up':
        case 'rise': p.yOffset = 64 * r; break;
        case 'smooth-rise': p.yOffset = 38 * r; p.scale = 0.94 + 0.06 * e; break;
        case 'zoom-blur':
        case 'scale-down': p.scale = 1 + 1.2 * r; break;
        case 'ghost-reveal': p.xOffset = -92 * r; p.yOffset = 22 * r; break;
        case 'whip-left': p.xOffset = -180 * r; p.rotation = -0.02 * r; break;
        case 'slam': p.scale = 1.85 - 0.85 * e; break;
        default: break;
        }
        return p;
    }

    // The downward exits ("slide-down", "sink", "smooth-sink") move the block
    // down the screen, as their names say; the native renderer does the same.
    function exitPose(name, c) {
        const p = { opacity: 1 - c, xOffset: 0, yOffset: 0, rotation: 0, scale: 1 };
        switch (name) {
        case 'pop-out': p.scale = 1 - 0.35 * c; break;
        case 'slide-down':
        case 'sink': p.yOffset = 64 * c; break;
        case 'smooth-sink': p.yOffset = 38 * c; p.scale = 1 - 0.06 * c; break;
        case 'zoom-blur-out': p.scale = 1 + 1.2 * c; break;
        case 'ghost-out': p.xOffset = 110 * c; p.yOffset = -22 * c; break;
        case 'whip-right-out': p.xOffset = 180 * c; p.rotation = 0.02 * c; break;
        default: break;
        }
        return p;
    }

    // Pose at `elapsed` seconds into the block. Offsets in frame pixels (y
    // down), rotation in radians (positive = counter-clockwise on screen).
    function blockPose(block, elapsed) {
        const a = entranceLength(block);
        const b = exitLength(block);
        if (a > 0 && elapsed < a) {
            const p = clamp01(elapsed / a);
            return entrancePose(block.animIn, 1 - Math.pow(1 - p, 3));
        }
        if (b > 0 && elapsed > block.duration - b) {
            const q = clamp01((elapsed - (block.duration - b)) / b);
            return exitPose(block.animOut, q * q * q);
        }
        return { ...NEUTRAL_POSE };
    }

    function isNeutralPose(p) {
        return p.opacity === 1 && p.xOffset === 0 && p.yOffset === 0 && p.rotation === 0 && p.scale === 1;
    }

    // The shine sweep passes once, starting when the entrance ends.
    function shineState(block, elapsed) {
        if (block.effect !== 'shine-sweep') return { active: false, phase: 0 };
        const te = block.animIn !== 'none' ? elapsed - entranceLength(block) : elapsed;
        const phase = te / Math.max(block.effectSpeed, 0.05);
        if (!(phase >= 0 && phase <= 1)) return { active: false, phase: 0 };
        return { active: true, phase };
    }

    // ------------------------------------------------------------------
    // Geometry.

    function fontSize(block, frameWidth) {
        return (block.size / 100) * frameWidth;
    }

    function lineStep(fs) {
        return Math.max(0.72 * fs, 0.82 * fs);
    }

    // Every newline character ends a line (CR LF therefore leaves an empty
    // line); an empty line is laid out as one space.
    function splitLines(text) {
        return String(text).split(/[\n\v\f\r\u0085\u2028\u2029]/).map((line) => (line === '' ? ' ' : line));
    }

    // Baseline origins relative to the block anchor, y down: every line centred
    // horizontally, the block centred vertically, each line in the middle of
    // its line step.
    function lineOrigins(metrics, fs) {
        const step = lineStep(fs);
        const halfHeight = (step * Math.max(metrics.length, 1)) / 2;
        return metrics.map((m, k) => {
            const up = m.descent + halfHeight - step * (k + 1) + (step - m.height) / 2;
            return { x: -m.width / 2, baseline: -up };
        });
    }

    function graphemes(text) {
        if (typeof Intl !== 'undefined' && typeof Intl.Segmenter === 'function') {
            return Array.from(new Intl.Segmenter(undefined, { granularity: 'grapheme' }).segment(text), (s) => s.segment);
        }
        return Array.from(text);
    }

    // ------------------------------------------------------------------
    // Fonts.

    // The faces Tessivo ships (css/fonts.css declares them under these family
    // names) with their vertical metrics per em, as the native renderer reads
    // them (hhea ascender and descender; every shipped face has no line gap).
    const SHIPPED_FACES = Object.freeze({
        'Anton': { postscriptName: 'Anton-Regular', file: 'Anton_400Regular.ttf', ascent: 2409 / 2048, descent: 674 / 2048 },
        'Archivo Black': { postscriptName: 'ArchivoBlack-Regular', file: 'ArchivoBlack_400Regular.ttf', ascent: 0.878, descent: 0.21 },
        'Bangers': { postscriptName: 'Bangers-Regular', file: 'Bangers_400Regular.ttf', ascent: 0.883, descent: 0.181 },
        'Bebas Neue': { postscriptName: 'BebasNeue-Regular', file: 'BebasNeue_400Regular.ttf', ascent: 0.9, descent: 0.3 },
        'DM Serif Display': { postscriptName: 'DMSerifDisplay-Regular', file: 'DMSerifDisplay_400Regular.ttf', ascent: 1.036, descent: 0.335 },
        'Inter': { postscriptName: 'Inter-Bold', file: 'Inter_700Bold.ttf', ascent: 1984 / 2048, descent: 494 / 2048 },
        'Montserrat': { postscriptName: 'Montserrat-Bold', file: 'Montserrat_700Bold.ttf', ascent: 0.968, descent: 0.251 },
        'Rubik Dirt': { postscriptName: 'RubikDirt-Regular', file: 'RubikDirt_400Regular.ttf', ascent: 0.935, descent: 0.25 },
        'Rubik Spray Paint': { postscriptName: 'RubikSprayPaint-Regular', file: 'RubikSprayPaint_400Regular.ttf', ascent: 0.935, descent: 0.25 },
        'Space Mono': { postscriptName: 'SpaceMono-Bold', file: 'SpaceMono_700Bold.ttf', ascent: 1.12, descent: 0.361 },
        'Teko': { postscriptName: 'Teko-Bold', file: 'Teko_700Bold.ttf', ascent: 0.958, descent: 0.475 },
    });

    // Families css/fonts.css declares for macOS names: the system's Arial Black
    // when installed, else the shipped stand-in.
    const ALIAS_FAMILIES = Object.freeze({
        'Arial Black': 'Archivo Black',
        'HelveticaNeue-CondensedBlack': 'Anton',
    });

    // Editor family → candidate names, tried in order, then the common fallbacks.
    const FONT_TABLE = Object.freeze({
        'Bebas Neue': ['BebasNeue-Regular', 'HelveticaNeue-CondensedBlack', 'Impact'],
        'Anton': ['Anton-Regular', 'Impact', 'HelveticaNeue-CondensedBlack'],
        'Teko': ['Teko-Bold', 'HelveticaNeue-CondensedBlack', 'Impact'],
        'Archivo Black': ['ArchivoBlack-Regular', 'Arial-Black', 'HelveticaNeue-CondensedBlack'],
        'Bangers': ['Bangers-Regular', 'Impact', 'Arial-Black'],
        'DM Serif Display': ['DMSerifDisplay-Regular', 'TimesNewRomanPS-BoldMT', 'Georgia-Bold'],
        'Arial Black': ['Arial-Black', 'HelveticaNeue-CondensedBlack'],
        'Inter': ['Inter-Bold', 'HelveticaNeue-Bold'],
        'Montserrat': ['Montserrat-Bold', 'HelveticaNeue-Bold'],
        'Space Mono': ['SpaceMono-Bold', 'Menlo-Bold'],
        'Rubik Dirt': ['RubikDirt-Regular', 'Impact'],
        'Rubik Spray Paint': ['RubikSprayPaint-Regular', 'Impact'],
    });
    const COMMON_FALLBACKS = Object.freeze(['HelveticaNeue-CondensedBlack', 'Arial-Black', 'HelveticaNeue-Bold']);

    // macOS faces Linux lacks → the faces that stand in for them.
    const STAND_INS = Object.freeze({
        'HelveticaNeue-CondensedBlack': ['Anton'],
        'Impact': ['Anton'],
        'Arial-Black': ['Archivo Black'],
        'HelveticaNeue-Bold': ['Inter'],
        'TimesNewRomanPS-BoldMT': ['Liberation Serif', 'DejaVu Serif'],
        'Georgia-Bold': ['DejaVu Serif'],
        'Menlo-Bold': ['DejaVu Sans Mono'],
    });
    const MAC_ONLY = new Set(['HelveticaNeue-Bold', 'TimesNewRomanPS-BoldMT', 'Georgia-Bold', 'Menlo-Bold']);

    // Declared family for a name (family or PostScript name of a shipped face,
    // or an alias), compared without regard to case as fontconfig does.
    const DECLARED_BY_NAME = (() => {
        const map = new Map();
        for (const [family, face] of Object.entries(SHIPPED_FACES)) {
            map.set(family.toLowerCase(), family);
            map.set(face.postscriptName.toLowerCase(), family);
        }
        map.set('arial black', 'Arial Black');
        map.set('arial-black', 'Arial Black');
        map.set('helveticaneue-condensedblack', 'HelveticaNeue-CondensedBlack');
        return map;
    })();

    function fontCandidates(font) {
        const result = [];
        const add = (name) => {
            if (!result.includes(name)) result.push(name);
        };
        add(font);
        if (Object.prototype.hasOwnProperty.call(FONT_TABLE, font)) FONT_TABLE[font].forEach(add);
        COMMON_FALLBACKS.forEach(add);
        return result;
    }

    // The family list a block's "font" draws with: the candidates the page can
    // find (shipped faces, aliases, other names as system families), then the
    // stand-ins of the macOS names, then the generic sans-serif.
    function resolveFont(font) {
        const families = [];
        const add = (name) => {
            if (name && !families.includes(name)) families.push(name);
        };
        const candidates = fontCandidates(font);
        for (const c of candidates) {
            const declared = DECLARED_BY_NAME.get(c.toLowerCase());
            if (declared) add(declared);
            else if (!MAC_ONLY.has(c)) add(c);
        }
        for (const c of candidates) (STAND_INS[c] || []).forEach(add);
        // The metrics are known when the first family is a shipped face;
        // otherwise they come from the face the browser picks.
        const first = families[0];
        const metricsFace = Object.prototype.hasOwnProperty.call(SHIPPED_FACES, first) ? SHIPPED_FACES[first] : null;
        const aliasFamily = Object.prototype.hasOwnProperty.call(ALIAS_FAMILIES, first) ? ALIAS_FAMILIES[first] : null;
        const fallbackFace = SHIPPED_FACES[families.find((f) => SHIPPED_FACES[f]) || 'Anton'];
        return { families, metricsFace, aliasFamily, fallbackFace };
    }

    function quoteFamily(name) {
        return '"' + name.replace(/[\\"]/g, '\\$&').replace(/[\n\r\f]/g, ' ') + '"';
    }

    function fontString(families, px) {
        const size = Number.isFinite(px) ? Number(px.toFixed(4)) : 0;
        return `normal normal 400 ${size}px ${families.map(quoteFamily).join(', ')}, sans-serif`;
    }

    // Families of fonts.css that the blocks use, for loading before drawing.
    function declaredFamiliesUsed(blocks) {
        const used = new Set();
        for (const block of blocks) {
            for (const family of resolveFont(block.font).families) {
                if (SHIPPED_FACES[family] || ALIAS_FAMILIES[family]) used.add(family);
            }
        }
        return Array.from(used);
    }

    // ------------------------------------------------------------------
    // Visibility and frame classification.

    // Whether a block can be placed at all. Sizes beyond a few frame widths
    // draw nothing that fits in the frame.
    function isDrawable(block, frameWidth, frameHeight) {
        const fs = fontSize(block, frameWidth);
        const maxSize = 16 * Math.max(frameWidth, frameHeight || 0, 1);
        return Number.isFinite(fs) && fs > 0 && fs <= maxSize && Number.isFinite(block.x) &&
            Number.isFinite(block.y) && Number.isFinite(block.textScaleX);
    }

    // The pose of a block that is drawn at project time t, or null.
    function visiblePose(block, time, frameWidth, frameHeight) {
        if (!(block.startTime <= time && time <= block.startTime + block.duration)) return null;
        const pose = blockPose(block, time - block.startTime);
        if (!(pose.opacity > MINIMUM_OPACITY)) return null;
        if (!isDrawable(block, frameWidth, frameHeight)) return null;
        return pose;
    }

    // What the pixels of a block in its neutral pose depend on.
    function staticSignature(block) {
        return [block.text, block.x, block.y, block.font, block.size, block.textScaleX, block.color,
            asciiLower(block.glowType), block.glowIntensity, block.glowColor, block.hasOutline,
            block.outlineWidth, block.outlineColor];
    }

    // Two FNV-1a lanes over the UTF-16 units: a 64-bit digest as hex text.
    function digest(text) {
        let h1 = 0x811c9dc5;
        let h2 = 0x01000193 ^ text.length;
        for (let i = 0; i < text.length; i++) {
            const c = text.charCodeAt(i);
            h1 = Math.imul(h1 ^ c, 0x01000193);
            h2 = Math.imul(h2 ^ c, 0x5bd1e995);
            h2 ^= h2 >>> 15;
        }
        return (h1 >>> 0).toString(16).padStart(8, '0') + (h2 >>> 0).toString(16).padStart(8, '0');
    }

    // "empty" when nothing is drawn at t; "static" when every drawn block
    // stands still (neutral pose, no sweep running) — the key then names what
    // is drawn, so equal keys mean equal pixels; else "dynamic".
    function frameState(blocks, time, frameWidth, frameHeight) {
        const drawn = [];
        let dynamic = false;
        for (const block of blocks) {
            const pose = visiblePose(block, time, frameWidth, frameHeight);
            if (!pose) continue;
            drawn.push(staticSignature(block));
            if (!isNeutralPose(pose) || shineState(block, time - block.startTime).active) dynamic = true;
        }
        if (drawn.length === 0) return { kind: 'empty', key: null };
        if (dynamic) return { kind: 'dynamic', key: null };
        const text = JSON.stringify([frameWidth, frameHeight === undefined ? null : frameHeight, drawn]);
        return { kind: 'static', key: `captions:${drawn.length}:${text.length}:${digest(text)}` };
    }

    // ------------------------------------------------------------------
    // Layout and drawing.

    // Text is set at this size and scaled to the block's size: at small sizes
    // the browser rounds advances and metrics to whole pixels, while the
    // native renderer keeps them fractional.
    const REFERENCE_SIZE = 1000;

    // Metrics in frame pixels; `unit` = font size / REFERENCE_SIZE, the
    // context's font being set at the reference size.
    function measureLine(ctx, text, resolved, fs, unit) {
        const m = ctx.measureText(text);
        let ascent;
        let descent;
        if (resolved.metricsFace) {
            ascent = resolved.metricsFace.ascent * fs;
            descent = resolved.metricsFace.descent * fs;
        } else if (Number.isFinite(m.fontBoundingBoxAscent) && Number.isFinite(m.fontBoundingBoxDescent)) {
            ascent = m.fontBoundingBoxAscent * unit;
            descent = m.fontBoundingBoxDescent * unit;
        } else {
            ascent = resolved.fallbackFace.ascent * fs;
            descent = resolved.fallbackFace.descent * fs;
        }
        return { width: m.width * unit, height: ascent + descent, ascent, descent };
    }

    // Everything about a block that does not change with time. Measures with
    // `ctx`, so the fonts must be loaded first.
    function layoutBlock(ctx, block, frame) {
        const fs = fontSize(block, frame.width);
        const drawable = isDrawable(block, frame.width, frame.height);
        const unit = fs / REFERENCE_SIZE;
        const layout = { drawable, fontSize: fs, unit, font: '', lines: [] };
        if (!drawable) return layout;
        const resolved = resolveFont(block.font);
        layout.font = fontString(resolved.families, REFERENCE_SIZE);
        ctx.save();
        if (!resolved.metricsFace && resolved.aliasFamily) {
            // An alias draws the system face when there is one, else its
            // shipped stand-in, whose metrics are then known: same advances,
            // same face.
            const sample = 'HOgx 0123456789 Tessivo';
            ctx.font = fontString([resolved.families[0]], 100);
            const aliasWidth = ctx.measureText(sample).width;
            ctx.font = fontString([resolved.aliasFamily], 100);
            if (ctx.measureText(sample).width === aliasWidth) resolved.metricsFace = SHIPPED_FACES[resolved.aliasFamily];
        }
        ctx.font = layout.font;
        const shine = block.effect === 'shine-sweep';
        const metrics = [];
        for (const text of splitLines(block.text)) {
            const line = { text, metrics: measureLine(ctx, text, resolved, fs, unit), clusters: null };
            if (shine) {
                line.clusters = graphemes(text).map((cluster) => ({ text: cluster, width: ctx.measureText(cluster).width * unit }));
            }
            metrics.push(line.metrics);
            layout.lines.push(line);
        }
        ctx.restore();
        const origins = lineOrigins(metrics, fs);
        layout.lines.forEach((line, k) => {
            line.x = origins[k].x;
            line.baseline = origins[k].baseline;
        });
        layout.fill = parseColor(block.color, '#ffffff');
        layout.outline = parseColor(block.outlineColor, '#000000');
        layout.shine = parseColor(block.effectColor, '#ff7a00');
        layout.glow = effectiveGlowColor(block);
        layout.glowType = asciiLower(block.glowType);
        return layout;
    }

    // Text at (x, y) in block pixels; the context is scaled by layout.unit.
    function fillAt(ctx, layout, text, x, y) {
        ctx.fillText(text, x / layout.unit, y / layout.unit);
    }

    function strokeAt(ctx, layout, text, x, y, width) {
        ctx.lineWidth = width / layout.unit;
        ctx.strokeText(text, x / layout.unit, y / layout.unit);
    }

    // Canvas shadows take their blur and offsets in device pixels, like the
    // native renderer; the blur's Gaussian has a deviation of half the blur
    // (as the native three-box blur approximates), capped the same way.
    function setShadow(ctx, frame, color, alpha, blur, offsetX, offsetY) {
        const ratio = frame.pixelRatio || 1;
        const cap = Math.max(frame.width, frame.height || 0) / 4;
        ctx.shadowColor = cssColor(color, alpha);
        ctx.shadowBlur = Math.min(blur, cap) * ratio;
        ctx.shadowOffsetX = offsetX * ratio;
        ctx.shadowOffsetY = offsetY * ratio;
    }

    function clearShadow(ctx) {
        ctx.shadowColor = 'rgba(0, 0, 0, 0)';
        ctx.shadowBlur = 0;
        ctx.shadowOffsetX = 0;
        ctx.shadowOffsetY = 0;
    }

    function drawGlow(ctx, block, layout, line, opacity, frame) {
        const x0 = line.x;
        const y0 = line.baseline;
        const fs = layout.fontSize;
        const g = block.glowIntensity;
        if (layout.glowType === 'hard' || layout.glowType === 'cartoon') {
            const d = 0.035 * fs;
            ctx.fillStyle = cssColor(layout.glow);
            ctx.globalAlpha = opacity;
            for (const [dx, dy] of [[d, d], [-d, d], [d, -d], [-d, -d]]) fillAt(ctx, layout, line.text, x0 + dx, y0 - dy);
            return;
        }
        let shadowAlpha = 0.92;
        let textAlpha = 0.48;
        let blur;
        let offset = 0;
        if (layout.glowType === 'shadow') {
            offset = Math.max(0.24 * g, 2);
            blur = Math.max(0.16 * g, 2);
            shadowAlpha = 0.85;
            textAlpha = 0.42;
        } else if (layout.glowType === 'wide' || layout.glowType === 'neon') {
            blur = Math.max(0.62 * g, 8);
        } else {
            blur = Math.max(0.34 * g, 4);
        }
        ctx.save();
        setShadow(ctx, frame, layout.glow, shadowAlpha, blur, offset, offset);
        ctx.fillStyle = cssColor(layout.glow);
        ctx.globalAlpha = textAlpha * opacity;
        fillAt(ctx, layout, line.text, x0, y0);
        ctx.restore();
    }

    function drawShine(ctx, layout, line, phase, opacity, frame) {
        const lineWidth = line.metrics.width;
        const centre = (1.7 * phase - 0.35) * lineWidth;
        const band = Math.max(0.12 * lineWidth, 18);
        let cursor = 0;
        ctx.globalAlpha = opacity;
        for (const cluster of line.clusters) {
            const distance = Math.abs(cursor + cluster.width / 2 - centre);
            if (distance < 0.35 * band) {
                ctx.fillStyle = cssColor(WHITE);
                fillAt(ctx, layout, cluster.text, line.x + cursor, line.baseline);
            } else if (distance >= band) {
                ctx.fillStyle = cssColor(layout.fill);
                fillAt(ctx, layout, cluster.text, line.x + cursor, line.baseline);
            } else {
                ctx.save();
                setShadow(ctx, frame, layout.shine, 0.8, 0.22 * band, 0, 0);
                ctx.fillStyle = cssColor(layout.shine);
                fillAt(ctx, layout, cluster.text, line.x + cursor, line.baseline);
                ctx.restore();
            }
            cursor += cluster.width;
        }
    }

    // Draws one block as it stands at project time `time`. `frame` is
    // {width, height, pixelRatio}: the frame size in frame pixels and the
    // canvas pixels per frame pixel; the context's transform maps frame pixels
    // to the canvas when this is called.
    function drawBlock(ctx, block, time, frame, layout) {
        const elapsed = time - block.startTime;
        const pose = blockPose(block, elapsed);
        if (!(pose.opacity > MINIMUM_OPACITY)) return;
        const l = layout || layoutBlock(ctx, block, frame);
        if (!l.drawable) return;
        const opacity = pose.opacity;
        const shine = shineState(block, elapsed);

        ctx.save();
        ctx.translate(pose.xOffset + (block.x / 100) * frame.width, (block.y / 100) * frame.height + pose.yOffset);
        ctx.rotate(-pose.rotation);
        ctx.scale((pose.scale * block.textScaleX) / 100, pose.scale);
        ctx.scale(l.unit, l.unit);
        ctx.font = l.font;
        ctx.textAlign = 'left';
        ctx.textBaseline = 'alphabetic';
        clearShadow(ctx);

        for (const line of l.lines) {
            if (l.glowType !== 'none') drawGlow(ctx, block, l, line, opacity, frame);

            if (block.hasOutline && block.outlineWidth > 0) {
                ctx.globalAlpha = opacity;
                ctx.fillStyle = cssColor(l.fill);
                fillAt(ctx, l, line.text, line.x, line.baseline);
                ctx.strokeStyle = cssColor(l.outline);
                ctx.lineJoin = 'miter';
                ctx.miterLimit = 10;
                strokeAt(ctx, l, line.text, line.x, line.baseline, Math.max(block.outlineWidth, 1));
            }

            if (shine.active && line.clusters) {
                drawShine(ctx, l, line, shine.phase, opacity, frame);
            } else {
                ctx.globalAlpha = opacity;
                ctx.fillStyle = cssColor(l.fill);
                fillAt(ctx, l, line.text, line.x, line.baseline);
            }
        }
        ctx.restore();
    }

    // Clears the canvas and draws every block visible at `time`, lower tracks
    // first. `layouts` (a Map, optional) keeps the layouts between frames.
    function drawFrame(ctx, blocks, time, frame, layouts) {
        const ratio = frame.pixelRatio || 1;
        ctx.setTransform(1, 0, 0, 1, 0, 0);
        ctx.clearRect(0, 0, Math.ceil(frame.width * ratio), Math.ceil(frame.height * ratio));
        ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
        for (const block of blocks) {
            if (!visiblePose(block, time, frame.width, frame.height)) continue;
            let layout = layouts ? layouts.get(block) : undefined;
            if (!layout) {
                layout = layoutBlock(ctx, block, frame);
                if (layouts) layouts.set(block, layout);
            }
            drawBlock(ctx, block, time, frame, layout);
        }
    }

    return Object.freeze({
        numberText, stringValue, boolValue, intValue, doubleValue,
        DEFAULTS, decodeSequence, decodeSequences, sortBlocks,
        parseColor, cssColor, effectiveGlowColor,
        NEUTRAL_POSE, MINIMUM_OPACITY, entranceLength, exitLength, blockPose, isNeutralPose, shineState,
        fontSize, lineStep, splitLines, lineOrigins, graphemes,
        SHIPPED_FACES, ALIAS_FAMILIES, fontCandidates, resolveFont, fontString, declaredFamiliesUsed,
        visiblePose, frameState, layoutBlock, drawBlock, drawFrame,
    });
});
