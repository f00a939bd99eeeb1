#!/usr/bin/env python3
"""The page in real headless Chromium (Debian's chromium and chromium-driver): files go in through the
file input, downloads are compared byte for byte with what the openssl command line decrypts, the ZIP is
checked with unzip, the wrong-password question is answered both ways, and the browser's network log must
show no request but the page itself.

Usage: page_test.py build-web/brasko-decrypt.html
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

PAGE = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else None
TIMEOUT = float(os.environ.get("BRASKO_WEB_TIMEOUT", "60"))

SUCCEEDED = "Die Entschlüsselung wurde erfolgreich beendet !"


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
        self.driver.get("file://" + PAGE)
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

    def assert_no_network(self):
        page_url = "file://" + PAGE
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message["method"] != "Network.requestWillBeSent":
                continue
            url = message["params"]["request"]["url"]
            # The browser's own pages (chrome:) are no connection; the page may load only itself.
            self.assertTrue(url == page_url or url.split(":", 1)[0] in ("blob", "data", "chrome"), url)

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
        cipher = cipher_of_text(key, 5 * 1024 * 1024 + 13)  # three chunks, the last with a short final chunk
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
        archive = os.path.join(self.downloads, "entschluesselt.zip")
        self.downloaded("entschluesselt.zip")
        subprocess.run(["unzip", "-tq", archive], check=True, stdout=subprocess.DEVNULL)
        out = os.path.join(self.dir, "unzipped")
        subprocess.run(["unzip", "-q", archive, "-d", out], check=True)
        self.assertEqual(sorted(os.listdir(out)), ["e_a.txt", "e_b.dat", "e_leer"])
        for name, data in ciphers.items():
            with open(os.path.join(out, "e_" + name), "rb") as f:
                self.assertEqual(f.read(), expected_plaintext(key, data), name)

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
