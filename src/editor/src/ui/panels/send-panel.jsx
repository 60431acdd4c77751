// Sending the project out: a movie rendered by the engine, or the blocks
// placed in the Resolve timeline by one of the four routes. Each request
// shows it is pending until the engine answers; the last export's answer is
// shown in plain words.
import { useMemo, useState } from 'preact/hooks';
import { useEditor, useStore } from '../context.js';
import { blocksInRange } from '../../state/selectors.js';
import { lottieCapabilityOf } from '../../capability/lottie-capability.js';
import { exportSummary } from '../../bridge/summaries.js';
import {
    RENDER_FORMATS, SEND_ROUTES, SEND_RANGES, backgroundOptions, codecLabel,
    normalizeRenderChoice, rangeProblem, smartCounts, smartCountText,
} from './send-options.js';
import { isPending, requestOf, RENDER_REQUEST, EXPORT_REQUEST } from './engine-view.js';
import { Section, SelectField, RequestState, uid } from './controls.jsx';

function useRangeBlocks(range) {
    const project = useStore((s) => s.project);
    const selection = useStore((s) => s.ui.selection);
    // The playhead only matters for the "playhead to end" range; reading it
    // otherwise would redraw the panel at every frame of playback.
    const playhead = useStore((s) => (range === 'playhead' ? s.ui.playhead : 0));
    const blocks = useMemo(
        () => blocksInRange(project, range, { selection, playhead }),
        [project, range, selection, playhead],
    );
    return { blocks, selection };
}

function ExportResult() {
    const lastExport = useStore((s) => s.ui.engine.lastExport);
    const summary = useMemo(() => {
        if (!lastExport) return null;
        if (typeof lastExport.title === 'string' && Array.isArray(lastExport.lines)) return lastExport;
        return exportSummary(lastExport);
    }, [lastExport]);
    if (!summary) {
        return (
            <div class="export-result empty" data-testid="export-result" aria-live="polite">
                Aucun envoi vers Resolve pour l'instant.
            </div>
        );
    }
    return (
        <div class={`export-result ${summary.tone}`} data-testid="export-result" aria-live="polite">
            <p class="export-result-title">{summary.title}</p>
            {summary.lines.length > 0 && (
                <ul>
                    {summary.lines.map((line, i) => (
                        <li key={i}>{line}</li>
                    ))}
                </ul>
            )}
        </div>
    );
}

function RenderSection() {
    const { bridge } = useEditor();
    const request = useStore((s) => requestOf(s.ui.engine, RENDER_REQUEST));
    // The engine renders one thing at a time: an Exact Web send renders too.
    const exporting = useStore((s) => isPending(requestOf(s.ui.engine, EXPORT_REQUEST)));
    const [ids] = useState(() => ({ format: uid('render-format'), bg: uid('render-bg'), range: uid('render-range') }));
    const [choice, setChoice] = useState({ format: 'mov', bg: 'transparent' });
    const [range, setRange] = useState('all');
    const { blocks, selection } = useRangeBlocks(range);
    const problem = rangeProblem(range, blocks, selection.length);
    const pending = request?.status === 'pending';

    const update = (patch) => setChoice((c) => normalizeRenderChoice({ ...c, ...patch }));
    const start = () => {
        if (problem || pending || exporting) return;
        bridge.startRender({ format: choice.format, background: choice.bg, range });
    };

    return (
        <Section title="Rendre une vidéo">
            <div class="panel-grid">
                <SelectField id={ids.format} label="Format" value={choice.format} options={RENDER_FORMATS} onChange={(format) => update({ format })} />
                <SelectField id={ids.bg} label="Fond" value={choice.bg} options={backgroundOptions(choice.format)} onChange={(bg) => update({ bg })} />
                <SelectField id={ids.range} label="Plage" value={range} options={SEND_RANGES} onChange={setRange} />
            </div>
            <p class="hint">Codec : {codecLabel(choice.bg)}{choice.format === 'mp4' ? ' (le MPEG-4 ne porte pas la transparence)' : ''}.</p>
            <button type="button" class="primary" data-testid="render-start" disabled={Boolean(problem) || pending || exporting} onClick={start}>
                {pending ? 'Rendu en cours…' : 'Rendre la vidéo…'}
            </button>
            {problem && <p class="hint error">{problem}</p>}
            {exporting && !pending && <p class="hint">Un envoi vers Resolve est en cours : le rendu attend sa fin.</p>}
            <RequestState request={request} />
            {request && request.status !== 'pending' && request.result?.text && (
                // A render that did not complete was cancelled in the save panel or stopped.
                <p class={`panel-message ${request.status === 'failed' ? 'warning' : 'ok'}`} role="status">
                    {request.result.text}
                </p>
            )}
        </Section>
    );
}

function ResolveSection() {
    const { bridge } = useEditor();
    const request = useStore((s) => requestOf(s.ui.engine, EXPORT_REQUEST));
    const rendering = useStore((s) => isPending(requestOf(s.ui.engine, RENDER_REQUEST)));
    const [ids] = useState(() => ({ route: uid('send-route'), range: uid('send-range') }));
    const [route, setRoute] = useState('smart');
    const [range, setRange] = useState('all');
    const { blocks, selection } = useRangeBlocks(range);
    const problem = rangeProblem(range, blocks, selection.length);
    const pending = request?.status === 'pending';
    const counts = useMemo(
        () => (route === 'smart' ? smartCounts(blocks, (b) => lottieCapabilityOf(b)) : null),
        [route, blocks],
    );

    const send = () => {
        if (problem || pending || rendering) return;
        bridge.exportToResolve(route, range);
    };

    return (
        <Section title="Envoyer vers Resolve">
            <div class="panel-stack">
                <SelectField id={ids.route} label="Route" value={route} options={SEND_ROUTES} onChange={setRoute} testid="send-route" />
                <SelectField id={ids.range} label="Plage" value={range} options={SEND_RANGES} onChange={setRange} testid="send-range" />
            </div>
            {counts && (
                <div class="smart-counts">
                    <p>{smartCountText(counts)}</p>
                    {counts.reasons.length > 0 && (
                        <details>
                            <summary>Pourquoi certains blocs passent par Exact Web</summary>
                            <ul>
                                {counts.reasons.map((r) => (
                                    <li key={r.text}>
                                        {r.text} ({r.count})
                                    </li>
                                ))}
                            </ul>
                        </details>
                    )}
                </div>
            )}
            <button
                type="button"
                class="primary"
                data-testid="send-resolve"
                disabled={Boolean(problem) || pending || rendering}
                onClick={send}
            >
                {pending ? 'Envoi en cours…' : 'Envoyer vers Resolve'}
            </button>
            {problem && <p class="hint error">{problem}</p>}
            {rendering && !pending && <p class="hint">Un rendu est en cours : l'envoi attend sa fin.</p>}
            <RequestState request={request} />
            <h4 class="panel-subtitle">Dernier envoi</h4>
            <ExportResult />
        </Section>
    );
}

export function SendPanel() {
    return (
        <div class="side-panel send-panel">
            <ResolveSection />
            <RenderSection />
        </div>
    );
}
