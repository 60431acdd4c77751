#!/usr/bin/env node
// Checks Lottie documents written by Tessivo.
//
//   node validate.mjs FILE...
//
// Each file is validated against the community Lottie JSON schema. The schema
// has no text layer type (a text layer passes as an "unknown" layer without
// further checks), so the text layer is also validated a second time as a null
// layer, which makes the schema check its transform and keyframes; then the
// keys a player needs to draw text are checked by hand. Prints one line per
// problem and exits with status 1 when any file fails, 0 otherwise.
import { createRequire } from "node:module";
import fs from "node:fs";

const require = createRequire(import.meta.url);
const { LottieValidator, get_schema_path } = require("@lottie-animation-community/lottie-specs/src/validator-node.js");
const { Ajv2020 } = require("ajv/dist/2020");

const schema = JSON.parse(fs.readFileSync(get_schema_path(), "utf8"));
const validator = new LottieValidator(Ajv2020, schema);

function schemaErrors(document) {
    return validator.validate(JSON.stringify(document), false)
        .filter((e) => e.type === "error")
        .map((e) => `${e.path || ""} ${e.message}`.trim());
}

function isObject(value) {
    return typeof value === "object" && value !== null && !Array.isArray(value);
}

function isColor(value) {
    return Array.isArray(value) && value.length >= 3 && value.every((c) => typeof c === "number" && c >= 0 && c <= 1);
}

function textErrors(document) {
    const errors = [];
    const layers = Array.isArray(document.layers) ? document.layers : [];
    const textLayers = layers.filter((layer) => isObject(layer) && layer.ty === 5);
    if (textLayers.length === 0) errors.push("no text layer (ty 5)");
    const fonts = isObject(document.fonts) && Array.isArray(document.fonts.list) ? document.fonts.list : [];
    if (fonts.length === 0) errors.push("fonts.list is missing or empty");
    for (const font of fonts) {
        for (const key of ["fName", "fFamily", "fStyle"])
            if (typeof font[key] !== "string") errors.push(`fonts.list entry lacks ${key}`);
    }
    const fontNames = new Set(fonts.map((f) => f.fName));
    for (const layer of textLayers) {
        const t = layer.t;
        if (!isObject(t)) {
            errors.push("text layer lacks t");
            continue;
        }
        if (!Array.isArray(t.a)) errors.push("text layer t.a (animators) is not a list");
        if (!isObject(t.p)) errors.push("text layer t.p (path options) is not an object");
        if (!isObject(t.m)) errors.push("text layer t.m (more options) is not an object");
        const keyframes = isObject(t.d) && Array.isArray(t.d.k) ? t.d.k : null;
        if (!keyframes || keyframes.length === 0) {
            errors.push("text layer t.d.k has no keyframe");
            continue;
        }
        for (const keyframe of keyframes) {
            if (typeof keyframe.t !== "number") errors.push("text keyframe lacks its time t");
            const doc = keyframe.s;
            if (!isObject(doc)) {
                errors.push("text keyframe lacks its document s");
                continue;
            }
            if (typeof doc.f !== "string") errors.push("text document f is not a string");
            else if (!fontNames.has(doc.f)) errors.push(`text document font ${doc.f} is not in fonts.list`);
            if (typeof doc.s !== "number" || !(doc.s > 0)) errors.push("text document s is not a positive size");
            if (typeof doc.t !== "string") errors.push("text document t is not a string");
            if (!isColor(doc.fc)) errors.push("text document fc is not a colour");
            if ("sc" in doc && !isColor(doc.sc)) errors.push("text document sc is not a colour");
            if ("sw" in doc && !(typeof doc.sw === "number" && doc.sw > 0)) errors.push("text document sw is not positive");
        }
    }
    return errors;
}

let failed = false;
const files = process.argv.slice(2);
if (files.length === 0) {
    console.error("usage: node validate.mjs FILE...");
    process.exit(2);
}
for (const file of files) {
    let document;
    try {
        document = JSON.parse(fs.readFileSync(file, "utf8"));
    } catch (error) {
        console.log(`${file}: not readable JSON: ${error.message}`);
        failed = true;
        continue;
    }
    const problems = schemaErrors(document);
    if (isObject(document) && Array.isArray(document.layers)) {
        const asNullLayers = structuredClone(document);
        for (const layer of asNullLayers.layers) {
            if (isObject(layer) && layer.ty === 5) {
                layer.ty = 3;
                delete layer.t;
            }
        }
        for (const error of schemaErrors(asNullLayers)) problems.push(`(as null layer) ${error}`);
    }
    problems.push(...textErrors(document));
    for (const problem of problems) console.log(`${file}: ${problem}`);
    if (problems.length > 0) failed = true;
}
process.exit(failed ? 1 : 0);
