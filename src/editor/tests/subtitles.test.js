import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
    decodeSubtitleBytes, decodeWindows1252, parseSubtitles, writeSrt, formatSrtTime, cuesToBlocks, resolveEntriesToCues,
} from '../src/files/subtitles.js';

const SAMPLE = '1\r\n00:00:01,000 --> 00:00:02,500\r\nÇa déménage — « oui » €\r\n';

function utf16(text, bigEndian, bom) {
    const out = [];
    if (bom) out.push(...(bigEndian ? [0xfe, 0xff] : [0xff, 0xfe]));
    for (let i = 0; i < text.length; i++) {
        const c = text.charCodeAt(i);
        out.push(...(bigEndian ? [c >> 8, c & 0xff] : [c & 0xff, c >> 8]));
    }
    return new Uint8Array(out);
}

function cp1252(text) {
    const back = { '€': 0x80, '—': 0x97, '’': 0x92, 'œ': 0x9c, 'Ÿ': 0x9f, '“': 0x93, '”': 0x94, '…': 0x85 };
    return new Uint8Array([...text].map((ch) => back[ch] ?? ch.charCodeAt(0)));
}

test('subtitle bytes decode whatever the encoding', () => {
    const utf8 = new TextEncoder().encode(SAMPLE);
    const cases = [
        { name: 'UTF-8', bytes: utf8, encoding: 'utf-8' },
        { name: 'UTF-8 with BOM', bytes: new Uint8Array([0xef, 0xbb, 0xbf, ...utf8]), encoding: 'utf-8-bom' },
        { name: 'UTF-16 LE with BOM', bytes: utf16(SAMPLE, false, true), encoding: 'utf-16le' },
        { name: 'UTF-16 BE with BOM', bytes: utf16(SAMPLE, true, true), encoding: 'utf-16be' },
        { name: 'UTF-16 LE without BOM', bytes: utf16(SAMPLE, false, false), encoding: 'utf-16le' },
        { name: 'UTF-16 BE without BOM', bytes: utf16(SAMPLE, true, false), encoding: 'utf-16be' },
        { name: 'Windows-1252', bytes: cp1252(SAMPLE), encoding: 'windows-1252' },
    ];
    for (const c of cases) {
        const { text, encoding } = decodeSubtitleBytes(c.bytes);
        assert.equal(encoding, c.encoding, c.name);
        assert.equal(text, SAMPLE, c.name);
    }
    assert.deepEqual(decodeSubtitleBytes(new Uint8Array(0)), { text: '', encoding: 'utf-8' });
    assert.equal(decodeSubtitleBytes(new TextEncoder().encode('abc').buffer).text, 'abc');
});

test('the Windows-1252 table covers 0x80–0x9F, Latin-1 above', () => {
    const cases = [
        [0x80, '€'], [0x82, '‚'], [0x85, '…'], [0x8a, 'Š'], [0x8c, 'Œ'], [0x91, '‘'], [0x92, '’'],
        [0x93, '“'], [0x96, '–'], [0x97, '—'], [0x99, '™'], [0x9c, 'œ'], [0x9f, 'Ÿ'],
        [0x81, '\u0081'], [0x8d, '\u008d'], [0x9d, '\u009d'], [0xa0, '\u00a0'], [0xe9, 'é'], [0xff, 'ÿ'], [0x41, 'A'],
    ];
    for (const [byte, ch] of cases) assert.equal(decodeWindows1252(new Uint8Array([byte])), ch, byte.toString(16));
    // A lone 0xE9 is not UTF-8: the file was saved by a Windows editor.
    assert.deepEqual(decodeSubtitleBytes(new Uint8Array([0x63, 0x61, 0x66, 0xe9])), { text: 'café', encoding: 'windows-1252' });
});

test('SRT and WebVTT cues: timestamps, settings, markup, line ends', () => {
    const cases = [
        { name: 'SRT with CRLF', text: '1\r\n00:00:01,000 --> 00:00:02,000\r\nBonjour\r\n\r\n2\r\n00:00:03,250 --> 00:00:04,000\r\nDeux\r\nlignes\r\n', cues: [[1, 2, 'Bonjour'], [3.25, 4, 'Deux\nlignes']] },
        { name: 'SRT with CR only', text: '1\r00:00:01,000 --> 00:00:02,000\rUn\r\r2\r00:00:02,000 --> 00:00:03,000\rDeux', cues: [[1, 2, 'Un'], [2, 3, 'Deux']] },
        { name: 'SRT with dots and no numbers', text: '00:00:01.5 --> 00:00:02.25\nSans numéro\n', cues: [[1.5, 2.25, 'Sans numéro']] },
        { name: 'SRT tags and overrides', text: '1\n00:00:01,000 --> 00:00:02,000\n{\\an8}<i>Haut</i> <font color="#ff0">jaune</font> &amp; fin\n', cues: [[1, 2, 'Haut jaune & fin']] },
        { name: 'SRT hours beyond 99', text: '1\n100:00:00,000 --> 100:00:01,000\nTard\n', cues: [[360000, 360001, 'Tard']] },
        {
            name: 'WebVTT without hours, with settings, NOTE and STYLE',
            text: 'WEBVTT - titre\n\nNOTE une remarque\nsur deux lignes\n\nSTYLE\n::cue { color: red }\n\nintro\n00:01.000 --> 00:02.500 align:start line:85% position:30%\n<v Marie>Salut</v> <c.jaune>toi</c>\n\n01:00:00.000 --> 01:00:01.000\n<00:00:00.500>Mot <b>gras</b>\n',
            cues: [[1, 2.5, 'Salut toi'], [3600, 3601, 'Mot gras']],
            format: 'vtt',
        },
        { name: 'WebVTT by file name', file: 'x.VTT', text: '00:01.000 --> 00:02.000\nSans en-tête\n', cues: [[1, 2, 'Sans en-tête']], format: 'vtt' },
    ];
    for (const c of cases) {
        const result = parseSubtitles(c.text, c.file);
        assert.equal(result.format, c.format || 'srt', c.name);
        assert.equal(result.skipped, 0, c.name);
        assert.deepEqual(result.cues.map((q) => [q.start, q.end, q.text]), c.cues, c.name);
    }
    const vtt = parseSubtitles('WEBVTT\n\n00:01.000 --> 00:02.000 line:85% position:30%\nIci\n');
    assert.deepEqual(vtt.cues[0].settings, { line: '85%', position: '30%' });
});

test('broken cues are skipped and counted', () => {
    const cases = [
        { name: 'missing timing', text: '1\nJuste du texte\n\n2\n00:00:01,000 --> 00:00:02,000\nBon\n', cues: 1, skipped: 1 },
        { name: 'end before start', text: '1\n00:00:05,000 --> 00:00:02,000\nÀ rebours\n\n2\n00:00:06,000 --> 00:00:07,000\nBon\n', cues: 1, skipped: 1 },
        { name: 'impossible minutes', text: '1\n00:75:00,000 --> 00:76:00,000\nNon\n', cues: 0, skipped: 1 },
        { name: 'no text', text: '1\n00:00:01,000 --> 00:00:02,000\n<i></i>\n\n2\n00:00:03,000 --> 00:00:04,000\nBon\n', cues: 1, skipped: 1 },
        { name: 'garbled arrow', text: '1\n00:00:01,000 -> 00:00:02,000\nFlèche\n', cues: 0, skipped: 1 },
        { name: 'blank lines only', text: '\n\n \n\t\n', cues: 0, skipped: 0 },
        { name: 'not a string', text: null, cues: 0, skipped: 0 },
    ];
    for (const c of cases) {
        const result = parseSubtitles(c.text);
        assert.equal(result.cues.length, c.cues, c.name);
        assert.equal(result.skipped, c.skipped, c.name);
    }
});

test('garbage never throws', () => {
    let seed = 7;
    const random = () => ((seed = (seed * 1103515245 + 12345) >>> 0) / 2 ** 32);
    const alphabet = ['0', '1', ':', ',', '.', '-->', '\n', '\r', ' ', 'WEBVTT', 'NOTE', '<', '>', '{\\', '}', 'é', '\u0000', '&amp;'];
    for (let round = 0; round < 300; round++) {
        const bytes = new Uint8Array(Math.floor(random() * 400));
        for (let i = 0; i < bytes.length; i++) bytes[i] = Math.floor(random() * 256);
        let text = '';
        for (let i = 0; i < 80; i++) text += alphabet[Math.floor(random() * alphabet.length)];
        assert.doesNotThrow(() => parseSubtitles(decodeSubtitleBytes(bytes).text));
        const result = parseSubtitles(text);
        for (const cue of result.cues) assert.ok(cue.end > cue.start && cue.text.length > 0);
    }
});

test('SRT written back reads the same', () => {
    const blocks = [
        { text: 'Second', startTime: 3.04, duration: 1.5, trackId: 0 },
        { text: 'Premier\nsur deux lignes', startTime: 0.5, duration: 2, trackId: 1 },
        { text: '   ', startTime: 1, duration: 1, trackId: 0 },
        { text: 'Trou\n\nau milieu', startTime: 7200.001, duration: 0.999, trackId: 0 },
    ];
    const srt = writeSrt(blocks);
    assert.equal(srt.split('\r\n').slice(0, 5).join('|'), '1|00:00:00,500 --> 00:00:02,500|Premier|sur deux lignes|');
    assert.equal(srt.includes('\n') && !/[^\r]\n/.test(srt), true, 'every line ends in CRLF');
    const back = parseSubtitles(srt);
    assert.equal(back.skipped, 0);
    assert.deepEqual(back.cues.map((c) => [c.start, c.end, c.text]), [
        [0.5, 2.5, 'Premier\nsur deux lignes'],
        [3.04, 4.54, 'Second'],
        [7200.001, 7201, 'Trou\nau milieu'],
    ]);
    for (const [t, text] of [[0, '00:00:00,000'], [59.9996, '00:01:00,000'], [3661.042, '01:01:01,042'], [-3, '00:00:00,000'], [NaN, '00:00:00,000']]) {
        assert.equal(formatSrtTime(t), text, String(t));
    }
});

test('cues become blocks on the project frames', () => {
    const cues = [
        { start: 1.01, end: 1.02, text: 'Court' },
        { start: 2.5, end: 4, text: 'Placé', settings: { position: '30%', line: '85%' } },
        { start: NaN, end: 1, text: 'Faux' },
    ];
    const blocks = cuesToBlocks(cues, { fps: 25 }, 'vtt');
    assert.equal(blocks.length, 2);
    assert.deepEqual([blocks[0].startTime, blocks[0].duration], [1, 0.04], 'at least one frame');
    assert.deepEqual([blocks[1].x, blocks[1].y, blocks[1].source.kind], [30, 85, 'vtt']);
    const resolveCues = resolveEntriesToCues([
        { id: 'resolve_st2_001', text: ' B ', start: 1, duration: 0.01, subtitleTrack: 2 },
        { id: 'resolve_st5_001', text: 'C', start: -1, duration: 1, subtitleTrack: 5 },
        { id: 'x', text: '', start: 0, duration: 1, subtitleTrack: 2 },
        null,
    ]);
    assert.deepEqual(resolveCues.map((c) => [c.text, c.track, c.start, c.end]), [['B', 0, 1, 1.05], ['C', 1, 0, 1]]);
});
