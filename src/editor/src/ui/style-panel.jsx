// The style panel: every style field of a caption block, its position, and
// the text of a single selected block. Changes go to the selection or to
// every block; a slider drag or a typing session is one undo step.
import { useRef, useState } from 'preact/hooks';
import { useEditor, useStore } from './context.js';
import { DEFAULT_STYLE } from '../state/model.js';
import { lottieCapabilityOf } from '../capability/lottie-capability.js';
import {
    ANIM_IN, ANIM_OUT, EFFECTS, GLOW_TYPES, NUMBER_FIELDS, readNumber, wellColor, optionsWith, fontOptions,
    effectiveScope, shownBlock,
} from './style-fields.js';

// Gesture keys: one per field and per interaction, so the input events of
// one slider drag merge into one undo step and the next drag is another.
// The serial is shared by every panel instance: a panel shown again never
// reuses the key of the last recorded change.
let gestureSerial = 0;

function useGestures() {
    const serials = useRef({});
    return {
        key(field) {
            if (serials.current[field] === undefined) serials.current[field] = ++gestureSerial;
            return `style-${field}-${serials.current[field]}`;
        },
        end(field) {
            serials.current[field] = ++gestureSerial;
        },
    };
}

function NumberField({ field, value, apply, testid }) {
    const range = NUMBER_FIELDS[field];
    const shown = Number.isFinite(value) ? value : '';
    const onValue = (event, final) => {
        const n = readNumber(event.currentTarget.value, field);
        if (n !== null) apply(field, n, final);
    };
    return (
        <div class="field number">
            <label for={`style-${field}`}>{range.label}</label>
            <input type="range" min={range.min} max={range.max} step={range.step} value={shown}
                aria-label={`${range.label} (curseur)`} tabIndex={-1}
                onInput={(e) => onValue(e, false)} onChange={(e) => onValue(e, true)} />
            <input id={`style-${field}`} type="number" min={range.min} max={range.max} step={range.step} value={shown}
                data-testid={testid} onInput={(e) => onValue(e, false)} onChange={(e) => onValue(e, true)} />
            {range.unit && <span class="unit">{range.unit}</span>}
        </div>
    );
}

function ChoiceField({ field, label, options, value, apply, testid }) {
    return (
        <div class="field">
            <label for={`style-${field}`}>{label}</label>
            <select id={`style-${field}`} value={value} data-testid={testid}
                onChange={(e) => apply(field, e.currentTarget.value, true)}>
                {optionsWith(options, value).map(([v, text]) => <option key={v} value={v}>{text}</option>)}
            </select>
        </div>
    );
}

function ColorField({ field, label, value, fallback, apply, testid }) {
    return (
        <div class="field color">
            <label for={`style-${field}`}>{label}</label>
            <input id={`style-${field}`} type="color" value={wellColor(value, fallback)} data-testid={testid}
                onInput={(e) => apply(field, e.currentTarget.value, false)}
                onChange={(e) => apply(field, e.currentTarget.value, true)} />
        </div>
    );
}

function TextField({ block }) {
    const { store } = useEditor();
    const gestures = useGestures();
    return (
        <div class="field text">
            <label for="style-text">Texte du bloc</label>
            <textarea id="style-text" rows={3} value={block.text} data-testid="style-text"
                onInput={(e) => store.dispatch({ type: 'blocks/setText', id: block.id, text: e.currentTarget.value, gesture: gestures.key(block.id) })}
                onBlur={() => gestures.end(block.id)} />
        </div>
    );
}

function Capability({ block }) {
    const capability = lottieCapabilityOf(block);
    if (capability.status === 'supported') {
        return <p class="capability ok"><span class="mark lottie" /> Ce bloc peut partir en Lottie.</p>;
    }
    return (
        <div class="capability warning">
            <p><span class="mark exact" /> Ce bloc partira en rendu Exact Web :</p>
            <ul>{(capability.reasons || []).map((r) => <li key={r}>{r}</li>)}</ul>
        </div>
    );
}

export function StylePanel() {
    const { store } = useEditor();
    const project = useStore((s) => s.project);
    const selection = useStore((s) => s.ui.selection);
    const [scope, setScope] = useState('selection');
    const gestures = useGestures();
    const applied = effectiveScope(scope, selection.length);
    const block = shownBlock(project, selection);
    const v = block || { ...DEFAULT_STYLE, text: '' };
    const disabled = project.blocks.length === 0;

    const apply = (field, value, final) => {
        store.dispatch({ type: 'style/apply', scope: applied, patch: { [field]: value }, gesture: gestures.key(field) });
        if (final) gestures.end(field);
    };
    const number = (field, testid) => <NumberField field={field} value={v[field]} apply={apply} testid={testid} />;
    const color = (field, label, testid) => (
        <ColorField field={field} label={label} value={v[field]} fallback={DEFAULT_STYLE[field]} apply={apply} testid={testid} />
    );
    const count = selection.length;

    return (
        <div class="style-panel">
            <div class="scope" role="radiogroup" aria-label="Appliquer à">
                <label class={applied === 'selection' ? 'seg active' : 'seg'}>
                    <input type="radio" name="style-scope" value="selection" checked={applied === 'selection'}
                        disabled={count === 0} onChange={() => setScope('selection')} />
                    {count > 1 ? `Sélection (${count})` : 'Bloc sélectionné'}
                </label>
                <label class={applied === 'all' ? 'seg active' : 'seg'}>
                    <input type="radio" name="style-scope" value="all" checked={applied === 'all'}
                        onChange={() => setScope('all')} />
                    Tous les blocs ({project.blocks.length})
                </label>
            </div>
            {disabled && <p class="hint">Aucun bloc : ajoutez-en un (+ Bloc) ou importez des sous-titres.</p>}
            {!disabled && count === 0 && <p class="hint">Aucun bloc sélectionné : les réglages s’appliquent à tous les blocs.</p>}
            {count > 1 && applied === 'selection' && (
                <p class="hint">Valeurs du premier bloc sélectionné ; chaque réglage s’applique aux {count} blocs.</p>
            )}

            <fieldset disabled={disabled}>
                {count === 1 && block && <TextField key={block.id} block={block} />}

                <h3>Police</h3>
                <ChoiceField field="font" label="Famille" options={fontOptions(v.font)} value={v.font} apply={apply} testid="style-font" />
                {number('size', 'style-size')}
                {number('textScaleX', 'style-stretch')}

                <h3>Couleurs</h3>
                <div class="row">
                    {color('color', 'Texte', 'style-color')}
                    {color('color2', 'Seconde', 'style-color2')}
                </div>

                <h3>Lueur</h3>
                <ChoiceField field="glowType" label="Type" options={GLOW_TYPES} value={v.glowType} apply={apply} testid="style-glow-type" />
                {number('glowIntensity', 'style-glow-intensity')}
                {color('glowColor', 'Couleur', 'style-glow-color')}

                <h3>Contour</h3>
                <div class="field check">
                    <label>
                        <input type="checkbox" checked={Boolean(v.hasOutline)} data-testid="style-outline"
                            onChange={(e) => apply('hasOutline', e.currentTarget.checked, true)} />
                        Contour du texte
                    </label>
                </div>
                {number('outlineWidth', 'style-outline-width')}
                {color('outlineColor', 'Couleur', 'style-outline-color')}

                <h3>Effet</h3>
                <ChoiceField field="effect" label="Effet" options={EFFECTS} value={v.effect} apply={apply} testid="style-effect" />
                {number('effectSpeed', 'style-effect-speed')}
                {color('effectColor', 'Couleur', 'style-effect-color')}

                <h3>Animation</h3>
                <ChoiceField field="animIn" label="Entrée" options={ANIM_IN} value={v.animIn} apply={apply} testid="style-anim-in" />
                <ChoiceField field="animOut" label="Sortie" options={ANIM_OUT} value={v.animOut} apply={apply} testid="style-anim-out" />
                {number('animSpeed', 'style-anim-speed')}

                <h3>Position</h3>
                {number('x', 'style-x')}
                {number('y', 'style-y')}
                <div class="row buttons">
                    {[['Haut', 12], ['Milieu', 50], ['Bas', 85]].map(([label, y]) => (
                        <button key={label} type="button" class="small" onClick={() => apply('y', y, true)}>{label}</button>
                    ))}
                    <button type="button" class="small" onClick={() => apply('x', 50, true)}>Centrer</button>
                </div>
                <p class="hint">Glissez un texte sélectionné dans l’aperçu pour le placer (Alt : sans aimant).</p>

                {block && <Capability block={block} />}
            </fieldset>
        </div>
    );
}
