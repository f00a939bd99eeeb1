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
        // Chunks of larger files, read here; the reads run at once, and chunks that follow each other in one
        // file are read as one piece (each read is a round trip to the browser, whose cost grows with their
        // number more than with their size). Each chunk's reply says its bytes and CRC-32 (where message.crc
        // asks for it), or why it failed. With message.blobs the plaintext comes back as a Blob made here, so
        // that the page's thread need not copy it into one.
        const nStart = performance.now();
        const pieces = [];
        for (const chunk of message.chunks) {
            const last = pieces.length > 0 ? pieces[pieces.length - 1] : null;
            if (last !== null && last.file === chunk.file && last.end === chunk.start) {
                last.end = chunk.end;
            } else {
                pieces.push({file: chunk.file, start: chunk.start, end: chunk.end});
            }
        }
        for (const piece of pieces) {
            piece.read = piece.file.slice(piece.start, piece.end).arrayBuffer()
                .then((buffer) => new Uint8Array(buffer), () => null);
        }
        const replies = [];
        const transfer = [];
        let nDecrypt = 0;
        let nPiece = 0;
        for (const chunk of message.chunks) {
            while (pieces[nPiece].end < chunk.end || pieces[nPiece].start > chunk.start)
                ++nPiece;
            const piece = pieces[nPiece];
            const whole = await piece.read;
            if (whole === null) {
                replies.push({error: "read"});
            } else if (whole.length !== piece.end - piece.start) {
                replies.push({error: "shrank"});
            } else {
                const nDecryptStart = performance.now();
                const bytes = whole.subarray(chunk.start - piece.start, chunk.end - piece.start);
                if (message.blobs) {
                    replies.push({blob: engine.DecryptChunkToBlob(nCipher, bytes, chunk.start === 0)});
                } else {
                    replies.push({bytes, crc: engine.DecryptChunkCrc(nCipher, bytes, chunk.start === 0, message.crc)});
                    if (transfer.indexOf(whole.buffer) < 0)
                        transfer.push(whole.buffer);
                }
                nDecrypt += performance.now() - nDecryptStart;
            }
        }
        // Milliseconds spent here, for the page's phases.
        const times = {busy: performance.now() - nStart, decrypt: nDecrypt};
        return {type: "chunks", id: message.id, replies, transfer, times};
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
