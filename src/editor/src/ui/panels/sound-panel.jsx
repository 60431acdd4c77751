// Short sound effects attached to the project at times: each travels with
// every export as a data URL with its name and volume.
import { useEffect, useRef, useState } from 'preact/hooks';
import { useEditor, useStore } from '../context.js';
import { readFileAsDataUrl } from '../../files/read-file.js';
import { ACCEPT_AUDIO, addSoundFiles, clampVolume, formatTime, parseTime, sortedSounds } from './sound-files.js';
import { Section, uid } from './controls.jsx';

function SoundRow({ sound, playing, onPlay, onStop }) {
    const { store } = useEditor();
    const [timeText, setTimeText] = useState(formatTime(sound.time));
    const [ids] = useState(() => ({ name: uid('sfx-name'), time: uid('sfx-time'), volume: uid('sfx-volume') }));
    useEffect(() => setTimeText(formatTime(sound.time)), [sound.time]);

    const update = (patch) => store.dispatch({ type: 'sfx/update', id: sound.id, patch });
    const commitTime = () => {
        const t = parseTime(timeText);
        if (t === null) setTimeText(formatTime(sound.time));
        else if (t !== sound.time) update({ time: t });
    };

    return (
        <li class="sound-row">
            <div class="panel-field grow">
                <label for={ids.name}>Nom</label>
                <input id={ids.name} value={sound.name} maxLength={60}
                    onChange={(e) => update({ name: e.currentTarget.value.trim() || 'Son' })} />
            </div>
            <div class="panel-field time">
                <label for={ids.time}>Temps</label>
                <input id={ids.time} value={timeText} inputMode="decimal"
                    onInput={(e) => setTimeText(e.currentTarget.value)}
                    onBlur={commitTime}
                    onKeyDown={(e) => e.key === 'Enter' && commitTime()} />
            </div>
            <div class="panel-field volume">
                <label for={ids.volume}>Volume {Math.round(sound.volume * 100)} %</label>
                <input id={ids.volume} type="range" min="0" max="1" step="0.05" value={sound.volume}
                    onChange={(e) => update({ volume: clampVolume(e.currentTarget.value) })} />
            </div>
            <div class="sound-actions">
                <button type="button" onClick={() => (playing ? onStop() : onPlay(sound))}
                    aria-label={`${playing ? 'Arrêter' : 'Écouter'} ${sound.name}`}>
                    {playing ? 'Arrêter' : 'Écouter'}
                </button>
                <button type="button" class="quiet" onClick={() => store.dispatch({ type: 'sfx/delete', id: sound.id })}
                    aria-label={`Supprimer ${sound.name}`}>
                    Supprimer
                </button>
            </div>
        </li>
    );
}

export function SoundPanel() {
    const { store } = useEditor();
    const sfx = useStore((s) => s.project.sfx);
    const [ids] = useState(() => ({ file: uid('sfx-file'), time: uid('sfx-at') }));
    const [atText, setAtText] = useState('');
    const [busy, setBusy] = useState(false);
    const [message, setMessage] = useState(null);
    const [playingId, setPlayingId] = useState(null);
    const audio = useRef(null);
    const input = useRef(null);
    const alive = useRef(true);
    useEffect(() => () => { alive.current = false; }, []);

    const addFiles = async (files) => {
        const typed = atText.trim();
        const at = typed ? parseTime(typed) : store.getState().ui.playhead;
        if (at === null) return setMessage({ tone: 'error', text: `« ${typed} » n'est pas un temps (exemples : 12,5 ou 1:02,5).` });
        setBusy(true);
        const report = await addSoundFiles(store, files, at, readFileAsDataUrl);
        if (!alive.current) return;
        setBusy(false);
        setMessage(report);
    };

    const play = (sound) => {
        const el = audio.current;
        if (!el) return;
        el.src = sound.dataUrl;
        el.volume = clampVolume(sound.volume);
        el.currentTime = 0;
        setPlayingId(sound.id);
        el.play().catch(() => {
            setPlayingId(null);
            setMessage({ tone: 'error', text: `Lecture impossible de « ${sound.name} ».` });
        });
    };
    const stop = () => {
        audio.current?.pause();
        setPlayingId(null);
    };

    const sounds = sortedSounds(sfx);
    return (
        <div class="side-panel sound-panel">
            <Section title="Ajouter un son">
                <div class="panel-row">
                    <div class="panel-field time">
                        <label for={ids.time}>Placer à</label>
                        <input id={ids.time} value={atText} inputMode="decimal" placeholder="tête de lecture"
                            onInput={(e) => setAtText(e.currentTarget.value)} />
                    </div>
                    <button type="button" onClick={() => input.current?.click()} disabled={busy}>
                        {busy ? 'Lecture des fichiers…' : 'Choisir des sons…'}
                    </button>
                    <input ref={input} id={ids.file} class="visually-hidden" type="file" accept={ACCEPT_AUDIO} multiple
                        tabIndex={-1} aria-label="Fichiers son"
                        onChange={(e) => {
                            const files = [...e.currentTarget.files];
                            e.currentTarget.value = '';
                            addFiles(files);
                        }} />
                </div>
                <p class="hint">Sons courts MP3, M4A, AAC ou WAV, placés à la tête de lecture si aucun temps n'est donné ; ils partent avec chaque export.</p>
                {message && <p class={`panel-message ${message.tone}`} role="status">{message.text}</p>}
            </Section>
            <Section title={`Sons du projet (${sounds.length})`}>
                {sounds.length === 0 ? (
                    <p class="hint">Aucun son pour l'instant.</p>
                ) : (
                    <ul class="sound-list">
                        {sounds.map((s) => (
                            <SoundRow key={s.id} sound={s} playing={playingId === s.id} onPlay={play} onStop={stop} />
                        ))}
                    </ul>
                )}
            </Section>
            <audio ref={audio} onEnded={() => setPlayingId(null)} preload="none" />
        </div>
    );
}
