// Named styles: the built-in presets and the user's, applied to the
// selected blocks or to every block; the style of the first selected block
// saved under a name.
import { useMemo, useState } from 'preact/hooks';
import { useEditor, useStore } from '../context.js';
import { BUILTIN_PRESETS } from '../../state/presets.js';
import { presetEntries, presetNameCheck, presetSampleStyle, MAX_PRESET_NAME } from './presets-logic.js';
import { Section, SelectField, uid } from './controls.jsx';

const SCOPES = [
    { value: 'selection', label: 'Aux blocs sélectionnés' },
    { value: 'all', label: 'À tous les blocs' },
];

export function PresetsPanel() {
    const { store } = useEditor();
    const userPresets = useStore((s) => s.ui.presets);
    const selection = useStore((s) => s.ui.selection);
    const [ids] = useState(() => ({ name: uid('preset-name'), scope: uid('preset-scope') }));
    const [name, setName] = useState('');
    const [scope, setScope] = useState('selection');
    const [message, setMessage] = useState(null);
    const [pendingDelete, setPendingDelete] = useState(null);

    const entries = useMemo(() => presetEntries(BUILTIN_PRESETS, userPresets), [userPresets]);
    const check = presetNameCheck(name, entries);
    const hasSelection = selection.length > 0;

    const save = (e) => {
        e.preventDefault();
        if (!hasSelection) return setMessage({ tone: 'error', text: 'Sélectionne le bloc dont le style sera enregistré.' });
        if (check.error) return setMessage({ tone: 'error', text: check.error });
        store.dispatch({ type: 'presets/save', name: check.name });
        setMessage({ tone: 'ok', text: `Préréglage « ${check.name} » ${check.overwrite ? 'remplacé' : 'enregistré'}.` });
        setName('');
    };

    const apply = (preset) => {
        if (scope === 'selection' && !hasSelection) {
            return setMessage({ tone: 'error', text: 'Aucun bloc sélectionné : choisis « À tous les blocs » ou sélectionne des blocs.' });
        }
        store.dispatch({ type: 'presets/apply', name: preset.name, scope });
        setMessage({ tone: 'ok', text: `« ${preset.name} » appliqué ${scope === 'all' ? 'à tous les blocs' : 'à la sélection'}.` });
    };

    const remove = (preset) => {
        if (pendingDelete !== preset.name) return setPendingDelete(preset.name);
        store.dispatch({ type: 'presets/delete', name: preset.name });
        setPendingDelete(null);
        setMessage({ tone: 'ok', text: `Préréglage « ${preset.name} » supprimé.` });
    };

    return (
        <div class="side-panel presets-panel">
            <Section title="Appliquer un préréglage">
                <SelectField id={ids.scope} label="Appliquer" value={scope} options={SCOPES} onChange={setScope} />
                <ul class="preset-list">
                    {entries.map((p) => (
                        <li key={(p.builtin ? 'b:' : 'u:') + p.name} class="preset-row">
                            <span class="preset-sample" style={presetSampleStyle(p.style)} aria-hidden="true">Aa</span>
                            <span class="preset-name">
                                {p.name}
                                {p.builtin && <span class="badge">Intégré</span>}
                            </span>
                            <button type="button" onClick={() => apply(p)} aria-label={`Appliquer ${p.name}`}>
                                Appliquer
                            </button>
                            {!p.builtin && (
                                <button
                                    type="button"
                                    class={pendingDelete === p.name ? 'danger' : 'quiet'}
                                    onClick={() => remove(p)}
                                    onBlur={() => pendingDelete === p.name && setPendingDelete(null)}
                                    aria-label={pendingDelete === p.name ? `Confirmer la suppression de ${p.name}` : `Supprimer ${p.name}`}
                                >
                                    {pendingDelete === p.name ? 'Confirmer' : 'Supprimer'}
                                </button>
                            )}
                        </li>
                    ))}
                </ul>
            </Section>
            <Section title="Enregistrer le style du bloc sélectionné">
                <form class="panel-row" onSubmit={save}>
                    <div class="panel-field grow">
                        <label for={ids.name}>Nom du préréglage</label>
                        <input
                            id={ids.name}
                            value={name}
                            maxLength={MAX_PRESET_NAME + 10}
                            placeholder="Mon style"
                            onInput={(e) => setName(e.currentTarget.value)}
                        />
                    </div>
                    <button type="submit" disabled={!hasSelection || !name.trim()}>
                        {check.overwrite ? 'Remplacer' : 'Enregistrer'}
                    </button>
                </form>
                {!hasSelection && <p class="hint">Sélectionne un bloc sur la timeline pour enregistrer son style.</p>}
                {name.trim() && check.error && <p class="hint error">{check.error}</p>}
            </Section>
            {message && (
                <p class={`panel-message ${message.tone}`} role="status">
                    {message.text}
                </p>
            )}
        </div>
    );
}
