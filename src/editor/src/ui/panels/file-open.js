// Opening a file picked or dropped on the window: a subtitle file becomes
// blocks (replacing or added to the project's), a .tessivo.json file
// replaces the project. Every outcome is reported as a notice; a file that
// cannot be read leaves the project as it was.
import { readFileAsBytes } from '../../files/read-file.js';
import { decodeSubtitleBytes, parseSubtitles, cuesToBlocks } from '../../files/subtitles.js';
import { parseProjectFile } from '../../state/persistence.js';
import { fileKind, subtitleImportReport } from './import-logic.js';
import { localNotices } from './notices.js';

export async function openFile(store, file, replace, { notices = localNotices, readBytes = readFileAsBytes } = {}) {
    const kind = fileKind(file.name);
    try {
        if (kind === 'project') {
            const text = new TextDecoder('utf-8').decode(await readBytes(file));
            const project = parseProjectFile(text);
            store.dispatch({ type: 'project/load', project });
            const count = store.getState().project.blocks.length;
            notices.push('ok', 'Projet ouvert', `« ${file.name} » ouvert (${count} bloc${count > 1 ? 's' : ''}).`);
        } else if (kind === 'subtitles') {
            const { text, encoding } = decodeSubtitleBytes(await readBytes(file));
            const parsed = parseSubtitles(text, file.name);
            const blocks = cuesToBlocks(parsed.cues, store.getState().project, parsed.format);
            if (blocks.length > 0) store.dispatch({ type: 'blocks/import', blocks, replace });
            const report = subtitleImportReport({
                fileName: file.name, count: blocks.length, skipped: parsed.skipped,
                format: parsed.format, encoding, replace,
            });
            notices.push(report.tone, 'Import de sous-titres', report.text);
        } else {
            notices.push('error', 'Fichier ignoré', `« ${file.name} » n'est ni un fichier SRT/VTT ni un projet .tessivo.json.`);
        }
    } catch (err) {
        notices.push('error', `Lecture de « ${file.name} »`, err?.message || String(err));
    }
}
