"""The status page (automatic update, public mode), the log view and the
server page against a running switch, in a real browser."""

import socket
import time
import unittest
import urllib.error
import urllib.request

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select

import vtbrowser


class SwitchTestCase(vtbrowser.SwitchTestCase):
    def switch_refuses(self):
        try:
            with socket.create_connection(("127.0.0.1", self.switch_port), timeout=2):
                return False
        except OSError:
            return True

    def cell(self, row, col):
        return self.driver.find_element(By.ID, "TBLGRDSTATUS").find_elements(By.TAG_NAME, "tr")[row] \
            .find_elements(By.TAG_NAME, "td")[col].text.strip()

    def wait_until(self, condition, seconds=vtbrowser.WAIT_SECONDS):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            try:
                if condition():
                    return True
            except Exception:  # the page may be between two loads
                pass
            time.sleep(0.2)
        return False


class StatusPageTest(SwitchTestCase):
    def test_automatic_update_shows_new_requests(self):
        self.login()
        self.wait_title("Vantrell - Web Admin [Main]")
        self.click_menu("IMGSTATUS")
        self.wait_title("Vantrell - Web Admin [Status]")
        # The legend asks for "StatusGreen.JPG" and the like; the file server
        # finds the pictures whatever the case.
        self.assertEqual(self.broken_images(), [])
        # Each counter's caption on one line, not over the next one.
        wrapped = self.driver.execute_script(
            "return Array.from(document.querySelectorAll('span[id^=IWLABEL][id$=CAPTION]'))"
            ".filter(function(s){return s.getClientRects().length !== 1;}).map(function(s){return s.id;});")
        self.assertEqual(wrapped, [])
        self.assertTrue(self.cell(2, 2).startswith("OK"), self.cell(2, 2))
        requests_before = self.visible("IWLABELREQUESTS").text
        domain_before = self.cell(2, 4)
        self.click("CHKAUTOUPDATE")
        self.wait_until(lambda: self.element("CHKAUTOUPDATE").is_selected())
        for _ in range(3):
            self.assertEqual(self.status_through_switch(), 200)
        # One refresh comes within 10 s, and its checks take a moment.
        self.assertTrue(self.wait_until(lambda: self.element("IWLABELREQUESTS").text != requests_before, 30),
                        self.element("IWLABELREQUESTS").text)
        self.assertTrue(self.wait_until(lambda: self.cell(2, 4) != domain_before, 5))
        self.assertTrue(self.element("CHKAUTOUPDATE").is_selected())

    def test_public_status_page(self):
        self.login()
        self.wait_title("Vantrell - Web Admin [Main]")
        self.click_menu("IMGGENERAL")
        self.wait_title("Vantrell - Web Admin [General settings]")
        self.click("CHKALLOWACCESSTOSTATUS")
        self.click("BTNSAVESETTINGS")
        self.visible("LBLSAVED")
        self.open("?status")
        self.wait_title("Vantrell - Web Admin [Status]")
        self.element("TBLGRDSTATUS")
        self.assertEqual(self.driver.find_elements(By.ID, "FRAMEMAINMENU"), [])
        header = self.driver.find_element(By.ID, "TBLGRDSTATUS").find_elements(By.TAG_NAME, "tr")[0]
        self.assertEqual(len(header.find_elements(By.TAG_NAME, "td")), 6)
        self.assertTrue(self.element("CHKAUTOUPDATE").is_selected())


class LogViewTest(SwitchTestCase):
    def vt_file(self):
        return time.strftime("vt%y%m%d.txt")

    def test_memo_and_download(self):
        self.assertEqual(self.status_through_switch(), 200)
        self.login()
        self.wait_title("Vantrell - Web Admin [Main]")
        # The event log reaches its file on the log writer's own time; the
        # memo shows the file as it is at the click.
        self.assertTrue(self.program.wait_event_log("Web Admin : User: Admin logged in"))
        self.click_menu("IMGLOGVIEW")
        self.wait_title("Vantrell - Web Admin [Log View]")
        Select(self.visible("LSTROOT")).select_by_visible_text("[VT]")
        self.assertTrue(self.wait_until(lambda: self.vt_file() in self.element("LSTLEVEL2").text))
        Select(self.element("LSTLEVEL2")).select_by_visible_text(self.vt_file())
        self.assertTrue(self.wait_until(lambda: "User: Admin logged in" in self.element("MMLOGFILE").get_attribute("value")))

        self.click("CHKDOWNLOAD")
        # A change of selection posts: leave [VT] and come back.
        Select(self.visible("LSTROOT")).select_by_visible_text("[W3C]")
        self.assertTrue(self.wait_until(lambda: self.vt_file() not in self.element("LSTLEVEL2").text))
        Select(self.visible("LSTROOT")).select_by_visible_text("[VT]")
        self.assertTrue(self.wait_until(lambda: self.vt_file() in self.element("LSTLEVEL2").text))
        main = self.driver.current_window_handle
        Select(self.element("LSTLEVEL2")).select_by_visible_text(self.vt_file())
        self.assertTrue(self.wait_until(lambda: len(self.driver.window_handles) == 2))
        self.driver.switch_to.window([h for h in self.driver.window_handles if h != main][0])
        self.assertTrue(self.wait_until(lambda: "User: Admin logged in" in self.driver.page_source))
        url = self.driver.current_url
        self.assertIn("/filesnc/0_", url)
        self.assertTrue(url.endswith("_" + self.vt_file()), url)
        # The name holds the session's id; without it nothing is found.
        prefix, rest = url.split("/filesnc/0_", 1)
        forged = prefix + "/filesnc/0_" + "0" * 32 + rest[rest.index("_"):]
        with self.assertRaises(urllib.error.HTTPError) as refused:
            urllib.request.urlopen(forged, timeout=10)
        self.assertEqual(refused.exception.code, 404)
        self.driver.close()
        self.driver.switch_to.window(main)


class ServerPageTest(SwitchTestCase):
    def test_stop_and_start(self):
        self.login()
        self.wait_title("Vantrell - Web Admin [Main]")
        self.click_menu("IMGSERVER")
        self.wait_title("Vantrell - Web Admin [Service]")
        self.click("BTNSTOP")
        self.assertTrue(self.wait_until(lambda: self.element("IWSERVERFEEDBACK").text == "SERVER STOPPED"))
        self.assertTrue(self.wait_until(self.switch_refuses))
        self.assertFalse(self.element("BTNSTART").get_attribute("disabled"))
        self.click("BTNSTART")
        self.assertTrue(self.wait_until(lambda: self.element("IWSERVERFEEDBACK").text == "Server started"))
        self.assertEqual(self.status_through_switch(), 200)


if __name__ == "__main__":
    unittest.main()
