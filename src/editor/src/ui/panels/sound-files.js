// Checks and conversions for the sound effects attached to a project. The
// sounds travel inline as data URLs, in the saved project and in every
// export, so they stay short; and the engine names the written file after
// the data URL's type (mp3, m4a, else wav), so only those kinds are taken.

export const MAX_SOUND_BYTES = 2 * 1024 * 1024;
export const DEFAULT_VOLUME = 0.85;

const AUDIO_TYPES = new Set([
    'audio/mpeg', 'audio/mp3', 'audio/mp4', 'audio/x-m4a', 'audio/aac',
    'audio/wav', 'audio/x-wav', 'audio/wave', 'audio/vnd.wave',
]);
const AUDIO_EXTENSIONS = new Map([
    ['mp3', 'audio/mpeg'], ['m4a', 'audio/mp4'], ['aac', 'audio/aac'], ['wav', 'audio/wav'],
]);

export const ACCEPT_AUDIO = [...AUDIO_EXTENSIONS.keys()].map((e) => '.' + e).join(',');

function extensionOf(name) {
    const m = /\.([A-Za-z0-9]+)$/.exec(name || '');
    return m ? m[1].toLowerCase() : '';
}

// The audio type of a file, from its declared type or else its extension;
// null when the file is not an accepted sound.
export function audioTypeOf({ name, type }) {
    const t = (type || '').toLowerCase();
    if (AUDIO_TYPES.has(t)) return t;
    if (t && !t.startsWith('audio/') && t !== 'application/octet-stream') return null;
    return AUDIO_EXTENSIONS.get(extensionOf(name)) || null;
}

function megabytes(bytes) {
    return (bytes / (1024 * 1024)).toFixed(1).replace('.', ',');
}

// French reason to refuse a file, or null when it can be attached.
export function soundFileProblem(file) {
    if (!file) return 'Aucun fichier choisi.';
    if (!audioTypeOf(file)) {
        return `« ${file.name} » n'est pas un son accepté (MP3, M4A, AAC ou WAV).`;
    }
    if (!(file.size > 0)) return `« ${file.name} » est vide.`;
    if (file.size > MAX_SOUND_BYTES) {
        return `« ${file.name} » pèse ${megabytes(file.size)} Mo : un son court de ${megabytes(MAX_SOUND_BYTES)} Mo au plus est attendu.`;
    }
    return null;
}

// The data URL the engine reads must name an audio type; some systems
// declare MP3 or WAV files as application/octet-stream.
export function withAudioType(dataUrl, file) {
    const comma = dataUrl.indexOf(',');
    if (comma < 0) return dataUrl;
    const header = dataUrl.slice(0, comma);
    if (/^data:audio\//i.test(header)) return dataUrl;
    const type = audioTypeOf({ name: file.name, type: '' }) || 'audio/wav';
    return `data:${type};base64${dataUrl.slice(comma)}`;
}

export function soundNameFromFile(fileName) {
    const base = (fileName || '').replace(/\.[A-Za-z0-9]+$/, '').replace(/[_]+/g, ' ').trim();
    return (base || 'Son').slice(0, 60);
}

export function clampVolume(value) {
    const v = typeof value === 'string' ? Number(value.replace(',', '.')) : Number(value);
    if (!Number.isFinite(v)) return DEFAULT_VOLUME;
    return Math.min(1, Math.max(0, v));
}

// Reads a time typed by the user: "12.5", "12,5", "1:02.5", "0:01:02,500".
// Returns seconds, or null when the text is not a time.
export function parseTime(text) {
    const t = String(text ?? '').trim().replace(',', '.');
    if (!/^(\d+:){0,2}\d+(\.\d+)?$/.test(t)) return null;
    return t.split(':').reduce((acc, part) => acc * 60 + Number(part), 0);
}

export function formatTime(seconds) {
    const s = Math.max(0, Number(seconds) || 0);
    const minutes = Math.floor(s / 60);
    const rest = s - minutes * 60;
    return `${minutes}:${rest.toFixed(2).padStart(5, '0')}`.replace('.', ',');
}

export function sortedSounds(sfx) {
    return [...(sfx || [])].sort((a, b) => a.time - b.time || String(a.name).localeCompare(String(b.name)));
}

// Attaches sound files at `time`: refused files are named with their
// reason, the others read (asynchronously) and added. Returns the French
// report {tone, text}.
export async function addSoundFiles(store, files, time, readDataUrl) {
    const refused = [];
    let added = 0;
    for (const file of files) {
        const problem = soundFileProblem(file);
        if (problem) {
            refused.push(problem);
            continue;
        }
        try {
            const dataUrl = withAudioType(await readDataUrl(file), file);
            store.dispatch({ type: 'sfx/add', name: soundNameFromFile(file.name), dataUrl, time, volume: DEFAULT_VOLUME });
            added += 1;
        } catch (err) {
            refused.push(`« ${file.name} » n'a pas pu être lu : ${err?.message || err}`);
        }
    }
    const parts = [];
    if (added) parts.push(`${added} son${added > 1 ? 's' : ''} ajouté${added > 1 ? 's' : ''} à ${formatTime(time)}.`);
    if (!added && !refused.length) parts.push('Aucun fichier choisi.');
    return { tone: refused.length ? 'error' : 'ok', text: [...parts, ...refused].join(' ') };
}
