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
        engine.WipeScratch();
        return {type: "closed", id: message.id};
    case "wholes": {
        // Small files the page has read whole, several in one message, handed over and back by transfer.
        const replies = message.buffers.map((buffer) => {
            const bytes = new Uint8Array(buffer);
            return {bytes, crc: bytes.length > 0 ? engine.DecryptChunkCrc(nCipher, bytes, true) : 0};
        });
        return {type: "wholes", id: message.id, replies, transfer: message.buffers};
    }
    case "chunks": {
        // Chunks of larger files, read here; the reads run at once. Each chunk's reply says its bytes and
        // CRC-32, or why it failed.
        const reads = message.chunks.map((chunk) => chunk.file.slice(chunk.start, chunk.end).arrayBuffer()
            .then((buffer) => new Uint8Array(buffer), () => null));
        const replies = [];
        const transfer = [];
        for (let i = 0; i < reads.length; ++i) {
            const chunk = message.chunks[i];
            const bytes = await reads[i];
            if (bytes === null) {
                replies.push({error: "read"});
            } else if (bytes.length !== chunk.end - chunk.start) {
                replies.push({error: "shrank"});
            } else {
                replies.push({bytes, crc: engine.DecryptChunkCrc(nCipher, bytes, chunk.start === 0)});
                transfer.push(bytes.buffer);
            }
        }
        return {type: "chunks", id: message.id, replies, transfer};
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
