// The side panels, the toolbar's file menu and the corner notices.
import './panels.css';

export { PresetsPanel } from './presets-panel.jsx';
export { SendPanel } from './send-panel.jsx';
export { SoundPanel } from './sound-panel.jsx';
export { LibraryPanel } from './library-panel.jsx';
export { ImportMenu, saveProjectFile } from './import-menu.jsx';
export { openFile } from './file-open.js';
export { Notices } from './notices.jsx';
