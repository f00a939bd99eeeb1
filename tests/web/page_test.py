#!/usr/bin/env python3
"""The page in real headless Chromium (Debian's chromium and chromium-driver): files go in through the
file input, downloads are compared byte for byte with what the openssl command line decrypts, the ZIP is
checked with unzip (also with the File System Access API hidden, as Firefox sees the page), a granted folder
is written through an origin-private file system handle standing in for the picker, the wrong-password
question is answered both ways, Abbrechen leaves nothing, a run works by keyboard alone, and the browser's
network log must show no request but the page itself.

Usage: page_test.py build-web/brasko-decrypt.html
"""

import base64
import functools
import http.server
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

PAGE = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else None
TIMEOUT = float(os.environ.get("BRASKO_WEB_TIMEOUT", "60"))

SUCCEEDED = "Die Entschlüsselung wurde erfolgreich beendet !"
FAILED = "Bei der Entschlüsselung ist ein Fehler aufgetreten."
CANCELLED = "Die Entschlüsselung wurde abgebrochen; die begonnene Datei wurde nicht geschrieben."

# Run before the page's own script: the page as a browser without the File System Access API sees it.
HIDE_FILE_SYSTEM_ACCESS = ("delete Window.prototype.showDirectoryPicker; delete window.showDirectoryPicker; "
                           "delete Window.prototype.showSaveFilePicker; delete window.showSaveFilePicker;")
# Without the save picker (which headless Chromium closes at once): the outputs are downloads.
HIDE_SAVE_PICKER = "delete Window.prototype.showSaveFilePicker; delete window.showSaveFilePicker;"

# A save picker that offers a file of the origin-private file system (the same kind of handle, with the
# same writable stream); the name it was asked for is kept in window.savedAs.
GRANT_SAVE_FILE = """
const [folderName, done] = arguments;
(async () => {
    const root = await navigator.storage.getDirectory();
    await root.removeEntry(folderName, {recursive: true}).catch(() => {});
    const folder = await root.getDirectoryHandle(folderName, {create: true});
    window.showSaveFilePicker = async (options) => {
        window.savedAs = options.suggestedName;
        return folder.getFileHandle(options.suggestedName, {create: true});
    };
})().then(() => done("ok"), (error) => done(String(error)));
"""

# A folder of the origin-private file system, filled with the given files (relative path: base64), then
# offered by the picker. The picker's handle and the origin-private one are the same kind of handle, with
# the same writable streams.
GRANT_FOLDER = """
const [name, files, done] = arguments;
(async () => {
    const root = await navigator.storage.getDirectory();
    await root.removeEntry(name, {recursive: true}).catch(() => {});
    const folder = await root.getDirectoryHandle(name, {create: true});
    for (const [path, data] of Object.entries(files)) {
        const parts = path.split("/");
        let dir = folder;
        for (const part of parts.slice(0, -1))
            dir = await dir.getDirectoryHandle(part, {create: true});
        const writable = await (await dir.getFileHandle(parts[parts.length - 1], {create: true})).createWritable();
        await writable.write(Uint8Array.from(atob(data), (c) => c.charCodeAt(0)));
        await writable.close();
    }
    window.showDirectoryPicker = async () => folder;
})().then(() => done("ok"), (error) => done(String(error)));
"""

# Every file below the origin-private folder: relative path to base64.
READ_FOLDER = """
const [name, done] = arguments;
(async () => {
    const out = {};
    const walk = async (dir, prefix) => {
        for await (const [entryName, handle] of dir.entries()) {
            if (handle.kind === "directory") {
                await walk(handle, prefix + entryName + "/");
            } else {
                const bytes = new Uint8Array(await (await handle.getFile()).arrayBuffer());
                let text = "";
                for (let i = 0; i < bytes.length; i += 0x8000)
                    text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
                out[prefix + entryName] = btoa(text);
            }
        }
    };
    await walk(await (await navigator.storage.getDirectory()).getDirectoryHandle(name), "");
    return out;
})().then(done, (error) => done(String(error)));
"""

# Presses Abbrechen (a real click on the progress window's button) as soon as the bar shows the first chunk
# written, so that the run is stopped between chunks however fast the machine is.
CANCEL_AT_FIRST_PROGRESS = """
const bar = document.getElementById("progBar");
const observer = new MutationObserver(() => {
    if (document.getElementById("dlgProgress").open && bar.value > 0) {
        observer.disconnect();
        document.getElementById("btnCancelBatch").click();
    }
});
observer.observe(bar, {attributes: true, attributeFilter: ["value"]});
"""

# Fills the browser's store for Blob data with pieces of 8 MiB until it refuses three in a row (a read of
# the last byte fails), keeping the others; resolves to their number, or -1 where 4 GiB went in (a store
# that moves Blob data to disk).
FILL_BLOB_STORE = """
const done = arguments[arguments.length - 1];
(async () => {
    window.heldBlobs = [];
    const bytes = new Uint8Array(8 << 20);
    let nRefused = 0;
    for (let i = 0; i < 512 && nRefused < 3; ++i) {
        const piece = new Blob([bytes]);
        try {
            await piece.slice(piece.size - 1).arrayBuffer();
            window.heldBlobs.push(piece);
            nRefused = 0;
        } catch (error) {
            ++nRefused;
        }
    }
    return nRefused === 3 ? window.heldBlobs.length : -1;
})().then(done, (error) => done(String(error)));
"""


def blanked(text):
    return (text.encode("latin-1") + b" " * 24)[:24]


def openssl(direction, key, data):
    if not data:
        return b""
    return subprocess.run(["openssl", "enc", direction, "-des-ede3", "-nopad", "-K", key.hex()],
                          input=data, stdout=subprocess.PIPE, check=True).stdout


def expected_plaintext(key, cipher):
    """The old tool's plaintext: whole blocks as openssl decrypts them; a short final chunk laid over the
    previous plaintext block (zeros before the first), that block decrypted, its first bytes kept."""
    whole = len(cipher) - len(cipher) % 8
    plain = openssl("-d", key, cipher[:whole])
    rest = len(cipher) - whole
    if rest:
        block = cipher[whole:] + (plain[whole - 8 + rest:] if whole else b"\0" * (8 - rest))
        plain += openssl("-d", key, block)[:rest]
    return plain


def cipher_of_text(key, size):
    """Ciphertext of size bytes whose whole blocks hold text (so the password check finds it plausible)
    and whose short final chunk, if any, is arbitrary bytes."""
    whole = size - size % 8
    return openssl("-e", key, text_plaintext(whole)) + os.urandom(size - whole)


def text_plaintext(size):
    line = "Sehr geehrte Damen und Herren, anbei die Zahlen für das dritte Quartal.\n".encode("utf-8")
    return (line * (size // len(line) + 1))[:size]


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class PageTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="brasko-web-")
        self.downloads = os.path.join(self.dir, "downloads")
        os.mkdir(self.downloads)
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for flag in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--no-first-run",
                     "--disable-default-apps", "--disable-dev-shm-usage",
                     "--user-data-dir=" + os.path.join(self.dir, "profile"), "--window-size=1000,900"]:
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
        self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        self.driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                                    {"behavior": "allow", "downloadPath": self.downloads})
        self.page_urls = set()
        self.hide_save_picker = self.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument",
                                                            {"source": HIDE_SAVE_PICKER})["identifier"]
        self.load("file://" + PAGE)

    def load(self, url):
        self.page_url = url
        self.page_urls.add(url)
        self.driver.get(url)
        self.wait_for(lambda: self.driver.find_element(By.TAG_NAME, "body").get_attribute("data-state")
                      in ("ready", "failed"))
        self.assertEqual(self.driver.find_element(By.TAG_NAME, "body").get_attribute("data-state"), "ready")

    def tearDown(self):
        try:
            self.assert_no_network()
        finally:
            self.driver.quit()
            shutil.rmtree(self.dir, ignore_errors=True)

    def wait_for(self, condition, timeout=TIMEOUT):
        end = time.time() + timeout
        while time.time() < end:
            try:
                if condition():
                    return
            except Exception:  # the element may not be there yet
                pass
            time.sleep(0.05)
        self.fail("timed out")

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def choose(self, *paths):
        self.driver.find_element(By.ID, "fileInput").send_keys("\n".join(paths))

    def message(self):
        """Waits for the message dialog; its text."""
        self.wait_for(lambda: self.driver.execute_script("return document.getElementById('dlgMessage').open"))
        return self.driver.find_element(By.ID, "msgText").text

    def click(self, element_id):
        self.driver.find_element(By.ID, element_id).click()

    def downloaded(self, name):
        path = os.path.join(self.downloads, name)
        self.wait_for(lambda: os.path.exists(path) and not os.path.exists(path + ".crdownload"))
        with open(path, "rb") as f:
            return f.read()

    def keys(self, *keys):
        """Types on the keyboard into whatever has the focus."""
        ActionChains(self.driver).send_keys(*keys).perform()

    def focused(self):
        return self.driver.switch_to.active_element.get_attribute("id")

    def check_zip(self, key, ciphers):
        """The downloaded ZIP passes unzip -t and holds each input's plaintext under its output's name."""
        archive = os.path.join(self.downloads, "entschluesselt.zip")
        self.downloaded("entschluesselt.zip")
        subprocess.run(["unzip", "-tq", archive], check=True, stdout=subprocess.DEVNULL)
        out = os.path.join(self.dir, "unzipped")
        subprocess.run(["unzip", "-q", archive, "-d", out], check=True)
        self.assertEqual(sorted(os.listdir(out)), sorted("e_" + name for name in ciphers))
        for name, data in ciphers.items():
            with open(os.path.join(out, "e_" + name), "rb") as f:
                self.assertEqual(f.read(), expected_plaintext(key, data), name)

    def assert_no_network(self):
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message["method"] != "Network.requestWillBeSent":
                continue
            url = message["params"]["request"]["url"]
            # The browser's own pages (chrome:) are no connection; the page may load only itself.
            self.assertTrue(url in self.page_urls or url.split(":", 1)[0] in ("blob", "data", "chrome"), url)

    def test_Page_ShowsTheDialogTexts(self):
        self.assertEqual(self.driver.title, "Brasko Decrypter. Version 2.0")
        body = self.driver.find_element(By.TAG_NAME, "body").text
        for text in ["Entschlüsseln einer Datei", "Kennwort", "Eingabedateien", "Durchsuchen...",
                     "Entschlüsseln", "Dateipräfix", "Dateisuffix", "Dateiendung"]:
            self.assertIn(text, body)
        self.assertEqual(self.driver.find_element(By.ID, "editPrefix").get_attribute("value"), "e_")
        self.assertEqual(self.driver.switch_to.active_element.get_attribute("id"), "btnBrowse")
        self.assertIn(self.driver.find_element(By.TAG_NAME, "body").get_attribute("data-kernel"), ("simd128", "u64"))

    def test_SingleFile_DownloadMatchesOpenssl(self):
        key = blanked("geheim")
        # Chunks over three of the workers' reads (32 MiB each for a download made of Blobs), the last read
        # shorter and its last chunk with a short final chunk.
        cipher = cipher_of_text(key, 69 * 1024 * 1024 + 13)
        self.choose(self.write("bericht.xls", cipher))
        self.driver.find_element(By.ID, "editPassword").send_keys("geheim")
        self.click("btnDecrypt")
        self.assertEqual(self.message(), SUCCEEDED)
        self.click("btnMsgOk")
        self.assertEqual(self.downloaded("e_bericht.xls"), expected_plaintext(key, cipher))

    def test_SeveralFiles_ZipPassesUnzipAndMatches(self):
        key = blanked("Kennwort")
        ciphers = {"a.txt": cipher_of_text(key, 100), "b.dat": cipher_of_text(key, 3 * 1024 * 1024 + 7), "leer": b""}
        self.choose(*[self.write(name, data) for name, data in ciphers.items()])
        password = self.driver.find_element(By.ID, "editPassword")
        password.send_keys("Kennwort")
        password.send_keys(Keys.ENTER)  # Enter in a field runs the batch
        self.assertEqual(self.message(), SUCCEEDED)
        self.click("btnMsgOk")
        self.check_zip(key, ciphers)

    # Small files go to the workers several in one message: the ZIP still holds them in the list's order,
    # and a file gone after it was chosen costs only its own entry. A group leaves when no read is left
    # under way, also when the last one failed or found a larger file (the last file here, read longest).
    def test_ManySmallFiles_ZipInListOrderAndAFileGoneCostsOnlyItsEntry(self):
        key = blanked("Kennwort")
        sizes = [0, 1, 7, 8, 9, 100, 4096, 4099]
        ciphers = {f"f{i:02}.bin": cipher_of_text(key, sizes[i % len(sizes)]) for i in range(40)}
        ciphers["f39.bin"] = cipher_of_text(key, 2 * 1024 * 1024 + 5)
        paths = [self.write(name, data) for name, data in ciphers.items()]
        self.choose(*paths)
        os.remove(os.path.join(self.dir, "f17.bin"))
        del ciphers["f17.bin"]
        self.driver.find_element(By.ID, "editPassword").send_keys("Kennwort")
        self.click("btnDecrypt")
        self.assertEqual(self.message(), "Die Datei 'f17.bin' kann nicht gefunden werden !")
        self.click("btnMsgOk")
        self.wait_for(lambda: self.message() == FAILED)
        self.click("btnMsgOk")
        self.check_zip(key, ciphers)
        listed = subprocess.run(["unzip", "-Z1", os.path.join(self.downloads, "entschluesselt.zip")],
                                check=True, stdout=subprocess.PIPE, text=True).stdout.split()
        self.assertEqual(listed, ["e_" + name for name in sorted(ciphers)])

    def test_WithoutFileSystemAccess_NoFolderButtonAndTheZip(self):
        self.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": HIDE_FILE_SYSTEM_ACCESS})
        self.load(self.page_url)
        self.assertFalse(self.driver.find_element(By.ID, "btnFolder").is_displayed())
        key = blanked("Kennwort")
        ciphers = {"eins.txt": cipher_of_text(key, 2 * 1024 * 1024 + 3), "zwei.txt": cipher_of_text(key, 800)}
        self.choose(*[self.write(name, data) for name, data in ciphers.items()])
        self.driver.find_element(By.ID, "editPassword").send_keys("Kennwort")
        self.click("btnDecrypt")
        self.assertEqual(self.message(), SUCCEEDED)
        self.click("btnMsgOk")
        self.check_zip(key, ciphers)

    # The folder mode: each output next to its input in the granted folder, through the writable stream; an
    # input of the batch is never replaced, though it has an output's name.
    def load_from_server(self):
        """A file:// page has an opaque origin and no origin-private file system: the page from a static
        server on the loopback address, which serves nothing but the page."""
        handler = functools.partial(QuietHandler, directory=os.path.dirname(PAGE))
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        self.addCleanup(server.server_close)
        self.addCleanup(server.shutdown)
        self.load(f"http://127.0.0.1:{server.server_port}/{os.path.basename(PAGE)}")

    def test_GrantedFolder_OutputsBesideInputs(self):
        self.load_from_server()
        key = blanked("Ordner")
        ciphers = {"a.txt": cipher_of_text(key, 4 * 1024 * 1024 + 5), "unter/b.dat": cipher_of_text(key, 77),
                   "unter/e_b.dat": b"older output", "unter/c": cipher_of_text(key, 64)}
        files = {path: base64.b64encode(data).decode() for path, data in ciphers.items()}
        self.assertEqual(self.driver.execute_async_script(GRANT_FOLDER, "Akten", files), "ok")
        self.click("btnFolder")
        self.wait_for(lambda: len(self.driver.find_elements(By.CSS_SELECTOR, "#listFiles li")) == 4)
        self.driver.find_element(By.ID, "editPassword").send_keys("Ordner")
        self.click("btnDecrypt")
        # unter/e_b.dat is an input of the batch, so unter/b.dat must not replace it.
        self.assertEqual(self.message(), "Die Datei 'unter/b.dat' wird nicht entschlüsselt, da die Ausgabedatei "
                                         "'unter/e_b.dat' eine zu entschlüsselnde Datei überschreiben würde !")
        self.click("btnMsgOk")
        self.assertEqual(self.message(), "Bei der Entschlüsselung ist ein Fehler aufgetreten.")
        self.click("btnMsgOk")
        written = {path: base64.b64decode(data)
                   for path, data in self.driver.execute_async_script(READ_FOLDER, "Akten").items()}
        expected = dict(ciphers)
        for path in ("a.txt", "unter/e_b.dat", "unter/c"):
            folder, _, name = path.rpartition("/")
            expected[(folder + "/" if folder else "") + "e_" + name] = expected_plaintext(key, ciphers[path])
        self.assertEqual(sorted(written), sorted(expected))
        for path, data in expected.items():
            self.assertEqual(written[path], data, path)
        self.assertEqual(os.listdir(self.downloads), [])

    # With the save picker the download is written as a stream into the chosen file: the one output under
    # its own name, several as the ZIP.
    def test_SavePicker_StreamsTheOutputIntoTheChosenFile(self):
        self.driver.execute_cdp_cmd("Page.removeScriptToEvaluateOnNewDocument",
                                    {"identifier": self.hide_save_picker})
        self.load_from_server()
        key = blanked("Strom")
        for ciphers, saved in [({"bericht.xls": cipher_of_text(key, 5 * 1024 * 1024 + 3)}, "e_bericht.xls"),
                               ({"a.txt": cipher_of_text(key, 100), "c": cipher_of_text(key, 4096), "leer": b"",
                                 "b.dat": cipher_of_text(key, 9 * 1024 * 1024 + 5)}, "entschluesselt.zip")]:
            self.assertEqual(self.driver.execute_async_script(GRANT_SAVE_FILE, "Gespeichert"), "ok")
            self.choose(*[self.write(name, data) for name, data in ciphers.items()])
            password = self.driver.find_element(By.ID, "editPassword")
            password.clear()
            password.send_keys("Strom")
            self.click("btnDecrypt")
            self.assertEqual(self.message(), SUCCEEDED)
            self.click("btnMsgOk")
            self.assertEqual(self.driver.execute_script("return window.savedAs"), saved)
            written = base64.b64decode(self.driver.execute_async_script(READ_FOLDER, "Gespeichert")[saved])
            if saved.endswith(".zip"):
                self.write(saved, written)
                os.replace(os.path.join(self.dir, saved), os.path.join(self.downloads, saved))
                self.check_zip(key, ciphers)
            else:
                self.assertEqual(written, expected_plaintext(key, ciphers["bericht.xls"]))
        self.assertEqual(sorted(os.listdir(self.downloads)), ["entschluesselt.zip"])

    # Headless Chromium's own save picker closes at once, as a user who closes it: nothing runs.
    def test_SavePickerClosed_RunsNothing(self):
        self.driver.execute_cdp_cmd("Page.removeScriptToEvaluateOnNewDocument",
                                    {"identifier": self.hide_save_picker})
        self.load(self.page_url)
        self.choose(self.write("notiz.txt", cipher_of_text(blanked("geheim"), 1000)))
        self.driver.find_element(By.ID, "editPassword").send_keys("geheim")
        self.click("btnDecrypt")
        time.sleep(1)
        self.assertFalse(self.driver.execute_script(
            "return document.getElementById('dlgMessage').open || document.getElementById('dlgProgress').open"))
        self.assertEqual(self.focused(), "btnDecrypt")
        self.assertEqual(os.listdir(self.downloads), [])

    # The progress window says the file, its bytes done and its size, as the batch goes.
    def test_Progress_ShowsFileAndBytes(self):
        key = blanked("geheim")
        paths = [self.write("eins.bin", cipher_of_text(key, 3 * 1024 * 1024)),
                 self.write("zwei.bin", cipher_of_text(key, 1536 * 1024 + 7))]
        self.choose(*paths)
        self.driver.find_element(By.ID, "editPassword").send_keys("geheim")
        self.driver.execute_script("""
            window.progressSeen = [];
            new MutationObserver(() => window.progressSeen.push(
                document.getElementById("progText").textContent + "|" + document.getElementById("progBytes").textContent))
                .observe(document.getElementById("progBytes"), {childList: true, characterData: true, subtree: true});
        """)
        self.click("btnDecrypt")
        self.assertEqual(self.message(), SUCCEEDED)
        self.click("btnMsgOk")
        # A file of several chunks shows each; of a file of one chunk the latest state per frame is shown,
        # at least its end, which the run's end shows if no frame came before.
        seen = self.driver.execute_script("return window.progressSeen")
        for state in ["Datei 1 von 2\neins.bin|0,0 von 3,0 MiB (0 %)", "Datei 1 von 2\neins.bin|2,0 von 3,0 MiB (66 %)",
                      "Datei 1 von 2\neins.bin|3,0 von 3,0 MiB (100 %)", "Datei 2 von 2\nzwei.bin|1,5 von 1,5 MiB (100 %)"]:
            self.assertIn(state, seen)

    def test_Abbrechen_StopsBetweenChunksAndWritesNothing(self):
        key = blanked("geheim")
        names = ["gross.bin", "klein.txt"]
        paths = [self.write(names[0], cipher_of_text(key, 7 * 1024 * 1024 + 3)),
                 self.write(names[1], cipher_of_text(key, 100))]
        self.choose(*paths)
        self.driver.find_element(By.ID, "editPassword").send_keys("geheim")
        self.driver.execute_script(CANCEL_AT_FIRST_PROGRESS)
        self.click("btnDecrypt")
        self.assertEqual(self.message(), CANCELLED)
        self.click("btnMsgOk")
        self.assertFalse(self.driver.execute_script("return window.BraskoPage.IsRunning()"))
        self.assertEqual(os.listdir(self.downloads), [])

    # A download the browser's Blob store will not hold (a fresh Chromium, before it has worked out its
    # store's limits, takes 500 MiB): said so, no download, and the batch failed. Where the store found room
    # after all (its limits came in the meantime), the success must come with the whole download.
    def test_BlobStoreFull_RefusalSaidAndNoSuccessWithoutTheDownload(self):
        self.driver.set_script_timeout(120)
        held = self.driver.execute_async_script(FILL_BLOB_STORE)
        if held == -1:
            self.skipTest("this browser moves Blob data to disk")
        self.assertGreater(held, 0)
        key = blanked("geheim")
        cipher = cipher_of_text(key, 16 * 1024 * 1024 + 5)
        self.choose(self.write("gross.bin", cipher))
        self.driver.find_element(By.ID, "editPassword").send_keys("geheim")
        self.click("btnDecrypt")
        text = self.message()
        self.click("btnMsgOk")
        if text == SUCCEEDED:
            self.assertEqual(self.downloaded("e_gross.bin"), expected_plaintext(key, cipher))
            return
        self.assertEqual(text, "Die Ausgabedatei 'e_gross.bin' ist zu groß, um in diesem Browser als Download "
                         "bereitgestellt zu werden, und wurde nicht geschrieben !")
        self.assertEqual(self.message(), "Bei der Entschlüsselung ist ein Fehler aufgetreten.")
        self.click("btnMsgOk")
        self.assertFalse(self.driver.execute_script("return window.BraskoPage.IsRunning()"))
        self.assertEqual(os.listdir(self.downloads), [])

    # After the file choice, keys only: F1 opens the help and Escape closes it, Tab reaches the password
    # first, Enter runs, Enter closes the message.
    def test_KeyboardOnly_RunAndHelp(self):
        key = blanked("Tastatur")
        cipher = cipher_of_text(key, 1000)
        self.choose(self.write("notiz.txt", cipher))
        # The browser's file chooser is no part of the page: the focus starts from the page itself.
        self.driver.execute_script("document.activeElement.blur()")
        self.keys(Keys.F1)
        self.wait_for(lambda: self.driver.execute_script("return document.getElementById('dlgHelp').open"))
        self.keys(Keys.ESCAPE)
        self.wait_for(lambda: not self.driver.execute_script("return document.getElementById('dlgHelp').open"))
        self.keys(Keys.TAB)
        self.assertEqual(self.focused(), "editPassword")
        self.keys("Tastatur", Keys.ENTER)
        self.assertEqual(self.message(), SUCCEEDED)
        self.assertEqual(self.focused(), "btnMsgOk")
        self.keys(Keys.ENTER)
        self.wait_for(lambda: not self.driver.execute_script("return document.getElementById('dlgMessage').open"))
        self.assertEqual(self.downloaded("e_notiz.txt"), expected_plaintext(key, cipher))

    def test_WrongPassword_NeinReturnsToPasswordJaDecrypts(self):
        key = blanked("richtig")
        plain = text_plaintext(4096)
        self.choose(self.write("brief.txt", openssl("-e", key, plain)))
        self.driver.find_element(By.ID, "editPassword").send_keys("falsch")
        self.click("btnDecrypt")
        self.assertEqual(self.message(), "Mit diesem Kennwort ergibt die Datei 'brief.txt' keinen erkennbaren "
                                         "Inhalt. Ist das Kennwort richtig? Trotzdem entschlüsseln?")
        self.assertEqual(self.driver.switch_to.active_element.get_attribute("id"), "btnMsgNo")
        self.driver.switch_to.active_element.send_keys(Keys.ENTER)  # Nein is the default
        self.wait_for(lambda: self.driver.switch_to.active_element.get_attribute("id") == "editPassword")
        self.assertEqual(os.listdir(self.downloads), [])

        self.click("btnDecrypt")
        self.message()
        self.click("btnMsgYes")
        self.assertEqual(self.message(), SUCCEEDED)
        self.click("btnMsgOk")
        garbage = self.downloaded("e_brief.txt")
        self.assertEqual(len(garbage), len(plain))
        self.assertNotEqual(garbage, plain)

    def test_EmptyTemplate_WarnsAndWritesNothing(self):
        self.choose(self.write("x.bin", b"12345678"))
        self.driver.find_element(By.ID, "editPrefix").clear()
        self.click("btnDecrypt")
        self.assertEqual(self.message(), "Bitte geben Sie mindestens eine Vorlage für die Ausgabedatei an.")
        self.assertIn("stop", self.driver.find_element(By.ID, "msgIcon").get_attribute("class"))
        self.driver.switch_to.active_element.send_keys(Keys.ESCAPE)
        self.wait_for(lambda: not self.driver.execute_script("return document.getElementById('dlgMessage').open"))
        self.assertEqual(os.listdir(self.downloads), [])


if __name__ == "__main__":
    if PAGE is None or not os.path.exists(PAGE):
        sys.exit("usage: page_test.py build-web/brasko-decrypt.html")
    unittest.main(verbosity=2)
