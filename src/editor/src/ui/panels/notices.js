// The corner list of requests and answers. It merges the engine's requests
// (one per operation, pending then done or failed) with the page's own
// messages (file imports, refused files), newest first; a dismissed entry
// stays hidden until its request starts again.

export const MAX_NOTICES = 6;

function requestText(request) {
    const r = request.result;
    if (typeof r === 'string') return r;
    if (r && typeof r === 'object') {
        if (typeof r.text === 'string') return r.text;
        if (typeof r.message === 'string') return r.message;
        if (typeof r.error === 'string') return r.error;
        if (typeof r.title === 'string') return r.title;
    }
    return '';
}

const TONE_OF_STATUS = { pending: 'pending', done: 'ok', failed: 'error' };

// requests: {operation: {status, label, startedAt, result}};
// local: [{id, tone, title, text, at}]; dismissed: Set of keys.
export function noticeList(requests, local, dismissed, limit = MAX_NOTICES) {
    const items = [];
    for (const [operation, req] of Object.entries(requests || {})) {
        if (!req || typeof req !== 'object') continue;
        const key = `${operation}@${req.startedAt ?? 0}:${req.status}`;
        if (dismissed && dismissed.has(key)) continue;
        const tone = TONE_OF_STATUS[req.status] || 'pending';
        let text = requestText(req);
        if (!text) text = tone === 'pending' ? 'En cours…' : tone === 'ok' ? 'Terminé.' : 'Échec.';
        items.push({ key, tone, title: req.label || operation, text, at: req.finishedAt ?? req.startedAt ?? 0 });
    }
    for (const n of local || []) {
        const key = `local:${n.id}`;
        if (dismissed && dismissed.has(key)) continue;
        items.push({ key, tone: n.tone || 'ok', title: n.title || '', text: n.text || '', at: n.at ?? 0 });
    }
    items.sort((a, b) => b.at - a.at);
    return items.slice(0, limit);
}

// A small store of the page's own messages, shared by the panels.
export function createLocalNotices(now = () => Date.now()) {
    let list = [];
    let nextId = 1;
    const listeners = new Set();
    const emit = () => listeners.forEach((l) => l(list));
    return {
        get: () => list,
        push(tone, title, text) {
            const id = nextId++;
            list = [...list, { id, tone, title, text, at: now() }].slice(-MAX_NOTICES * 2);
            emit();
            return id;
        },
        remove(id) {
            list = list.filter((n) => n.id !== id);
            emit();
        },
        subscribe(listener) {
            listeners.add(listener);
            return () => listeners.delete(listener);
        },
    };
}

export const localNotices = createLocalNotices();
