// The main dialog in a browser: collects password, template and inputs, runs the batch over the workers and
// writes the outputs (next to the inputs in a granted folder, else as one download or one ZIP). The rules
// (key, final chunk, naming, guards, verdict, texts) all come from the WebAssembly core.
/* global BraskoEngine, BraskoTargets, BraskoZip, BRASKO_WASM_SIMD, BRASKO_WASM_U64 */
(function () {
    "use strict";

    const kChunkSize = 2 << 20;
    // A larger file's chunks go to a worker this many bytes' worth in one message, read there as one piece,
    // and this many messages per worker are read and decrypted ahead of the writing. Fewer, larger reads
    // cost the browser's processes less, but what is in flight is held in memory: chunks that come back as
    // Blobs leave for the browser's Blob store at once (only their ciphertext waits), so theirs are large;
    // chunks that come back as bytes wait for the writing, so theirs stay small (the save picker's stream
    // of a very large file would otherwise grow the browser's memory by about 50 MiB more). At most
    // kMaxJobsInFlight files are in flight (their first chunks, up to a chunk each).
    const kReadSize = 2 << 20;
    const kReadsInFlightPerWorker = 3;
    const kBlobReadSize = 32 << 20;
    const kBlobReadsInFlightPerWorker = 2;
    const kMaxJobsInFlight = 64;
    // What a file's first job counts in the window before its size is known.
    const kFirstJobCost = 256 << 10;
    // Small files read whole go to a worker this many in one message (and come back so).
    const kFilesPerMessage = 16;
    const kZipName = "entschluesselt.zip";
    const $ = (id) => document.getElementById(id);

    let engine = null; // the main thread's instance: naming, guards, verdict, texts
    let wasmModule = null;
    let nKernel = 0;
    let nWorkers = 1;
    // The inputs: {path (relative, "/" between folders), file (File), dir (folder handle, folder mode)}.
    let inputs = [];
    let rootFolder = null; // the granted folder in folder mode, else null
    let bRunning = false;
    let bCancel = false;
    // Where a run's time goes, for the benchmark, kept only when window.BRASKO_TRACE is set before the page
    // starts: marks of the run's steps (milliseconds since 1970, the benchmark's clock) and the milliseconds
    // spent by phase (the page's thread waiting for replies, writing, completing outputs; the workers'
    // reading and decrypting, summed over all).
    const trace = window.BRASKO_TRACE ? {marks: [], sums: {}, nListMs: 0} : null;
    function Mark(strName) {
        if (trace !== null)
            trace.marks.push([strName, performance.timeOrigin + performance.now()]);
    }
    function Phase(strName, nStart, nEnd = performance.now()) {
        if (trace !== null)
            trace.sums[strName] = (trace.sums[strName] || 0) + nEnd - nStart;
    }
    const Now = () => (trace !== null ? performance.now() : 0);

    function Base64Bytes(text) {
        const binary = atob(text);
        const bytes = new Uint8Array(binary.length);
        for (let i = 0; i < binary.length; ++i)
            bytes[i] = binary.charCodeAt(i);
        return bytes;
    }

    // Loads the SIMD build where the browser validates it and its kernel passes the known-answer test,
    // else the portable build.
    async function Boot() {
        const simd = Base64Bytes(BRASKO_WASM_SIMD);
        if (BraskoEngine.SupportsSimd128(simd) && !window.BRASKO_NO_SIMD) {
            const module = await WebAssembly.compile(simd);
            const candidate = await BraskoEngine.CEngine.Create(module);
            if (candidate.SelfTest(BraskoEngine.kKernelSimd128)) {
                wasmModule = module;
                engine = candidate;
                nKernel = BraskoEngine.kKernelSimd128;
            }
        }
        if (engine === null) {
            wasmModule = await WebAssembly.compile(Base64Bytes(BRASKO_WASM_U64));
            engine = await BraskoEngine.CEngine.Create(wasmModule);
            nKernel = BraskoEngine.kKernelU64;
            if (!engine.SelfTest(nKernel))
                throw new Error("self-test failed");
        }
        nWorkers = Math.max(1, Math.min(16, navigator.hardwareConcurrency || 2));
    }

    // ---- Messages --------------------------------------------------------------------------------------

    // Shows a modal message; resolves when it is closed. bStop: the stop icon, else the exclamation.
    // With bQuestion it has Ja and Nein (Nein the default) and resolves to the answer.
    function ShowMessage(strText, bStop, bQuestion = false) {
        ShowProgress();
        const dlg = $("dlgMessage");
        $("msgText").textContent = strText;
        $("msgIcon").className = "icon " + (bStop ? "stop" : "warning");
        $("btnMsgYes").hidden = !bQuestion;
        $("btnMsgNo").hidden = !bQuestion;
        $("btnMsgOk").hidden = bQuestion;
        return new Promise((resolve) => {
            const finish = (answer) => {
                dlg.removeEventListener("cancel", onCancel);
                $("btnMsgYes").onclick = $("btnMsgNo").onclick = $("btnMsgOk").onclick = null;
                dlg.close();
                resolve(answer);
            };
            const onCancel = (event) => {
                event.preventDefault();
                finish(false);
            };
            dlg.addEventListener("cancel", onCancel);
            $("btnMsgYes").onclick = () => finish(true);
            $("btnMsgNo").onclick = () => finish(false);
            $("btnMsgOk").onclick = () => finish(true);
            dlg.showModal();
            (bQuestion ? $("btnMsgNo") : $("btnMsgOk")).focus();
        });
    }

    function BatchMessage(strKind, strPath, strOutput) {
        return engine.Message(strKind, strPath, strOutput);
    }

    function ShowHelp() {
        const dlg = $("dlgHelp");
        if (dlg.open || $("dlgMessage").open || bRunning)
            return;
        $("btnHelpOk").onclick = () => dlg.close();
        dlg.showModal();
        $("btnHelpOk").focus();
    }

    // ---- The input list ----------------------------------------------------------------------------------

    // Sorted alphabetically without regard to case, equal names by their exact text, as the dialog's list.
    const collator = new Intl.Collator(undefined, {sensitivity: "accent"});
    function ComparePaths(a, b) {
        const nOrder = collator.compare(a, b);
        return nOrder !== 0 ? nOrder : a < b ? -1 : a > b ? 1 : 0;
    }

    function ShowInputs() {
        const list = $("listFiles");
        list.textContent = "";
        for (const input of inputs) {
            const item = document.createElement("li");
            item.textContent = input.path;
            list.appendChild(item);
        }
    }

    function SetInputs(newInputs, folder) {
        inputs = newInputs.slice().sort((a, b) => ComparePaths(a.path, b.path));
        rootFolder = folder;
        ShowInputs();
    }

    // Bytewise order of UTF-8 names, as the command line's -r walks a folder.
    function CompareBytewise(a, b) {
        const ea = new TextEncoder().encode(a);
        const eb = new TextEncoder().encode(b);
        for (let i = 0; i < Math.min(ea.length, eb.length); ++i) {
            if (ea[i] !== eb[i])
                return ea[i] - eb[i];
        }
        return ea.length - eb.length;
    }

    // Every file below a dropped folder (a FileSystemDirectoryEntry), bytewise-sorted per folder.
    async function WalkEntry(entry, strPrefix, out) {
        if (entry.isFile) {
            const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
            out.push({path: strPrefix + entry.name, file});
            return;
        }
        const reader = entry.createReader();
        const children = [];
        for (;;) {
            const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
            if (batch.length === 0)
                break;
            children.push(...batch);
        }
        children.sort((a, b) => CompareBytewise(a.name, b.name));
        for (const child of children)
            await WalkEntry(child, strPrefix + entry.name + "/", out);
    }

    // Every file below a granted folder (a FileSystemDirectoryHandle), with the handle of its folder.
    async function WalkFolder(dir, strPrefix, out) {
        const children = [];
        for await (const [name, handle] of dir.entries())
            children.push({name, handle});
        children.sort((a, b) => CompareBytewise(a.name, b.name));
        for (const child of children) {
            if (child.handle.kind === "file")
                out.push({path: strPrefix + child.name, name: child.name, handle: child.handle, dir});
            else
                await WalkFolder(child.handle, strPrefix + child.name + "/", out);
        }
    }

    async function OpenFolder(dir) {
        const found = [];
        try {
            await WalkFolder(dir, "", found);
        } catch (error) {
            await ShowMessage(BatchMessage("not-found", dir.name), false);
            return;
        }
        SetInputs(found, dir);
    }

    // ---- Output sinks -------------------------------------------------------------------------------------

    // One output written straight into a target (targets.js): a download, a file chosen with the save
    // picker, a file of the granted folder. Commit completes it; Abort leaves nothing.
    class CTargetSink {
        constructor(target) {
            this.m_target = target;
        }
        static async InFolder(dir, strRelative) {
            const parts = strRelative.split("/");
            let folder = dir;
            for (const part of parts.slice(0, -1))
                folder = await folder.getDirectoryHandle(part, {create: false});
            const handle = await folder.getFileHandle(parts[parts.length - 1], {create: true});
            const writable = await handle.createWritable({keepExistingData: false});
            return new CTargetSink(new BraskoTargets.CWritableTarget(writable));
        }
        async Write(bytes) {
            await this.m_target.Write(bytes);
        }
        Commit() {
            return this.m_target.Close();
        }
        Abort() {
            return this.m_target.Abort();
        }
    }

    // One entry of the ZIP, its CRC-32 combined from its chunks'.
    class CZipEntrySink {
        constructor(zip) {
            this.m_zip = zip;
            this.m_nCrc = 0;
        }
        async Write(bytes, nCrc) {
            await this.m_zip.Data(bytes);
            this.m_nCrc = engine.Crc32Combine(this.m_nCrc, nCrc, bytes.length);
        }
        Commit() {
            return this.m_zip.End(this.m_nCrc);
        }
        Abort() {
            return this.m_zip.Drop();
        }
    }

    // Where a download goes: where the browser has the save picker, a file chosen there, written as a stream
    // (nothing of it held in memory); else Blob pieces, downloaded when complete. null: the picker was
    // closed, nothing is run.
    async function DownloadTarget(strName, strType) {
        if (typeof window.showSaveFilePicker === "function") {
            try {
                const handle = await window.showSaveFilePicker({suggestedName: strName});
                return new BraskoTargets.CWritableTarget(await handle.createWritable({keepExistingData: false}));
            } catch (error) {
                if (error.name === "AbortError")
                    return null;
                // No picker now (no user gesture left, a policy): the download instead.
            }
        }
        return new BraskoTargets.CBlobTarget(strType);
    }

    function Download(blob, strName) {
        Mark("download");
        const url = URL.createObjectURL(blob);
        const link = document.createElement("a");
        link.href = url;
        link.download = strName;
        document.body.appendChild(link);
        link.click();
        link.remove();
        setTimeout(() => URL.revokeObjectURL(url), 60000);
    }

    // ---- Workers ------------------------------------------------------------------------------------------

    class CWorkerPool {
        constructor(nCount) {
            const source = document.getElementById("workerSource").textContent;
            const url = URL.createObjectURL(new Blob([source], {type: "text/javascript"}));
            this.m_workers = [];
            this.m_pending = new Map();
            this.m_nNextId = 1;
            for (let i = 0; i < nCount; ++i) {
                const worker = new Worker(url);
                worker.onmessage = (event) => this.OnReply(worker, event.data);
                this.m_workers.push({worker, nBusy: 0});
            }
            URL.revokeObjectURL(url);
        }
        // Replies may come in any order (a worker awaits its reads), so each is matched by its id.
        OnReply(worker, reply) {
            const slot = this.m_workers.find((w) => w.worker === worker);
            const resolve = this.m_pending.get(reply.id);
            this.m_pending.delete(reply.id);
            slot.nBusy -= 1;
            resolve(reply);
        }
        Send(slot, message, transfer = []) {
            return new Promise((resolve) => {
                message.id = this.m_nNextId++;
                this.m_pending.set(message.id, resolve);
                slot.nBusy += 1;
                slot.worker.postMessage(message, transfer);
            });
        }
        All(makeMessage) {
            return Promise.all(this.m_workers.map((slot) => {
                const [message, transfer] = makeMessage();
                return this.Send(slot, message, transfer);
            }));
        }
        // Chunks to the least busy worker.
        Chunks(message, transfer = []) {
            let slot = this.m_workers[0];
            for (const w of this.m_workers) {
                if (w.nBusy < slot.nBusy)
                    slot = w;
            }
            return this.Send(slot, message, transfer);
        }
        Size() {
            return this.m_workers.length;
        }
    }

    let pool = null;
    async function Pool() {
        if (pool === null) {
            pool = new CWorkerPool(nWorkers);
            await pool.All(() => [{type: "init", module: wasmModule, kernel: nKernel}, []]);
        }
        return pool;
    }

    // ---- The batch ------------------------------------------------------------------------------------

    function Template() {
        return {prefix: $("editPrefix").value, suffix: $("editSuffix").value, extension: $("editExtension").value};
    }

    function FileOf(input) {
        return input.file ? Promise.resolve(input.file) : input.handle.getFile();
    }

    // The password is tried on the first input that can be read, in memory: only a run that gets as far as
    // decrypting is asked about, as in the dialog.
    async function ConfirmPassword(tpl, passwordBytes) {
        if (!engine.HasTemplate(tpl))
            return true;
        const nSample = engine.SampleSize();
        for (const input of inputs) {
            let sample;
            try {
                const file = await FileOf(input);
                sample = new Uint8Array(await file.slice(0, Math.min(file.size, nSample)).arrayBuffer());
            } catch (error) {
                continue;
            }
            const nCipher = engine.OpenCipher(passwordBytes.slice(), nKernel);
            try {
                engine.DecryptChunk(nCipher, sample, true);
            } finally {
                engine.CloseCipher(nCipher);
            }
            const judged = engine.Judge(sample);
            sample.fill(0);
            if (judged.verdict !== "random")
                return true;
            return ShowMessage(BatchMessage("password-wrong", input.path), false, true);
        }
        return true;
    }

    // MiB with one decimal (rounded) and a decimal comma, as the command line's progress line.
    function Mebibytes(nBytes) {
        const nTenths = Math.floor((nBytes * 10 + (1 << 19)) / (1 << 20));
        return Math.floor(nTenths / 10) + "," + (nTenths % 10);
    }

    // File i of n with its name, the bytes of it done of its size, and the bar over the batch. A file of
    // several chunks is shown chunk by chunk as written; of smaller files the latest state is shown every
    // kProgressMs: hundreds of files a second would otherwise cost the page's thread a frame (style,
    // layout, paint) each, time the files then wait for. ShowMessage and the run's end show what is
    // pending.
    const kProgressMs = 100;
    let progressPending = null;
    let bProgressTimer = false;
    function SetProgress(nIndex, nCount, strPath, nDone, nTotal) {
        progressPending = {nIndex, nCount, strPath, nDone, nTotal};
        if (nTotal > kChunkSize) {
            ShowProgress();
        } else if (!bProgressTimer) {
            bProgressTimer = true;
            setTimeout(() => {
                bProgressTimer = false;
                ShowProgress();
            }, kProgressMs);
        }
    }

    function ShowProgress() {
        if (progressPending === null)
            return;
        const {nIndex, nCount, strPath, nDone, nTotal} = progressPending;
        progressPending = null;
        const strName = strPath.slice(strPath.lastIndexOf("/") + 1);
        $("progText").textContent = "Datei " + (nIndex + 1) + " von " + nCount + "\n" + strName;
        $("progBytes").textContent = nTotal > 0 ? Mebibytes(nDone) + " von " + Mebibytes(nTotal) + " MiB (" +
            Math.floor((nDone * 100) / nTotal) + " %)" : "";
        const nFile = nTotal > 0 ? Math.floor((1000 * nDone) / nTotal) : 0;
        $("progBar").max = 1000 * nCount;
        $("progBar").value = 1000 * nIndex + nFile;
    }

    // Reads a file from its start through its stream, which starts without a round trip to the browser (a
    // File's size, time or slice, or sending the File to a worker, each wait for one): all of it when it
    // is at most nLimit bytes, else null.
    async function ReadSmallFile(file, nLimit) {
        const reader = file.stream().getReader();
        const pieces = [];
        let nLength = 0;
        try {
            for (;;) {
                const {value, done} = await reader.read();
                if (done)
                    break;
                pieces.push(value);
                nLength += value.length;
                if (nLength > nLimit) {
                    await reader.cancel();
                    return null;
                }
            }
            const bytes = new Uint8Array(nLength);
            let nOffset = 0;
            for (const piece of pieces) {
                bytes.set(piece, nOffset);
                nOffset += piece.length;
            }
            return bytes;
        } finally {
            for (const piece of pieces)
                piece.fill(0);
        }
    }

    // Runs every entry; resolves to {nFailures, bCancelled}. sinkFor(entry, size) opens an entry's output,
    // finish(entry, sink) completes it. chunkWay says how the workers return a larger file's chunks: with
    // their CRC-32 (crc, for the ZIP), as Blobs (blobs, for Blob pieces).
    //
    // A file's first job reads it whole on the page's thread if it is small (ReadSmallFile) and hands it to
    // a worker; a larger file is then cut into chunks that the workers read themselves, sent when its first
    // job is taken, and taken before the files after it.
    async function RunEntries(entries, sinkFor, finish, chunkWay = {crc: true, blobs: false}) {
        const workers = await Pool();
        const nReadSize = chunkWay.blobs ? kBlobReadSize : kReadSize;
        const nWindowBytes = (chunkWay.blobs ? kBlobReadsInFlightPerWorker : kReadsInFlightPerWorker) *
            workers.Size() * nReadSize;
        let nFailures = 0;
        const queue = []; // first jobs (and refused or unreadable entries), in batch order
        const rest = []; // the sent chunks of the larger file being written, taken before the queue
        let restOf = null; // {entry, file, nSize, nOffset}: the larger file whose chunks are still to send
        let nInFlightBytes = 0;
        let nFirstInFlight = 0;
        let nextEntry = 0;

        // Files read whole wait here for their message to a worker, which leaves when kFilesPerMessage
        // are together or when no other first job is still reading (nothing more will join soon).
        let group = [];
        let nReading = 0;
        const sendGroup = () => {
            if (group.length === 0)
                return;
            const sent = group;
            group = [];
            const buffers = sent.map((item) => item.bytes.buffer);
            workers.Chunks({type: "wholes", buffers}, buffers).then((reply) => sent.forEach((item, i) =>
                item.resolve(reply.replies ? reply.replies[i] : {error: "read"})));
        };
        const FirstJob = async (file) => {
            let bytes;
            ++nReading;
            try {
                bytes = await ReadSmallFile(file, kChunkSize);
            } catch (error) {
                bytes = undefined;
            }
            --nReading;
            if (!bytes) {
                if (nReading === 0)
                    sendGroup();
                return bytes === null ? {big: true, size: file.size} : {error: "read"};
            }
            const nSize = bytes.length;
            const replied = new Promise((resolve) => group.push({bytes, resolve}));
            if (group.length >= kFilesPerMessage || nReading === 0)
                sendGroup();
            const reply = await replied;
            return reply.bytes ? {bytes: reply.bytes, crc: reply.crc, size: nSize} : {error: "read"};
        };

        const startJobs = async () => {
            let group = []; // chunks for one message to one worker
            let nGroupBytes = 0;
            const send = () => {
                if (group.length === 0)
                    return;
                const chunks = group.map((job) => ({file: job.file, start: job.start, end: job.end}));
                const sent = workers.Chunks({type: "chunks", chunks, crc: chunkWay.crc, blobs: chunkWay.blobs});
                sent.then((reply) => {
                    if (reply.times) {
                        Phase("worker-read", 0, reply.times.busy - reply.times.decrypt);
                        Phase("worker-decrypt", 0, reply.times.decrypt);
                    }
                });
                group.forEach((job, i) => {
                    job.result = sent.then((reply) => (reply.replies ? reply.replies[i] : {error: "read"}));
                });
                group = [];
                nGroupBytes = 0;
            };
            // A message starts only where the window has room for all of it (but for a chunk), so that
            // the chunks taken one by one are not sent again one per message.
            while (restOf !== null && (nGroupBytes > 0 || nInFlightBytes + nReadSize - kChunkSize < nWindowBytes) &&
                   !bCancel) {
                const nStart = restOf.nOffset;
                const nEnd = engine.ChunkEnd(nStart, restOf.nSize, kChunkSize);
                const job = {entry: restOf.entry, file: restOf.file, size: restOf.nSize, start: nStart, end: nEnd,
                    last: nEnd >= restOf.nSize};
                rest.push(job);
                group.push(job);
                nInFlightBytes += nEnd - nStart;
                nGroupBytes += nEnd - nStart;
                if (nGroupBytes >= nReadSize)
                    send();
                restOf.nOffset = nEnd;
                if (job.last)
                    restOf = null;
            }
            send();
            while (restOf === null && nextEntry < entries.length && nFirstInFlight < kMaxJobsInFlight &&
                   nInFlightBytes < nWindowBytes && !bCancel) {
                const entry = entries[nextEntry++];
                if (entry.verdict !== "decrypt") {
                    queue.push({entry, refused: true});
                    continue;
                }
                let file = null;
                try {
                    file = await FileOf(entry.input);
                } catch (error) {
                    queue.push({entry, unreadable: true});
                    continue;
                }
                queue.push({entry, file, first: true, start: 0, result: FirstJob(file)});
                ++nFirstInFlight;
                nInFlightBytes += kFirstJobCost;
            }
        };

        // Chunks still in flight are waited for and wiped, so that no worker or message keeps plaintext of
        // this run.
        const wipeInFlight = async () => {
            const pending = await Promise.all(rest.concat(queue).filter((j) => j.result).map((j) => j.result));
            for (const reply of pending) {
                if (reply.bytes)
                    reply.bytes.fill(0);
            }
        };

        let failedEntry = null;
        let sink = null;
        await startJobs();
        while (queue.length > 0 || rest.length > 0) {
            const job = rest.length > 0 ? rest.shift() : queue.shift();
            const entry = job.entry;
            if (job.result) {
                if (job.first) {
                    --nFirstInFlight;
                    nInFlightBytes -= kFirstJobCost;
                } else {
                    nInFlightBytes -= job.end - job.start;
                }
            }
            if (job.refused) {
                SetProgress(entry.nIndex, entries.length, entry.input.path, 0, 0);
                const strKind = entry.verdict === "replaces-input" ? "replaces-input" : "duplicate-output";
                await ShowMessage(BatchMessage(strKind, entry.input.path, entry.output), true);
                ++nFailures;
            } else if (job.unreadable) {
                await ShowMessage(BatchMessage("not-found", entry.input.path), false);
                ++nFailures;
            } else if (failedEntry === entry) {
                job.result.then((reply) => reply.bytes && reply.bytes.fill(0));
            } else {
                let nStart = Now();
                const reply = await job.result;
                Phase("wait", nStart);
                if (job.first && !reply.error) {
                    job.size = reply.size;
                    job.end = reply.big ? 0 : reply.size;
                    job.last = !reply.big;
                    nStart = Now();
                    SetProgress(entry.nIndex, entries.length, entry.input.path, 0, job.size);
                    Phase("progress", nStart);
                    nStart = Now();
                    try {
                        sink = await sinkFor(entry, reply.size);
                    } catch (error) {
                        sink = null;
                    }
                    Phase("entry header", nStart);
                    if (sink === null) {
                        if (reply.bytes)
                            reply.bytes.fill(0);
                        failedEntry = entry;
                        ++nFailures;
                    } else if (reply.big) {
                        restOf = {entry, file: job.file, nSize: job.size, nOffset: 0};
                    }
                }
                if (reply.error) {
                    if (!job.first)
                        await sink.Abort();
                    failedEntry = entry;
                    if (restOf !== null && restOf.entry === entry)
                        restOf = null;
                    ++nFailures;
                    const strKind = reply.error === "shrank" ? "input-shrank" : "not-found";
                    await ShowMessage(BatchMessage(strKind, entry.input.path, entry.output), false);
                } else if (failedEntry !== entry && !reply.big) {
                    try {
                        nStart = Now();
                        await sink.Write(reply.blob || reply.bytes, reply.crc);
                        if (reply.bytes)
                            reply.bytes.fill(0);
                        Phase("write", nStart);
                        nStart = Now();
                        SetProgress(entry.nIndex, entries.length, entry.input.path, job.end, job.size);
                        Phase("progress", nStart);
                        if (job.last) {
                            nStart = Now();
                            await finish(entry, sink);
                            Phase("finish", nStart);
                        }
                    } catch (error) {
                        if (reply.bytes)
                            reply.bytes.fill(0);
                        await sink.Abort();
                        // A download the browser will not keep ends the batch.
                        if (error instanceof BraskoTargets.CRefusedError) {
                            await wipeInFlight();
                            throw error;
                        }
                        failedEntry = entry;
                        if (restOf !== null && restOf.entry === entry)
                            restOf = null;
                        ++nFailures;
                    }
                }
            }
            if (bCancel) {
                if (sink !== null && job.last === false && failedEntry !== entry)
                    await sink.Abort();
                await wipeInFlight();
                return {nFailures, bCancelled: true};
            }
            const nStart = Now();
            await startJobs();
            Phase("starting jobs", nStart);
        }
        return {nFailures, bCancelled: false};
    }

    async function OnOK() {
        if (bRunning)
            return;
        if (trace !== null) {
            trace.marks = [];
            trace.sums = {};
        }
        Mark("click");
        const tpl = Template();
        const passwordBytes = new TextEncoder().encode($("editPassword").value);
        try {
            await RunBatch(tpl, passwordBytes);
        } finally {
            passwordBytes.fill(0);
        }
    }

    async function RunBatch(tpl, passwordBytes) {
        if (!engine.HasTemplate(tpl)) {
            await ShowMessage(BatchMessage("template-empty"), true);
            return;
        }
        if (!(await ConfirmPassword(tpl, passwordBytes))) {
            $("editPassword").focus();
            return;
        }
        Mark("password checked");
        if (inputs.length === 0) {
            await ShowMessage(BatchMessage("succeeded"), false);
            return;
        }
        const plan = engine.PlanBatch(tpl, inputs.map((input) => input.path));
        const entries = inputs.map((input, i) => ({input, nIndex: i, output: plan.outputs[i], verdict: plan.verdicts[i]}));
        Mark("planned");

        // Outside a granted folder the outputs are downloads: the one file's, or the ZIP of several.
        const bZip = rootFolder === null && entries.length > 1;
        let target = null;
        if (rootFolder === null) {
            const strName = bZip ? kZipName : entries[0].output.slice(entries[0].output.lastIndexOf("/") + 1);
            target = await DownloadTarget(strName, bZip ? "application/zip" : "application/octet-stream");
            if (target === null) {
                $("btnDecrypt").focus();
                return;
            }
        }

        const nRunStart = performance.now();
        Mark("run");
        bRunning = true;
        bCancel = false;
        $("btnCancelBatch").disabled = false;
        progressPending = null;
        $("progText").textContent = "";
        $("progBytes").textContent = "";
        $("dlgProgress").showModal();
        $("btnCancelBatch").focus();
        let outcome;
        let bRefused = false;
        try {
            const workers = await Pool();
            await workers.All(() => {
                const copy = passwordBytes.slice();
                return [{type: "open", password: copy.buffer}, [copy.buffer]];
            });
            Mark("workers ready");
            try {
                if (rootFolder !== null) {
                    outcome = await RunEntries(entries, (entry) => CTargetSink.InFolder(rootFolder, entry.output),
                        (entry, sink) => sink.Commit(), {crc: false, blobs: false});
                } else if (!bZip) {
                    outcome = await RunEntries(entries, async () => new CTargetSink(target), async (entry, sink) => {
                        const blob = await sink.Commit();
                        if (blob)
                            Download(blob, entry.output.slice(entry.output.lastIndexOf("/") + 1));
                    }, {crc: false, blobs: target instanceof BraskoTargets.CBlobTarget});
                    if (outcome.nFailures > 0 || outcome.bCancelled)
                        await target.Abort();
                } else {
                    const zip = new BraskoZip.CZipWriter(target);
                    // An entry's time is when it was written, as a decrypted file's is.
                    outcome = await RunEntries(entries, async (entry, nSize) => {
                        await zip.Begin(entry.output, nSize, Date.now());
                        return new CZipEntrySink(zip);
                    }, (entry, sink) => sink.Commit());
                    Mark("entries done");
                    if (zip.Count() > 0) {
                        const blob = await zip.Finish();
                        Mark("zip finished");
                        if (blob)
                            Download(blob, kZipName);
                    } else {
                        await target.Abort();
                    }
                }
            } finally {
                await workers.All(() => [{type: "close"}, []]);
            }
        } catch (error) {
            // A download that could not be completed (the disk full, the file taken away, the browser's
            // store for Blob pieces full).
            if (target !== null)
                await target.Abort();
            outcome = {nFailures: 1, bCancelled: bCancel};
            bRefused = error instanceof BraskoTargets.CRefusedError;
        } finally {
            ShowProgress();
            $("dlgProgress").close();
            bRunning = false;
            Phase("run", nRunStart);
            Mark("ran");
        }
        if (bRefused) {
            const strName = bZip ? kZipName : entries[0].output.slice(entries[0].output.lastIndexOf("/") + 1);
            await ShowMessage(BatchMessage("download-too-large", "", strName), true);
        }
        if (outcome.bCancelled)
            await ShowMessage(BatchMessage("cancelled"), false);
        else if (outcome.nFailures === 0)
            await ShowMessage(BatchMessage("succeeded"), false);
        else
            await ShowMessage(BatchMessage("failed"), true);
    }

    // ---- Wiring -------------------------------------------------------------------------------------

    function Wire() {
        document.title = $("title").textContent;
        $("btnBrowse").addEventListener("click", () => $("fileInput").click());
        $("fileInput").addEventListener("change", () => {
            const nStart = Now();
            const files = Array.from($("fileInput").files);
            if (files.length > 0)
                SetInputs(files.map((file) => ({path: file.name, file})), null);
            $("fileInput").value = "";
            if (trace !== null)
                trace.nListMs = performance.now() - nStart;
        });
        if (typeof window.showDirectoryPicker === "function") {
            $("btnFolder").hidden = false;
            $("btnFolder").addEventListener("click", async () => {
                let dir;
                try {
                    dir = await window.showDirectoryPicker({mode: "readwrite"});
                } catch (error) {
                    return; // cancelled: the list stays
                }
                await OpenFolder(dir);
            });
        }
        $("btnDecrypt").addEventListener("click", OnOK);
        $("btnCancelBatch").addEventListener("click", () => {
            bCancel = true;
            $("btnCancelBatch").disabled = true;
        });
        $("dlgProgress").addEventListener("cancel", (event) => event.preventDefault());
        $("dlgHelp").addEventListener("cancel", () => $("dlgHelp").close());

        document.addEventListener("keydown", (event) => {
            if (event.key === "F1") {
                event.preventDefault();
                ShowHelp();
                return;
            }
            if (event.key !== "Enter" || bRunning || document.querySelector("dialog[open]"))
                return;
            const target = event.target;
            if (target instanceof HTMLInputElement || target === $("listFiles")) {
                event.preventDefault();
                OnOK();
            }
        });

        // Files and folders dropped anywhere on the page join the list: a folder stands for every file
        // below it.
        document.addEventListener("dragover", (event) => {
            event.preventDefault();
            document.body.classList.add("dragging");
        });
        document.addEventListener("dragleave", () => document.body.classList.remove("dragging"));
        document.addEventListener("drop", async (event) => {
            event.preventDefault();
            document.body.classList.remove("dragging");
            if (bRunning)
                return;
            const entries = Array.from(event.dataTransfer.items)
                .map((item) => (item.webkitGetAsEntry ? item.webkitGetAsEntry() : null))
                .filter((entry) => entry !== null);
            const found = [];
            for (const entry of entries) {
                try {
                    await WalkEntry(entry, "", found);
                } catch (error) {
                    await ShowMessage(BatchMessage("not-found", entry.name), false);
                }
            }
            const known = new Set(rootFolder === null ? inputs.map((input) => input.path) : []);
            const merged = rootFolder === null ? inputs.slice() : [];
            for (const input of found) {
                if (!known.has(input.path)) {
                    known.add(input.path);
                    merged.push(input);
                }
            }
            SetInputs(merged, null);
        });
    }

    async function Start() {
        const nStart = performance.now();
        Wire();
        try {
            await Boot();
        } catch (error) {
            document.body.dataset.state = "failed";
            return;
        }
        document.body.dataset.kernel = BraskoEngine.kKernelNames[nKernel];
        document.body.dataset.readyMs = String(Math.round(performance.now() - nStart));
        document.body.dataset.state = "ready";
        $("btnBrowse").focus();
        // For the tests and the benchmark: a granted folder without the picker, and the run's state.
        window.BraskoPage = {OpenFolder, IsRunning: () => bRunning, Kernel: () => BraskoEngine.kKernelNames[nKernel],
            Trace: () => trace, Phases: () => (trace !== null ? trace.sums : {}),
            Marks: () => (trace !== null ? Object.fromEntries(trace.marks) : {})};
    }

    Start();
})();
