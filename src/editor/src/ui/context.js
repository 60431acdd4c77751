// The store and the engine bridge reach the components through one context;
// useStore re-renders a component when the slice it selects changes.
import { createContext } from 'preact';
import { useContext, useEffect, useReducer, useRef } from 'preact/hooks';

export const EditorContext = createContext(null);

export function useEditor() {
    const editor = useContext(EditorContext);
    if (!editor) throw new Error('EditorContext missing');
    return editor;
}

// selector(state) → value; the component re-renders when the value changes
// (compared with Object.is), so selectors should return stored objects or
// primitives, not fresh copies.
export function useStore(selector) {
    const { store } = useEditor();
    const [, rerender] = useReducer((n) => n + 1, 0);
    const selected = selector(store.getState());
    const latest = useRef(selected);
    const currentSelector = useRef(selector);
    latest.current = selected;
    currentSelector.current = selector;
    useEffect(
        () =>
            store.subscribe(() => {
                if (!Object.is(currentSelector.current(store.getState()), latest.current)) rerender();
            }),
        [store],
    );
    return selected;
}
