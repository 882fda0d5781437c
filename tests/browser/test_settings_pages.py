"""The security page against a running switch, and the Outlook Web Access
edition's shell, in a real browser."""

import signal
import unittest

from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions as EC
from selenium.webdriver.support.ui import Select

import vtbrowser


class SecurityPageTest(vtbrowser.SwitchTestCase):
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


class StopDuringSaveTest(vtbrowser.SwitchTestCase):
    def test_a_stop_while_a_save_restarts_the_listeners_ends_cleanly(self):
        self.login()
        self.wait_title("Vantrell - Web Admin [Main]")
        self.click_menu("IMGDOMAINS")
        # Switching the only domain off saves at once, and the reload that follows
        # stops and starts the listeners; the signal arrives once it has begun.
        self.click("GRDDOMAINS_R1C0")
        self.assertTrue(self.program.wait_event_log("Disabling HTTP server..."))
        self.program.process.send_signal(signal.SIGTERM)
        self.assertEqual(self.program.process.wait(timeout=vtbrowser.WAIT_SECONDS), 0)
        self.assertIn("SERVER STOPPED", self.program.event_log())
        # Whatever the save had written, the program starts on it again.
        self.program.stop()
        self.program.start()


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
        self.click("MMOWASETTINGS")
        self.visible("FRMOWASETTINGS_BTNSAVESETTINGS")
        self.assertEqual(self.broken_images(), [])


if __name__ == "__main__":
    unittest.main()
