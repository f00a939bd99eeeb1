// Where an output's bytes go, in order: a file through a writable stream (a file chosen with the save picker,
// or a file of a granted folder), or Blob pieces for a download. Small writes are gathered in one buffer and
// handed on in pieces of kPieceSize: every piece handed on costs a round trip to the browser, and thousands
// of small files would otherwise spend their time there. A position already written can be patched (the
// CRC in a ZIP entry's header) and the end cut back (an entry that failed), so that nothing half-written
// remains.
(function (root) {
    "use strict";

    const kPieceSize = 4 << 20;
    const kCheckEvery = 32 << 20;

    // The browser would not keep the output (a Blob piece it refused): nothing of it can be downloaded.
    class CRefusedError extends Error {
        constructor() {
            super("the browser refused to store the output");
            this.name = "RefusedError";
        }
    }

    class CByteTarget {
        constructor(nPieceSize = kPieceSize) {
            this.m_pending = new Uint8Array(nPieceSize);
            this.m_nPending = 0;
            this.m_nFlushed = 0; // bytes handed on before the pending ones
        }

        Position() {
            return this.m_nFlushed + this.m_nPending;
        }

        // The bytes are copied or handed on before this resolves: the caller may wipe them afterwards. A Blob
        // (a chunk a worker made into one) is handed on as it is.
        async Write(bytes) {
            if (bytes instanceof Blob) {
                await this.Flush();
                await this.Put(bytes);
                this.m_nFlushed += bytes.size;
                return;
            }
            if (this.m_nPending + bytes.length > this.m_pending.length || bytes.length >= this.m_pending.length / 2)
                await this.Flush();
            if (bytes.length >= this.m_pending.length / 2) {
                await this.Put(bytes);
                this.m_nFlushed += bytes.length;
                return;
            }
            this.m_pending.set(bytes, this.m_nPending);
            this.m_nPending += bytes.length;
        }

        async Flush() {
            if (this.m_nPending === 0)
                return;
            await this.Put(this.m_pending.subarray(0, this.m_nPending));
            this.m_nFlushed += this.m_nPending;
            this.m_nPending = 0;
        }

        // Overwrites bytes written before, within what one Write wrote.
        async Patch(nPosition, bytes) {
            if (nPosition >= this.m_nFlushed)
                this.m_pending.set(bytes, nPosition - this.m_nFlushed);
            else
                await this.PutAt(nPosition, bytes);
        }

        // Drops everything from nPosition on.
        async Truncate(nPosition) {
            if (nPosition >= this.m_nFlushed) {
                this.m_pending.fill(0, nPosition - this.m_nFlushed, this.m_nPending);
                this.m_nPending = nPosition - this.m_nFlushed;
                return;
            }
            this.m_pending.fill(0, 0, this.m_nPending);
            this.m_nPending = 0;
            await this.Cut(nPosition);
            this.m_nFlushed = nPosition;
        }

        // Hands on the rest; what the target gives when complete (a Blob, or nothing).
        async Close() {
            try {
                await this.Flush();
            } finally {
                this.m_pending.fill(0);
            }
            return this.Done();
        }

        async Abort() {
            this.m_pending.fill(0);
            this.m_nPending = 0;
            await this.Drop();
        }
    }

    // Blob pieces, which the browser keeps in its blob store; Close gives the whole as one Blob for a
    // download. The store may refuse a piece: Chromium, until it has worked out its store's limits (a
    // background task after the browser starts, late on a busy machine), keeps at most 500 MiB and nothing
    // on disk, and a Blob made of a refused piece downloads nothing, without an error. So a piece is read back by its
    // last byte, which waits until the store has it or has refused it: one piece in every kCheckEvery bytes
    // while the output is written (each check costs the page's thread a little, a refusal is found soon
    // enough), and the whole when it is complete. The checks run beside the writing; the next Put after a
    // refusal and Close throw CRefusedError.
    class CBlobTarget extends CByteTarget {
        constructor(strType, nPieceSize) {
            super(nPieceSize);
            this.m_strType = strType;
            this.m_parts = [];
            this.m_starts = [];
            this.m_checks = []; // the checks not yet done
            this.m_bRefused = false;
        }
        async Put(bytes) {
            const piece = bytes instanceof Blob ? bytes : new Blob([bytes]);
            this.m_starts.push(this.m_nFlushed);
            this.m_parts.push(piece);
            const nEnd = this.m_nFlushed + piece.size;
            await this.Checked(piece, Math.floor(this.m_nFlushed / kCheckEvery) !== Math.floor(nEnd / kCheckEvery));
        }
        // Throws if a piece put before was refused, then starts this one's check where one is due.
        async Checked(piece, bDue) {
            if (this.m_bRefused)
                throw new CRefusedError();
            if (!bDue || piece.size === 0)
                return;
            const check = piece.slice(piece.size - 1).arrayBuffer().then(() => {}, () => {
                this.m_bRefused = true;
            });
            this.m_checks.push(check);
            check.then(() => this.m_checks.splice(this.m_checks.indexOf(check), 1));
        }
        // A piece is never changed: the one that holds the position is replaced by slices of it around
        // the new bytes (slices share the stored data).
        async PutAt(nPosition, bytes) {
            let i = this.m_parts.length - 1;
            while (this.m_starts[i] > nPosition)
                --i;
            const part = this.m_parts[i];
            const nOffset = nPosition - this.m_starts[i];
            this.m_parts[i] = new Blob([part.slice(0, nOffset), bytes, part.slice(nOffset + bytes.length)]);
        }
        async Cut(nPosition) {
            while (this.m_parts.length > 0 && this.m_starts[this.m_starts.length - 1] >= nPosition) {
                this.m_parts.pop();
                this.m_starts.pop();
            }
            const i = this.m_parts.length - 1;
            if (i >= 0)
                this.m_parts[i] = this.m_parts[i].slice(0, nPosition - this.m_starts[i]);
        }
        async Done() {
            const blob = new Blob(this.m_parts, {type: this.m_strType});
            await this.Checked(blob, true);
            await Promise.all(this.m_checks);
            if (this.m_bRefused)
                throw new CRefusedError();
            return blob;
        }
        async Drop() {
            this.m_parts = [];
            this.m_starts = [];
            this.m_checks = [];
        }
    }

    // A FileSystemWritableFileStream: the browser writes into a temporary file and puts it in place only on
    // close, so that Abort (or a closed page) leaves no output and an older file untouched.
    class CWritableTarget extends CByteTarget {
        constructor(writable, nPieceSize) {
            super(nPieceSize);
            this.m_writable = writable;
        }
        async Put(bytes) {
            await this.m_writable.write(bytes);
        }
        async PutAt(nPosition, bytes) {
            await this.m_writable.write({type: "write", position: nPosition, data: bytes});
            await this.m_writable.write({type: "seek", position: this.m_nFlushed});
        }
        async Cut(nPosition) {
            await this.m_writable.truncate(nPosition);
            await this.m_writable.write({type: "seek", position: nPosition});
        }
        async Done() {
            await this.m_writable.close();
            return null;
        }
        async Drop() {
            try {
                await this.m_writable.abort();
            } catch (error) {
                // Nothing was put in place.
            }
        }
    }

    root.BraskoTargets = {CByteTarget, CBlobTarget, CWritableTarget, CRefusedError, kPieceSize};
    if (typeof module !== "undefined" && module.exports)
        module.exports = root.BraskoTargets;
})(typeof self !== "undefined" ? self : globalThis);
