import { test } from 'node:test';
import assert from 'node:assert/strict';
import { subtitleFileToBlocks } from '../src/files/subtitles.js';
import { readFileAsBytes, readFileAsDataUrl } from '../src/files/read-file.js';

test('a whole subtitle file, from bytes to blocks', () => {
    const vtt = 'WEBVTT\n\n00:01.000 --> 00:02.000\nPremière\n\ncassé\n\n00:03.000 --> 00:04.000\nSeconde\n';
    const bytes = new Uint8Array([0xff, 0xfe, ...[...vtt].flatMap((ch) => [ch.charCodeAt(0) & 0xff, ch.charCodeAt(0) >> 8])]);
    const result = subtitleFileToBlocks(bytes, 'film.vtt', { fps: 24 });
    assert.deepEqual(
        { count: result.count, skipped: result.skipped, encoding: result.encoding, format: result.format },
        { count: 2, skipped: 1, encoding: 'utf-16le', format: 'vtt' },
    );
    assert.deepEqual(result.blocks.map((b) => [b.text, b.startTime, b.source.kind]), [['Première', 1, 'vtt'], ['Seconde', 3, 'vtt']]);
});

test('files are read without blocking, failures in French', async () => {
    const blob = new Blob([new Uint8Array([1, 2, 3])], { type: 'audio/wav' });
    blob.name = 'son.wav';
    assert.deepEqual([...(await readFileAsBytes(blob))], [1, 2, 3]);
    await assert.rejects(readFileAsBytes({ name: 'x.srt', arrayBuffer: () => Promise.reject(new Error('EIO')) }), /Lecture impossible de « x\.srt »/);

    // FileReader is the browser's; a stand-in answers like it.
    const saved = globalThis.FileReader;
    globalThis.FileReader = class {
        readAsDataURL(file) {
            queueMicrotask(() => {
                if (file.broken) this.onerror();
                else {
                    this.result = `data:${file.type};base64,AQID`;
                    this.onload();
                }
            });
        }
    };
    try {
        assert.equal(await readFileAsDataUrl(blob), 'data:audio/wav;base64,AQID');
        await assert.rejects(readFileAsDataUrl({ name: 'b.mp3', broken: true }), /Lecture impossible de « b\.mp3 »/);
        await assert.rejects(readFileAsDataUrl(null), /Aucun fichier/);
    } finally {
        globalThis.FileReader = saved;
    }
});
