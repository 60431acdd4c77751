// Geometry of the preview: fitting the frame in its box, turning pointer
// positions into frame pixels, finding the caption under the pointer and
// where a dragged caption goes. Pure functions, tested without a page.

// The largest rectangle of the frame's aspect ratio that fits in the box,
// centred; sizes in CSS pixels.
export function fitFrame(boxWidth, boxHeight, frameWidth, frameHeight) {
    if (!(boxWidth > 0 && boxHeight > 0 && frameWidth > 0 && frameHeight > 0)) {
        return { left: 0, top: 0, width: 0, height: 0, scale: 0 };
    }
    const scale = Math.min(boxWidth / frameWidth, boxHeight / frameHeight);
    const width = Math.floor(frameWidth * scale);
    const height = Math.floor(frameHeight * scale);
    return {
        left: Math.floor((boxWidth - width) / 2),
        top: Math.floor((boxHeight - height) / 2),
        width,
        height,
        scale: width / frameWidth,
    };
}

// A point relative to the displayed frame (CSS pixels) → frame pixels.
export function toFramePoint(x, y, display, frameWidth, frameHeight) {
    return { x: (x / display.width) * frameWidth, y: (y / display.height) * frameHeight };
}

// The box a laid-out caption occupies in its neutral pose, in frame pixels:
// centred on its anchor, as wide as its longest line stretched by
// textScaleX, as tall as its lines. `layout` is what the caption drawing
// module's layoutBlock returns; `lineStep` its line spacing function.
export function captionBounds(block, layout, frame, lineStep) {
    const cx = (block.x / 100) * frame.width;
    const cy = (block.y / 100) * frame.height;
    if (!layout || !layout.drawable || !layout.lines.length) return { left: cx, top: cy, width: 0, height: 0 };
    let widest = 0;
    for (const line of layout.lines) widest = Math.max(widest, line.metrics.width);
    const width = (widest * block.textScaleX) / 100;
    const height = lineStep(layout.fontSize) * layout.lines.length;
    return { left: cx - width / 2, top: cy - height / 2, width, height };
}

// The id of the topmost caption whose box holds the point, among `items`
// [{id, bounds}] in drawing order (last drawn is on top); a few pixels of
// slack make thin captions easy to catch.
export function pickCaption(items, point, slack = 6) {
    for (let i = items.length - 1; i >= 0; i--) {
        const b = items[i].bounds;
        if (point.x >= b.left - slack && point.x <= b.left + b.width + slack &&
            point.y >= b.top - slack && point.y <= b.top + b.height + slack) return items[i].id;
    }
    return null;
}

const round1 = (v) => Math.round(v * 10) / 10;
const clampPercent = (v) => Math.min(100, Math.max(0, v));

// The position (percent of the frame) of a caption dragged from `origin`
// by (dx, dy) frame pixels: clamped to the frame, to a tenth of a percent,
// and held on the frame's vertical and horizontal centre lines when it
// passes within `snap` percent of them (unless `free`).
export function dragPosition(origin, dx, dy, frame, { snap = 0.8, free = false } = {}) {
    let x = clampPercent(origin.x + (dx / frame.width) * 100);
    let y = clampPercent(origin.y + (dy / frame.height) * 100);
    const guides = { x: false, y: false };
    if (!free) {
        if (Math.abs(x - 50) <= snap) {
            x = 50;
            guides.x = true;
        }
        if (Math.abs(y - 50) <= snap) {
            y = 50;
            guides.y = true;
        }
    }
    return { x: round1(x), y: round1(y), guides };
}
