import { test } from 'node:test';
import assert from 'node:assert/strict';
import { commandForKey, isTypingTarget } from '../src/ui/keys.js';

const key = (k, mods = {}, target = { tagName: 'BODY' }) => ({ key: k, target, ...mods });

test('each shortcut gives its command', () => {
    const cases = [
        [key(' '), { command: 'togglePlay' }],
        [key('ArrowLeft'), { command: 'step', frames: -1 }],
        [key('ArrowRight'), { command: 'step', frames: 1 }],
        [key('ArrowLeft', { shiftKey: true }), { command: 'step', frames: -25 }],
        [key('ArrowRight', { shiftKey: true }), { command: 'step', frames: 25 }],
        [key('Delete'), { command: 'delete' }],
        [key('Backspace'), { command: 'delete' }],
        [key('z', { ctrlKey: true }), { command: 'undo' }],
        [key('Z', { ctrlKey: true, shiftKey: true }), { command: 'redo' }],
        [key('z', { metaKey: true, shiftKey: true }), { command: 'redo' }],
        [key('y', { ctrlKey: true }), { command: 'redo' }],
        [key('s', { ctrlKey: true }), { command: 'save' }],
        [key('S', { ctrlKey: true }), { command: 'save' }],
        [key('a', { ctrlKey: true }), { command: 'selectAll' }],
        [key('Escape'), { command: 'clearSelection' }],
        [key('Home'), { command: 'home' }],
        [key('End'), { command: 'end' }],
    ];
    for (const [event, expected] of cases) {
        assert.deepEqual(commandForKey(event, 25), expected, JSON.stringify(event));
    }
});

test('keys that are not shortcuts, or carry other modifiers, are left to the page', () => {
    const cases = [
        key('a'), key('z'), key('s'), key('Enter'), key('Tab'),
        key('c', { ctrlKey: true }), key('v', { ctrlKey: true }),
        key('ArrowLeft', { altKey: true }), key(' ', { altKey: true }),
        key('a', { ctrlKey: true, shiftKey: true }), key('s', { ctrlKey: true, shiftKey: true }),
        key('Delete', { shiftKey: true }),
    ];
    for (const event of cases) assert.equal(commandForKey(event, 25), null, JSON.stringify(event));
});

test('Shift+arrow steps one second at the project rate', () => {
    for (const [fps, frames] of [[24, 24], [29.97, 30], [50, 50], [23.976, 24]]) {
        assert.equal(commandForKey(key('ArrowRight', { shiftKey: true }), fps).frames, frames, String(fps));
    }
});

test('shortcuts keep out of fields the user types in or moves with the arrows', () => {
    const fields = [
        { tagName: 'INPUT', type: 'text' }, { tagName: 'INPUT', type: 'number' }, { tagName: 'INPUT' },
        { tagName: 'INPUT', type: 'range' }, { tagName: 'INPUT', type: 'radio' }, { tagName: 'TEXTAREA' },
        { tagName: 'SELECT' }, { tagName: 'DIV', isContentEditable: true },
    ];
    for (const target of fields) {
        assert.equal(isTypingTarget(target), true, JSON.stringify(target));
        for (const event of [key(' ', {}, target), key('Delete', {}, target), key('z', { ctrlKey: true }, target),
            key('a', { ctrlKey: true }, target), key('ArrowLeft', {}, target)]) {
            assert.equal(commandForKey(event, 25), null, `${event.key} in ${JSON.stringify(target)}`);
        }
    }
    const notFields = [{ tagName: 'BUTTON' }, { tagName: 'INPUT', type: 'checkbox' }, { tagName: 'INPUT', type: 'color' },
        { tagName: 'CANVAS' }, null];
    for (const target of notFields) {
        assert.equal(isTypingTarget(target), false, JSON.stringify(target));
        assert.deepEqual(commandForKey(key('Delete', {}, target), 25), { command: 'delete' });
    }
});

test('space plays and pauses, except on a control it presses itself', () => {
    const pressed = [{ tagName: 'BUTTON' }, { tagName: 'INPUT', type: 'checkbox' }, { tagName: 'INPUT', type: 'submit' },
        { tagName: 'SUMMARY' }, { tagName: 'DIV', getAttribute: (n) => (n === 'role' ? 'tab' : null) }];
    for (const target of pressed) assert.equal(commandForKey(key(' ', {}, target), 25), null, JSON.stringify(target));
    const free = [{ tagName: 'CANVAS' }, { tagName: 'BODY' }, { tagName: 'DIV', getAttribute: () => null }, null];
    for (const target of free) assert.deepEqual(commandForKey(key(' ', {}, target), 25), { command: 'togglePlay' });
});
