// The editor's keyboard shortcuts: a key event → the command it stands for.
// Pure, so the mapping is tested without a page; the app turns commands into
// store actions.
//
// Commands: {command: "togglePlay"} | {command: "step", frames} |
// {command: "delete"} | {command: "undo"} | {command: "redo"} |
// {command: "save"} | {command: "selectAll"} | {command: "clearSelection"} |
// {command: "home"} | {command: "end"}; null when the key is not ours.

// Inputs that use the keys themselves: text, and sliders and radio groups
// (arrows).
const KEYED_INPUT_TYPES = new Set(['text', 'search', 'email', 'url', 'tel', 'password', 'number', 'date', 'time',
    'range', 'radio']);

// Whether the key goes to a field the user is typing in or moving with the
// arrows (shortcuts then keep out of the way). Buttons, checkboxes and colour
// wells are not.
export function isTypingTarget(target) {
    if (!target || typeof target !== 'object') return false;
    if (target.isContentEditable) return true;
    const tag = String(target.tagName || '').toUpperCase();
    if (tag === 'TEXTAREA' || tag === 'SELECT') return true;
    if (tag !== 'INPUT') return false;
    const type = String(target.type || 'text').toLowerCase();
    return KEYED_INPUT_TYPES.has(type);
}

const SPACE_INPUT_TYPES = new Set(['button', 'submit', 'reset', 'checkbox', 'color', 'file', 'image']);
const SPACE_ROLES = new Set(['button', 'tab', 'checkbox', 'switch', 'menuitem', 'option']);

// Whether the space bar acts on the focused element itself (a button, a
// checkbox): it then keeps that meaning instead of playing or pausing, so
// the action is not done twice.
export function activatedBySpace(target) {
    if (!target || typeof target !== 'object') return false;
    const tag = String(target.tagName || '').toUpperCase();
    if (tag === 'BUTTON' || tag === 'SUMMARY') return true;
    if (tag === 'INPUT') return SPACE_INPUT_TYPES.has(String(target.type || '').toLowerCase());
    const role = typeof target.getAttribute === 'function' ? target.getAttribute('role') : target.role;
    return SPACE_ROLES.has(String(role || '').toLowerCase());
}

// event: {key, shiftKey, ctrlKey, metaKey, altKey, target}; fps: frames in
// one second of the project (Shift+arrow steps a second).
export function commandForKey(event, fps = 25) {
    if (!event || isTypingTarget(event.target)) return null;
    const key = event.key;
    const mod = Boolean(event.ctrlKey || event.metaKey);
    if (event.altKey) return null;
    if (mod) {
        const letter = typeof key === 'string' && key.length === 1 ? key.toLowerCase() : key;
        if (letter === 'z') return { command: event.shiftKey ? 'redo' : 'undo' };
        if (letter === 'y' && !event.shiftKey) return { command: 'redo' };
        if (letter === 's' && !event.shiftKey) return { command: 'save' };
        if (letter === 'a' && !event.shiftKey) return { command: 'selectAll' };
        return null;
    }
    const second = Math.max(1, Math.round(fps));
    switch (key) {
    case ' ':
    case 'Spacebar':
        return activatedBySpace(event.target) ? null : { command: 'togglePlay' };
    case 'ArrowLeft':
        return { command: 'step', frames: event.shiftKey ? -second : -1 };
    case 'ArrowRight':
        return { command: 'step', frames: event.shiftKey ? second : 1 };
    case 'Delete':
    case 'Backspace':
        return event.shiftKey ? null : { command: 'delete' };
    case 'Escape':
        return { command: 'clearSelection' };
    case 'Home':
        return { command: 'home' };
    case 'End':
        return { command: 'end' };
    default:
        return null;
    }
}
