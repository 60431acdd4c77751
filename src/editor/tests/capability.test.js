import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';
import { FIELD_DEFAULTS, lottieCapabilityOf, lottieRules } from '../src/capability/lottie-capability.js';

const captions = createRequire(import.meta.url)('../../../resources/web/js/caption-renderer.js');

const rules = {
    about: 'texte libre, ignoré',
    animIn: ['none', 'fade', 'pop'],
    animOut: ['none', 'fade'],
    effect: ['none'],
    glowType: ['none', 'Shadow'],
    font: ['Inter', 'Anton'],
    futureKey: ['x'],
    size: 'pas une liste',
};

const plain = { font: 'Inter', animIn: 'fade', animOut: 'fade', effect: 'none', glowType: 'none' };

test('a style the Lottie route reproduces is supported; anything else says why, in French', () => {
    const cases = [
        { name: 'plain', block: plain, status: 'supported' },
        { name: 'glow compared without case', block: { ...plain, glowType: 'SHADOW' }, status: 'supported' },
        { name: 'glow of the rules in another case', block: { ...plain, glowType: 'shadow' }, status: 'supported' },
        { name: 'entrance', block: { ...plain, animIn: 'slam' }, reasons: [/entrée « slam »/] },
        { name: 'exit', block: { ...plain, animOut: 'ghost-out' }, reasons: [/sortie « ghost-out »/] },
        { name: 'effect', block: { ...plain, effect: 'shine-sweep' }, reasons: [/effet « shine-sweep »/i] },
        { name: 'glow', block: { ...plain, glowType: 'neon' }, reasons: [/lueur « neon »/] },
        { name: 'font', block: { ...plain, font: 'Arial Black' }, reasons: [/police « Arial Black »/] },
        { name: 'several', block: { ...plain, animIn: 'slam', font: 'Comic' }, reasons: [/entrée/, /police/] },
        // Missing fields take the caption record's defaults: no animation, no
        // effect, no glow, and a font that is not among the embedded ones.
        { name: 'missing font', block: { animIn: 'fade' }, reasons: [/police « HelveticaNeue-CondensedBlack »/] },
        { name: 'missing animations', block: { font: 'Anton' }, status: 'supported' },
        { name: 'null fields', block: { font: 'Anton', animIn: null, glowType: null }, status: 'supported' },
        { name: 'no block', block: undefined, reasons: [/police/] },
    ];
    for (const c of cases) {
        const verdict = lottieCapabilityOf(c.block, rules);
        if (c.status === 'supported') {
            assert.deepEqual(verdict, { status: 'supported' }, c.name);
        } else {
            assert.equal(verdict.status, 'unsupported', c.name);
            assert.equal(verdict.reasons.length, c.reasons.length, c.name);
            c.reasons.forEach((re, i) => assert.match(verdict.reasons[i], re, c.name));
        }
    }
});

test('rules may constrain other caption fields; unknown keys and non-lists are ignored', () => {
    const outline = { ...rules, hasOutline: [false] };
    assert.equal(lottieCapabilityOf({ ...plain, hasOutline: true }, outline).status, 'unsupported');
    assert.match(lottieCapabilityOf({ ...plain, hasOutline: true }, outline).reasons[0], /hasOutline/);
    assert.equal(lottieCapabilityOf({ ...plain, hasOutline: false, futureKey: 'y', size: 99 }, outline).status, 'supported');
    // Without rules, or with rules that are no object, the shipped rules apply.
    assert.deepEqual(lottieCapabilityOf(plain, null), lottieCapabilityOf(plain, lottieRules));
});

test('the shipped rules: the editor\'s default look is supported, effects and glows are not', () => {
    const shipped = { font: 'Montserrat', animIn: 'fade', animOut: 'fade', effect: 'none', glowType: 'none' };
    assert.equal(lottieCapabilityOf(shipped).status, 'supported');
    assert.equal(lottieCapabilityOf({ ...shipped, effect: 'shine-sweep' }).status, 'unsupported');
    assert.equal(lottieCapabilityOf({ ...shipped, glowType: 'neon' }).status, 'unsupported');
});

test('an outline is capable only in the faces listed for outlines', () => {
    const rules = { font: ['Anton', 'Bangers'], outlineFont: ['Anton'] };
    const cases = [
        [{ font: 'Anton', hasOutline: true, outlineWidth: 3 }, 'supported'],
        [{ font: 'Bangers', hasOutline: true, outlineWidth: 3 }, 'unsupported'],
        [{ font: 'Bangers', hasOutline: true, outlineWidth: 0 }, 'supported'],   // no outline drawn
        [{ font: 'Bangers', hasOutline: false, outlineWidth: 3 }, 'supported'],
        [{ font: 'Bangers', hasOutline: true, outlineWidth: NaN }, 'supported'],
    ];
    for (const [block, status] of cases) {
        const verdict = lottieCapabilityOf(block, rules);
        assert.equal(verdict.status, status, JSON.stringify(block));
        if (status === 'unsupported') assert.match(verdict.reasons[0], /contour/);
    }
    // Without the list, outlines are not constrained.
    assert.equal(lottieCapabilityOf({ font: 'Bangers', hasOutline: true, outlineWidth: 3 }, { font: ['Bangers'] }).status, 'supported');
});

test('a field left out counts as the caption drawing module draws it', () => {
    assert.deepEqual(FIELD_DEFAULTS, { ...captions.DEFAULTS });
});
