// The Fusion effect library: the effects with their animated previews, by
// category; insertion into the Resolve timeline on a chosen track, applying
// an effect to the selected Text+ title, capture of the current clip, and
// the selected effect's preview, name, category and archive.
import { useEffect, useMemo, useRef, useState } from 'preact/hooks';
import { useEditor, useStore } from '../context.js';
import {
    ALL_CATEGORIES, categoriesOf, categoryOf, effectBadges, effectEditProblem, filterEffects,
    isEditable, targetTrackProblem, targetTrackValue,
} from './library-view.js';
import { isPending, libraryView, requestOf, LIBRARY_REQUESTS } from './engine-view.js';
import { EffectPreview } from './effect-preview.jsx';
import { LibraryServices } from './library-services.jsx';
import { Section, SelectField, TextField, RequestState, uid } from './controls.jsx';

const TRACK_CHOICES = [
    { value: 'auto', label: 'Automatique' },
    { value: 'new', label: 'Nouvelle piste' },
    { value: 'track', label: 'Piste vidéo n°' },
];

function useRequest(names) {
    return useStore((s) => requestOf(s.ui.engine, names));
}

// The answer of the latest of two requests, as the request records it.
function lastOf(a, b) {
    const done = [a, b].filter((r) => r && r.status !== 'pending' && r.result);
    done.sort((x, y) => (y.finishedAt ?? 0) - (x.finishedAt ?? 0));
    return done.length ? done[0].result : null;
}

function Answer({ record }) {
    if (!record || !record.text) return null;
    return (
        <div class={`panel-message ${record.success === false ? 'error' : record.warnings?.length ? 'warning' : 'ok'}`} role="status">
            {record.text}
            {record.warnings?.length > 0 && <ul class="fx-warnings">{record.warnings.map((w) => <li key={w}>{w}</li>)}</ul>}
        </div>
    );
}

function InsertForm({ effect }) {
    const { bridge } = useEditor();
    const insert = useRequest(LIBRARY_REQUESTS.insert);
    const apply = useRequest(LIBRARY_REQUESTS.apply);
    const [ids] = useState(() => ({ choice: uid('fx-track'), number: uid('fx-track-n') }));
    const [choice, setChoice] = useState('auto');
    const [number, setNumber] = useState('1');
    const problem = targetTrackProblem(choice, number);
    const busy = insert?.status === 'pending' || apply?.status === 'pending';

    return (
        <div class="fx-insert">
            <div class="panel-row">
                <SelectField id={ids.choice} label="Piste cible" value={choice} options={TRACK_CHOICES} onChange={setChoice} />
                {choice === 'track' && (
                    <TextField id={ids.number} label="Numéro" type="number" min="1" step="1" value={number} onInput={setNumber} />
                )}
            </div>
            {problem && <p class="hint error">{problem}</p>}
            <div class="panel-row">
                <button type="button" class="primary" disabled={busy || Boolean(problem)}
                    onClick={() => bridge.library.insert(effect.id, targetTrackValue(choice, number))}>
                    Insérer dans Resolve
                </button>
                <button type="button" disabled={busy} onClick={() => bridge.library.applyToSelected(effect.id)}>
                    Appliquer au titre sélectionné
                </button>
            </div>
            <RequestState request={insert?.status === 'pending' ? insert : apply} />
            <Answer record={lastOf(insert, apply)} />
        </div>
    );
}

function EditForm({ effect, categories }) {
    const { bridge } = useEditor();
    const update = useRequest(LIBRARY_REQUESTS.update);
    const archive = useRequest(LIBRARY_REQUESTS.archive);
    const [ids] = useState(() => ({ name: uid('fx-name'), category: uid('fx-cat'), list: uid('fx-cats') }));
    const [name, setName] = useState(effect.name || '');
    const [category, setCategory] = useState(effect.category || '');
    const [confirming, setConfirming] = useState(false);
    useEffect(() => {
        setName(effect.name || '');
        setCategory(effect.category || '');
        setConfirming(false);
    }, [effect.id, effect.name, effect.category]);

    const check = effectEditProblem({ name, category });
    const changed = !check.error && (check.name !== effect.name || check.category !== (effect.category || ''));
    const save = (e) => {
        e.preventDefault();
        if (check.error || !changed) return;
        bridge.library.update(effect.id, { name: check.name, category: check.category });
    };

    return (
        <form class="fx-edit" onSubmit={save}>
            <div class="panel-row">
                <TextField id={ids.name} label="Nom" value={name} onInput={setName} maxLength={90} />
                <TextField id={ids.category} label="Catégorie" value={category} onInput={setCategory} list={ids.list} maxLength={50} />
                <datalist id={ids.list}>
                    {categories.map((c) => <option key={c} value={c} />)}
                </datalist>
            </div>
            {check.error && <p class="hint error">{check.error}</p>}
            <div class="panel-row">
                <button type="submit" disabled={!changed || update?.status === 'pending'}>Enregistrer</button>
                {!confirming ? (
                    <button type="button" class="quiet" onClick={() => setConfirming(true)} disabled={archive?.status === 'pending'}>
                        Archiver…
                    </button>
                ) : (
                    <span class="confirm" role="group" aria-label="Confirmer l'archivage">
                        <span>Retirer « {effect.name} » de la bibliothèque ?</span>
                        <button type="button" class="danger" autoFocus
                            onClick={() => { setConfirming(false); bridge.library.archive(effect.id); }}>
                            Archiver
                        </button>
                        <button type="button" onClick={() => setConfirming(false)}>Annuler</button>
                    </span>
                )}
            </div>
            <RequestState request={update?.status === 'pending' ? update : archive} />
            {update?.status === 'failed' && <Answer record={update.result} />}
        </form>
    );
}

function EffectDetails({ effect, categories }) {
    const { bridge } = useEditor();
    const preview = useRequest(LIBRARY_REQUESTS.preview);
    const warnings = effect.compatibility?.warnings || [];
    return (
        <div class="fx-details" aria-label={`Effet ${effect.name}`}>
            <div class="fx-details-head">
                <EffectPreview effect={effect} />
                <div>
                    <h4>{effect.name || effect.id}</h4>
                    <p class="hint">{categoryOf(effect)}{effect.duration ? ` · ${Number(effect.duration).toFixed(1).replace('.', ',')} s` : ''}</p>
                    <p>{effectBadges(effect).map((b) => <span key={b} class="badge">{b}</span>)}</p>
                </div>
            </div>
            {warnings.length > 0 && <ul class="fx-warnings">{warnings.map((w) => <li key={w}>{w}</li>)}</ul>}
            <InsertForm effect={effect} />
            <div class="panel-row">
                <button type="button" disabled={preview?.status === 'pending'} onClick={() => bridge.library.refreshPreview(effect.id)}>
                    {preview?.status === 'pending' ? 'Aperçu en calcul…' : "Rafraîchir l'aperçu"}
                </button>
            </div>
            {isEditable(effect) ? <EditForm effect={effect} categories={categories} /> : (
                <p class="hint">Effet inclus avec Tessivo : il ne se renomme ni ne s'archive.</p>
            )}
        </div>
    );
}

function CaptureForm({ categories }) {
    const { bridge } = useEditor();
    const capture = useRequest(LIBRARY_REQUESTS.capture);
    const [ids] = useState(() => ({ name: uid('cap-name'), category: uid('cap-cat'), list: uid('cap-cats') }));
    const [name, setName] = useState('');
    const [category, setCategory] = useState('');
    const pending = capture?.status === 'pending';
    return (
        <form class="fx-capture" onSubmit={(e) => {
            e.preventDefault();
            if (pending) return;
            bridge.library.capture({ name: name.trim(), category: category.trim() || 'Mes effets' });
            setName('');
        }}>
            <div class="panel-row">
                <TextField id={ids.name} label="Nom (facultatif)" value={name} onInput={setName} maxLength={80} />
                <TextField id={ids.category} label="Catégorie" value={category} onInput={setCategory} list={ids.list} placeholder="Mes effets" maxLength={40} />
                <datalist id={ids.list}>{categories.map((c) => <option key={c} value={c} />)}</datalist>
            </div>
            <button type="submit" disabled={pending}>{pending ? 'Capture en cours…' : 'Capturer le clip Fusion courant'}</button>
            {capture && capture.status !== 'pending' && <Answer record={capture.result} />}
        </form>
    );
}

export function LibraryPanel() {
    const { bridge } = useEditor();
    const engine = useStore((s) => s.ui.engine);
    const lib = useMemo(() => libraryView(engine), [engine.library]);
    const load = requestOf(engine, LIBRARY_REQUESTS.load);
    const [ids] = useState(() => ({ category: uid('fx-category'), query: uid('fx-query') }));
    const [category, setCategory] = useState(ALL_CATEGORIES);
    const [query, setQuery] = useState('');
    const [selectedId, setSelectedId] = useState(null);

    // The first opening of the panel asks for the list and the template
    // status; later openings show what is known (Actualiser asks again).
    useEffect(() => {
        if (!lib.loaded && !isPending(load)) bridge.library.load();
        if (!lib.template && !isPending(requestOf(engine, LIBRARY_REQUESTS.templateStatus))) bridge.library.templateStatus();
    }, []);

    // An effect captured while the panel is open is shown at once, ready to
    // be named (one captured earlier does not take the selection back).
    const captured = lib.lastCapture?.effectId;
    const seenCapture = useRef(captured);
    useEffect(() => {
        if (captured && captured !== seenCapture.current) {
            seenCapture.current = captured;
            setSelectedId(captured);
            setCategory(ALL_CATEGORIES);
        }
    }, [captured]);

    const categories = useMemo(() => categoriesOf(lib.effects), [lib.effects]);
    const shown = useMemo(() => filterEffects(lib.effects, category, query), [lib.effects, category, query]);
    const selected = lib.effects.find((e) => e.id === selectedId) || null;
    const categoryOptions = [{ value: ALL_CATEGORIES, label: 'Toutes' }, ...categories.map((c) => ({ value: c, label: c }))];

    return (
        <div class="side-panel library-panel">
            <Section title="Effets Fusion">
                <div class="panel-row">
                    <SelectField id={ids.category} label="Catégorie" value={category} options={categoryOptions} onChange={setCategory} />
                    <TextField id={ids.query} label="Rechercher" type="search" value={query} onInput={setQuery} placeholder="Nom" />
                    <button type="button" class="quiet" disabled={load?.status === 'pending'} onClick={() => bridge.library.load()}>
                        Actualiser
                    </button>
                </div>
                {lib.error && <p class="panel-message error">{lib.error}</p>}
                {load?.status === 'failed' && !lib.error && <Answer record={load.result} />}
                <RequestState request={load} />
                {lib.loaded && shown.length === 0 && <p class="hint">Aucun effet {category ? 'dans cette catégorie' : 'dans la bibliothèque'}.</p>}
                <ul class="fx-grid" aria-label="Effets">
                    {shown.map((e) => (
                        <li key={e.id}>
                            <button type="button" class={`fx-card ${e.id === selectedId ? 'selected' : ''}`}
                                aria-pressed={e.id === selectedId} onClick={() => setSelectedId(e.id === selectedId ? null : e.id)}>
                                <EffectPreview effect={e} />
                                <span class="fx-name">{e.name || e.id}</span>
                            </button>
                        </li>
                    ))}
                </ul>
            </Section>
            {selected && (
                <Section title="Effet choisi">
                    <EffectDetails effect={selected} categories={categories} />
                </Section>
            )}
            <Section title="Capturer depuis Resolve">
                <CaptureForm categories={categories} />
            </Section>
            <LibraryServices lib={lib} engine={engine} />
        </div>
    );
}
