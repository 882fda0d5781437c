"""The log view with a big log in a real browser: the page shows the file's
end, and the clicks after it still post (a memo posted back would pass the
server's post limit)."""

import os
import unittest

from selenium.webdriver.support import expected_conditions as EC
from selenium.webdriver.support.ui import Select

import vtbrowser

MIB = 1 << 20


class LogViewTest(vtbrowser.BrowserTestCase):
    def setUp(self):
        super().setUp()
        folder = os.path.join(self.program.path, "Log", "W3C", "site")
        os.makedirs(folder, exist_ok=True)
        line = b"x" * 98 + b"\r\n"
        with open(os.path.join(folder, "big.log"), "wb") as f:
            for _ in range(50):
                f.write(line * (MIB // 100))
            f.write(b"the last line\r\n")
        with open(os.path.join(folder, "small.log"), "wb") as f:
            f.write(b"small\r\n")

    def pick(self, list_id, text):
        """Selects an item of a list; the page is posted and replaced."""
        old = self.visible(list_id)
        Select(old).select_by_visible_text(text)
        self.wait().until(EC.staleness_of(old))
        self.wait_title("Vantrell - Web Admin [Log View]")

    def memo(self):
        return self.visible("MMLOGFILE").get_property("value")

    def test_a_big_log_shows_its_end_and_the_next_clicks_still_post(self):
        self.login()
        self.wait_title("Vantrell - Web Admin [Main]")
        self.click_menu("IMGLOGVIEW")
        self.wait_title("Vantrell - Web Admin [Log View]")
        self.pick("LSTROOT", "[W3C]")
        self.pick("LSTLEVEL2", "[site]")
        self.pick("LSTLEVEL3", "big.log")
        text = self.memo()
        self.assertTrue(text.startswith("... (only the last 1 MiB of this 50 MiB file is shown;"), text[:200])
        self.assertTrue(text.rstrip("\r\n").endswith("the last line"))
        self.assertLessEqual(len(text), MIB + 200)

        self.pick("LSTLEVEL3", "small.log")
        self.assertEqual(self.memo().strip(), "small")
        self.pick("LSTLEVEL3", "big.log")
        self.pick("LSTROOT", "[VT]")
        self.assertEqual(self.memo(), "")

        # The download opens the whole file's copy in a new window.
        self.pick("LSTROOT", "[W3C]")
        self.pick("LSTLEVEL2", "[site]")
        self.click("CHKDOWNLOAD")
        self.pick("LSTLEVEL3", "big.log")
        self.wait().until(lambda d: len(d.window_handles) == 2)
        copy = [n for n in os.listdir(os.path.join(self.program.path, "Files")) if n.endswith("_big.log.txt")]
        self.assertEqual(len(copy), 1)
        self.assertEqual(os.path.getsize(os.path.join(self.program.path, "Files", copy[0])), 50 * (MIB // 100) * 100 + 15)


if __name__ == "__main__":
    unittest.main()
