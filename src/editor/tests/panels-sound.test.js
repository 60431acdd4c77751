import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
    MAX_SOUND_BYTES, audioTypeOf, clampVolume, formatTime, parseTime, soundFileProblem,
    soundNameFromFile, sortedSounds, withAudioType,
} from '../src/ui/panels/sound-files.js';

test('only sounds the engine can name are accepted, by type or extension', () => {
    const cases = [
        [{ name: 'a.mp3', type: 'audio/mpeg' }, 'audio/mpeg'],
        [{ name: 'a.wav', type: 'audio/x-wav' }, 'audio/x-wav'],
        [{ name: 'a.m4a', type: '' }, 'audio/mp4'],
        [{ name: 'A.MP3', type: 'application/octet-stream' }, 'audio/mpeg'],
        [{ name: 'a.ogg', type: 'audio/ogg' }, null],
        [{ name: 'a.flac', type: '' }, null],
        [{ name: 'photo.png', type: 'image/png' }, null],
        [{ name: 'trick.mp3', type: 'image/png' }, null],
    ];
    for (const [file, expected] of cases) assert.equal(audioTypeOf(file), expected, file.name);
});

test('refused files get a French reason naming them', () => {
    const cases = [
        [{ name: 'ok.wav', type: 'audio/wav', size: 1000 }, null],
        [{ name: 'image.png', type: 'image/png', size: 10 }, /« image\.png » n'est pas un son/],
        [{ name: 'vide.mp3', type: 'audio/mpeg', size: 0 }, /est vide/],
        [{ name: 'long.wav', type: 'audio/wav', size: MAX_SOUND_BYTES + 1 }, /pèse 2,0 Mo/],
        [{ name: 'juste.wav', type: 'audio/wav', size: MAX_SOUND_BYTES }, null],
    ];
    for (const [file, expected] of cases) {
        const got = soundFileProblem(file);
        if (expected === null) assert.equal(got, null, file.name);
        else assert.match(got, expected, file.name);
    }
});

test('a data URL without an audio type gets the one of the file name', () => {
    assert.equal(withAudioType('data:application/octet-stream;base64,QUJD', { name: 'x.mp3' }), 'data:audio/mpeg;base64,QUJD');
    assert.equal(withAudioType('data:;base64,QUJD', { name: 'x.wav' }), 'data:audio/wav;base64,QUJD');
    assert.equal(withAudioType('data:audio/wav;base64,QUJD', { name: 'x.mp3' }), 'data:audio/wav;base64,QUJD');
});

test('times typed by the user are read in seconds', () => {
    const cases = [
        ['12', 12], ['12.5', 12.5], ['12,5', 12.5], ['1:02.5', 62.5], ['0:01:02,500', 62.5],
        [' 3 ', 3], ['', null], ['-1', null], ['1:2:3:4', null], ['abc', null], ['1,2,3', null],
    ];
    for (const [text, expected] of cases) assert.equal(parseTime(text), expected, JSON.stringify(text));
});

test('times are shown and read back to the hundredth', () => {
    for (const s of [0, 5.25, 62.5, 3599.99]) assert.equal(parseTime(formatTime(s)), s);
    assert.equal(formatTime(65.5), '1:05,50');
    assert.equal(formatTime(-2), '0:00,00');
});

test('volumes, names and order', () => {
    assert.deepEqual(['0.5', '1,4', -1, 'x', 0].map(clampVolume), [0.5, 1, 0, 0.85, 0]);
    assert.equal(soundNameFromFile('whoosh_fort.mp3'), 'whoosh fort');
    assert.equal(soundNameFromFile('.wav'), 'Son');
    const sorted = sortedSounds([{ name: 'b', time: 2 }, { name: 'a', time: 2 }, { name: 'z', time: 1 }]);
    assert.deepEqual(sorted.map((s) => s.name), ['z', 'a', 'b']);
});
