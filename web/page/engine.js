// The WebAssembly core (cipher, check, naming) as the page, its workers and the node tests see it. Every
// rule lives in the C++; this file only moves bytes and strings in and out of the module's memory.
(function (root) {
    "use strict";

    const kKernelU64 = 0;
    const kKernelSimd128 = 1;
    const kKernelNames = ["u64", "simd128"];
    const utf8Encoder = new TextEncoder();
    const utf8Decoder = new TextDecoder("utf-8");

    // A build without SIMD128 instructions runs everywhere; the other only where the engine validates it.
    function SupportsSimd128(simdBytes) {
        return typeof WebAssembly.validate === "function" && WebAssembly.validate(simdBytes);
    }

    // The module's imports: memory growth needs no action (views are made afresh for every call), and the
    // C++ aborts only on a broken invariant, which becomes a JavaScript exception.
    function Imports() {
        const fail = () => {
            throw new Error("WebAssembly abort");
        };
        return {
            env: {emscripten_notify_memory_growth: () => {}, abort: fail},
            wasi_snapshot_preview1: {proc_exit: fail, fd_write: fail, fd_close: fail, fd_seek: fail},
        };
    }

    class CEngine {
        constructor(instance) {
            this.m_exports = instance.exports;
            this.m_nScratch = 0;
            this.m_nScratchSize = 0;
            if (typeof this.m_exports._initialize === "function")
                this.m_exports._initialize();
        }

        static async Create(module) {
            return new CEngine(await WebAssembly.instantiate(module, Imports()));
        }

        Bytes() {
            return new Uint8Array(this.m_exports.memory.buffer);
        }

        // Copies bytes into fresh module memory; the caller frees it with Free.
        Put(bytes) {
            const nPtr = this.m_exports.bd_alloc(Math.max(1, bytes.length));
            if (nPtr === 0)
                throw new RangeError("out of memory");
            this.Bytes().set(bytes, nPtr);
            return nPtr;
        }

        // Wipes and frees.
        Free(nPtr, nLength) {
            this.m_exports.bd_wipe_free(nPtr, nLength);
        }

        // Calls fn with (ptr, len) pairs for the given strings, freed (and wiped) afterwards.
        WithStrings(strings, fn) {
            const encoded = strings.map((s) => utf8Encoder.encode(s));
            const ptrs = encoded.map((b) => this.Put(b));
            try {
                const args = [];
                encoded.forEach((b, i) => args.push(ptrs[i], b.length));
                return fn(...args);
            } finally {
                encoded.forEach((b, i) => {
                    this.Free(ptrs[i], b.length);
                    b.fill(0);
                });
            }
        }

        // The text the last call left in the module's result buffer.
        Result() {
            const nPtr = this.m_exports.bd_result_ptr();
            const nLen = this.m_exports.bd_result_len();
            return utf8Decoder.decode(this.Bytes().slice(nPtr, nPtr + nLen));
        }

        Kernels() {
            const list = [];
            for (let k = 0; k < kKernelNames.length; ++k) {
                if (this.m_exports.bd_has_kernel(k))
                    list.push(k);
            }
            return list;
        }

        SelfTest(nKernel) {
            return this.m_exports.bd_self_test(nKernel) === 1;
        }

        // The widest kernel that passes its known-answer test; -1 when none does.
        ChooseKernel() {
            const kernels = this.Kernels().sort((a, b) => b - a);
            for (const k of kernels) {
                if (this.SelfTest(k))
                    return k;
            }
            return -1;
        }

        // A cipher for the password (a string, or its UTF-8 bytes, which are wiped here) under the kernel;
        // the key lives in the module until CloseCipher wipes it.
        OpenCipher(password, nKernel) {
            const bytes = typeof password === "string" ? utf8Encoder.encode(password) : password;
            const nPtr = this.Put(bytes);
            try {
                const nHandle = this.m_exports.bd_cipher_open(nPtr, bytes.length, nKernel);
                if (nHandle === 0)
                    throw new Error("cipher set-up failed");
                return nHandle;
            } finally {
                this.Free(nPtr, bytes.length);
                bytes.fill(0);
            }
        }

        CloseCipher(nHandle) {
            this.m_exports.bd_cipher_close(nHandle);
        }

        // Where the chunk that starts at nOffset of a file of nSize bytes ends.
        ChunkEnd(nOffset, nSize, nChunkSize) {
            return this.m_exports.bd_chunk_end(nOffset, nSize, nChunkSize);
        }

        // Decrypts one chunk (as ChunkEnd cut it) in place; bytes is a Uint8Array.
        DecryptChunk(nHandle, bytes, bFileStart) {
            const nPtr = this.Put(bytes);
            try {
                if (this.m_exports.bd_decrypt_chunk(nHandle, nPtr, bytes.length, bFileStart ? 1 : 0) !== 1)
                    throw new Error("decryption failed");
                bytes.set(this.Bytes().subarray(nPtr, nPtr + bytes.length));
            } finally {
                this.Free(nPtr, bytes.length);
            }
        }

        // Decrypts one chunk in place, as DecryptChunk, in a buffer of the module kept from call to call
        // (WipeScratch wipes it), and gives the CRC-32 of the plaintext (0 without bCrc): one copy in, one
        // out.
        DecryptChunkCrc(nHandle, bytes, bFileStart, bCrc = true) {
            const nPtr = this.DecryptInScratch(nHandle, bytes, bFileStart);
            bytes.set(this.Bytes().subarray(nPtr, nPtr + bytes.length));
            return bCrc ? this.m_exports.bd_crc32(0, nPtr, bytes.length) >>> 0 : 0;
        }

        // Decrypts one chunk, as DecryptChunk, in the kept buffer of the module, and gives the plaintext as a
        // Blob made from there: the chunk's own bytes keep the ciphertext, nothing to copy back or wipe.
        DecryptChunkToBlob(nHandle, bytes, bFileStart) {
            const nPtr = this.DecryptInScratch(nHandle, bytes, bFileStart);
            return new Blob([this.Bytes().subarray(nPtr, nPtr + bytes.length)]);
        }

        // Copies the chunk into the kept buffer and decrypts it there; gives where the plaintext is.
        DecryptInScratch(nHandle, bytes, bFileStart) {
            const nPtr = this.Scratch(bytes.length);
            this.Bytes().set(bytes, nPtr);
            if (this.m_exports.bd_decrypt_chunk(nHandle, nPtr, bytes.length, bFileStart ? 1 : 0) !== 1)
                throw new Error("decryption failed");
            return nPtr;
        }

        // The buffer of the module kept from call to call, at least nLength bytes.
        Scratch(nLength) {
            if (this.m_nScratchSize < nLength) {
                this.WipeScratch();
                this.m_nScratch = this.m_exports.bd_alloc(nLength);
                if (this.m_nScratch === 0)
                    throw new RangeError("out of memory");
                this.m_nScratchSize = nLength;
            }
            return this.m_nScratch;
        }

        WipeScratch() {
            if (this.m_nScratch !== 0)
                this.Free(this.m_nScratch, this.m_nScratchSize);
            this.m_nScratch = 0;
            this.m_nScratchSize = 0;
        }

        // The CRC-32 of the bytes, continuing from nCrc.
        Crc32(nCrc, bytes) {
            const nPtr = this.Put(bytes);
            try {
                return this.m_exports.bd_crc32(nCrc, nPtr, bytes.length) >>> 0;
            } finally {
                this.Free(nPtr, bytes.length);
            }
        }

        // The CRC-32 of two pieces joined, from the CRC of each and the second's length.
        Crc32Combine(nCrc1, nCrc2, nLength2) {
            return this.m_exports.bd_crc32_combine(nCrc1, nCrc2, nLength2) >>> 0;
        }

        // The verdict on the start of a plaintext: {verdict: "plausible"|"random"|"short", description}.
        Judge(bytes) {
            const nPtr = this.Put(bytes);
            try {
                const nVerdict = this.m_exports.bd_judge(nPtr, bytes.length);
                return {verdict: ["none", "plausible", "random", "short"][nVerdict], description: this.Result()};
            } finally {
                this.Free(nPtr, bytes.length);
            }
        }

        SampleSize() {
            return this.m_exports.bd_sample_size();
        }

        HasTemplate(tpl) {
            return this.WithStrings([tpl.prefix, tpl.suffix, tpl.extension], (...a) => this.m_exports.bd_has_template(...a)) === 1;
        }

        // The outputs of a batch and which entries must not run: {outputs: [...], verdicts: ["decrypt" |
        // "replaces-input" | "duplicate-output"]}. Paths are relative, "/" between folders.
        PlanBatch(tpl, paths) {
            const list = paths.join("\0");
            const nCount = this.WithStrings([tpl.prefix, tpl.suffix, tpl.extension, list], (...a) =>
                this.m_exports.bd_plan(...a, paths.length));
            const text = this.Result();
            const fields = nCount > 0 ? text.split("\0") : [];
            const outputs = [];
            const verdicts = [];
            for (let i = 0; i < nCount; ++i) {
                verdicts.push(["decrypt", "replaces-input", "duplicate-output"][Number(fields[2 * i])]);
                outputs.push(fields[2 * i + 1]);
            }
            return {outputs, verdicts};
        }

        // A message of the batch by its name, with the input's and the output's path where it takes them.
        Message(strKind, strPath = "", strOutput = "") {
            const nKind = ["template-empty", "succeeded", "failed", "cancelled", "not-found", "replaces-input",
                "duplicate-output", "password-wrong", "input-shrank", "download-too-large"].indexOf(strKind);
            if (nKind < 0)
                throw new Error("unknown message " + strKind);
            this.WithStrings([strPath, strOutput], (...a) => this.m_exports.bd_message(nKind, ...a));
            return this.Result();
        }
    }

    const api = {CEngine, SupportsSimd128, kKernelU64, kKernelSimd128, kKernelNames};
    root.BraskoEngine = api;
    if (typeof module !== "undefined" && module.exports)
        module.exports = api;
})(typeof self !== "undefined" ? self : globalThis);
