#!/usr/bin/env node
// Reading a 5,000-cue SRT file as the editor does on import: bytes decoded,
// cues parsed, blocks made on the project's frames. Prints the median and the
// slowest of several runs per encoding, and the first (cold) run
// (target: well under 200 ms).
//   node bench/editor/srt-read.mjs [cues]
import { decodeSubtitleBytes, parseSubtitles, cuesToBlocks, formatSrtTime } from '../../src/editor/src/files/subtitles.js';

const CUES = Number(process.argv[2]) || 5000;
const RUNS = 15;

function makeSrt(count) {
    const lines = [];
    for (let i = 0; i < count; i++) {
        const start = i * 2.4;
        lines.push(String(i + 1), `${formatSrtTime(start)} --> ${formatSrtTime(start + 2)}`);
        lines.push(i % 3 ? `Réplique numéro ${i + 1}, déjà « dite »` : `<i>Ligne ${i + 1} en italique</i>`);
        if (i % 2) lines.push('et une seconde ligne — pour voir');
        lines.push('');
    }
    return lines.join('\r\n');
}

function encodings(text) {
    const utf8 = new TextEncoder().encode(text);
    const utf16 = new Uint8Array(2 + text.length * 2);
    utf16[0] = 0xff;
    utf16[1] = 0xfe;
    for (let i = 0; i < text.length; i++) {
        const c = text.charCodeAt(i);
        utf16[2 + 2 * i] = c & 0xff;
        utf16[3 + 2 * i] = c >> 8;
    }
    // Windows-1252: every character of the sample is below 0x100 except — (0x97).
    const cp = new Uint8Array(text.length);
    for (let i = 0; i < text.length; i++) {
        const c = text.charCodeAt(i);
        cp[i] = c === 0x2014 ? 0x97 : c;
    }
    return { 'utf-8': utf8, 'utf-16le': utf16, 'windows-1252': cp };
}

function read(bytes) {
    const { text } = decodeSubtitleBytes(bytes);
    const { cues, skipped } = parseSubtitles(text, 'bench.srt');
    const blocks = cuesToBlocks(cues, { fps: 25 }, 'srt');
    return { count: blocks.length, skipped };
}

const text = makeSrt(CUES);
for (const [name, bytes] of Object.entries(encodings(text))) {
    const times = [];
    let first = 0;
    let result;
    for (let r = 0; r < RUNS + 2; r++) {
        const t0 = performance.now();
        result = read(bytes);
        const dt = performance.now() - t0;
        if (r === 0) first = dt; // what an import costs in a fresh page
        if (r >= 2) times.push(dt); // the first runs warm the JIT up
    }
    if (result.count !== CUES || result.skipped) throw new Error(`${name}: ${result.count} cues read, ${result.skipped} skipped`);
    times.sort((a, b) => a - b);
    const median = times[Math.floor(times.length / 2)];
    console.log(`srt-read ${name}: ${CUES} cues, ${(bytes.length / 1024).toFixed(0)} KiB, first ${first.toFixed(1)} ms, median ${median.toFixed(1)} ms, slowest ${times.at(-1).toFixed(1)} ms`);
}
