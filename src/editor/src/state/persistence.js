// Keeping the project: in the page's storage (saved shortly after every
// change, and at once when the page goes away) and in `.tessivo.json` files.
// Storage can fail (full, refused): that is reported, never thrown at the
// user's edit. A stored project that no longer reads is moved aside under
// another key rather than overwritten by the next save.
import { validateProject } from './validate.js';
import { readUserPresets } from './presets.js';

export const PROJECT_KEY = 'tessivo.project';
export const PRESETS_KEY = 'tessivo.presets';
export const SET_ASIDE_PREFIX = 'tessivo.project.illisible.';
export const FILE_EXTENSION = '.tessivo.json';
export const FILE_FORMAT = 'tessivo-project';

export const STORAGE_FULL_TEXT =
    "Le projet n'a pas pu être enregistré dans le stockage de la page (espace plein ou refusé). " +
    'Enregistrez-le dans un fichier .tessivo.json pour ne pas perdre vos modifications.';
export const PRESETS_FAILED_TEXT = "Les préréglages n'ont pas pu être enregistrés dans le stockage de la page.";

// ---- files -----------------------------------------------------------------

export function serializeProject(project) {
    return JSON.stringify({ format: FILE_FORMAT, ...project }, null, 2);
}

// Text of a `.tessivo.json` file → a valid project; throws an Error whose
// message is a French sentence fit to show as is.
export function parseProjectFile(text) {
    if (typeof text !== 'string' || text.trim() === '') throw new Error('Le fichier est vide.');
    let raw;
    try {
        raw = JSON.parse(text.charCodeAt(0) === 0xfeff ? text.slice(1) : text);
    } catch {
        throw new Error("Ce fichier n'est pas un projet Tessivo : son contenu n'est pas du JSON valide.");
    }
    if (raw && typeof raw === 'object' && raw.format !== undefined && raw.format !== FILE_FORMAT) {
        throw new Error("Ce fichier n'est pas un projet Tessivo.");
    }
    return validateProject(raw);
}

// A file name for the project: its name without characters that file systems
// refuse, with the extension.
export function projectFileName(project) {
    const base = String(project.name || 'Projet')
        .replace(/[\\/:*?"<>|\u0000-\u001f]+/g, ' ')
        .replace(/\s+/g, ' ')
        .trim() || 'Projet';
    return base.slice(0, 80) + FILE_EXTENSION;
}

// ---- page storage ------------------------------------------------------------

// The page's localStorage, or null where the page may not use it (reading
// the property itself throws in a page without storage rights).
export function pageStorage(win = globalThis) {
    try {
        const storage = win.localStorage;
        return storage && typeof storage.getItem === 'function' ? storage : null;
    } catch {
        return null;
    }
}

function tryRead(storage, key) {
    try {
        return { value: storage.getItem(key) };
    } catch (error) {
        return { error };
    }
}

function tryWrite(storage, key, value) {
    try {
        storage.setItem(key, value);
        return true;
    } catch {
        return false;
    }
}

// The project kept in storage → {project, notice, blocked}. `project` is null
// when there is none or it does not read; then the unreadable text is copied
// under SET_ASIDE_PREFIX + time and `notice` says so. When that copy fails
// too, `blocked` is true: the caller must not save over the original.
export function loadStoredProject(storage, now = Date.now()) {
    if (!storage) return { project: null, notice: null, blocked: false };
    const { value, error } = tryRead(storage, PROJECT_KEY);
    if (error) {
        return { project: null, blocked: true, notice: notice('error', "Le stockage de la page est inaccessible : le projet ne sera pas enregistré automatiquement.") };
    }
    if (value === null || value === undefined) return { project: null, notice: null, blocked: false };
    try {
        return { project: validateProject(JSON.parse(value)), notice: null, blocked: false };
    } catch (e) {
        const aside = SET_ASIDE_PREFIX + new Date(now).toISOString();
        const why = e instanceof SyntaxError ? 'contenu illisible' : e.message;
        if (tryWrite(storage, aside, value)) {
            try {
                storage.removeItem(PROJECT_KEY);
            } catch { /* the copy is safe; the next save replaces the original */ }
            return {
                project: null,
                blocked: false,
                notice: notice('warning', `Le projet enregistré n'a pas pu être relu (${why}). Il a été mis de côté sous la clé « ${aside} » et un nouveau projet a été ouvert.`),
            };
        }
        return {
            project: null,
            blocked: true,
            notice: notice('error', `Le projet enregistré n'a pas pu être relu (${why}). Il est conservé tel quel et l'enregistrement automatique est suspendu.`),
        };
    }
}

export function loadStoredPresets(storage) {
    if (!storage) return [];
    const { value } = tryRead(storage, PRESETS_KEY);
    if (typeof value !== 'string') return [];
    try {
        return readUserPresets(JSON.parse(value));
    } catch {
        return [];
    }
}

export function savePresets(storage, presets) {
    return !storage || tryWrite(storage, PRESETS_KEY, JSON.stringify(presets));
}

function notice(tone, text) {
    return { tone, text, source: 'storage' };
}

// Coalesced saving of the project: `changed(busy)` after each change; the
// project is written at most once per `delay` ms (the latest version), and at
// once by `flush()`. While a gesture goes on (`busy` changes keep coming) the
// write waits for a pause, up to `maxDefers` delays, so a drag is not slowed
// by serialising the whole project. `report(ok)` hears whether each write
// succeeded.
export function createAutosave({ storage, getProject, report, delay = 400, maxDefers = 6, timers = globalThis }) {
    let timer = null;
    let dirty = false;
    let blocked = false;
    let busy = false;
    let defers = 0;

    function arm() {
        if (timer === null && !blocked && storage) timer = timers.setTimeout(tick, delay);
    }

    function tick() {
        timer = null;
        if (busy && defers < maxDefers) {
            busy = false;
            defers += 1;
            arm();
            return;
        }
        flush();
    }

    function flush() {
        if (timer !== null) {
            timers.clearTimeout(timer);
            timer = null;
        }
        busy = false;
        defers = 0;
        if (!dirty || blocked || !storage) return;
        dirty = false;
        let text;
        try {
            text = JSON.stringify(getProject());
        } catch {
            report(false);
            return;
        }
        const ok = tryWrite(storage, PROJECT_KEY, text);
        if (!ok) dirty = true; // try again with the next change or flush
        report(ok);
    }

    return {
        changed(duringGesture = false) {
            dirty = true;
            if (duringGesture) busy = true;
            arm();
        },
        flush,
        block() {
            blocked = true;
        },
        pending: () => timer !== null,
        dispose() {
            if (timer !== null) timers.clearTimeout(timer);
            timer = null;
        },
    };
}
