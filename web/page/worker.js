// A decrypting worker: reads its chunk of a file, decrypts it in the WebAssembly core and hands the bytes
// back by transfer (no copy, no shared memory). One cipher per run; its key is wiped when the run ends.
/* global BraskoEngine */
"use strict";

let engine = null;
let nKernel = 0;
let nCipher = 0;

async function Handle(message) {
    switch (message.type) {
    case "init":
        engine = await BraskoEngine.CEngine.Create(message.module);
        nKernel = message.kernel;
        return {type: "ready", id: message.id};
    case "open":
        if (nCipher !== 0)
            engine.CloseCipher(nCipher);
        nCipher = engine.OpenCipher(new Uint8Array(message.password), nKernel);
        return {type: "opened", id: message.id};
    case "close":
        if (nCipher !== 0)
            engine.CloseCipher(nCipher);
        nCipher = 0;
        return {type: "closed", id: message.id};
    case "chunk": {
        let bytes;
        try {
            bytes = new Uint8Array(await message.file.slice(message.start, message.end).arrayBuffer());
        } catch (error) {
            return {type: "chunk", id: message.id, error: "read"};
        }
        if (bytes.length !== message.end - message.start)
            return {type: "chunk", id: message.id, error: "shrank"};
        engine.DecryptChunk(nCipher, bytes, message.start === 0);
        const nCrc = message.crc ? engine.Crc32(0, bytes) : 0;
        return {type: "chunk", id: message.id, bytes, crc: nCrc, transfer: [bytes.buffer]};
    }
    default:
        return {type: "error", id: message.id};
    }
}

self.onmessage = async (event) => {
    let reply;
    try {
        reply = await Handle(event.data);
    } catch (error) {
        reply = {type: "error", id: event.data.id};
    }
    const transfer = reply.transfer || [];
    delete reply.transfer;
    self.postMessage(reply, transfer);
};
