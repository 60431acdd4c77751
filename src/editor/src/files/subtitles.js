// Subtitle files: bytes → text (whatever encoding the file was saved in),
// SRT and WebVTT → cues, blocks → SRT. Reading never throws: a damaged cue
// is skipped and counted, so a half-broken file still opens.

// ---- decoding ------------------------------------------------------------------

// Windows-1252 differs from Latin-1 only in 0x80–0x9F; the five unassigned
// bytes keep their C1 code points, as browsers decode them.
const CP1252_HIGH = [
    0x20ac, 0x0081, 0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021, 0x02c6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008d, 0x017d, 0x008f,
    0x0090, 0x2018, 0x2019, 0x201c, 0x201d, 0x2022, 0x2013, 0x2014, 0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0x009d, 0x017e, 0x0178,
];

const CHUNK = 0x4000;

function codesToString(codes) {
    let out = '';
    for (let i = 0; i < codes.length; i += CHUNK) out += String.fromCharCode.apply(null, codes.subarray(i, i + CHUNK));
    return out;
}

export function decodeWindows1252(bytes) {
    const codes = new Uint16Array(bytes.length);
    for (let i = 0; i < bytes.length; i++) {
        const b = bytes[i];
        codes[i] = b >= 0x80 && b <= 0x9f ? CP1252_HIGH[b - 0x80] : b;
    }
    return codesToString(codes);
}

function decodeUtf16(bytes, bigEndian) {
    const n = bytes.length >> 1;
    const codes = new Uint16Array(n);
    for (let i = 0, j = 0; i < n; i++, j += 2) {
        codes[i] = bigEndian ? (bytes[j] << 8) | bytes[j + 1] : bytes[j] | (bytes[j + 1] << 8);
    }
    return codesToString(codes);
}

// UTF-16 without a byte order mark shows itself by its NUL bytes: text that
// is mostly ASCII has a zero in every other byte, on the odd side for little
// endian and the even side for big endian. → "le" | "be" | null
function utf16Guess(bytes) {
    const n = Math.min(bytes.length, 4096) & ~1;
    if (n < 4) return null;
    let evenZeros = 0;
    let oddZeros = 0;
    for (let i = 0; i < n; i += 2) {
        if (bytes[i] === 0) evenZeros++;
        if (bytes[i + 1] === 0) oddZeros++;
    }
    const pairs = n / 2;
    if (oddZeros > pairs * 0.3 && evenZeros < pairs * 0.05) return 'le';
    if (evenZeros > pairs * 0.3 && oddZeros < pairs * 0.05) return 'be';
    return null;
}

let strictUtf8 = null;
function decodeUtf8Strict(bytes) {
    if (!strictUtf8) strictUtf8 = new TextDecoder('utf-8', { fatal: true, ignoreBOM: true });
    return strictUtf8.decode(bytes);
}

// Uint8Array (or ArrayBuffer) → {text, encoding}; encoding is one of
// "utf-8", "utf-8-bom", "utf-16le", "utf-16be", "windows-1252".
export function decodeSubtitleBytes(input) {
    const bytes = input instanceof Uint8Array ? input : input instanceof ArrayBuffer ? new Uint8Array(input) : new Uint8Array(0);
    let text;
    let encoding;
    if (bytes[0] === 0xef && bytes[1] === 0xbb && bytes[2] === 0xbf) {
        encoding = 'utf-8-bom';
        try {
            text = decodeUtf8Strict(bytes.subarray(3));
        } catch {
            text = new TextDecoder('utf-8').decode(bytes.subarray(3));
        }
    } else if (bytes[0] === 0xff && bytes[1] === 0xfe) {
        encoding = 'utf-16le';
        text = decodeUtf16(bytes.subarray(2), false);
    } else if (bytes[0] === 0xfe && bytes[1] === 0xff) {
        encoding = 'utf-16be';
        text = decodeUtf16(bytes.subarray(2), true);
    } else {
        const guess = utf16Guess(bytes);
        if (guess) {
            encoding = `utf-16${guess}`;
            text = decodeUtf16(bytes, guess === 'be');
        } else {
            try {
                text = decodeUtf8Strict(bytes);
                encoding = 'utf-8';
            } catch {
                text = decodeWindows1252(bytes);
                encoding = 'windows-1252';
            }
        }
    }
    if (text.charCodeAt(0) === 0xfeff) text = text.slice(1);
    return { text, encoding };
}

// ---- parsing -------------------------------------------------------------------

// [hh:]mm:ss[,.]fff, hours optional (WebVTT leaves them out under an hour).
const STAMP = /(?:(\d+):)?(\d{1,2}):(\d{1,2})(?:[,.](\d{1,3}))?/;
const TIMING = new RegExp(`^\\s*${STAMP.source}\\s*-->\\s*${STAMP.source}(.*)$`);

function stampSeconds(h, m, s, f) {
    const minutes = Number(m);
    const seconds = Number(s);
    if (minutes > 59 || seconds > 59) return NaN;
    const ms = f ? Number(f.padEnd(3, '0')) : 0;
    return (h ? Number(h) : 0) * 3600 + minutes * 60 + seconds + ms / 1000;
}

// "start --> end [settings]" → {start, end, settings} or null.
export function parseTiming(line) {
    const m = TIMING.exec(line);
    if (!m) return null;
    const start = stampSeconds(m[1], m[2], m[3], m[4]);
    const end = stampSeconds(m[5], m[6], m[7], m[8]);
    if (!Number.isFinite(start) || !Number.isFinite(end)) return null;
    const rest = m[9] ? m[9].trim() : '';
    return { start, end, settings: rest ? parseSettings(rest) : null };
}

// WebVTT cue settings ("align:start line:85% position:30%") → object.
function parseSettings(text) {
    const settings = {};
    for (const part of text.split(/\s+/)) {
        const i = part.indexOf(':');
        if (i > 0 && i < part.length - 1) settings[part.slice(0, i)] = part.slice(i + 1);
    }
    return settings;
}

const ENTITIES = { amp: '&', lt: '<', gt: '>', nbsp: '\u00a0', quot: '"', apos: "'", lrm: '', rlm: '' };

// Markup of either format out of a cue's text: HTML-like tags (<i>, <font>,
// <v Speaker>, <c.class>, inline timestamps), ASS overrides ({\an8}), entities.
export function stripMarkup(text) {
    let t = text;
    if (t.includes('<')) t = t.replace(/<[^>\n]*>/g, '');
    if (t.includes('{')) t = t.replace(/\{\\[^}\n]*\}/g, '');
    if (t.includes('&')) t = t.replace(/&(amp|lt|gt|nbsp|quot|apos|lrm|rlm);/g, (_, name) => ENTITIES[name]);
    return cleanLines(t.split('\n'), 0, Infinity);
}

// Lines [from, to) trimmed, empty ones dropped, joined by line feeds.
function cleanLines(lines, from, to) {
    let out = '';
    const end = Math.min(to, lines.length);
    for (let i = from; i < end; i++) {
        const line = lines[i].trim();
        if (line) out = out ? `${out}\n${line}` : line;
    }
    return out;
}

const isBlank = (line) => line.length === 0 || line.trim().length === 0;
const MARKUP = /[<{&]/;

// Text → {cues: [{start, end, text, settings?}], skipped, format}. The format
// is WebVTT when the name ends in .vtt or the text starts with WEBVTT. Blocks
// are separated by blank lines; one pass over the lines, no copies of blocks.
export function parseSubtitles(input, fileName = '') {
    const text = typeof input === 'string' ? input : '';
    const normalised = text.replace(/^\ufeff/, '').replace(/\r\n?/g, '\n');
    const vtt = /\.vtt$/i.test(fileName) || /^WEBVTT(?=$|[\s])/.test(normalised);
    const lines = normalised.split('\n');
    const n = lines.length;
    const cues = [];
    let skipped = 0;
    let firstBlock = true;
    let i = 0;
    while (i < n) {
        while (i < n && isBlank(lines[i])) i++;
        if (i >= n) break;
        const from = i;
        while (i < n && !isBlank(lines[i])) i++;
        const to = i;
        const isFirst = firstBlock;
        firstBlock = false;
        if (vtt) {
            const first = lines[from].trim();
            if (isFirst && first.startsWith('WEBVTT')) continue;
            // Comments, style sheets and regions are no cues.
            if (/^(NOTE|STYLE|REGION)(?=$|[ \t])/.test(first)) continue;
        }
        // The timing line is first, or second after a cue number / identifier.
        let t = -1;
        if (lines[from].includes('-->')) t = from;
        else if (from + 1 < to && lines[from + 1].includes('-->')) t = from + 1;
        const timing = t >= 0 ? parseTiming(lines[t]) : null;
        if (!timing || !(timing.end > timing.start)) {
            skipped++;
            continue;
        }
        let body = '';
        for (let k = t + 1; k < to; k++) {
            if (MARKUP.test(lines[k])) {
                body = stripMarkup(lines.slice(t + 1, to).join('\n'));
                break;
            }
            if (k === to - 1) body = cleanLines(lines, t + 1, to);
        }
        if (!body) {
            skipped++;
            continue;
        }
        const cue = { start: timing.start, end: timing.end, text: body };
        if (vtt && timing.settings) cue.settings = timing.settings;
        cues.push(cue);
    }
    return { cues, skipped, format: vtt ? 'vtt' : 'srt' };
}

// ---- writing -------------------------------------------------------------------

export function formatSrtTime(seconds) {
    const total = Math.max(0, Math.round((Number.isFinite(seconds) ? seconds : 0) * 1000));
    const ms = total % 1000;
    const s = Math.floor(total / 1000) % 60;
    const m = Math.floor(total / 60000) % 60;
    const h = Math.floor(total / 3600000);
    const two = (v) => String(v).padStart(2, '0');
    return `${two(h)}:${two(m)}:${two(s)},${String(ms).padStart(3, '0')}`;
}

// Blocks → SRT text: cues in time order (then track), numbered from 1, CRLF
// line ends. Blank lines inside a text would end the cue early, so they go;
// blocks without text are left out.
export function writeSrt(blocks) {
    const list = (Array.isArray(blocks) ? blocks : [])
        .map((b, i) => ({ b, i }))
        .filter(({ b }) => b && typeof b.text === 'string' && b.text.trim())
        .sort((x, y) => (x.b.startTime || 0) - (y.b.startTime || 0) || (x.b.trackId || 0) - (y.b.trackId || 0) || x.i - y.i);
    let out = '';
    list.forEach(({ b }, n) => {
        const start = b.startTime || 0;
        const end = start + Math.max(0, b.duration || 0);
        const lines = b.text.replace(/\r\n?/g, '\n').split('\n').map((l) => l.trim()).filter(Boolean);
        out += `${n + 1}\r\n${formatSrtTime(start)} --> ${formatSrtTime(end)}\r\n${lines.join('\r\n')}\r\n\r\n`;
    });
    return out;
}

// ---- a whole file --------------------------------------------------------------

// The bytes of a dropped or picked file → {blocks, count, skipped, encoding,
// format} ready for `blocks/import` (the page reads the bytes with
// readFileAsBytes).
export function subtitleFileToBlocks(bytes, fileName = '', project = {}) {
    const { text, encoding } = decodeSubtitleBytes(bytes);
    const { cues, skipped, format } = parseSubtitles(text, fileName);
    const blocks = cuesToBlocks(cues, project, format);
    return { blocks, count: blocks.length, skipped, encoding, format };
}

// ---- cues → blocks -------------------------------------------------------------

const percent = (v) => {
    const m = /^(-?\d+(?:\.\d+)?)%$/.exec(v || '');
    return m ? Math.min(100, Math.max(0, Number(m[1]))) : null;
};

// Cues → partial blocks for `blocks/import` (the store completes the style
// and gives ids): times snapped to the project's frames, at least one frame
// long; a WebVTT position or line in percent places the block.
export function cuesToBlocks(cues, project = {}, kind = 'srt') {
    const fps = Number.isFinite(project.fps) && project.fps > 0 ? project.fps : 25;
    const blocks = [];
    for (const cue of Array.isArray(cues) ? cues : []) {
        if (!cue || !Number.isFinite(cue.start) || !Number.isFinite(cue.end)) continue;
        const startFrame = Math.max(0, Math.round(cue.start * fps));
        const endFrame = Math.max(startFrame + 1, Math.round(cue.end * fps));
        const block = {
            text: String(cue.text ?? ''),
            startTime: startFrame / fps,
            duration: (endFrame - startFrame) / fps,
            trackId: Number.isInteger(cue.track) && cue.track >= 0 ? cue.track : 0,
            source: cue.sourceId !== undefined ? { kind, id: String(cue.sourceId) } : { kind },
        };
        if (cue.settings) {
            const x = percent(cue.settings.position);
            const y = percent(cue.settings.line);
            if (x !== null) block.x = x;
            if (y !== null) block.y = y;
        }
        blocks.push(block);
    }
    return blocks;
}

// Resolve's subtitle entries → cues; each subtitle track of the timeline
// becomes its own track, the lowest first.
export function resolveEntriesToCues(entries) {
    const list = Array.isArray(entries) ? entries.filter((e) => e && typeof e === 'object') : [];
    const tracks = [...new Set(list.map((e) => (Number.isInteger(e.subtitleTrack) ? e.subtitleTrack : 1)))].sort((a, b) => a - b);
    const cues = [];
    for (const e of list) {
        const start = Number(e.start);
        const duration = Number(e.duration);
        if (!Number.isFinite(start) || !Number.isFinite(duration) || typeof e.text !== 'string' || !e.text.trim()) continue;
        cues.push({
            start: Math.max(0, start),
            end: Math.max(0, start) + Math.max(0.05, duration),
            text: e.text.trim(),
            track: tracks.indexOf(Number.isInteger(e.subtitleTrack) ? e.subtitleTrack : 1),
            sourceId: e.id !== undefined ? e.id : e.sourceItemId,
        });
    }
    return cues;
}
