// The engine slice of the editor's state: what the native side has said and
// what is still pending. Pure functions; the bridge dispatches `engine/*`
// actions from the engine's callbacks.

export function initialEngineState() {
    return { requests: {}, lastExport: null, library: null, resolve: null, notice: null };
}

export function engineUpdate(slice, action) {
    switch (action.type) {
        default:
            return slice;
    }
}
