// A ZIP archive of stored (uncompressed) entries with UTF-8 names, written as a stream: nothing of it is
// held in script memory but the entries' names and the bytes not yet handed on. ZIP64 records are written
// where sizes, offsets or the number of entries need them.
(function (root) {
    "use strict";

    const kMax32 = 0xffffffff;
    const kMax16 = 0xffff;
    const utf8Encoder = new TextEncoder();

    class CByteWriter {
        constructor(nSize) {
            this.m_bytes = new Uint8Array(nSize);
            this.m_view = new DataView(this.m_bytes.buffer);
            this.m_nPos = 0;
        }
        U16(n) {
            this.m_view.setUint16(this.m_nPos, n, true);
            this.m_nPos += 2;
        }
        U32(n) {
            this.m_view.setUint32(this.m_nPos, n >>> 0, true);
            this.m_nPos += 4;
        }
        U64(n) {
            this.m_view.setBigUint64(this.m_nPos, BigInt(n), true);
            this.m_nPos += 8;
        }
        Bytes(b) {
            this.m_bytes.set(b, this.m_nPos);
            this.m_nPos += b.length;
        }
        Done() {
            return this.m_bytes.subarray(0, this.m_nPos);
        }
    }

    // MS-DOS date and time of a JavaScript time (local time, 2-second steps, 1980 at the earliest).
    function DosDateTime(nMillis) {
        const d = new Date(nMillis);
        if (d.getFullYear() < 1980)
            return {nDate: (0 << 9) | (1 << 5) | 1, nTime: 0};
        return {
            nDate: ((d.getFullYear() - 1980) << 9) | ((d.getMonth() + 1) << 5) | d.getDate(),
            nTime: (d.getHours() << 11) | (d.getMinutes() << 5) | (d.getSeconds() >> 1),
        };
    }

    // Writes the archive into a target (targets.js) as its entries come: an entry's header, then its data
    // as it is decrypted, its CRC-32 patched into the header when the entry is complete. A failed entry is
    // cut off again, so that the archive holds complete entries only.
    class CZipWriter {
        constructor(target) {
            this.m_target = target;
            this.m_entries = [];
            this.m_current = null;
        }

        // Starts an entry: its name (relative path, "/" between folders), its length in bytes and its
        // modification time in milliseconds.
        async Begin(strName, nSize, nMillis) {
            const name = utf8Encoder.encode(strName);
            const nOffset = this.m_target.Position();
            const bZip64 = nSize >= kMax32 || nOffset >= kMax32;
            const {nDate, nTime} = DosDateTime(nMillis);
            const header = new CByteWriter(30 + name.length + 20);
            header.U32(0x04034b50);
            header.U16(bZip64 ? 45 : 10); // version needed
            header.U16(0x0800); // UTF-8 names
            header.U16(0); // stored
            header.U16(nTime);
            header.U16(nDate);
            header.U32(0); // the CRC-32, patched by End
            header.U32(bZip64 ? kMax32 : nSize);
            header.U32(bZip64 ? kMax32 : nSize);
            header.U16(name.length);
            header.U16(bZip64 ? 20 : 0);
            header.Bytes(name);
            if (bZip64) {
                header.U16(0x0001);
                header.U16(16);
                header.U64(nSize);
                header.U64(nSize);
            }
            await this.m_target.Write(header.Done());
            this.m_current = {name, nSize, nCrc: 0, nDate, nTime, nOffset, nWritten: 0};
        }

        async Data(bytes) {
            await this.m_target.Write(bytes);
            this.m_current.nWritten += bytes.length;
        }

        // Completes the entry with the CRC-32 of its data.
        async End(nCrc) {
            const e = this.m_current;
            this.m_current = null;
            if (e.nWritten !== e.nSize)
                throw new RangeError("entry length differs from its header");
            const crc = new CByteWriter(4);
            crc.U32(nCrc);
            await this.m_target.Patch(e.nOffset + 14, crc.Done());
            e.nCrc = nCrc;
            this.m_entries.push(e);
        }

        // Drops the entry begun last, header and data.
        async Drop() {
            if (this.m_current === null)
                return;
            const nOffset = this.m_current.nOffset;
            this.m_current = null;
            await this.m_target.Truncate(nOffset);
        }

        Count() {
            return this.m_entries.length;
        }

        // Writes the central directory and closes the target; what the target gives (the Blob of a
        // download).
        async Finish() {
            await this.Drop();
            const nDirStart = this.m_target.Position();
            let nDirSize = 0;
            for (const e of this.m_entries) {
                const bSize64 = e.nSize >= kMax32;
                const bOffset64 = e.nOffset >= kMax32;
                const nExtra = (bSize64 ? 16 : 0) + (bOffset64 ? 8 : 0);
                const w = new CByteWriter(46 + e.name.length + (nExtra > 0 ? 4 + nExtra : 0));
                w.U32(0x02014b50);
                w.U16((3 << 8) | 45); // made by: Unix, 4.5
                w.U16(nExtra > 0 ? 45 : 10);
                w.U16(0x0800);
                w.U16(0);
                w.U16(e.nTime);
                w.U16(e.nDate);
                w.U32(e.nCrc);
                w.U32(bSize64 ? kMax32 : e.nSize);
                w.U32(bSize64 ? kMax32 : e.nSize);
                w.U16(e.name.length);
                w.U16(nExtra > 0 ? 4 + nExtra : 0);
                w.U16(0); // comment
                w.U16(0); // disk
                w.U16(0); // internal attributes
                w.U32((0o100644 << 16) >>> 0); // a regular file, rw-r--r--
                w.U32(bOffset64 ? kMax32 : e.nOffset);
                w.Bytes(e.name);
                if (nExtra > 0) {
                    w.U16(0x0001);
                    w.U16(nExtra);
                    if (bSize64) {
                        w.U64(e.nSize);
                        w.U64(e.nSize);
                    }
                    if (bOffset64)
                        w.U64(e.nOffset);
                }
                const bytes = w.Done();
                await this.m_target.Write(bytes);
                nDirSize += bytes.length;
            }
            const nCount = this.m_entries.length;
            const bZip64 = nCount >= kMax16 || nDirStart >= kMax32 || nDirSize >= kMax32;
            const end = new CByteWriter(56 + 20 + 22);
            if (bZip64) {
                const nRecord = nDirStart + nDirSize;
                end.U32(0x06064b50);
                end.U64(44);
                end.U16((3 << 8) | 45);
                end.U16(45);
                end.U32(0);
                end.U32(0);
                end.U64(nCount);
                end.U64(nCount);
                end.U64(nDirSize);
                end.U64(nDirStart);
                end.U32(0x07064b50);
                end.U32(0);
                end.U64(nRecord);
                end.U32(1);
            }
            end.U32(0x06054b50);
            end.U16(0);
            end.U16(0);
            end.U16(Math.min(nCount, kMax16));
            end.U16(Math.min(nCount, kMax16));
            end.U32(Math.min(nDirSize, kMax32));
            end.U32(Math.min(nDirStart, kMax32));
            end.U16(0);
            await this.m_target.Write(end.Done());
            return this.m_target.Close();
        }
    }

    root.BraskoZip = {CZipWriter};
    if (typeof module !== "undefined" && module.exports)
        module.exports = root.BraskoZip;
})(typeof self !== "undefined" ? self : globalThis);
