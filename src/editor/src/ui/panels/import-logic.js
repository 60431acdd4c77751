// Files the import menu reads and writes: which kind a dropped file is, the
// names of the files it offers for download, and the report of an import.

export function fileKind(name) {
    const n = String(name || '').toLowerCase();
    if (n.endsWith('.tessivo.json') || n.endsWith('.json')) return 'project';
    if (n.endsWith('.srt') || n.endsWith('.vtt') || n.endsWith('.webvtt')) return 'subtitles';
    return null;
}

// Picks from a drop the one file the editor can open: the first subtitle
// or project file. Returns {file, ignored} (ignored = files left aside).
export function pickDroppedFile(files) {
    const list = [...(files || [])];
    const file = list.find((f) => fileKind(f.name)) || null;
    return { file, ignored: list.length - (file ? 1 : 0) };
}

function baseName(projectName) {
    const cleaned = String(projectName || '')
        .normalize('NFC')
        .replace(/[\\/:*?"<>|\u0000-\u001f]+/g, ' ')
        .replace(/\s+/g, ' ')
        .trim()
        .slice(0, 80);
    return cleaned || 'Sous-titres';
}

export const srtFileName = (projectName) => `${baseName(projectName)}.srt`;

const ENCODINGS = {
    'utf-8': 'UTF-8',
    'utf-8-bom': 'UTF-8 avec BOM',
    'utf-16le': 'UTF-16 LE',
    'utf-16be': 'UTF-16 BE',
    'windows-1252': 'Windows-1252',
};

export function encodingLabel(encoding) {
    const key = String(encoding || '').toLowerCase();
    return ENCODINGS[key] || encoding || 'inconnu';
}

const plural = (n, one, many) => `${n} ${n > 1 ? many : one}`;

// French report of a subtitle file import.
export function subtitleImportReport({ fileName, count, skipped, format, encoding, replace }) {
    const kind = format === 'vtt' ? 'WebVTT' : 'SRT';
    const lines = [
        `${plural(count, 'sous-titre importé', 'sous-titres importés')} depuis « ${fileName} » (${kind}, ${encodingLabel(encoding)})${replace ? ', projet remplacé' : ', ajoutés au projet'}.`,
    ];
    if (skipped > 0) lines.push(`${plural(skipped, 'repère illisible ignoré', 'repères illisibles ignorés')}.`);
    return { tone: count === 0 ? 'error' : skipped > 0 ? 'warning' : 'ok', text: lines.join(' ') };
}
