// The WebAssembly core in node, against ciphertext and plaintext made by the openssl command line.
// Usage: node --test tests/web/engine.test.js, with BRASKO_WEB_BUILD naming the build folder.
"use strict";

const assert = require("node:assert/strict");
const {execFileSync} = require("node:child_process");
const crypto = require("node:crypto");
const fs = require("node:fs");
const path = require("node:path");
const test = require("node:test");

const buildDir = process.env.BRASKO_WEB_BUILD || path.join(__dirname, "../../build-web");
const {CEngine, kKernelU64, kKernelSimd128} = require("../../web/page/engine.js");
const {CZipWriter} = require("../../web/page/zip.js");
const {CBlobTarget} = require("../../web/page/targets.js");

function Blanked(text) {
    return Buffer.concat([Buffer.from(text, "latin1"), Buffer.alloc(24, 0x20)]).subarray(0, 24);
}

// openssl enc on whole blocks; "-d" or "-e".
function OpenSsl(strDirection, key, data) {
    if (data.length === 0)
        return Buffer.alloc(0);
    return execFileSync("openssl", ["enc", strDirection, "-des-ede3", "-nopad", "-K", key.toString("hex")],
        {input: data, maxBuffer: 1 << 28});
}

// The old tool's plaintext: whole blocks as openssl decrypts them; a short final chunk laid over the
// previous plaintext block (zeros before the first), that block decrypted, its first bytes kept.
function Expected(key, cipher) {
    const nWhole = cipher.length - (cipher.length % 8);
    const whole = OpenSsl("-d", key, cipher.subarray(0, nWhole));
    const nRest = cipher.length - nWhole;
    if (nRest === 0)
        return whole;
    const block = nWhole > 0 ? Buffer.from(whole.subarray(nWhole - 8)) : Buffer.alloc(8);
    cipher.copy(block, 0, nWhole);
    return Buffer.concat([whole, OpenSsl("-d", key, block).subarray(0, nRest)]);
}

const builds = {};
async function Engine(strFlavour) {
    if (!builds[strFlavour]) {
        const bytes = fs.readFileSync(path.join(buildDir, "brasko-core-" + strFlavour + ".wasm"));
        builds[strFlavour] = await CEngine.Create(await WebAssembly.compile(bytes));
    }
    return builds[strFlavour];
}

// Each kernel of each build: the SIMD build has both, the portable build the 64-bit one only.
const kKernels = [
    {flavour: "u64", kernel: kKernelU64},
    {flavour: "simd", kernel: kKernelU64},
    {flavour: "simd", kernel: kKernelSimd128},
];

// Decrypts a whole file as the page does: cut by ChunkEnd, each chunk on its own cipher call.
function DecryptLikePage(engine, nCipher, cipher, nChunkSize) {
    const out = Buffer.alloc(cipher.length);
    let nOffset = 0;
    do {
        const nEnd = engine.ChunkEnd(nOffset, cipher.length, nChunkSize);
        const chunk = new Uint8Array(cipher.subarray(nOffset, nEnd));
        engine.DecryptChunk(nCipher, chunk, nOffset === 0);
        out.set(chunk, nOffset);
        nOffset = nEnd;
    } while (nOffset < cipher.length);
    return out;
}

test("Kernels_PassTheirSelfTestAndBuildsOfferTheRightOnes", async () => {
    assert.deepEqual((await Engine("u64")).Kernels(), [kKernelU64]);
    assert.deepEqual((await Engine("simd")).Kernels(), [kKernelU64, kKernelSimd128]);
    for (const {flavour, kernel} of kKernels)
        assert.ok((await Engine(flavour)).SelfTest(kernel), flavour + "/" + kernel);
    assert.equal((await Engine("simd")).ChooseKernel(), kKernelSimd128);
});

test("DecryptChunk_MatchesOpensslAroundBlockBatchAndChunkEdges", async () => {
    const key = Blanked("Passwort");
    const nChunk = 4096;
    const big = crypto.randomBytes(3 * nChunk + 64);
    // Batches are 64 blocks (512 bytes) in the 64-bit kernel and 128 (1024 bytes) in the SIMD one.
    const sizes = [0, 1, 7, 8, 9, 13, 504, 511, 512, 513, 519, 520, 1016, 1023, 1024, 1025, 1031, 1032,
        nChunk - 8, nChunk - 1, nChunk, nChunk + 1, nChunk + 7, nChunk + 8, 2 * nChunk + 5, 3 * nChunk + 61];
    for (const nSize of sizes) {
        const cipher = big.subarray(0, nSize);
        const expected = Expected(key, cipher);
        for (const {flavour, kernel} of kKernels) {
            const engine = await Engine(flavour);
            const nCipher = engine.OpenCipher("Passwort", kernel);
            try {
                const actual = DecryptLikePage(engine, nCipher, cipher, nChunk);
                assert.ok(actual.equals(expected), `size ${nSize}, ${flavour}/${kernel}`);
            } finally {
                engine.CloseCipher(nCipher);
            }
        }
    }
});

test("OpenCipher_UsesKeyOfPassword", async () => {
    // Each password with the key the old tool builds from it, written out.
    const cases = [
        ["", Blanked("")],
        ["kurz", Blanked("kurz")],
        ["genau8ch", Blanked("genau8ch")],
        ["neun Zei.", Blanked("neun Zei.")],
        ["vierundzwanzig Zeichen!!", Blanked("vierundzwanzig Zeichen!!")],
        ["vierundzwanzig Zeichen!! und mehr", Blanked("vierundzwanzig Zeichen!!")],
        ["Müller", Blanked("M?ller")],
        ["Größe ß", Blanked("Gr??e ?")],
        ["€uro", Blanked("?uro")],
        ["😀x", Blanked("?x")],
    ];
    const plain = crypto.randomBytes(8 * 200);
    for (const [strPassword, key] of cases) {
        const cipher = OpenSsl("-e", key, plain);
        for (const {flavour, kernel} of kKernels) {
            const engine = await Engine(flavour);
            const nCipher = engine.OpenCipher(strPassword, kernel);
            const bytes = new Uint8Array(cipher);
            engine.DecryptChunk(nCipher, bytes, true);
            engine.CloseCipher(nCipher);
            assert.ok(Buffer.from(bytes).equals(plain), `"${strPassword}" ${flavour}/${kernel}`);
        }
    }
});

test("ChunkEnd_NeverLeavesAShortFinalChunkAlone", async () => {
    const engine = await Engine("u64");
    for (const nSize of [0, 5, 8, 4095, 4096, 4097, 4103, 4104, 8192 + 3]) {
        const chunks = [];
        let nOffset = 0;
        while (nOffset < nSize) {
            const nEnd = engine.ChunkEnd(nOffset, nSize, 4096);
            chunks.push([nOffset, nEnd]);
            nOffset = nEnd;
        }
        for (const [nStart, nEnd] of chunks.slice(0, -1))
            assert.equal((nEnd - nStart) % 8, 0, `size ${nSize}`);
        if (nSize >= 8)
            assert.ok(chunks[chunks.length - 1][1] - chunks[chunks.length - 1][0] >= 8, `size ${nSize}`);
    }
});

test("Judge_TellsRandomFromRealContent", async () => {
    const engine = await Engine("u64");
    const text = Buffer.from("Sehr geehrte Damen und Herren,\n".repeat(100));
    assert.equal(engine.Judge(text).verdict, "plausible");
    assert.equal(engine.Judge(text).description, "Text (ASCII)");
    assert.equal(engine.Judge(crypto.randomBytes(4096)).verdict, "random");
    assert.equal(engine.Judge(Buffer.from("kurz")).verdict, "short");
    // A wrong password turns a text into random-looking bytes.
    const key = Blanked("richtig");
    const cipher = OpenSsl("-e", key, text.subarray(0, text.length - (text.length % 8)));
    const nCipher = engine.OpenCipher("falsch", kKernelU64);
    const bytes = new Uint8Array(cipher);
    engine.DecryptChunk(nCipher, bytes, true);
    engine.CloseCipher(nCipher);
    assert.equal(engine.Judge(bytes).verdict, "random");
});

test("PlanBatch_NamesOutputsAndRefusesOneThatReplacesAnInput", async () => {
    const engine = await Engine("u64");
    const plan = engine.PlanBatch({prefix: "e_", suffix: "", extension: ""},
        ["bericht.xls", "e_bericht.xls", "sub/archiv.tar.gz", ".profile", "README"]);
    assert.deepEqual(plan.outputs, ["e_bericht.xls", "e_e_bericht.xls", "sub/e_archiv.tar.gz", "e_.profile", "e_README"]);
    assert.deepEqual(plan.verdicts, ["replaces-input", "decrypt", "decrypt", "decrypt", "decrypt"]);
    assert.ok(!engine.HasTemplate({prefix: "", suffix: "", extension: ""}));
    assert.ok(engine.HasTemplate({prefix: "", suffix: " ", extension: ""}));
});

test("Message_GivesTheBatchTextsExactly", async () => {
    const engine = await Engine("u64");
    assert.equal(engine.Message("not-found", "a b.bin"), "Die Datei 'a b.bin' kann nicht gefunden werden !");
    assert.equal(engine.Message("succeeded"), "Die Entschlüsselung wurde erfolgreich beendet !");
    assert.equal(engine.Message("template-empty"), "Bitte geben Sie mindestens eine Vorlage für die Ausgabedatei an.");
    assert.equal(engine.Message("password-wrong", "x"),
        "Mit diesem Kennwort ergibt die Datei 'x' keinen erkennbaren Inhalt. Ist das Kennwort richtig? Trotzdem entschlüsseln?");
    assert.equal(engine.Message("download-too-large", "", "e_a.bin"),
        "Die Ausgabedatei 'e_a.bin' ist zu groß, um in diesem Browser als Download bereitgestellt zu werden, und " +
        "wurde nicht geschrieben !");
});

test("Crc32_MatchesCheckValueAndCombinesPieces", async () => {
    const engine = await Engine("simd");
    assert.equal(engine.Crc32(0, Buffer.from("123456789")), 0xcbf43926);
    const data = crypto.randomBytes(10000);
    const nWhole = engine.Crc32(0, data);
    for (const nSplit of [0, 1, 7, 4096, 9999, 10000]) {
        const a = engine.Crc32(0, data.subarray(0, nSplit));
        const b = engine.Crc32(0, data.subarray(nSplit));
        assert.equal(engine.Crc32Combine(a, b, 10000 - nSplit), nWhole, `split ${nSplit}`);
    }
});

// The archive as the page streams it: entries in chunks, a small piece size so that headers are patched
// both while pending and after they were handed on, and entries that failed midway cut off again.
test("ZipWriter_ArchivePassesUnzipAndHoldsTheCompleteEntries", async (t) => {
    const engine = await Engine("u64");
    const dir = fs.mkdtempSync(path.join(require("node:os").tmpdir(), "brasko-zip-"));
    t.after(() => fs.rmSync(dir, {recursive: true, force: true}));
    const entries = [
        {name: "e_bericht.xls", data: crypto.randomBytes(70000), chunk: 4096},
        {name: "gescheitert.bin", data: crypto.randomBytes(5000), chunk: 1000, failAfter: 3},
        {name: "Ordner/e_Größe.txt", data: Buffer.from("Inhalt\n"), chunk: 4096},
        {name: "früh gescheitert", data: crypto.randomBytes(300), chunk: 100, failAfter: 0},
        {name: "leer", data: Buffer.alloc(0), chunk: 4096},
        {name: "zuletzt gescheitert", data: crypto.randomBytes(100000), chunk: 30000, failAfter: 2},
    ];
    const zip = new CZipWriter(new CBlobTarget("application/zip", 16384));
    for (const entry of entries) {
        await zip.Begin(entry.name, entry.data.length, Date.UTC(2024, 5, 1));
        let nCrc = 0;
        let nChunks = 0;
        for (let n = 0; n < entry.data.length && nChunks !== entry.failAfter; n += entry.chunk, ++nChunks) {
            const piece = new Uint8Array(entry.data.subarray(n, n + entry.chunk));
            await zip.Data(piece);
            nCrc = engine.Crc32Combine(nCrc, engine.Crc32(0, piece), piece.length);
            piece.fill(0); // the page wipes each chunk once written
        }
        if (entry.failAfter === undefined)
            await zip.End(nCrc);
        else
            await zip.Drop();
    }
    assert.equal(zip.Count(), 3);
    const archive = path.join(dir, "entschluesselt.zip");
    fs.writeFileSync(archive, Buffer.from(await (await zip.Finish()).arrayBuffer()));
    execFileSync("unzip", ["-tq", archive]);
    execFileSync("unzip", ["-q", archive, "-d", path.join(dir, "out")]);
    const complete = entries.filter((entry) => entry.failAfter === undefined);
    const listed = execFileSync("zipinfo", ["-1", archive], {encoding: "utf8"}).trim().split("\n");
    assert.deepEqual(listed, complete.map((entry) => entry.name));
    for (const entry of complete)
        assert.ok(fs.readFileSync(path.join(dir, "out", entry.name)).equals(entry.data), entry.name);
    // Nothing of a failed entry stays in the file, not even outside the directory.
    const bytes = fs.readFileSync(archive);
    for (const entry of entries.filter((e) => e.failAfter > 0))
        assert.equal(bytes.indexOf(entry.data.subarray(0, 64)), -1, entry.name);
});

// Writes, patches and cuts in every combination of pending and handed-on bytes give the bytes a plain
// array would hold.
test("BlobTarget_PatchAndTruncateAcrossPieces", async () => {
    const kPiece = 16;
    const cases = [
        {name: "patch pending", ops: [["w", 5], ["p", 1, 3], ["w", 4]]},
        {name: "patch handed on", ops: [["w", 7], ["w", 7], ["w", 7], ["p", 8, 4], ["w", 3]]},
        {name: "patch in a large write", ops: [["w", 3], ["w", 40], ["p", 20, 4], ["w", 2]]},
        {name: "cut pending", ops: [["w", 5], ["w", 5], ["t", 5], ["w", 2]]},
        {name: "cut into a piece", ops: [["w", 10], ["w", 10], ["w", 10], ["t", 4], ["w", 6]]},
        {name: "cut to nothing", ops: [["w", 30], ["w", 9], ["t", 0], ["w", 9]]},
        {name: "cut at a piece's start", ops: [["w", 10], ["w", 10], ["w", 10], ["t", 10], ["p", 2, 3]]},
    ];
    for (const {name, ops} of cases) {
        const target = new CBlobTarget("application/octet-stream", kPiece);
        let model = Buffer.alloc(0);
        for (const [op, a, b] of ops) {
            if (op === "w") {
                const bytes = crypto.randomBytes(a);
                await target.Write(new Uint8Array(bytes));
                model = Buffer.concat([model, bytes]);
            } else if (op === "p") {
                const bytes = crypto.randomBytes(b);
                await target.Patch(a, new Uint8Array(bytes));
                bytes.copy(model, a);
            } else {
                await target.Truncate(a);
                model = model.subarray(0, a);
            }
            assert.equal(target.Position(), model.length, name);
        }
        const written = Buffer.from(await (await target.Close()).arrayBuffer());
        assert.ok(written.equals(model), name);
    }
});
