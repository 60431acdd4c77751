// A stand-in for CanvasRenderingContext2D that records every text drawn with
// the drawing state at that moment. measureText gives each character half the
// font size, so layouts are predictable.
'use strict';

const STATE_KEYS = ['font', 'fillStyle', 'strokeStyle', 'lineWidth', 'globalAlpha', 'shadowColor', 'shadowBlur',
    'shadowOffsetX', 'shadowOffsetY', 'textAlign', 'textBaseline', 'lineJoin', 'miterLimit'];

function multiply([a, b, c, d, e, f], [a2, b2, c2, d2, e2, f2]) {
    return [a * a2 + c * b2, b * a2 + d * b2, a * c2 + c * d2, b * c2 + d * d2, a * e2 + c * f2 + e, b * e2 + d * f2 + f];
}

class FakeContext {
    constructor() {
        this.font = '10px sans-serif';
        this.fillStyle = '#000000';
        this.strokeStyle = '#000000';
        this.lineWidth = 1;
        this.globalAlpha = 1;
        this.shadowColor = 'rgba(0, 0, 0, 0)';
        this.shadowBlur = 0;
        this.shadowOffsetX = 0;
        this.shadowOffsetY = 0;
        this.textAlign = 'start';
        this.textBaseline = 'alphabetic';
        this.lineJoin = 'miter';
        this.miterLimit = 10;
        this.matrix = [1, 0, 0, 1, 0, 0];
        this.stack = [];
        this.ops = [];
    }

    fontPixels() {
        const m = /([0-9.]+)px/.exec(this.font);
        return m ? Number(m[1]) : 10;
    }

    save() {
        const saved = { matrix: this.matrix.slice() };
        for (const k of STATE_KEYS) saved[k] = this[k];
        this.stack.push(saved);
    }

    restore() {
        const saved = this.stack.pop();
        if (!saved) return;
        Object.assign(this, saved);
    }

    setTransform(a, b, c, d, e, f) { this.matrix = [a, b, c, d, e, f]; }
    translate(x, y) { this.matrix = multiply(this.matrix, [1, 0, 0, 1, x, y]); }
    scale(x, y) { this.matrix = multiply(this.matrix, [x, 0, 0, y, 0, 0]); }
    rotate(r) { this.matrix = multiply(this.matrix, [Math.cos(r), Math.sin(r), -Math.sin(r), Math.cos(r), 0, 0]); }

    measureText(text) { return { width: Array.from(text).length * this.fontPixels() * 0.5 }; }

    // Also keeps where the text lands on the canvas and the stroke width there.
    record(op, text, x, y) {
        const [a, b, c, d, e, f] = this.matrix;
        const entry = { op, text, x, y, matrix: this.matrix.slice() };
        entry.at = [a * x + c * y + e, b * x + d * y + f];
        entry.canvasLineWidth = this.lineWidth * Math.sqrt(Math.abs(a * d - b * c));
        for (const k of STATE_KEYS) entry[k] = this[k];
        this.ops.push(entry);
    }

    fillText(text, x, y) { this.record('fill', text, x, y); }
    strokeText(text, x, y) { this.record('stroke', text, x, y); }
    clearRect(x, y, w, h) { this.ops.push({ op: 'clear', x, y, w, h }); }

    texts() { return this.ops.filter((o) => o.op === 'fill' || o.op === 'stroke'); }
}

module.exports = { FakeContext };
