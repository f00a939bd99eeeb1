#!/usr/bin/env node
// Inlines the page: both WebAssembly builds as base64, the scripts and the styles, into one HTML file with
// a Content-Security-Policy that allows exactly these inline pieces (by hash), WebAssembly, workers made
// from the page's own script, and no connection of any kind.
"use strict";

const crypto = require("crypto");
const fs = require("fs");
const path = require("path");

function Arguments(argv) {
    const args = {};
    for (let i = 2; i + 1 < argv.length; i += 2)
        args[argv[i].replace(/^--/, "")] = argv[i + 1];
    for (const key of ["page", "simd", "u64", "version", "out"]) {
        if (!args[key])
            throw new Error("bundle.js: --" + key + " is missing");
    }
    return args;
}

// Text placed inside <script> or <style> must not close it early.
function Guarded(text, strTag) {
    if (text.toLowerCase().includes("</" + strTag))
        throw new Error("bundle.js: inlined text contains </" + strTag);
    return text;
}

function Hash(text) {
    return "'sha256-" + crypto.createHash("sha256").update(text, "utf8").digest("base64") + "'";
}

function Main() {
    const args = Arguments(process.argv);
    const read = (name) => fs.readFileSync(path.join(args.page, name), "utf8");
    const wasm = (file) => fs.readFileSync(file).toString("base64");

    const script = Guarded(
        "const BRASKO_WASM_SIMD = \"" + wasm(args.simd) + "\";\n" +
        "const BRASKO_WASM_U64 = \"" + wasm(args.u64) + "\";\n" +
        read("engine.js") + "\n" + read("targets.js") + "\n" + read("zip.js") + "\n" + read("app.js"),
        "script");
    const worker = Guarded(read("engine.js") + "\n" + read("worker.js"), "script");
    const style = Guarded(read("style.css"), "style");
    const csp = [
        "default-src 'none'",
        "script-src " + Hash(script) + " 'wasm-unsafe-eval'",
        "style-src " + Hash(style),
        "worker-src blob:",
        "img-src data:",
        "connect-src 'none'",
        "form-action 'none'",
        "base-uri 'none'",
    ].join("; ");
    const title = "Brasko Decrypter. Version " + args.version;

    const replacements = {"@CSP@": csp, "@TITLE@": title, "@STYLE@": style, "@WORKER@": worker, "@SCRIPT@": script};
    const html = read("index.html").replace(/@(CSP|TITLE|STYLE|WORKER|SCRIPT)@/g, (key) => replacements[key]);
    fs.writeFileSync(args.out + ".tmp", html);
    fs.renameSync(args.out + ".tmp", args.out);
}

Main();
