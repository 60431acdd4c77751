// Small labelled controls shared by the side panels: every control has a
// visible label tied to it, so it is reachable and named by the keyboard.
let nextId = 0;
export const uid = (prefix) => `${prefix}-${++nextId}`;

export function Section({ title, children, class: cls }) {
    return (
        <section class={`panel-section ${cls || ''}`}>
            {title && <h3 class="panel-section-title">{title}</h3>}
            {children}
        </section>
    );
}

export function SelectField({ id, label, value, options, onChange, testid, disabled }) {
    return (
        <div class="panel-field">
            <label for={id}>{label}</label>
            <select
                id={id}
                value={value}
                disabled={disabled}
                data-testid={testid}
                onChange={(e) => onChange(e.currentTarget.value)}
            >
                {options.map((o) => (
                    <option key={o.value} value={o.value} disabled={o.disabled}>
                        {o.label}
                    </option>
                ))}
            </select>
        </div>
    );
}

export function TextField({ id, label, value, onInput, placeholder, maxLength, list, type = 'text', ...rest }) {
    return (
        <div class="panel-field">
            <label for={id}>{label}</label>
            <input
                id={id}
                type={type}
                value={value}
                placeholder={placeholder}
                maxLength={maxLength}
                list={list}
                onInput={(e) => onInput(e.currentTarget.value)}
                {...rest}
            />
        </div>
    );
}

// A request's state beside the button that started it.
export function RequestState({ request }) {
    if (!request) return null;
    if (request.status === 'pending') {
        return (
            <p class="request-state pending" role="status">
                <span class="spinner" aria-hidden="true" /> {request.label || 'En cours'}…
            </p>
        );
    }
    return null;
}
