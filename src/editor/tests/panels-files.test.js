import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
    encodingLabel, fileKind, pickDroppedFile, srtFileName, subtitleImportReport,
} from '../src/ui/panels/import-logic.js';
import { createLocalNotices, noticeList } from '../src/ui/panels/notices.js';
import { presetEntries, presetNameCheck } from '../src/ui/panels/presets-logic.js';

test('dropped files are sorted into what the editor opens', () => {
    const cases = [
        ['film.SRT', 'subtitles'], ['a.vtt', 'subtitles'], ['b.webvtt', 'subtitles'],
        ['p.tessivo.json', 'project'], ['p.json', 'project'], ['son.mp3', null], ['srt', null],
    ];
    for (const [name, kind] of cases) assert.equal(fileKind(name), kind, name);
    const { file, ignored } = pickDroppedFile([{ name: 'x.png' }, { name: 'y.srt' }, { name: 'z.vtt' }]);
    assert.equal(file.name, 'y.srt');
    assert.equal(ignored, 2);
    assert.deepEqual(pickDroppedFile([{ name: 'x.png' }]), { file: null, ignored: 1 });
});

test('the SRT download is named after the project, without characters files refuse', () => {
    const cases = [
        ['Mon film', 'Mon film.srt'],
        ['a/b:c*?', 'a b c.srt'],
        ['   ', 'Sous-titres.srt'],
        [undefined, 'Sous-titres.srt'],
    ];
    for (const [name, srt] of cases) assert.equal(srtFileName(name), srt);
});

test('the import report counts cues, skipped cues and names the encoding', () => {
    const cases = [
        [{ count: 3, skipped: 0, format: 'srt', encoding: 'utf-8', replace: true }, 'ok', /3 sous-titres importés .*\(SRT, UTF-8\), projet remplacé\.$/],
        [{ count: 1, skipped: 2, format: 'vtt', encoding: 'windows-1252', replace: false }, 'warning', /1 sous-titre importé .*WebVTT, Windows-1252.* 2 repères illisibles ignorés\./],
        [{ count: 0, skipped: 1, format: 'srt', encoding: 'utf-16le', replace: true }, 'error', /0 sous-titre importé.*UTF-16 LE.*1 repère illisible ignoré/],
    ];
    for (const [input, tone, text] of cases) {
        const r = subtitleImportReport({ fileName: 'f.srt', ...input });
        assert.equal(r.tone, tone);
        assert.match(r.text, text);
    }
    assert.equal(encodingLabel('MACROMAN'), 'MACROMAN');
});

test('notices merge requests, messages and local notes, newest first, dismissed ones hidden', () => {
    const requests = {
        render: { status: 'pending', label: 'Rendu', startedAt: 10 },
        export: { status: 'failed', label: 'Envoi', startedAt: 5, finishedAt: 30, result: { success: false, text: 'Aucune timeline active.' } },
        libraryLoad: { status: 'done', label: 'Bibliothèque', startedAt: 1, finishedAt: 2, result: { text: '' } },
        timelineFacts: { status: 'failed', label: 'Lecture', startedAt: 0, finishedAt: 50 },
    };
    const local = [{ id: 1, tone: 'ok', title: 'Import', text: '3 sous-titres', at: 20 }];
    const all = noticeList({ requests, local });
    assert.deepEqual(all.map((n) => n.title), ['Envoi', 'Import', 'Rendu', 'Bibliothèque']);
    assert.deepEqual(all.map((n) => n.tone), ['error', 'ok', 'pending', 'ok']);
    assert.equal(all[0].text, 'Aucune timeline active.');
    assert.equal(all[2].text, 'En cours…');
    assert.equal(all[3].text, 'Terminé.');
    const hidden = noticeList({ requests, local }, new Set([all[0].key, 'local:1']));
    assert.deepEqual(hidden.map((n) => n.title), ['Rendu', 'Bibliothèque']);
    // The same operation started again shows up although its earlier run was dismissed.
    const again = { ...requests, export: { status: 'pending', label: 'Envoi', startedAt: 40 } };
    assert.equal(noticeList({ requests: again }, new Set([all[0].key]))[0].title, 'Envoi');
    assert.equal(noticeList({ requests, local }, new Set(), 2).length, 2);
});

test('the engine message joins the request it answers, or stands alone', () => {
    const requests = { export: { status: 'done', label: 'Envoi', startedAt: 5, finishedAt: 30, result: { text: '3 clips placés.' } } };
    const answer = { id: 4, tone: 'warning', title: '3 clips placés.', lines: ['Piste V2.', 'SFX non importés.'], op: 'export', at: 30 };
    const merged = noticeList({ requests, engineNotice: answer });
    assert.equal(merged.length, 1);
    assert.equal(merged[0].tone, 'warning');
    assert.equal(merged[0].text, '3 clips placés.\nPiste V2.\nSFX non importés.');
    const refusal = { id: 5, tone: 'warning', title: 'Un rendu ou un envoi est déjà en cours.', lines: [], op: 'export', at: 31 };
    const both = noticeList({ requests, engineNotice: refusal });
    assert.deepEqual(both.map((n) => n.title), ['Un rendu ou un envoi est déjà en cours.', 'Envoi']);
    const withEditor = noticeList({ requests, editorNotice: { tone: 'info', text: 'Projet restauré.' } });
    assert.equal(withEditor[0].key, 'editor');
    assert.equal(withEditor[0].tone, 'ok');
});

test('the local notice store keeps ids and tells its listeners', () => {
    let t = 0;
    const store = createLocalNotices(() => ++t);
    const seen = [];
    const off = store.subscribe((l) => seen.push(l.length));
    const a = store.push('ok', 'A', 'a');
    store.push('error', 'B', 'b');
    store.remove(a);
    off();
    store.push('ok', 'C', 'c');
    assert.deepEqual(seen, [1, 2, 1]);
    assert.deepEqual(store.get().map((n) => [n.title, n.at]), [['B', 2], ['C', 3]]);
});

test('presets list built-ins first, user presets sorted, whatever their shape', () => {
    const builtin = [{ name: 'Néon', style: { color: '#0ff' } }, { name: 'Sobre', style: {} }];
    const asObject = { zèbre: { color: '#fff' }, Abeille: { style: { color: '#ff0' } }, Néon: { color: '#000' }, bad: null };
    const asArray = [{ name: 'zèbre', style: { color: '#fff' } }, { name: 'Abeille', style: { color: '#ff0' } }];
    for (const user of [asObject, asArray]) {
        const list = presetEntries(builtin, user);
        assert.deepEqual(list.map((p) => [p.name, p.builtin]), [['Néon', true], ['Sobre', true], ['Abeille', false], ['zèbre', false]]);
    }
    assert.equal(presetEntries(builtin, asObject)[2].style.color, '#ff0');
});

test('a preset name is refused when empty, too long or a built-in one; a user one is replaced', () => {
    const entries = presetEntries([{ name: 'Néon', style: {} }], { 'Mon style': {} });
    const cases = [
        ['  Titre   fort ', { name: 'Titre fort', overwrite: false }],
        ['mon STYLE', { name: 'Mon style', overwrite: true }],
        ['', /nom/],
        ['néon', /intégré/],
        ['x'.repeat(61), /trop long/],
    ];
    for (const [name, expected] of cases) {
        const got = presetNameCheck(name, entries);
        if (expected instanceof RegExp) assert.match(got.error, expected, name);
        else assert.deepEqual(got, expected, name);
    }
});
