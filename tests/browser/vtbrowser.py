"""The browser tests' fixture: the real program in a temporary program folder,
driven by headless Chromium through Debian's chromedriver.

    class MyPageTest(vtbrowser.BrowserTestCase):
        def test_something(self):
            self.login()                          # "Admin", empty password
            self.click_menu("IMGGENERAL")
            self.wait_title("Vantrell - Web Admin [General settings]")

Every wait is bounded. On a failure the screenshot, the page source, the
program's output and its event log are kept under
<build>/browser-artifacts/<test id>/.

Environment: VT_BUILD_DIR (the build folder with vantrell and
bench/bench_settings; default: ../../build from here).
"""

import http.server
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import StaleElementReferenceException, TimeoutException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support import expected_conditions as EC
from selenium.webdriver.support.ui import WebDriverWait

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(os.path.dirname(HERE))
BUILD_DIR = os.environ.get("VT_BUILD_DIR", os.path.join(SOURCE_DIR, "build"))
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
WAIT_SECONDS = 20


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, seconds, process):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise RuntimeError("the program ended early with code %d" % process.returncode)
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("nothing listens on port %d after %d s" % (port, seconds))


class ProgramFolder:
    """A temporary program folder with Files/, a settings file on a free
    administration port, and the running program."""

    def __init__(self, settings_args=(), program_args=("prog",)):
        self.program_args = list(program_args)
        self.path = tempfile.mkdtemp(prefix="vt-browser-")
        shutil.copytree(os.path.join(SOURCE_DIR, "Files"), os.path.join(self.path, "Files"))
        os.makedirs(os.path.join(self.path, "data"))
        self.admin_port = free_port()
        subprocess.run([os.path.join(BUILD_DIR, "bench", "bench_settings"), "--admin-port", str(self.admin_port),
                        "--out", os.path.join(self.path, "data", "settings.dat"), *settings_args],
                       check=True, stdout=subprocess.DEVNULL, timeout=30)
        self.output_path = os.path.join(self.path, "program-output.txt")
        self.process = None

    @property
    def url(self):
        return "http://127.0.0.1:%d/" % self.admin_port

    def start(self):
        self._output = open(self.output_path, "wb")
        self.process = subprocess.Popen([os.path.join(BUILD_DIR, "vantrell"), *self.program_args], cwd=self.path,
                                        stdout=self._output, stderr=subprocess.STDOUT)
        wait_for_port(self.admin_port, WAIT_SECONDS, self.process)

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=WAIT_SECONDS)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=WAIT_SECONDS)
        if self.process:
            self._output.close()

    def event_log(self):
        """Every line the program wrote to its logs."""
        text = []
        for root, _, files in os.walk(os.path.join(self.path, "Log")):
            for name in sorted(files):
                with open(os.path.join(root, name), "rb") as f:
                    text.append(f.read().decode("latin-1"))
        return "".join(text)

    def wait_event_log(self, text, seconds=WAIT_SECONDS):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if text in self.event_log():
                return True
            time.sleep(0.1)
        return False

    def remove(self):
        shutil.rmtree(self.path, ignore_errors=True)


def new_driver(profile_dir):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--window-size=1200,900", "--disable-popup-blocking", "--user-data-dir=" + profile_dir):
        options.add_argument(arg)
    driver = webdriver.Chrome(service=Service(executable_path=CHROMEDRIVER), options=options)
    driver.set_page_load_timeout(WAIT_SECONDS)
    return driver


class BrowserTestCase(unittest.TestCase):
    """One program and one browser per test. Override settings_args to change
    the settings file (extra bench_settings options), program_args to start
    the program with other switches ("prog", "owa")."""

    settings_args = ()
    program_args = ("prog",)

    def setUp(self):
        self.program = ProgramFolder(self.settings_args, self.program_args)
        self.addCleanup(self.program.remove)
        self.program.start()
        self.addCleanup(self.program.stop)
        profile = tempfile.mkdtemp(prefix="vt-chromium-")
        self.addCleanup(shutil.rmtree, profile, True)
        self.driver = new_driver(profile)
        self.addCleanup(self.driver.quit)
        # Runs first among the clean-ups: the program and browser still live.
        self.addCleanup(self._keep_artifacts_on_failure)

    def _failed(self):
        outcome = getattr(self, "_outcome", None)
        result = getattr(outcome, "result", None)
        if result is None:
            return False
        return any(test is self for test, _ in result.failures + result.errors)

    def _keep_artifacts_on_failure(self):
        if not self._failed():
            return
        folder = os.path.join(BUILD_DIR, "browser-artifacts", self.id())
        os.makedirs(folder, exist_ok=True)
        try:
            self.driver.save_screenshot(os.path.join(folder, "screenshot.png"))
            with open(os.path.join(folder, "page.html"), "w", encoding="utf-8") as f:
                f.write(self.driver.page_source)
        except Exception as e:  # the browser may be the thing that failed
            with open(os.path.join(folder, "browser-error.txt"), "w") as f:
                f.write(repr(e))
        self.program.stop()
        shutil.copy(self.program.output_path, os.path.join(folder, "program-output.txt"))
        with open(os.path.join(folder, "event-log.txt"), "w", encoding="utf-8") as f:
            f.write(self.program.event_log())

    # --- helpers for page tests ---
    def open(self, path=""):
        self.driver.get(self.program.url + path)

    def wait(self):
        # Pages replace elements while a test polls them (a grid re-sent, a cell
        # opened): a stale reference means "not yet", not a failure.
        return WebDriverWait(self.driver, WAIT_SECONDS,
                             ignored_exceptions=(StaleElementReferenceException,))

    def wait_title(self, title):
        try:
            self.wait().until(EC.title_is(title))
        except TimeoutException:
            self.fail("title %r, expected %r" % (self.driver.title, title))

    def element(self, element_id):
        return self.wait().until(EC.presence_of_element_located((By.ID, element_id)))

    def visible(self, element_id):
        return self.wait().until(EC.visibility_of_element_located((By.ID, element_id)))

    def type_into(self, element_id, text, enter=False):
        field = self.visible(element_id)
        field.clear()
        field.send_keys(text + (Keys.ENTER if enter else ""))

    def click(self, element_id):
        self.wait().until(EC.element_to_be_clickable((By.ID, element_id))).click()

    def click_menu(self, item):
        """A menu item by its image id without the frame prefix ("IMGGENERAL")."""
        self.click("FRAMEMAINMENU_" + item)

    def broken_images(self):
        """The sources of the page's images that failed to load, once all have settled."""
        script = "return Array.from(document.images).every(function(i){return i.complete;});"
        self.wait().until(lambda d: d.execute_script(script))
        return self.driver.execute_script(
            "return Array.from(document.images).filter(function(i){return i.naturalWidth===0;})"
            ".map(function(i){return i.getAttribute('src');});")

    def login(self, user="Admin", password=""):
        self.open()
        self.wait_title("Vantrell - Web Admin [Login]")
        self.type_into("EDTUSERNAME", user)
        self.type_into("EDTPASSWORD", password, enter=True)


def start_backend(test, body=lambda path: b"served by the back end"):
    """A back end on 127.0.0.1 and a free port for the test's lifetime;
    body(path) gives the answer to each GET."""

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            data = body(self.path)
            self.send_response(200)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    test.addCleanup(server.server_close)
    test.addCleanup(server.shutdown)
    return server


class SwitchTestCase(BrowserTestCase):
    """The running switch serves one domain on a free port in front of a back
    end this test runs (`backend_body` gives its answers)."""

    backend_body = staticmethod(lambda path: b"served by the back end")

    def setUp(self):
        self.backend = start_backend(self, self.backend_body)
        self.backend_port = self.backend.server_address[1]
        self.switch_port = free_port()
        self.settings_args = ("--port", str(self.switch_port), "--backend-port", str(self.backend_port))
        super().setUp()
        wait_for_port(self.switch_port, WAIT_SECONDS, self.program.process)

    def status_through_switch(self, path="/"):
        """The status of a GET through the switch, its body read."""
        try:
            with urllib.request.urlopen("http://127.0.0.1:%d%s" % (self.switch_port, path), timeout=10) as r:
                r.read()
                return r.status
        except urllib.error.HTTPError as e:
            return e.code
