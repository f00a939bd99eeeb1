#!/usr/bin/env python3
"""The web page's figures in headless Chromium, side by side with `openssl enc` on the same data and
machine: the kernels per core (full three-key Triple-DES), one large file end to end (chosen, decrypted,
download complete), many small files into the ZIP, the page's size and start-up time (self-test done), and
the browser's memory growth while one very large file is decrypted, both ways a download is written: into a
file chosen with the save picker (a writable stream; an origin-private file stands in for the picker, so
the page comes from a loopback server), and as Blob pieces downloaded at the end (no picker, as Firefox).

Usage: web.py build-web/brasko-decrypt.html
Sizes through the environment: BENCH_WEB_KERNEL_MIB (64), BENCH_WEB_FILE_MIB (256), BENCH_WEB_FILES (20000),
BENCH_WEB_HUGE_MIB (1024, 0 leaves that part out),
BENCH_WEB_BLOB_TIMEOUT (900 seconds).
BENCH_WEB_PARTS (kernel,file,zip,huge) runs only the parts named, e.g. BENCH_WEB_PARTS=zip the ZIP alone;
BENCH_WEB_ZIP_RUNS (1) repeats the ZIP run in the same page; BENCH_WEB_PROFILE=1 adds the page thread's
busiest functions during the ZIP run (Chrome's sampling profiler through the DevTools protocol).
"""

import functools
import http.server
import os
import shutil
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
PARTS = set(os.environ.get("BENCH_WEB_PARTS", "kernel,file,zip,huge").split(","))
ZIP_RUNS = int(os.environ.get("BENCH_WEB_ZIP_RUNS", "1"))
PROFILE = os.environ.get("BENCH_WEB_PROFILE", "") == "1"
PASSWORD = "ein langes Kennwort 1234"  # 24 characters: three distinct keys, full Triple-DES
KEY = (PASSWORD.encode("latin-1") + b" " * 24)[:24]

# The kernel as the page uses it (chunk copied into the module, decrypted, copied back), on the page's
# main thread: one core.
KERNEL_SPEED = """
const [nKernelName, nMiB, password, done] = arguments;
(async () => {
    const simd = Uint8Array.from(atob(BRASKO_WASM_SIMD), (c) => c.charCodeAt(0));
    const u64 = Uint8Array.from(atob(BRASKO_WASM_U64), (c) => c.charCodeAt(0));
    const bSimd = nKernelName === "simd128";
    const engine = await BraskoEngine.CEngine.Create(await WebAssembly.compile(bSimd ? simd : u64));
    const nKernel = bSimd ? BraskoEngine.kKernelSimd128 : BraskoEngine.kKernelU64;
    const handle = engine.OpenCipher(new TextEncoder().encode(password), nKernel);
    const chunk = new Uint8Array(2 << 20);
    crypto.getRandomValues(chunk.subarray(0, 65536));
    engine.DecryptChunk(handle, chunk, true); // warm-up
    const nRounds = Math.max(1, nMiB / 2);
    const nStart = performance.now();
    for (let i = 0; i < nRounds; ++i)
        engine.DecryptChunk(handle, chunk, i === 0);
    const nSeconds = (performance.now() - nStart) / 1000;
    engine.CloseCipher(handle);
    return nRounds * chunk.length / nSeconds / (1 << 20);
})().then(done, (error) => done(String(error)));
"""


# Without the save picker the outputs are downloads (headless Chromium's own picker closes at once).
HIDE_SAVE_PICKER = "delete Window.prototype.showSaveFilePicker; delete window.showSaveFilePicker;"

# The page's trace switch: marks of a run's phases and its thread's time per step (BraskoPage.Trace()).
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


def random_file(path, size):
    with open(path, "wb") as f:
        for _ in range(size // (1 << 20)):
            f.write(os.urandom(1 << 20))
        f.write(os.urandom(size % (1 << 20)))
    return path


def browser_rss(profile):
    """The resident memory of every process of this browser (its profile folder in the command line)."""
    total = 0
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if profile.encode() not in f.read():
                    continue
            with open(f"/proc/{pid}/status") as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        total += int(line.split()[1]) * 1024
        except OSError:
            pass
    return total


def browser_cpu(profile):
    """The CPU seconds (user+sys) of this browser's processes so far (the one with its profile folder in the
    command line and every process below it), by their kind (browser, renderer, gpu-process, utility...)."""
    procs = {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                args = f.read().replace(b"\0", b" ").split()  # Chromium's children rewrite theirs into one
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        kind = next((arg[7:].decode() for arg in args if arg.startswith(b"--type=")), None)
        root = kind is None and any(profile.encode() in arg for arg in args)
        procs[int(pid)] = (int(fields[1]), kind or "browser", root,
                           (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK"))
    mine = {pid for pid, (_, _, root, _) in procs.items() if root}
    grown = True
    while grown:
        below = {pid for pid, (parent, _, _, _) in procs.items() if parent in mine} - mine
        mine |= below
        grown = bool(below)
    seconds = {}
    for pid in mine:
        _, kind, _, cpu = procs[pid]
        seconds[kind] = seconds.get(kind, 0) + cpu
    return seconds


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

    def wait(self, condition, timeout=None, each=None):
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
            time.sleep(0.05)
        raise TimeoutError

    def run(self, paths, download, each=None, saved=False):
        """Chooses the files, decrypts, and waits for the download (or the file the save picker gave): the
        seconds from choosing. Random bytes look like a wrong password's output: the question is answered
        with Ja."""
        start = time.perf_counter()
        self.driver.find_element(By.ID, "fileInput").send_keys("\n".join(paths))
        self.wait(lambda: self.driver.execute_script(
            "return document.getElementById('listFiles').childElementCount") == len(paths))
        self.chosen = time.perf_counter() - start
        self.driver.find_element(By.ID, "editPassword").clear()
        self.driver.find_element(By.ID, "editPassword").send_keys(PASSWORD)
        self.cpu_at_click = browser_cpu(self.profile)
        self.clicked = time.perf_counter()
        self.driver.find_element(By.ID, "btnDecrypt").click()
        path = os.path.join(self.downloads, download)

        def answer():
            if self.driver.find_element(By.ID, "btnMsgYes").is_displayed():
                self.driver.find_element(By.ID, "btnMsgYes").click()
            if each:
                each()
        def complete():
            if saved:
                return self.driver.execute_script("return document.getElementById('dlgMessage').open "
                                                  "&& !document.getElementById('btnMsgOk').hidden")
            return (os.path.exists(path) and not os.path.exists(path + ".crdownload")
                    and self.driver.execute_script("return document.getElementById('dlgMessage').open"))
        self.wait(complete, each=answer)
        self.done = time.perf_counter()
        seconds = self.done - start
        self.driver.find_element(By.ID, "btnMsgOk").click()
        if not saved:
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
        after = browser_cpu(browser.profile)
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


def main():
    load = os.getloadavg()
    print(f"web page in headless Chromium, {os.cpu_count()} cores, load {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}")
    work = tempfile.mkdtemp(prefix="brasko-bench-web-")
    browser = CBrowser(work)
    try:
        ready = browser.load()
        print(f"page: {os.path.getsize(PAGE) / 1024:.0f} KiB (goal <= 1024), ready in {ready} ms (goal < 500), "
              f"kernel {browser.body('data-kernel')}")

        if "kernel" in PARTS:
            sample = random_file(os.path.join(work, "kernel.bin"), KERNEL_MIB << 20)
            openssl_rate = KERNEL_MIB / openssl_seconds(sample)
            os.remove(sample)
            print(f"openssl enc -d -des-ede3, one core: {openssl_rate:8.1f} MiB/s")
            for kernel in ("u64", "simd128"):
                rate = browser.driver.execute_async_script(KERNEL_SPEED, kernel, KERNEL_MIB, PASSWORD)
                print(f"kernel {kernel:<8}, one core:           {rate:8.1f} MiB/s = {rate / openssl_rate:5.2f}x "
                      "openssl" + (" (goal >= 8x)" if kernel == "simd128" else ""))

        if "file" in PARTS:
            big = random_file(os.path.join(work, "gross.bin"), FILE_MIB << 20)
            openssl_big = openssl_seconds(big)
            seconds = browser.run([big], "e_gross.bin")
            os.remove(big)
            print(f"one {FILE_MIB} MiB file end to end: {seconds:6.2f} s, openssl enc {openssl_big:6.2f} s = "
                  f"{openssl_big / seconds:5.2f}x openssl (goal >= 4x)")

        if "zip" in PARTS:
            zip_part(browser, work)
        browser.quit()

        if HUGE_MIB == 0 or "huge" not in PARTS:
            return
        # The very large file in fresh browsers, so that nothing of the runs before counts.
        huge = random_file(os.path.join(work, "riesig.bin"), HUGE_MIB << 20)
        server = serve(os.path.dirname(PAGE))
        try:
            browser = CBrowser(work, "profile-stream")
            browser.load(f"http://127.0.0.1:{server.server_port}/{os.path.basename(PAGE)}")
            browser.driver.execute_async_script(GRANT_SAVE_FILE)
            grown = memory_growth(browser, huge, "e_riesig.bin", saved=True)
            size = browser.driver.execute_async_script(
                "const done = arguments[0]; window.savedSize('e_riesig.bin').then(done, (e) => done(String(e)))")
            browser.quit()
            print(f"one {HUGE_MIB} MiB file into the save picker's file ({size >> 20} MiB written): browser memory "
                  f"grew by {grown:.0f} MiB (goal < 300)")
        finally:
            server.shutdown()
            server.server_close()
        browser = CBrowser(work, "profile-blob", timeout=BLOB_TIMEOUT)
        browser.load()
        try:
            grown = memory_growth(browser, huge, "e_riesig.bin", saved=False)
            print(f"one {HUGE_MIB} MiB file as a download of Blob pieces (no save picker): browser memory grew "
                  f"by {grown:.0f} MiB")
        except TimeoutError:
            print(f"one {HUGE_MIB} MiB file as a download of Blob pieces (no save picker): no download within "
                  f"{BLOB_TIMEOUT} s")
        os.remove(huge)
    finally:
        browser.quit()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
