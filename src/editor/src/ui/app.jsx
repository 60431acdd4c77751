export function App() {
    return <main class="editor"><h1>Tessivo</h1></main>;
}
