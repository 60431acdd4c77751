// The corner list of requests and answers. It merges the engine's requests
// (one per operation, pending then done or failed), the engine's last
// message when it is not already the answer of a listed request (a refused
// request, for instance), the store's own message, and the page's messages
// (file imports, refused files); newest first. A dismissed entry stays
// hidden until its request starts again.

export const MAX_NOTICES = 6;

function requestText(request) {
    const r = request.result;
    if (typeof r === 'string') return r;
    if (r && typeof r === 'object') {
        for (const key of ['text', 'message', 'error', 'title']) if (typeof r[key] === 'string' && r[key]) return r[key];
    }
    return '';
}

const TONE_OF_STATUS = { pending: 'pending', done: 'ok', failed: 'error' };

// Whether the engine's message is the answer of that request (same
// operation, given when the request finished).
function answers(notice, op, req) {
    return Boolean(notice && notice.op === op && req.status !== 'pending' && notice.at === (req.finishedAt ?? null));
}

// sources: {requests, engineNotice: {id, tone, title, lines, op, at},
// editorNotice: {tone, text}, local: [{id, tone, title, text, at}]};
// dismissed: Set of keys.
export function noticeList({ requests, engineNotice, editorNotice, local } = {}, dismissed = new Set(), limit = MAX_NOTICES) {
    const items = [];
    let noticeUsed = false;
    for (const [op, req] of Object.entries(requests || {})) {
        if (!req || typeof req !== 'object' || !req.status) continue;
        // Timeouts of the silent start-up question are not the user's concern.
        if (op === 'timelineFacts') continue;
        const key = `${op}@${req.startedAt ?? 0}:${req.status}`;
        const matched = answers(engineNotice, op, req);
        noticeUsed = noticeUsed || matched;
        if (dismissed.has(key)) continue;
        let tone = TONE_OF_STATUS[req.status] || 'pending';
        if (matched && tone === 'ok' && engineNotice.tone === 'warning') tone = 'warning';
        const lines = [requestText(req), ...(matched ? engineNotice.lines || [] : [])].filter(Boolean);
        if (lines.length === 0) lines.push(tone === 'pending' ? 'En cours…' : tone === 'error' ? 'Échec.' : 'Terminé.');
        items.push({ key, tone, title: req.label || op, text: lines.join('\n'), at: req.finishedAt ?? req.startedAt ?? 0 });
    }
    if (engineNotice && !noticeUsed) {
        const key = `engine:${engineNotice.id}`;
        if (!dismissed.has(key)) {
            items.push({
                key, tone: engineNotice.tone || 'ok', title: engineNotice.title || '',
                text: (engineNotice.lines || []).join('\n'), at: engineNotice.at ?? 0,
            });
        }
    }
    for (const n of local || []) {
        const key = `local:${n.id}`;
        if (dismissed.has(key)) continue;
        items.push({ key, tone: n.tone || 'ok', title: n.title || '', text: n.text || '', at: n.at ?? 0 });
    }
    items.sort((a, b) => b.at - a.at);
    // The store's message has no time: it is shown first while it stands.
    if (editorNotice && typeof editorNotice.text === 'string') {
        items.unshift({ key: 'editor', tone: editorNotice.tone === 'info' ? 'ok' : editorNotice.tone || 'ok', title: '', text: editorNotice.text, at: Infinity });
    }
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
