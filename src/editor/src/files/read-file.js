// Reading a File the user picked or dropped, without blocking the page:
// both helpers resolve once the browser has read it, and reject with a
// French message when it cannot.

function readWith(file, method) {
    return new Promise((resolve, reject) => {
        if (!file || typeof file !== 'object') {
            reject(new Error('Aucun fichier à lire.'));
            return;
        }
        const reader = new FileReader();
        reader.onload = () => resolve(reader.result);
        reader.onerror = () => reject(new Error(`Lecture impossible de « ${file.name || 'fichier'} ».`));
        reader.onabort = () => reject(new Error(`Lecture de « ${file.name || 'fichier'} » interrompue.`));
        reader[method](file);
    });
}

// File → Uint8Array of its bytes.
export async function readFileAsBytes(file) {
    if (file && typeof file.arrayBuffer === 'function') {
        try {
            return new Uint8Array(await file.arrayBuffer());
        } catch {
            throw new Error(`Lecture impossible de « ${file.name || 'fichier'} ».`);
        }
    }
    return new Uint8Array(await readWith(file, 'readAsArrayBuffer'));
}

// File → "data:<type>;base64,..." (sound effects travel inline).
export function readFileAsDataUrl(file) {
    return readWith(file, 'readAsDataURL');
}
