// An effect's animated preview: its captured frames cycling at their own
// rate, or, for an effect without frames, its sample text animated by the
// CSS animation its preview style names.
import { useEffect, useState } from 'preact/hooks';
import { previewFrameIndex, previewFrameMs, previewStyleClass } from './library-view.js';

const reducedMotion = () =>
    typeof window !== 'undefined' && window.matchMedia?.('(prefers-reduced-motion: reduce)').matches;

export function EffectPreview({ effect, animate = true }) {
    const frames = Array.isArray(effect.previewFrames) ? effect.previewFrames : [];
    const [index, setIndex] = useState(0);
    const moving = animate && frames.length > 1 && !reducedMotion();

    useEffect(() => {
        setIndex(0);
        if (!moving) return undefined;
        // The index comes from the elapsed time, not from a tick count, so a
        // late timer skips frames instead of slowing the animation down.
        const started = performance.now();
        const timer = setInterval(
            () => setIndex(previewFrameIndex(performance.now() - started, frames.length, effect.previewFps)),
            previewFrameMs(effect.previewFps),
        );
        return () => clearInterval(timer);
    }, [effect.id, frames.length, effect.previewFps, moving]);

    if (frames.length > 0) {
        return (
            <div class="fx-preview">
                <img src={frames[Math.min(index, frames.length - 1)]} alt="" draggable={false} />
            </div>
        );
    }
    const target = Array.isArray(effect.textTargets) ? effect.textTargets[0] : null;
    const sample = (target && target.text) || effect.name || 'Aa';
    const color = target && typeof target.color === 'string' ? target.color : '#ffffff';
    return (
        <div class="fx-preview fx-preview-text" aria-hidden="true">
            <span class={animate ? previewStyleClass(effect) : ''} style={{ color }}>
                {sample}
            </span>
        </div>
    );
}
