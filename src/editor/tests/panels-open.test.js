import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createStore } from '../src/state/store.js';
import { serializeProject } from '../src/state/persistence.js';
import { createLocalNotices } from '../src/ui/panels/notices.js';
import { openFile } from '../src/ui/panels/file-open.js';
import { addSoundFiles, MAX_SOUND_BYTES } from '../src/ui/panels/sound-files.js';
import { memoryStorage } from './store-helpers.js';

const fileOf = (name, bytes, type = '') => ({ name, type, size: bytes.length, arrayBuffer: async () => bytes.buffer.slice(0) });
const utf8 = (text) => new TextEncoder().encode(text);
// "é" as Windows-1252 writes it (0xE9), which is not valid UTF-8.
const cp1252 = (text) => Uint8Array.from([...text].map((c) => (c === 'é' ? 0xe9 : c.charCodeAt(0))));

function setup() {
    const store = createStore({ storage: memoryStorage(), win: null });
    store.dispatch({ type: 'blocks/add', partial: { text: 'déjà là' } });
    return { store, notices: createLocalNotices(() => 1) };
}

const texts = (store) => store.getState().project.blocks.map((b) => b.text);

test('subtitle files become blocks, replacing or added, with a report of what was read', async () => {
    const srt = '1\r\n00:00:01,000 --> 00:00:02,500\r\nBonjour été\r\n\r\n2\r\npas de temps ici\r\n\r\n3\r\n00:00:03,000 --> 00:00:04,000\r\nFin\r\n';
    const vtt = 'WEBVTT\n\n00:01.000 --> 00:02.000\nUn\n\n00:02.500 --> 00:03.000\nDeux\n';
    const cases = [
        { name: 'film.srt', bytes: cp1252(srt), replace: true, expect: ['Bonjour été', 'Fin'], tone: 'warning', report: /2 sous-titres importés.*Windows-1252.*1 repère illisible ignoré/ },
        { name: 'film.vtt', bytes: utf8(vtt), replace: false, expect: ['déjà là', 'Un', 'Deux'], tone: 'ok', report: /WebVTT, UTF-8\), ajoutés au projet\.$/ },
        { name: 'vide.srt', bytes: utf8('rien de lisible'), replace: true, expect: ['déjà là'], tone: 'error', report: /^0 sous-titre importé/ },
    ];
    for (const c of cases) {
        const { store, notices } = setup();
        await openFile(store, fileOf(c.name, c.bytes), c.replace, { notices });
        assert.deepEqual(texts(store).sort(), [...c.expect].sort(), c.name);
        const [n] = notices.get();
        assert.equal(n.tone, c.tone, c.name);
        assert.match(n.text, c.report, c.name);
    }
});

test('a project file replaces the project; a bad one leaves it untouched', async () => {
    const source = setup().store;
    source.dispatch({ type: 'blocks/add', partial: { text: 'second' } });
    source.dispatch({ type: 'project/rename', name: 'Sauvé' });
    const saved = serializeProject(source.getState().project);

    const { store, notices } = setup();
    await openFile(store, fileOf('sauvé.tessivo.json', utf8(saved)), true, { notices });
    assert.equal(store.getState().project.name, 'Sauvé');
    assert.equal(notices.get()[0].tone, 'ok');
    assert.match(notices.get()[0].text, /2 blocs/);

    for (const [name, bytes] of [['cassé.tessivo.json', utf8('{"blocks": [')], ['photo.png', utf8('x')]]) {
        const other = setup();
        const before = other.store.getState().project;
        await openFile(other.store, fileOf(name, bytes), true, { notices: other.notices });
        assert.equal(other.store.getState().project, before, name);
        assert.equal(other.notices.get()[0].tone, 'error', name);
    }
});

test('a file that cannot be read is reported, nothing changes', async () => {
    const { store, notices } = setup();
    const before = store.getState().project;
    await openFile(store, fileOf('a.srt', utf8('')), true, {
        notices,
        readBytes: async () => { throw new Error('Lecture impossible de « a.srt ».'); },
    });
    assert.equal(store.getState().project, before);
    assert.deepEqual([notices.get()[0].tone, notices.get()[0].text], ['error', 'Lecture impossible de « a.srt ».']);
});

test('sound files are checked, read and attached; refusals are named in the report', async () => {
    const { store } = setup();
    const files = [
        { name: 'clap.mp3', type: 'application/octet-stream', size: 10 },
        { name: 'image.png', type: 'image/png', size: 10 },
        { name: 'long.wav', type: 'audio/wav', size: MAX_SOUND_BYTES + 1 },
        { name: 'abîmé.wav', type: 'audio/wav', size: 10 },
    ];
    const read = async (file) => {
        if (file.name === 'abîmé.wav') throw new Error('fichier tronqué');
        return 'data:application/octet-stream;base64,SUQz';
    };
    const report = await addSoundFiles(store, files, 2, read);
    const sfx = store.getState().project.sfx;
    assert.equal(sfx.length, 1);
    assert.equal(sfx[0].name, 'clap');
    assert.equal(sfx[0].dataUrl, 'data:audio/mpeg;base64,SUQz');
    assert.equal(sfx[0].time, 2);
    assert.equal(sfx[0].volume, 0.85);
    assert.equal(report.tone, 'error');
    assert.match(report.text, /^1 son ajouté à 0:02,00\./);
    for (const name of ['image.png', 'long.wav', 'abîmé.wav']) assert.ok(report.text.includes(`« ${name} »`), name);

    const ok = await addSoundFiles(store, [{ name: 'b.wav', type: 'audio/wav', size: 4 }], 1, async () => 'data:audio/wav;base64,UklG');
    assert.deepEqual(ok, { tone: 'ok', text: '1 son ajouté à 0:01,00.' });
});
