// The toolbar's file menu: captions from Resolve's subtitle track or from an
// SRT/WebVTT file (picked or dropped on the window), the blocks written back
// as SRT, and the project as a .tessivo.json file.
import { useEffect, useRef, useState } from 'preact/hooks';
import { useEditor, useStore } from '../context.js';
import { writeSrt } from '../../files/subtitles.js';
import { serializeProject, projectFileName } from '../../state/persistence.js';
import { pickDroppedFile, srtFileName } from './import-logic.js';
import { openFile } from './file-open.js';
import { requestOf, IMPORT_REQUEST } from './engine-view.js';
import { localNotices } from './notices.js';
import { downloadText } from './download.js';
import { uid } from './controls.jsx';

const MODES = [
    { value: 'replace', label: 'Remplacer les blocs' },
    { value: 'append', label: 'Ajouter aux blocs' },
];

// The web view saves downloads in the user's download folder without asking;
// the notice says where the file went.
function saved(fileName) {
    localNotices.push('ok', 'Fichier enregistré', `« ${fileName} » est dans le dossier des téléchargements.`);
}

export function saveProjectFile(store) {
    const project = store.getState().project;
    const name = projectFileName(project);
    downloadText(name, serializeProject(project), 'application/json');
    saved(name);
}

export function ImportMenu() {
    const { store, bridge } = useEditor();
    const importing = useStore((s) => requestOf(s.ui.engine, IMPORT_REQUEST)?.status === 'pending');
    const blockCount = useStore((s) => s.project.blocks.length);
    const [ids] = useState(() => ({ mode: uid('import-mode') }));
    const [mode, setMode] = useState('replace');
    const [confirmNew, setConfirmNew] = useState(false);
    const [dragging, setDragging] = useState(false);
    const subtitleInput = useRef(null);
    const projectInput = useRef(null);
    const modeRef = useRef(mode);
    modeRef.current = mode;

    // Drag and drop anywhere on the window opens the first usable file.
    useEffect(() => {
        let depth = 0;
        const hasFiles = (e) => [...(e.dataTransfer?.types || [])].includes('Files');
        const enter = (e) => { if (hasFiles(e)) { depth += 1; setDragging(true); } };
        const leave = (e) => { if (hasFiles(e) && --depth <= 0) { depth = 0; setDragging(false); } };
        const over = (e) => { if (hasFiles(e)) { e.preventDefault(); e.dataTransfer.dropEffect = 'copy'; } };
        const drop = (e) => {
            if (!hasFiles(e)) return;
            e.preventDefault();
            depth = 0;
            setDragging(false);
            const { file, ignored } = pickDroppedFile(e.dataTransfer.files);
            if (!file) {
                localNotices.push('error', 'Dépôt ignoré', 'Dépose un fichier SRT, VTT ou un projet .tessivo.json.');
                return;
            }
            if (ignored > 0) localNotices.push('warning', 'Dépôt', `Un seul fichier est ouvert à la fois : ${ignored} autre(s) ignoré(s).`);
            openFile(store, file, modeRef.current === 'replace');
        };
        window.addEventListener('dragenter', enter);
        window.addEventListener('dragleave', leave);
        window.addEventListener('dragover', over);
        window.addEventListener('drop', drop);
        return () => {
            window.removeEventListener('dragenter', enter);
            window.removeEventListener('dragleave', leave);
            window.removeEventListener('dragover', over);
            window.removeEventListener('drop', drop);
        };
    }, [store]);

    const exportSrt = () => {
        const project = store.getState().project;
        if (project.blocks.length === 0) {
            localNotices.push('error', 'Export SRT', 'Aucun bloc à exporter.');
            return;
        }
        const name = srtFileName(project.name);
        downloadText(name, writeSrt(project.blocks), 'application/x-subrip;charset=utf-8');
        saved(name);
    };

    const newProject = () => {
        if (blockCount > 0 && !confirmNew) return setConfirmNew(true);
        setConfirmNew(false);
        store.dispatch({ type: 'project/new' });
    };

    const pick = (e) => {
        const file = e.currentTarget.files[0];
        e.currentTarget.value = '';
        if (file) openFile(store, file, modeRef.current === 'replace');
    };

    return (
        <div class="import-menu" role="group" aria-label="Fichiers et import">
            <div class="import-mode">
                <label for={ids.mode}>Import</label>
                <select id={ids.mode} value={mode} onChange={(e) => setMode(e.currentTarget.value)}>
                    {MODES.map((m) => <option key={m.value} value={m.value}>{m.label}</option>)}
                </select>
            </div>
            <button type="button" data-testid="import-resolve" disabled={importing}
                onClick={() => bridge.importResolveSubtitles({ replace: mode === 'replace' })}>
                {importing ? 'Import Resolve…' : 'Sous-titres Resolve'}
            </button>
            <button type="button" onClick={() => subtitleInput.current?.click()}>Ouvrir SRT/VTT…</button>
            <input ref={subtitleInput} type="file" class="visually-hidden" tabIndex={-1} aria-label="Fichier SRT ou VTT"
                accept=".srt,.vtt,.webvtt,text/vtt,application/x-subrip" data-testid="import-file" onChange={pick} />
            <button type="button" data-testid="export-srt" onClick={exportSrt}>Exporter SRT</button>
            <span class="toolbar-sep" aria-hidden="true" />
            <button type="button" onClick={() => projectInput.current?.click()}>Ouvrir projet…</button>
            <input ref={projectInput} type="file" class="visually-hidden" tabIndex={-1} aria-label="Projet .tessivo.json"
                accept=".json,application/json" data-testid="project-open" onChange={pick} />
            <button type="button" data-testid="project-save" onClick={() => saveProjectFile(store)} title="Ctrl+S">
                Enregistrer
            </button>
            <button type="button" class={confirmNew ? 'danger' : ''} onClick={newProject} onBlur={() => setConfirmNew(false)}>
                {confirmNew ? 'Confirmer : nouveau projet' : 'Nouveau'}
            </button>
            {dragging && (
                <div class="drop-overlay" aria-hidden="true">
                    <p>Dépose un fichier SRT, VTT ou .tessivo.json</p>
                </div>
            )}
        </div>
    );
}
