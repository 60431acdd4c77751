// The corner list of pending requests and their answers, and of the page's
// and the store's own messages; each entry can be dismissed, successful
// answers leave by themselves.
import { useEffect, useMemo, useState } from 'preact/hooks';
import { useEditor, useStore } from '../context.js';
import { localNotices, noticeList } from './notices.js';

const AUTO_DISMISS_MS = 12000;

export function Notices() {
    const { store } = useEditor();
    const requests = useStore((s) => s.ui.engine.requests);
    const engineNotice = useStore((s) => s.ui.engine.notice);
    const editorNotice = useStore((s) => s.ui.notice);
    const [local, setLocal] = useState(localNotices.get());
    const [dismissed, setDismissed] = useState(() => new Set());
    useEffect(() => localNotices.subscribe(setLocal), []);

    const items = useMemo(
        () => noticeList({ requests, engineNotice, editorNotice, local }, dismissed),
        [requests, engineNotice, editorNotice, local, dismissed],
    );
    const dismiss = (key) => {
        if (key === 'editor') store.dispatch({ type: 'notice/clear' });
        else setDismissed((d) => new Set(d).add(key));
    };

    // Successful answers leave by themselves; failures, warnings and pending
    // requests stay until dismissed.
    useEffect(() => {
        const done = items.filter((n) => n.tone === 'ok' && n.key !== 'editor');
        if (done.length === 0) return undefined;
        const timer = setTimeout(() => setDismissed((d) => {
            const next = new Set(d);
            done.forEach((n) => next.add(n.key));
            return next;
        }), AUTO_DISMISS_MS);
        return () => clearTimeout(timer);
    }, [items]);

    return (
        <div class="notices" aria-live="polite" aria-label="Messages">
            {items.map((n) => (
                <div key={n.key} class={`notice ${n.tone}`} role={n.tone === 'error' ? 'alert' : 'status'}>
                    {n.tone === 'pending' && <span class="spinner" aria-hidden="true" />}
                    <div class="notice-body">
                        {n.title && <strong>{n.title}</strong>}
                        {n.text && <span>{n.text}</span>}
                    </div>
                    <button type="button" class="notice-close" onClick={() => dismiss(n.key)} aria-label={`Fermer : ${n.title || n.text}`}>
                        ×
                    </button>
                </div>
            ))}
        </div>
    );
}
