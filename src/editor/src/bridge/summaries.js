// Plain French texts of what the engine answered: what was placed, where,
// what went wrong, in the words of its message. Pure functions of payloads.

const nf1 = (v) => (Math.round(v * 10) / 10).toString().replace('.', ',');
// Frame rates keep their decimals (29,97 and 23,976 are not 30 and 24).
const fpsText = (v) => (Math.round(v * 1000) / 1000).toString().replace('.', ',');
const plural = (n, one, many) => `${n} ${n === 1 ? one : many}`;
const int = (v) => (typeof v === 'number' && Number.isFinite(v) ? Math.trunc(v) : null);
const text = (v) => (typeof v === 'string' ? v.trim() : '');

// Warning texts of a payload: "warning" may hold several lines.
function warningLines(payload) {
    const lines = [];
    const add = (w) => {
        for (const line of String(w).split('\n')) if (line.trim()) lines.push(line.trim());
    };
    if (typeof payload.warning === 'string') add(payload.warning);
    if (Array.isArray(payload.warnings)) payload.warnings.forEach((w) => typeof w === 'string' && add(w));
    return lines;
}

const ROUTE_TITLES = {
    exact: 'Exact Web',
    lottie: 'Lottie',
    fusion: 'titres Fusion',
    smart: 'routage automatique',
};

// The answer of a send into Resolve → {tone: "ok"|"warning"|"error", title, lines}.
export function exportSummary(payload, route) {
    const p = payload && typeof payload === 'object' ? payload : {};
    const lines = [];
    const success = p.success === true;
    const routeName = ROUTE_TITLES[route] || (p.mode === 'lottie' ? 'Lottie' : null);
    const message = text(p.message);
    const title = success
        ? message || 'Sous-titres envoyés dans DaVinci Resolve.'
        : `Échec de l’envoi${routeName ? ` (${routeName})` : ''} : ${message || 'DaVinci Resolve n’a pas donné de raison.'}`;

    const direct = int(p.directCount);
    const exact = int(p.exactCount);
    const clips = int(p.clipCount);
    const created = int(p.createdClipCount);
    if (direct !== null || exact !== null) {
        const parts = [];
        if (direct) parts.push(`${plural(direct, 'bloc', 'blocs')} en Lottie direct`);
        if (exact) parts.push(`${plural(exact, 'bloc', 'blocs')} en Exact Web`);
        if (parts.length) lines.push(`Placés : ${parts.join(', ')}.`);
        else if (success) lines.push('Aucun bloc placé.');
        const planned = int(p.plannedExactCount);
        if (!success && planned) lines.push(`${plural(planned, 'bloc prévu', 'blocs prévus')} en Exact Web n’ont pas été placés.`);
    } else if (clips !== null) {
        const kind = int(p.fusionClipCount) !== null ? 'titre Fusion' : p.mode === 'lottie' ? 'animation Lottie' : 'clip';
        const kinds = kind === 'clip' ? 'clips' : kind === 'titre Fusion' ? 'titres Fusion' : 'animations Lottie';
        lines.push(`Placés : ${plural(clips, kind, kinds)}.`);
    } else if (created) {
        lines.push(`${plural(created, 'clip créé', 'clips créés')}.`);
    }
    const track = int(p.videoTrack);
    const timeline = text(p.timelineName);
    if (track !== null) lines.push(`Piste vidéo V${track}${timeline ? ` de la timeline « ${timeline} »` : ''}.`);
    else if (timeline) lines.push(`Timeline « ${timeline} ».`);
    if (p.splitRequested && p.splitApplied === false && success) lines.push('Le rendu a été placé en un seul clip, sans découpe par bloc.');
    const sfx = int(p.sfxCount);
    if (sfx) lines.push(`${plural(sfx, 'effet sonore', 'effets sonores')} sur la piste audio « Tessivo SFX ».`);
    if (p.subtitleTrackDisabled === true) lines.push('La piste de sous-titres ST1 a été masquée pour ne pas doubler le texte.');
    const codec = text(p.codec);
    if (codec && success) {
        const fps = typeof p.fps === 'number' ? ` à ${fpsText(p.fps)} i/s` : '';
        lines.push(codec === 'Sans encodage' ? 'Sans encodage vidéo.' : `Rendu ${codec}${fps}.`);
    }
    const elapsed = p.metrics && typeof p.metrics.elapsedSeconds === 'number' ? p.metrics.elapsedSeconds : null;
    if (elapsed !== null && success) lines.push(`Durée : ${nf1(elapsed)} s.`);
    if (!success && text(p.filePath)) lines.push(`Fichier : ${text(p.filePath)}`);
    const warnings = warningLines(p);
    for (const w of warnings) lines.push(`Attention : ${w}`);
    const tone = !success ? 'error' : warnings.length ? 'warning' : 'ok';
    return { tone, title, lines };
}

// The answer of a subtitle import from Resolve → {tone, title, lines}.
export function importSummary(payload) {
    const p = payload && typeof payload === 'object' ? payload : {};
    if (p.success !== true) {
        return { tone: 'error', title: `Import impossible : ${text(p.message) || 'DaVinci Resolve n’a pas répondu.'}`, lines: [] };
    }
    const count = Array.isArray(p.subtitles) ? p.subtitles.length : int(p.count) || 0;
    const lines = [];
    const timeline = text(p.timelineName);
    if (timeline) lines.push(`Timeline « ${timeline} »${typeof p.fps === 'number' ? ` à ${fpsText(p.fps)} i/s` : ''}.`);
    if (Array.isArray(p.subtitleTracks) && p.subtitleTracks.length) {
        lines.push(`${p.subtitleTracks.length === 1 ? 'Piste' : 'Pistes'} ${p.subtitleTracks.map((t) => `ST${t}`).join(', ')}.`);
    }
    return { tone: 'ok', title: `${plural(count, 'sous-titre importé', 'sous-titres importés')} depuis DaVinci Resolve.`, lines };
}

const ENCODING_NAMES = {
    'utf-8-bom': 'UTF-8 avec BOM',
    'utf-16le': 'UTF-16 LE',
    'utf-16be': 'UTF-16 BE',
    'windows-1252': 'Windows-1252 (ancien format Windows)',
};

// The outcome of reading a subtitle file → {tone, title, lines}.
export function fileImportSummary({ count = 0, skipped = 0, fileName = '', encoding = '' } = {}) {
    const name = fileName ? ` de « ${fileName} »` : '';
    const lines = [];
    if (skipped) lines.push(`${plural(skipped, 'bloc illisible ignoré', 'blocs illisibles ignorés')}.`);
    if (ENCODING_NAMES[encoding]) lines.push(`Encodage lu : ${ENCODING_NAMES[encoding]}.`);
    if (!count) return { tone: 'error', title: `Aucun sous-titre lisible${name}.`, lines };
    return { tone: skipped ? 'warning' : 'ok', title: `${plural(count, 'sous-titre importé', 'sous-titres importés')}${name}.`, lines };
}

// The answers of the effect library, as one sentence each.
export function libraryResultText(kind, payload) {
    const p = payload && typeof payload === 'object' ? payload : {};
    const error = text(p.error) || text(p.message);
    if (p.success !== true) {
        const what = {
            load: 'Bibliothèque illisible',
            insert: 'Insertion impossible',
            apply: 'Application impossible',
            capture: 'Capture impossible',
            preview: 'Aperçu impossible',
            update: 'Modification impossible',
            archive: 'Archivage impossible',
            live: 'Élément direct refusé',
        }[kind] || 'Échec';
        return `${what} : ${error || 'aucune raison donnée.'}`;
    }
    const name = p.effect && text(p.effect.name);
    switch (kind) {
        case 'load':
            return `${plural(Array.isArray(p.effects) ? p.effects.length : 0, 'effet', 'effets')} dans la bibliothèque.`;
        case 'insert': {
            const track = int(p.trackIndex);
            const where = track !== null ? ` sur V${track}` : '';
            const when = text(p.timecode) ? ` à ${text(p.timecode)}` : ' à la tête de lecture';
            return `Effet inséré${where}${when}.`;
        }
        case 'apply':
            return text(p.message) || 'Effet appliqué au titre sélectionné.';
        case 'capture':
            return `Effet « ${name || 'capturé'} » ajouté à la bibliothèque.`;
        case 'preview':
            return `Aperçu de « ${name || 'l’effet'} » actualisé.`;
        case 'update':
            return `Effet « ${name || ''} » enregistré.`;
        case 'archive':
            return 'Effet archivé.';
        case 'live':
            return text(p.message) || 'Élément direct à jour dans Resolve.';
        default:
            return text(p.message) || 'Fait.';
    }
}

export function sharedLibraryText(payload) {
    const p = payload && typeof payload === 'object' ? payload : {};
    if (p.success !== true) return `Chutier partagé : ${text(p.message) || 'échec sans raison donnée.'}`;
    return text(p.message) || 'Chutier partagé à jour.';
}

export function paletteStateText(payload) {
    const p = payload && typeof payload === 'object' ? payload : {};
    if (p.success === false) return `Palette : ${text(p.error) || text(p.message) || 'échec.'}`;
    if (p.enabled === false) return 'Palette flottante désactivée.';
    return p.visible ? 'Palette flottante affichée.' : 'Palette flottante activée.';
}

export function stillText(payload) {
    const p = payload && typeof payload === 'object' ? payload : {};
    if (p.stale) return 'Image de Resolve non prise : la bibliothèque partagée occupe DaVinci Resolve.';
    if (p.success !== true) return `Image de Resolve impossible : ${text(p.message) || 'aucune raison donnée.'}`;
    if (p.emptyFrame) return 'Le viewer de Resolve n’affiche aucune image.';
    return 'Image de Resolve affichée derrière l’aperçu.';
}

export function renderText(outcome) {
    return outcome === 'complete' ? 'Rendu terminé.' : 'Rendu annulé ou interrompu.';
}
