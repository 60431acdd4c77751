// Reads the engine slice of the state for the panels: the request of one
// operation, and the library's part as one plain shape.

// Operation keys under which the bridge files its requests.
export const RENDER_REQUEST = ['render', 'startRender'];
export const EXPORT_REQUEST = ['export', 'exportToResolve', 'resolveExport'];
export const IMPORT_REQUEST = ['import', 'importResolveSubtitles'];

export function requestOf(engine, names) {
    const requests = engine?.requests || {};
    let found = null;
    for (const name of names) {
        const r = requests[name];
        if (r && (!found || (r.startedAt ?? 0) > (found.startedAt ?? 0))) found = r;
    }
    return found;
}

export const LIBRARY_REQUESTS = {
    load: ['library.load', 'fusionLibraryLoad'],
    insert: ['library.insert', 'fusionInsertEffect'],
    apply: ['library.applyToSelected', 'fusionApplyToSelectedTitle'],
    capture: ['library.capture', 'fusionCaptureCurrent'],
    preview: ['library.refreshPreview', 'fusionRefreshPreview'],
    update: ['library.update', 'fusionUpdateEffect'],
    archive: ['library.archive', 'fusionDeleteEffect'],
    shared: ['library.sharedCreate', 'library.sharedScan', 'library.shared', 'fusionSharedLibraryCreate', 'fusionSharedLibraryScan'],
    template: ['library.templateRegister', 'library.templateStatus', 'fusionNativeTemplateRegister', 'fusionNativeTemplateStatus'],
    palette: ['palette.show', 'palette.setEnabled', 'palette'],
};

const arrayOr = (v, d = []) => (Array.isArray(v) ? v : d);

// The library part of the engine slice in one shape: effects (visible
// list), error of the last listing, shared library progress lines and
// result, Text+ template status, palette state, last insertion answer.
export function libraryView(engine) {
    const lib = engine?.library || {};
    const shared = lib.shared || lib.sharedLibrary || {};
    return {
        loaded: Boolean(lib.loaded ?? lib.effects),
        effects: arrayOr(lib.effects),
        error: lib.error || null,
        shared: {
            progress: arrayOr(shared.progress ?? shared.messages),
            result: shared.result ?? null,
        },
        template: lib.template ?? lib.templateStatus ?? null,
        palette: lib.palette ?? null,
        lastInsert: lib.lastInsert ?? lib.insertResult ?? null,
    };
}
