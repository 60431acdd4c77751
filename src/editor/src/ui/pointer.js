// Keeps a pointer's moves coming to an element during a drag, even outside
// it. A pointer the browser no longer tracks (or a synthetic one) is simply
// not captured: the drag then goes on while the pointer stays over the
// element.
export function capturePointer(element, pointerId) {
    try {
        element.setPointerCapture(pointerId);
    } catch (error) {
        // Not captured; nothing else to do.
    }
}
