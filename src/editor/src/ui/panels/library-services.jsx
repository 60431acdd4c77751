// The library's links with Resolve beyond single effects: the shared bin
// (created or scanned, with its preview progress), the native Text+
// template (its status, and registration, which may take a second press
// once the right bin is selected in Resolve) and the floating palette.
import { useEditor } from '../context.js';
import { requestOf, LIBRARY_REQUESTS } from './engine-view.js';
import { Section, RequestState } from './controls.jsx';

function SharedLibrary({ lib, engine }) {
    const { bridge } = useEditor();
    const request = requestOf(engine, LIBRARY_REQUESTS.shared);
    const busy = request?.status === 'pending' || lib.shared.busy;
    const { progress, result } = lib.shared;
    const last = progress.length ? progress[progress.length - 1] : null;
    const warnings = progress.filter((p) => p && p.warning);
    return (
        <Section title="Chutier partagé dans Resolve">
            <div class="panel-row">
                <button type="button" disabled={busy} onClick={() => bridge.library.sharedCreate()}>Créer le chutier partagé</button>
                <button type="button" disabled={busy} onClick={() => bridge.library.sharedScan()}>Analyser le chutier</button>
            </div>
            {busy && (
                <p class="request-state pending" role="status">
                    <span class="spinner" aria-hidden="true" /> {last?.message || 'Opération en cours dans Resolve…'}
                </p>
            )}
            {warnings.length > 0 && (
                <ul class="fx-warnings">{warnings.map((w, i) => <li key={i}>{w.message}</li>)}</ul>
            )}
            {!busy && result && (
                <p class={`panel-message ${result.success === false ? 'error' : 'ok'}`} role="status">
                    {result.text || (result.success === false ? 'Chutier partagé inaccessible.' : 'Chutier partagé à jour.')}
                </p>
            )}
        </Section>
    );
}

function TemplateStatus({ lib, engine }) {
    const { bridge } = useEditor();
    const register = requestOf(engine, LIBRARY_REQUESTS.templateRegister);
    const check = requestOf(engine, LIBRARY_REQUESTS.templateStatus);
    const status = lib.template;
    const busy = register?.status === 'pending' || check?.status === 'pending';
    // A registration answered "not yet" asks the user to act in Resolve (select
    // the title, then the shared bin) and press again; the button says so.
    const again = register?.status === 'failed';
    const sourceName = status?.source && (status.source.name || status.source.clipName || status.source.folderName);
    return (
        <Section title="Modèle Text+ natif">
            <p class={`panel-message ${status ? (status.registered ? 'ok' : 'warning') : ''}`} role="status">
                {status ? status.message || (status.registered ? 'Modèle Text+ natif prêt.' : 'Aucun modèle enregistré.') : 'État du modèle en cours de lecture…'}
            </p>
            {sourceName && <p class="hint">Source : {sourceName}</p>}
            <div class="panel-row">
                <button type="button" disabled={busy} onClick={() => bridge.library.templateRegister()}>
                    {busy ? 'Lecture du chutier…' : again ? 'Mémoriser à nouveau' : 'Mémoriser le titre sélectionné'}
                </button>
                <button type="button" class="quiet" disabled={busy} onClick={() => bridge.library.templateStatus()}>Vérifier</button>
            </div>
        </Section>
    );
}

function Palette({ lib, engine }) {
    const { bridge } = useEditor();
    const request = requestOf(engine, LIBRARY_REQUESTS.palette);
    const state = lib.palette;
    const enabled = state ? state.enabled !== false : true;
    return (
        <Section title="Palette flottante">
            <label class="check">
                <input type="checkbox" checked={enabled} disabled={request?.status === 'pending'}
                    onChange={(e) => bridge.palette.setEnabled(e.currentTarget.checked)} />
                Ouvrir la palette quand Resolve passe au premier plan
            </label>
            <div class="panel-row">
                <button type="button" onClick={() => bridge.palette.show()}>Afficher la palette</button>
                {state && <span class="hint">{state.visible ? 'Palette visible.' : 'Palette masquée.'}</span>}
            </div>
            {state && !state.automaticShowing && state.message && <p class="hint">{state.message}</p>}
            <RequestState request={request} />
        </Section>
    );
}

export function LibraryServices({ lib, engine }) {
    return (
        <>
            <SharedLibrary lib={lib} engine={engine} />
            <TemplateStatus lib={lib} engine={engine} />
            <Palette lib={lib} engine={engine} />
        </>
    );
}
