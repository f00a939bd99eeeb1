#!/usr/bin/env python3
"""The web page's figures in headless Chromium, side by side with `openssl enc` on the same data and
machine: the kernels per core (full three-key Triple-DES), one large file end to end (chosen, decrypted,
download complete), many small files into the ZIP, the page's size and start-up time (self-test done), and
the browser's memory growth while one very large file is decrypted, both ways a download is written: into a
file chosen with the save picker (a writable stream; an origin-private file stands in for the picker, so
the page comes from a loopback server), and as Blob pieces downloaded at the end (no picker, as Firefox).

Usage: web.py build-web/brasko-decrypt.html
BENCH_WEB_PARTS=kernel: the page's size and start-up and the kernels only (about a minute).
Sizes through the environment: BENCH_WEB_KERNEL_MIB (64), BENCH_WEB_KERNEL_ROUNDS (5),
BENCH_WEB_FILE_MIB (256), BENCH_WEB_FILES (20000), BENCH_WEB_HUGE_MIB (1024, 0 leaves that part out),
BENCH_WEB_BLOB_TIMEOUT (900 seconds).
BENCH_WEB_PARTS picks parts, comma-separated (all by default): kernel, file (the large file, its phases
printed beside the total), zip, stream and blob (the very large file into the save picker's file and as a
download). BENCH_WEB_RUNS (1) repeats the large file, interleaved with openssl, and prints min and median;
BENCH_WEB_ZIP_RUNS (1) repeats the ZIP run in the same page; BENCH_WEB_PROFILE=1 adds the page thread's
busiest functions during the ZIP run (Chrome's sampling profiler through the DevTools protocol).
"""

import base64
import functools
import hashlib
import http.server
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

PAGE = os.path.abspath(sys.argv[1])
KERNEL_MIB = int(os.environ.get("BENCH_WEB_KERNEL_MIB", "64"))
FILE_MIB = int(os.environ.get("BENCH_WEB_FILE_MIB", "256"))
FILES = int(os.environ.get("BENCH_WEB_FILES", "20000"))
HUGE_MIB = int(os.environ.get("BENCH_WEB_HUGE_MIB", "1024"))
# How long the download of Blob pieces may take before it counts as failed.
BLOB_TIMEOUT = int(os.environ.get("BENCH_WEB_BLOB_TIMEOUT", "900"))
PARTS = set(os.environ.get("BENCH_WEB_PARTS", "kernel,file,zip,stream,blob").split(","))
RUNS = max(1, int(os.environ.get("BENCH_WEB_RUNS", "1")))
ZIP_RUNS = int(os.environ.get("BENCH_WEB_ZIP_RUNS", "1"))
PROFILE = os.environ.get("BENCH_WEB_PROFILE", "") == "1"
SUCCEEDED = "Die Entschlüsselung wurde erfolgreich beendet !"
PASSWORD = "ein langes Kennwort 1234"  # 24 characters: three distinct keys, full Triple-DES
KEY = (PASSWORD.encode("latin-1") + b" " * 24)[:24]

# The kernels as the page's workers use them (each chunk copied into a buffer the module keeps, decrypted
# there, copied back), on the page's main thread: one core. KERNEL_SETUP keeps one cipher and buffer per
# kernel in the page; KERNEL_ROUND decrypts nMiB of the chunk (the bytes of the file openssl reads) with one
# of them and gives the seconds, and the SHA-256 of the first pass's output so that the kernel is checked
# against openssl on the same bytes.
KERNEL_SETUP = """
const [chunkBase64, password, done] = arguments;
(async () => {
    const chunk = Uint8Array.from(atob(chunkBase64), (c) => c.charCodeAt(0));
    const kernels = {};
    for (const [name, wasm, nKernel] of [["simd128", BRASKO_WASM_SIMD, BraskoEngine.kKernelSimd128],
                                         ["u64", BRASKO_WASM_U64, BraskoEngine.kKernelU64]]) {
        const bytes = Uint8Array.from(atob(wasm), (c) => c.charCodeAt(0));
        const engine = await BraskoEngine.CEngine.Create(await WebAssembly.compile(bytes));
        const handle = engine.OpenCipher(new TextEncoder().encode(password), nKernel);
        const nPtr = engine.m_exports.bd_alloc(chunk.length);
        const decrypt = (work, bFileStart) => {
            engine.Bytes().set(work, nPtr);
            if (engine.m_exports.bd_decrypt_chunk(handle, nPtr, work.length, bFileStart ? 1 : 0) !== 1)
                throw new Error("decryption failed");
            work.set(engine.Bytes().subarray(nPtr, nPtr + work.length));
        };
        decrypt(chunk.slice(), true); // the first call compiles
        kernels[name] = decrypt;
    }
    window.benchKernel = {chunk, kernels};
    return "ok";
})().then(done, (error) => done(String(error)));
"""
KERNEL_ROUND = """
const [name, nMiB, done] = arguments;
(async () => {
    const {chunk, kernels} = window.benchKernel;
    const decrypt = kernels[name];
    const work = chunk.slice();
    decrypt(work, true);
    const digest = new Uint8Array(await crypto.subtle.digest("SHA-256", work));
    const nPasses = Math.max(1, Math.round(nMiB * (1 << 20) / chunk.length));
    const nStart = performance.now();
    for (let i = 0; i < nPasses; ++i)
        decrypt(work, i === 0);
    const nSeconds = (performance.now() - nStart) / 1000;
    return {seconds: nSeconds, mib: nPasses * chunk.length / (1 << 20),
            sha256: Array.from(digest, (b) => b.toString(16).padStart(2, "0")).join("")};
})().then(done, (error) => done(String(error)));
"""
# The chunk the page decrypts at a time; the file openssl reads is this chunk repeated.
KERNEL_CHUNK = 2 << 20
KERNEL_ROUNDS = int(os.environ.get("BENCH_WEB_KERNEL_ROUNDS", "5"))


# Without the save picker the outputs are downloads (headless Chromium's own picker closes at once).
HIDE_SAVE_PICKER = "delete Window.prototype.showSaveFilePicker; delete window.showSaveFilePicker;"

# The page's trace switch: marks of a run's steps and its thread's time per phase (BraskoPage.Trace(),
# BraskoPage.Phases(), BraskoPage.Marks()).
TRACE = "window.BRASKO_TRACE = true;"

# The save picker offers a file of the origin-private file system: the same writable stream.
GRANT_SAVE_FILE = """
const done = arguments[arguments.length - 1];
(async () => {
    const root = await navigator.storage.getDirectory();
    window.showSaveFilePicker = async (options) => root.getFileHandle(options.suggestedName, {create: true});
    window.savedSize = async (name) => (await (await root.getFileHandle(name)).getFile()).size;
})().then(() => done("ok"), (error) => done(String(error)));
"""


def openssl_seconds(path):
    start = time.perf_counter()
    subprocess.run(["openssl", "enc", "-d", "-des-ede3", "-nopad", "-K", KEY.hex(), "-in", path, "-out",
                    os.devnull], check=True)
    return time.perf_counter() - start


def openssl_times(path):
    """openssl enc decrypting the file: its wall-clock seconds and its CPU seconds (user + system)."""
    start = time.perf_counter()
    process = subprocess.Popen(["openssl", "enc", "-d", "-des-ede3", "-nopad", "-K", KEY.hex(), "-in", path,
                                "-out", os.devnull])
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - start
    if status != 0:
        raise RuntimeError(f"openssl enc failed: {status}")
    return seconds, usage.ru_utime + usage.ru_stime


def renderer_threads(profile):
    """The /proc folders of the main threads of this browser's page renderers (not its own user interface's):
    the page runs on one of them, the others idle."""
    return [f"/proc/{pid}/task/{pid}" for pid, args, kind in browser_processes(profile)
            if kind == "renderer" and b"--top-chrome-webui" not in args]


def threads_cpu_seconds(threads):
    """The CPU seconds of the threads: from schedstat in nanoseconds where the kernel keeps it, else user +
    system time from stat in clock ticks."""
    total = 0.0
    for thread in threads:
        try:
            with open(thread + "/schedstat") as f:
                total += int(f.read().split()[0]) / 1e9
        except (OSError, ValueError, IndexError):
            total += stat_cpu_seconds(thread + "/stat")
    return total


def kernel_figures(browser, work):
    """The kernels per core and openssl enc on the same bytes, in alternating rounds (openssl, SIMD128,
    64-bit), so that load that comes and goes meets all alike: MiB/s per round, min and median, by wall
    clock and by CPU time (openssl's from the kernel's accounting of the child, the page's from its main
    thread's), the ratio from the medians. The page's output is checked against openssl's first."""
    load = os.getloadavg()
    print(f"kernels beside openssl enc, {KERNEL_ROUNDS} alternating rounds of {KERNEL_MIB} MiB, "
          f"load before {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}")
    chunk = os.urandom(KERNEL_CHUNK)
    sample = os.path.join(work, "kernel.bin")
    with open(sample, "wb") as f:
        for _ in range(max(1, KERNEL_MIB * (1 << 20) // KERNEL_CHUNK)):
            f.write(chunk)
    mib = os.path.getsize(sample) / (1 << 20)
    plain = subprocess.run(["openssl", "enc", "-d", "-des-ede3", "-nopad", "-K", KEY.hex()], input=chunk,
                           stdout=subprocess.PIPE, check=True).stdout
    expected = hashlib.sha256(plain).hexdigest()
    answer = browser.driver.execute_async_script(KERNEL_SETUP, base64.b64encode(chunk).decode(), PASSWORD)
    if answer != "ok":
        raise RuntimeError(f"kernel setup in the page: {answer}")
    threads = renderer_threads(browser.profile)
    names = ("openssl", "simd128", "u64")
    wall = {name: [] for name in names}
    cpu = {name: [] for name in names}
    for _ in range(KERNEL_ROUNDS):
        seconds, cpu_seconds = openssl_times(sample)
        wall["openssl"].append(mib / seconds)
        cpu["openssl"].append(mib / cpu_seconds if cpu_seconds > 0 else float("nan"))
        for name in names[1:]:
            before = threads_cpu_seconds(threads) if threads else 0.0
            result = browser.driver.execute_async_script(KERNEL_ROUND, name, mib)
            after = threads_cpu_seconds(threads) if threads else 0.0
            if not isinstance(result, dict):
                raise RuntimeError(f"kernel {name} in the page: {result}")
            if result["sha256"] != expected:
                raise RuntimeError(f"kernel {name} decrypts otherwise than openssl enc")
            wall[name].append(result["mib"] / result["seconds"])
            cpu[name].append(result["mib"] / (after - before) if threads and after > before else float("nan"))
    os.remove(sample)
    print("MiB/s per core          wall min  median   cpu min  median   rounds (wall)")
    for name in names:
        label = "openssl enc -d -des-ede3" if name == "openssl" else f"kernel {name}"
        print(f"{label:<24} {min(wall[name]):8.1f} {statistics.median(wall[name]):7.1f}  {min(cpu[name]):8.1f} "
              f"{statistics.median(cpu[name]):7.1f}   " + " ".join(f"{rate:.1f}" for rate in wall[name]))
    for name in names[1:]:
        ratio = statistics.median(wall[name]) / statistics.median(wall["openssl"])
        ratio_cpu = statistics.median(cpu[name]) / statistics.median(cpu["openssl"])
        print(f"kernel {name:<8} = {ratio:5.2f}x openssl by wall clock, {ratio_cpu:5.2f}x by CPU time (medians)"
              + (" (goal >= 8x)" if name == "simd128" else ""))
    load = os.getloadavg()
    print(f"load after {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}"
          + ("" if threads else "; the page's CPU time was not to be had (no renderer found)"))


def random_file(path, size):
    with open(path, "wb") as f:
        for _ in range(size // (1 << 20)):
            f.write(os.urandom(1 << 20))
        f.write(os.urandom(size % (1 << 20)))
    return path


def stat_cpu_seconds(path):
    """User + system seconds from a /proc stat file (a process's or a thread's)."""
    with open(path) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def browser_processes(profile):
    """This browser's processes as (pid, command line, kind): the one started with its profile folder in the
    command line and every process below it (Chromium's children rewrite their command lines into one
    string). Kind: browser, renderer, gpu-process, zygote, utility (with its sub-type's last part)..."""
    procs = {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                args = f.read().replace(b"\0", b" ")
            with open(f"/proc/{pid}/stat") as f:
                parent = int(f.read().rsplit(")", 1)[1].split()[1])
        except (OSError, IndexError, ValueError):
            continue
        words = args.split()
        kind = next((w[7:].decode() for w in words if w.startswith(b"--type=")), "browser")
        if kind == "utility":
            kind = next((w.split(b"=", 1)[1].decode().rsplit(".", 1)[-1] for w in words
                         if w.startswith(b"--utility-sub-type=")), kind)
        root = kind == "browser" and any(profile.encode() in w for w in words)
        procs[int(pid)] = (parent, args, kind, root)
    mine = {pid for pid, (_, _, _, root) in procs.items() if root}
    grown = True
    while grown:
        below = {pid for pid, (parent, _, _, _) in procs.items() if parent in mine} - mine
        mine |= below
        grown = bool(below)
    return [(pid, procs[pid][1], procs[pid][2]) for pid in sorted(mine)]


def browser_rss(profile):
    """The resident memory of every process of this browser."""
    total = 0
    for pid, _, _ in browser_processes(profile):
        try:
            with open(f"/proc/{pid}/status") as f:
                total += next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmRSS:"))
        except (OSError, StopIteration):
            pass
    return total


def browser_cpu_by_kind(profile):
    """The CPU seconds (user and system) of this browser's processes so far, by their kind."""
    seconds = {}
    for pid, _, kind in browser_processes(profile):
        try:
            seconds[kind] = seconds.get(kind, 0) + stat_cpu_seconds(f"/proc/{pid}/stat")
        except (OSError, IndexError, ValueError):
            pass
    return seconds


def browser_cpu(profile):
    """The CPU seconds (user and system) of every process of this browser so far."""
    return sum(browser_cpu_by_kind(profile).values())


def browser_threads_cpu(profile):
    """CPU seconds so far by process kind and thread name, e.g. "renderer/DedicatedWorker thread"."""
    out = {}
    for pid, _, kind in browser_processes(profile):
        try:
            for tid in os.listdir(f"/proc/{pid}/task"):
                with open(f"/proc/{pid}/task/{tid}/stat") as f:
                    text = f.read()
                key = f"{kind}/{text[text.index('(') + 1:text.rindex(')')]}"
                out[key] = out.get(key, 0) + stat_cpu_seconds(f"/proc/{pid}/task/{tid}/stat")
        except (OSError, IndexError, ValueError):
            pass
    return out


def threads_line(before, after):
    """The threads that took at least 0.05 s of CPU between two browser_threads_cpu."""
    spent = {k: v - before.get(k, 0) for k, v in after.items()}
    return ", ".join(f"{k} {v:.2f}" for k, v in sorted(spent.items(), key=lambda kv: -kv[1]) if v >= 0.05)


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


class CBrowser:
    def __init__(self, work, name="profile", timeout=3600):
        self.timeout = timeout
        self.downloads = os.path.join(work, "downloads")
        os.makedirs(self.downloads, exist_ok=True)
        self.profile = os.path.join(work, name)
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for flag in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--no-first-run", "--disable-default-apps",
                     "--disable-dev-shm-usage", "--user-data-dir=" + self.profile]:
            options.add_argument(flag)
        self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        self.driver.set_script_timeout(3600)
        self.driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                                    {"behavior": "allow", "downloadPath": self.downloads})
        self.picker = self.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument",
                                                  {"source": HIDE_SAVE_PICKER + TRACE})["identifier"]

    def load(self, url="file://" + PAGE):
        self.driver.get(url)
        self.wait(lambda: self.body("data-state") in ("ready", "failed"))
        return int(self.body("data-ready-ms"))

    def body(self, name):
        return self.driver.find_element(By.TAG_NAME, "body").get_attribute(name)

    def wait(self, condition, timeout=None, each=None, interval=0.05):
        timeout = timeout or self.timeout
        end = time.time() + timeout
        while time.time() < end:
            try:
                if condition():
                    return
            except Exception:  # not there yet
                pass
            if each:
                each()
            time.sleep(interval)
        raise TimeoutError

    def run(self, paths, download, each=None, saved=False):
        """Chooses the files, decrypts, and waits for the download (or the file the save picker gave): the
        seconds from choosing. Random bytes look like a wrong password's output: the question is answered
        with Ja."""
        start = time.perf_counter()
        self.started = time.time()
        self.complete = None
        self.driver.find_element(By.ID, "fileInput").send_keys("\n".join(paths))
        self.wait(lambda: self.driver.execute_script(
            "return document.getElementById('listFiles').childElementCount") == len(paths))
        self.chosen = time.perf_counter() - start
        self.driver.find_element(By.ID, "editPassword").clear()
        self.driver.find_element(By.ID, "editPassword").send_keys(PASSWORD)
        self.cpu_at_click = browser_cpu_by_kind(self.profile)
        self.clicked = time.perf_counter()
        self.driver.find_element(By.ID, "btnDecrypt").click()
        path = os.path.join(self.downloads, download)

        asked = [True]  # until the question is answered: afterwards no more looks for it

        def answer():
            if asked[0] and self.driver.find_element(By.ID, "btnMsgYes").is_displayed():
                self.driver.find_element(By.ID, "btnMsgYes").click()
                asked[0] = False
            if each:
                each()
        # The message the run ended with: success, or a failure (which ends the wait as well).
        ended = "return document.getElementById('dlgMessage').open && !document.getElementById('btnMsgOk').hidden " \
                "? document.getElementById('msgText').textContent : null"

        # The download is looked for every 10 ms; the page, which each look costs a little, only every
        # 0.5 s until then (for a failure, which downloads nothing) and while the question may come.
        looks = [0]

        def complete():
            looks[0] += 1
            downloaded = not saved and os.path.exists(path) and not os.path.exists(path + ".crdownload")
            if not (downloaded or asked[0] or looks[0] % 50 == 0):
                return False
            self.outcome = self.driver.execute_script(ended)
            if saved or (self.outcome is not None and self.outcome != SUCCEEDED):
                return self.outcome is not None
            return downloaded and self.outcome is not None
        self.wait(complete, each=lambda: (asked[0] or each) and answer(), interval=0.05 if each else 0.01)
        self.done = time.perf_counter()
        seconds = self.done - start
        self.completed = time.time()
        while self.driver.execute_script(ended) is not None:
            self.driver.find_element(By.ID, "btnMsgOk").click()
        if os.path.exists(path):
            os.remove(path)
        return seconds

    def quit(self):
        if self.driver is not None:
            self.driver.quit()
            self.driver = None


def memory_growth(browser, path, download, saved):
    """Decrypts one file; the growth of the browser's resident memory (all its processes) at its peak."""
    before = browser_rss(browser.profile)
    peak = [before]
    browser.run([path], download, each=lambda: peak.__setitem__(0, max(peak[0], browser_rss(browser.profile))),
                saved=saved)
    return (peak[0] - before) / (1 << 20)


def serve(folder):
    """A static server on the loopback address for the page's folder; its URL."""
    class QuietHandler(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass

    handler = functools.partial(QuietHandler, directory=folder)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def print_profile(profile, top=15):
    """The functions with the most samples of the page's thread (self time), busiest first."""
    nodes = {node["id"]: node for node in profile["nodes"]}
    counts = {}
    for sample in profile["samples"]:
        counts[sample] = counts.get(sample, 0) + 1
    by_function = {}
    for node_id, count in counts.items():
        frame = nodes[node_id]["callFrame"]
        name = f"{frame['functionName'] or '(anonymous)'}:{frame['lineNumber'] + 1}" if frame["url"] else \
            frame["functionName"]
        by_function[name] = by_function.get(name, 0) + count
    total = sum(by_function.values())
    print(f"  page thread, {total} samples:")
    for name, count in sorted(by_function.items(), key=lambda item: -item[1])[:top]:
        print(f"    {100 * count / total:5.1f} %  {name}")


def zip_part(browser, work):
    """20 000 files of 4 KiB into the ZIP. The figure is what the user waits for after Entschlüsseln: from the
    click until the download is complete. Handing the files to the page (the file input's list shown) is
    printed apart, as are the page's own phases (its trace switch)."""
    small = os.path.join(work, "klein")
    os.mkdir(small)
    paths = [random_file(os.path.join(small, f"d{i:05}.bin"), 4096) for i in range(FILES)]
    # The password is tried on the first file: text there, so that no question waits for an answer (the
    # rest are random bytes, which the page decrypts all the same).
    text = ("Sehr geehrte Damen und Herren, anbei die Zahlen.\n" * 100).encode()[:4096]
    with open(paths[0], "wb") as f:
        f.write(subprocess.run(["openssl", "enc", "-e", "-des-ede3", "-nopad", "-K", KEY.hex()], input=text,
                               stdout=subprocess.PIPE, check=True).stdout)
    for run in range(ZIP_RUNS):
        print(f"  load before: {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
        if PROFILE:
            browser.driver.execute_cdp_cmd("Profiler.enable", {})
            browser.driver.execute_cdp_cmd("Profiler.setSamplingInterval", {"interval": 500})
            browser.driver.execute_cdp_cmd("Profiler.start", {})
        browser.run(paths, "entschluesselt.zip")
        seconds = browser.done - browser.clicked
        print(f"{FILES} files of 4 KiB into the ZIP: {seconds:6.2f} s from Entschlüsseln to the complete download "
              f"= {FILES / seconds:6.0f} files/s (goal >= 500); choosing them took {browser.chosen:.2f} s more")
        after = browser_cpu_by_kind(browser.profile)
        used = {kind: after[kind] - browser.cpu_at_click.get(kind, 0) for kind in after}
        print(f"  browser CPU (user+sys) from Entschlüsseln to the download: {sum(used.values()):.2f} s = "
              f"{1000 * sum(used.values()) / FILES:.2f} ms per file: "
              + ", ".join(f"{kind} {t:.2f} s" for kind, t in sorted(used.items(), key=lambda item: -item[1])))
        trace = browser.driver.execute_script("return window.BraskoPage.Trace && window.BraskoPage.Trace()")
        if trace:
            marks = trace["marks"]
            print("  phases (ms since the click): " + ", ".join(f"{name} {t - marks[0][1]:.0f}" for name, t in marks))
            print(f"  the page's change handler (list sorted and shown): {trace['nListMs']:.0f} ms of the choosing")
            print("  the batch loop's time per step (ms): " + ", ".join(f"{name} {t:.0f}" for name, t in trace["sums"].items()))
        if PROFILE:
            print_profile(browser.driver.execute_cdp_cmd("Profiler.stop", {})["profile"])
            browser.driver.execute_cdp_cmd("Profiler.disable", {})
        print(f"  load after: {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
    shutil.rmtree(small)


def load_line():
    load = os.getloadavg()
    return f"load {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}"


def phases_line(phases):
    """The page's phases of a run (milliseconds; the workers' summed over both)."""
    return ", ".join(f"{name} {ms:.0f}" for name, ms in phases.items())


def main():
    print(f"web page in headless Chromium, {os.cpu_count()} cores, {load_line()}")
    work = tempfile.mkdtemp(prefix="brasko-bench-web-")
    browser = CBrowser(work)
    try:
        ready = browser.load()
        print(f"page: {os.path.getsize(PAGE) / 1024:.0f} KiB (goal <= 1024), ready in {ready} ms (goal < 500), "
              f"kernel {browser.body('data-kernel')}")

        if "kernel" in PARTS:
            kernel_figures(browser, work)

        if "file" in PARTS:
            big = random_file(os.path.join(work, "gross.bin"), FILE_MIB << 20)
            page_times, openssl_times, page_cpus, openssl_cpus = [], [], [], []
            for run in range(RUNS):
                cpu = children_cpu()
                openssl_times.append(openssl_seconds(big))
                openssl_cpu = children_cpu() - cpu
                cpu = browser_cpu(browser.profile)
                threads = browser_threads_cpu(browser.profile)
                page_times.append(browser.run([big], "e_gross.bin"))
                page_cpu = browser_cpu(browser.profile) - cpu
                page_cpus.append(page_cpu)
                openssl_cpus.append(openssl_cpu)
                print(f"  CPU seconds by thread: {threads_line(threads, browser_threads_cpu(browser.profile))}")
                phases = browser.driver.execute_script("return window.BraskoPage.Phases ? BraskoPage.Phases() : {}")
                marks = browser.driver.execute_script("return window.BraskoPage.Marks ? BraskoPage.Marks() : {}")
                steps = [("chosen", browser.started * 1000)] + sorted(marks.items(), key=lambda kv: kv[1]) + [
                    ("complete", browser.completed * 1000)]
                print("  steps (ms after the previous): " + ", ".join(
                    f"{name} +{at - steps[max(0, i - 1)][1]:.0f}" for i, (name, at) in enumerate(steps)))
                print(f"  run {run + 1}: page {page_times[-1]:6.2f} s ({page_cpu:5.2f} s CPU), openssl "
                      f"{openssl_times[-1]:6.2f} s ({openssl_cpu:5.2f} s CPU); page phases (ms): "
                      f"{phases_line(phases)}")
            os.remove(big)
            page_min, openssl_min = min(page_times), min(openssl_times)
            print(f"one {FILE_MIB} MiB file end to end: {page_min:6.2f} s (median "
                  f"{statistics.median(page_times):6.2f}), openssl enc {openssl_min:6.2f} s (median "
                  f"{statistics.median(openssl_times):6.2f}) = {openssl_min / page_min:5.2f}x openssl "
                  f"(goal >= 4x); CPU time: page {statistics.median(page_cpus):5.2f} s, openssl "
                  f"{statistics.median(openssl_cpus):5.2f} s (medians) = "
                  f"{statistics.median(openssl_cpus) / statistics.median(page_cpus):5.2f}x; {load_line()}")

        if "zip" in PARTS:
            zip_part(browser, work)
        browser.quit()

        if HUGE_MIB == 0 or not PARTS & {"stream", "blob"}:
            return
        # The very large file in fresh browsers, so that nothing of the runs before counts.
        huge = random_file(os.path.join(work, "riesig.bin"), HUGE_MIB << 20)
        if "stream" in PARTS:
            server = serve(os.path.dirname(PAGE))
            try:
                browser = CBrowser(work, "profile-stream")
                browser.load(f"http://127.0.0.1:{server.server_port}/{os.path.basename(PAGE)}")
                browser.driver.execute_async_script(GRANT_SAVE_FILE)
                grown = memory_growth(browser, huge, "e_riesig.bin", saved=True)
                size = browser.driver.execute_async_script(
                    "const done = arguments[0]; window.savedSize('e_riesig.bin').then(done, (e) => done(String(e)))")
                browser.quit()
                print(f"one {HUGE_MIB} MiB file into the save picker's file ({size >> 20} MiB written): browser "
                      f"memory grew by {grown:.0f} MiB (goal < 300)")
            finally:
                server.shutdown()
                server.server_close()
        if "blob" in PARTS:
            browser = CBrowser(work, "profile-blob", timeout=BLOB_TIMEOUT)
            browser.load()
            try:
                start = time.perf_counter()
                grown = memory_growth(browser, huge, "e_riesig.bin", saved=False)
                result = "downloaded" if browser.outcome == SUCCEEDED else f"not downloaded: '{browser.outcome}'"
                print(f"one {HUGE_MIB} MiB file as a download without the save picker: {result} after "
                      f"{time.perf_counter() - start:.1f} s, browser memory grew by {grown:.0f} MiB (goal < 300)")
            except TimeoutError:
                print(f"one {HUGE_MIB} MiB file as a download without the save picker: no download within "
                      f"{BLOB_TIMEOUT} s")
        os.remove(huge)
    finally:
        browser.quit()
        shutil.rmtree(work, ignore_errors=True)
        print(f"done, {load_line()}")


if __name__ == "__main__":
    main()
