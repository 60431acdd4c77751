import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
    RENDER_FORMATS, backgroundOptions, codecLabel, normalizeRenderChoice, rangeProblem, smartCounts, smartCountText,
} from '../src/ui/panels/send-options.js';

test('render choices are brought to a pair the render accepts', () => {
    const cases = [
        [{ format: 'mov', bg: 'transparent' }, { format: 'mov', bg: 'transparent' }],
        [{ format: 'mov', bg: 'black' }, { format: 'mov', bg: 'black' }],
        // MPEG-4 cannot carry ProRes: a transparent MPEG-4 becomes black.
        [{ format: 'mp4', bg: 'transparent' }, { format: 'mp4', bg: 'black' }],
        [{ format: 'mp4' }, { format: 'mp4', bg: 'black' }],
        [{ format: 'avi', bg: 'pink' }, { format: 'mov', bg: 'transparent' }],
        [{}, { format: 'mov', bg: 'transparent' }],
    ];
    for (const [input, expected] of cases) assert.deepEqual(normalizeRenderChoice(input), expected, JSON.stringify(input));
});

test('the transparent background is offered only with QuickTime, and names its codec', () => {
    assert.equal(backgroundOptions('mp4').find((o) => o.value === 'transparent').disabled, true);
    assert.equal(backgroundOptions('mov').some((o) => o.disabled), false);
    assert.match(codecLabel('transparent'), /ProRes 4444/);
    assert.match(codecLabel('black'), /H\.264/);
});

test('a range with nothing to send is refused with a reason', () => {
    const one = [{ id: 'b1' }];
    const cases = [
        ['all', one, 0, null],
        ['all', [], 0, /Aucun bloc/],
        ['selection', [], 0, /sélectionné/],
        ['selection', one, 1, null],
        ['playhead', [], 0, /tête de lecture/],
        ['bogus', one, 0, /inconnue/],
    ];
    for (const [range, blocks, sel, expected] of cases) {
        const got = rangeProblem(range, blocks, sel);
        if (expected === null) assert.equal(got, null, range);
        else assert.match(got, expected, range);
    }
});

test('smart counts split the range by Lottie capability and gather reasons', () => {
    const caps = {
        a: { status: 'supported' },
        b: { status: 'unsupported', reasons: ['Effet « glitch »', 'Police « X »'] },
        c: { status: 'unsupported', reasons: ['Effet « glitch »'] },
        d: undefined,
    };
    const blocks = Object.keys(caps).map((id) => ({ id }));
    const counts = smartCounts(blocks, (b) => caps[b.id]);
    assert.equal(counts.capable, 1);
    assert.equal(counts.exact, 3);
    assert.deepEqual(counts.reasons[0], { text: 'Effet « glitch »', count: 2 });
    assert.equal(counts.reasons.length, 2);
    assert.equal(smartCountText(counts), '1 bloc sur 4 en Lottie, 3 blocs en Exact Web.');
    assert.equal(smartCountText({ capable: 0, total: 0 }), 'Aucun bloc dans la plage.');
});

test('what the panel offers is what the render payload carries', async () => {
    const { renderFormat, renderCodecName } = await import('../src/bridge/payloads.js');
    for (const format of RENDER_FORMATS.map((o) => o.value)) {
        for (const option of backgroundOptions(format)) {
            const shown = normalizeRenderChoice({ format, bg: option.value });
            const sent = renderFormat({ format, background: option.value });
            // An enabled option is sent as shown; a disabled one is never what the panel keeps.
            if (!option.disabled) assert.deepEqual(sent, shown, `${format}/${option.value}`);
            else assert.notEqual(shown.bg, option.value);
            assert.ok(codecLabel(shown.bg).startsWith(renderCodecName(sent.bg)), `${format}/${option.value}`);
        }
    }
});
