// Reads the engine slice of the state for the panels: the request of one
// operation, and the library's part in one shape with every field present.

// Operations under which the bridge files its requests.
export const RENDER_REQUEST = ['render'];
export const EXPORT_REQUEST = ['export'];
export const IMPORT_REQUEST = ['import'];

export const LIBRARY_REQUESTS = {
    load: ['libraryLoad'],
    insert: ['libraryInsert'],
    apply: ['libraryApply'],
    capture: ['libraryCapture'],
    preview: ['libraryPreview'],
    update: ['libraryUpdate'],
    archive: ['libraryArchive'],
    shared: ['sharedLibrary'],
    templateStatus: ['templateStatus'],
    templateRegister: ['templateRegister'],
    palette: ['palette'],
};

// The most recently started request among `names`.
export function requestOf(engine, names) {
    const requests = engine?.requests || {};
    let found = null;
    for (const name of names) {
        const r = requests[name];
        if (r && (!found || (r.startedAt ?? 0) > (found.startedAt ?? 0))) found = r;
    }
    return found;
}

export const isPending = (request) => request?.status === 'pending';

const arrayOr = (v) => (Array.isArray(v) ? v : []);

// The library part of the engine slice, before or after any answer.
export function libraryView(engine) {
    const lib = engine?.library || {};
    const shared = lib.shared || {};
    return {
        loaded: lib.loaded === true,
        effects: arrayOr(lib.effects),
        error: lib.error || null,
        shared: { busy: shared.busy === true, progress: arrayOr(shared.progress), result: shared.result ?? null },
        template: lib.template ?? null,
        palette: lib.palette ?? null,
        lastInsert: lib.lastInsert ?? null,
        lastApply: lib.lastApply ?? null,
        lastCapture: lib.lastCapture ?? null,
    };
}
