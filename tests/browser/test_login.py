"""Login, the menu and the logout in a real browser."""

import unittest

import vtbrowser


class LoginTest(vtbrowser.BrowserTestCase):
    def test_login_menu_and_logout(self):
        self.login()
        self.wait_title("Vantrell - Web Admin [Main]")
        for item in ("IMGMAIN", "IMGGENERAL", "IMGDOMAINS", "IMGSERVERCLUSTER", "IMGLOGOUT"):
            self.assertTrue(self.visible("FRAMEMAINMENU_" + item).is_displayed(), item)
        self.assertTrue(self.program.wait_event_log("Web Admin : User: Admin logged in"))
        self.click_menu("IMGGENERAL")
        self.wait_title("Vantrell - Web Admin [General settings]")
        self.click_menu("IMGLOGOUT")
        self.wait_title("Vantrell - Web Admin [Login]")
        self.assertTrue(self.program.wait_event_log("Web Admin : User: Admin logged out"))

    def test_wrong_password_shows_the_retry_line(self):
        self.login(password="wrong")
        self.assertEqual(self.visible("LBLPLEASERETRY").text, "Login failed! Please try again.")
        self.assertEqual(self.driver.title, "Vantrell - Web Admin [Login]")
        # The focus is back in the user name.
        self.assertEqual(self.driver.switch_to.active_element.get_attribute("id"), "EDTUSERNAME")


if __name__ == "__main__":
    unittest.main()
