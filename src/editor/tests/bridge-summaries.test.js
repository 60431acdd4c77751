import { test } from 'node:test';
import assert from 'node:assert/strict';
import { exportSummary, importSummary, fileImportSummary, libraryResultText, stillText } from '../src/bridge/summaries.js';

test('the answer of a send says what was placed, where, and what went wrong', () => {
    const cases = [
        {
            name: 'smart, both routes',
            route: 'smart',
            payload: {
                success: true, message: 'Sous-titres ajoutés avec routage automatique dans DaVinci.', directCount: 3, exactCount: 2,
                createdClipCount: 5, videoTrack: 4, timelineName: 'Montage', codec: 'ProRes 4444', fps: 29.97, sfxCount: 1,
                subtitleTrackDisabled: true, metrics: { elapsedSeconds: 12.34 }, warning: null,
            },
            tone: 'ok',
            title: /routage automatique/,
            lines: [/3 blocs en Lottie direct, 2 blocs en Exact Web/, /V4 de la timeline « Montage »/, /1 effet sonore/, /ST1/, /ProRes 4444 à 29,97 i\/s/, /12,3 s/],
        },
        {
            name: 'smart, Lottie fell back, warnings on two lines',
            route: 'smart',
            payload: {
                success: true, message: 'Sous-titres ajoutés avec routage automatique dans DaVinci.', directCount: 0, exactCount: 4,
                warning: "Les captions sont placées, mais DaVinci n'a pas importé les SFX.\nLottie indisponible, repli Exact Web sans perte : Resolve a refusé les clips Lottie.",
            },
            tone: 'warning',
            lines: [/4 blocs en Exact Web/, /Attention : Les captions sont placées/, /Attention : Lottie indisponible, repli Exact Web sans perte : Resolve a refusé/],
        },
        {
            name: 'smart, Exact Web insertion failed after the Lottie clips',
            route: 'smart',
            payload: {
                success: false, message: 'Aucune timeline active dans DaVinci Resolve.', directCount: 2, exactCount: 0, createdClipCount: 2,
                plannedExactCount: 3, warning: "Les clips Lottie directs sont déjà présents, mais l'insertion Exact Web a échoué.",
            },
            tone: 'error',
            title: /^Échec de l’envoi \(routage automatique\) : Aucune timeline active dans DaVinci Resolve\.$/,
            lines: [/2 blocs en Lottie direct/, /3 blocs prévus en Exact Web n’ont pas été placés/, /déjà présents/],
        },
        {
            name: 'Lottie route',
            route: 'lottie',
            payload: { success: true, mode: 'lottie', message: '2 animations Lottie envoyées dans DaVinci sans encodage vidéo.', clipCount: 2, videoTrack: 2, sfxCount: 0, warning: null },
            tone: 'ok',
            lines: [/2 animations Lottie/, /V2/],
        },
        {
            name: 'Exact Web without split',
            route: 'exact',
            payload: { success: true, message: 'Rendu transparent ajoute dans DaVinci Resolve.', clipCount: 1, videoTrack: 5, splitRequested: true, splitApplied: false, warning: 'Découpe impossible: disque plein' },
            tone: 'warning',
            lines: [/1 clip\./, /V5/, /un seul clip/, /Attention : Découpe impossible: disque plein/],
        },
        {
            name: 'failure names the file',
            route: 'exact',
            payload: { success: false, message: 'Un segment Tessivo est introuvable.', filePath: '/tmp/x/Tessivo_002.mov' },
            tone: 'error',
            title: /Un segment Tessivo est introuvable\./,
            lines: [/\/tmp\/x\/Tessivo_002\.mov/],
        },
        { name: 'failure without words', payload: {}, tone: 'error', title: /n’a pas donné de raison/ },
        { name: 'no payload at all', payload: null, tone: 'error', title: /Échec/ },
    ];
    for (const c of cases) {
        const s = exportSummary(c.payload, c.route);
        assert.equal(s.tone, c.tone, c.name);
        if (c.title) assert.match(s.title, c.title, c.name);
        for (const re of c.lines || []) assert.ok(s.lines.some((l) => re.test(l)), `${c.name}: ${re} in ${JSON.stringify(s.lines)}`);
    }
});

test('import texts', () => {
    const ok = importSummary({ success: true, timelineName: 'Montage', fps: 25, subtitleTracks: [1, 3], count: 2, subtitles: [{}, {}] });
    assert.equal(ok.title, '2 sous-titres importés depuis DaVinci Resolve.');
    assert.deepEqual(ok.lines, ['Timeline « Montage » à 25 i/s.', 'Pistes ST1, ST3.']);
    assert.match(importSummary({ success: false, message: 'Aucune piste sous-titre trouvee.' }).title, /Aucune piste sous-titre/);
    const cases = [
        [{ count: 1, fileName: 'a.srt' }, 'ok', '1 sous-titre importé de « a.srt ».'],
        [{ count: 10, skipped: 2, fileName: 'b.vtt', encoding: 'windows-1252' }, 'warning', '10 sous-titres importés de « b.vtt ».'],
        [{ count: 0, skipped: 4, fileName: 'c.srt' }, 'error', 'Aucun sous-titre lisible de « c.srt ».'],
    ];
    for (const [input, tone, title] of cases) {
        const s = fileImportSummary(input);
        assert.equal(s.tone, tone);
        assert.equal(s.title, title);
    }
    assert.deepEqual(fileImportSummary({ count: 10, skipped: 2, encoding: 'windows-1252' }).lines, ['2 blocs illisibles ignorés.', 'Encodage lu : Windows-1252 (ancien format Windows).']);
});

test('library texts', () => {
    const cases = [
        ['insert', { success: true, trackIndex: 3, timecode: '01:00:04:00' }, 'Effet inséré sur V3 à 01:00:04:00.'],
        ['insert', { success: true }, 'Effet inséré à la tête de lecture.'],
        ['insert', { success: false, requestId: 'r', error: 'Le modèle Text+ intégré manque dans l’application.' }, 'Insertion impossible : Le modèle Text+ intégré manque dans l’application.'],
        ['capture', { success: true, effect: { name: 'Titre 3D' } }, 'Effet « Titre 3D » ajouté à la bibliothèque.'],
        ['archive', { success: true, id: 'e' }, 'Effet archivé.'],
        ['preview', { success: false, error: 'Les modèles intégrés n\'ont pas de clip Resolve source à prélever.' }, 'Aperçu impossible : Les modèles intégrés n\'ont pas de clip Resolve source à prélever.'],
        ['apply', { success: true, message: 'Effet appliqué au vrai titre Text+.' }, 'Effet appliqué au vrai titre Text+.'],
        ['load', { success: true, effects: [{}, {}, {}] }, '3 effets dans la bibliothèque.'],
    ];
    for (const [kind, payload, text] of cases) assert.equal(libraryResultText(kind, payload), text, kind);
    assert.match(stillText({ success: true, emptyFrame: true }), /aucune image/);
    assert.match(stillText({ success: false, message: 'La frame Resolve n’a pas pu être lue.' }), /n’a pas pu être lue/);
});
