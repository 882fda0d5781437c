"""The security page against a running switch, and the Outlook Web Access
edition's shell, in a real browser."""

import http.server
import threading
import unittest
import urllib.error
import urllib.request

from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions as EC
from selenium.webdriver.support.ui import Select

import vtbrowser


class Backend(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = b"served by the back end"
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


class SecurityPageTest(vtbrowser.BrowserTestCase):
    def setUp(self):
        self.backend = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Backend)
        threading.Thread(target=self.backend.serve_forever, daemon=True).start()
        self.addCleanup(self.backend.server_close)
        self.addCleanup(self.backend.shutdown)
        self.switch_port = vtbrowser.free_port()
        self.settings_args = ("--port", str(self.switch_port), "--backend-port", str(self.backend.server_address[1]))
        super().setUp()
        vtbrowser.wait_for_port(self.switch_port, vtbrowser.WAIT_SECONDS, self.program.process)

    def status_through_switch(self):
        try:
            with urllib.request.urlopen("http://127.0.0.1:%d/" % self.switch_port, timeout=10) as r:
                return r.status
        except urllib.error.HTTPError as e:
            return e.code

    def save(self):
        self.click("BTNSAVESETTINGS")
        self.visible("LBLSAVED")

    def test_forbidden_address_is_denied_until_allowed_again(self):
        self.assertEqual(self.status_through_switch(), 200)
        self.login()
        self.wait_title("Vantrell - Web Admin [Main]")
        self.click_menu("IMGSECURITY")
        self.wait_title("Vantrell - Web Admin [Security settings]")
        self.assertEqual(self.broken_images(), [])
        self.click("RGRPALLOWFORBIDD_0")
        self.type_into("MMIPNUMBERS", "127.0.0.1")
        Select(self.visible("CMBREQUESTDENIEDACTION")).select_by_visible_text("Send denied 401")
        self.save()
        # The action named "Send denied 401" answers "403 Forbidden".
        self.assertEqual(self.status_through_switch(), 403)

        self.type_into("MMIPNUMBERS", "")
        self.save()
        self.assertEqual(self.status_through_switch(), 200)


class OWAShellTest(vtbrowser.BrowserTestCase):
    program_args = ("prog", "owa")

    def test_login_opens_the_shell_and_the_general_settings(self):
        self.login()
        self.wait_title("Vantrell OWA - Web Admin")
        self.assertTrue(self.visible("FRMMAIN_RGNSETTINGS").is_displayed())
        self.assertEqual(self.broken_images(), [])
        self.click("MMGENERALSETTINGS")
        self.visible("FRMGENERALSETTINGS_EDTGATENAME")
        self.wait().until(EC.invisibility_of_element_located((By.ID, "FRMMAIN_RGNSETTINGS")))
        self.type_into("FRMGENERALSETTINGS_EDTGATENAME", "OWA gate")
        self.click("FRMGENERALSETTINGS_BTNSAVESETTINGS")
        self.visible("FRMGENERALSETTINGS_LBLSAVED")
        self.assertEqual(self.driver.title, "Vantrell OWA - Web Admin")
        self.assertEqual(self.broken_images(), [])


if __name__ == "__main__":
    unittest.main()
