"""The domain pages in a real browser: a new domain with a virtual path typed
into the grid reaches a back end after one save, and the grid's keys, removal
marks and the list's confirmation behave as a user sees them."""

import unittest
import urllib.error
import urllib.request

from selenium.common.exceptions import NoAlertPresentException, TimeoutException
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

import vtbrowser


class DomainPagesTest(vtbrowser.SwitchTestCase):
    backend_body = staticmethod(lambda path: ("back end saw " + path).encode())

    def no_alert(self):
        try:
            text = self.driver.switch_to.alert.text
        except NoAlertPresentException:
            return
        self.driver.switch_to.alert.accept()
        self.fail("unexpected alert: %r" % text)

    def focused_id(self):
        return self.driver.switch_to.active_element.get_attribute("id")

    def wait_focus(self, element_id):
        try:
            self.wait().until(lambda d: self.focused_id() == element_id)
        except TimeoutException:
            self.fail("focus on %r, expected %r; the cell: %s" % (
                self.focused_id(), element_id,
                self.driver.execute_script("var e = document.getElementById(arguments[0]);"
                                           "return e ? e.outerHTML : 'none';", element_id)))

    def wait_idle(self):
        """Every queued post of the grid answered."""
        self.wait().until(lambda d: d.execute_script("return !VTFWAsync.busy && VTFWAsync.queue.length === 0;"))

    def open_domains(self):
        self.login()
        self.wait_title("Vantrell - Web Admin [Main]")
        self.click_menu("IMGDOMAINS")
        self.wait_title("Vantrell - Web Admin [Domains]")

    def open_paths_tab(self):
        self.click("TCMAIN_TAB1")
        self.visible("BTN1")

    def add_path(self, path):
        """"Add virtual path": the new row's Path cell opens by itself."""
        self.wait_idle()
        rows = len(self.driver.find_elements(By.CSS_SELECTOR, "#TBLGRDVIRTUALPATHS tr"))
        self.click("BTN1")
        cell = "R%dC1" % rows
        self.wait().until(lambda d: d.find_element(By.ID, cell).tag_name == "input")
        # The re-sent grid and the opened cell both answered before a key goes in.
        self.wait_idle()
        self.wait_focus(cell)
        ActionChains(self.driver).send_keys(path).perform()
        self.assertEqual(self.element(cell).get_attribute("value"), path)
        return rows

    def get(self, port, path):
        try:
            with urllib.request.urlopen("http://127.0.0.1:%d%s" % (port, path), timeout=10) as r:
                return r.status, r.read().decode()
        except urllib.error.HTTPError as e:
            return e.code, ""
        except OSError as e:
            return None, str(e)

    def test_new_domain_with_a_path_typed_in_the_grid_reaches_the_back_end(self):
        new_port = vtbrowser.free_port()
        dead_port = vtbrowser.free_port()
        self.open_domains()
        self.click("BTNNEWDOMAIN")
        self.wait_title("Vantrell - Web Admin [Domains/Main]")
        self.type_into("EDTDOMAINNAME", "127.0.0.1")
        checkbox = self.visible("CHKDEFAULTFORPORT")
        if not checkbox.is_selected():
            checkbox.click()
        self.type_into("EDTDEFAULTLISTENONPORT", str(new_port))
        # The domain's own target answers nothing: only the path reaches the back end.
        self.type_into("EDTDEFAULTTAGETADRESS", "127.0.0.1")
        self.type_into("EDTDEFAULTOUTPORT", str(dead_port))
        self.open_paths_tab()
        row = self.add_path("/app")
        keys = ActionChains(self.driver)
        keys.send_keys(Keys.TAB).perform()
        self.wait_focus("R%dC2" % row)
        ActionChains(self.driver).send_keys("127.0.0.1").perform()
        for col in (3, 4, 5):
            ActionChains(self.driver).send_keys(Keys.TAB).perform()
            self.wait_focus("R%dC%d" % (row, col))
        ActionChains(self.driver).send_keys(str(self.backend_port)).perform()
        # Saved with the Outport cell still open.
        self.assertEqual(self.element("R%dC5" % row).tag_name, "input")
        self.click("BTNSAVESETTINGS")
        self.wait().until(lambda d: d.find_element(By.ID, "LBLSAVED").is_displayed())
        self.no_alert()
        self.assertEqual(self.element("LBLSAVED").text, "Settings saved and server restarted")
        vtbrowser.wait_for_port(new_port, vtbrowser.WAIT_SECONDS, self.program.process)
        self.assertEqual(self.get(new_port, "/app/x"), (200, "back end saw /app/x"))
        # The grid shows the stored path again.
        self.assertEqual(self.element("R1C1").text.strip(), "/app")
        self.assertEqual(self.element("R1C5").text.strip(), str(self.backend_port))

    def test_keys_marks_and_confirmation(self):
        self.open_domains()
        # A dismissed confirmation removes nothing.
        self.driver.execute_script("window.confirm = function () { return false; };")
        self.click("GRDDOMAINS_R1C13")
        self.assertEqual(len(self.driver.find_elements(By.CSS_SELECTOR, "#TBLGRDDOMAINS tr")), 2)
        self.click("GRDDOMAINS_R1C3")
        self.wait_title("Vantrell - Web Admin [Domains/Main]")
        self.open_paths_tab()
        row = self.add_path("/first")
        ActionChains(self.driver).send_keys(Keys.ENTER).perform()
        self.wait().until(lambda d: d.find_element(By.ID, "R%dC1" % row).tag_name == "div")
        self.click("BTNSAVESETTINGS")
        self.wait().until(lambda d: d.find_element(By.ID, "LBLSAVED").is_displayed())
        self.no_alert()
        self.open_paths_tab()
        # Esc puts the old text back; Shift+Tab goes left.
        self.click("R1C1")
        self.wait_focus("R1C1")
        ActionChains(self.driver).send_keys("/typed").send_keys(Keys.ESCAPE).perform()
        self.wait().until(lambda d: d.find_element(By.ID, "R1C1").tag_name == "div")
        self.assertEqual(self.element("R1C1").text.strip(), "/first")
        self.click("R1C3")
        self.wait_focus("R1C3")
        ActionChains(self.driver).key_down(Keys.SHIFT).send_keys(Keys.TAB).key_up(Keys.SHIFT).perform()
        self.wait_focus("R1C2")
        ActionChains(self.driver).send_keys(Keys.ESCAPE).perform()
        self.wait_idle()
        self.assertEqual(self.element("IMGBUSY").get_attribute("src").split("/")[-1], "StatusGray.jpg")
        # A removal mark lives through the menu to Headers and back; Save removes the path.
        self.click("R1C12")
        self.wait().until(lambda d: d.find_element(By.ID, "R1C12").get_attribute("src").endswith("StatusRed.jpg"))
        self.wait_idle()
        self.click_menu("IMGDOMAINSHEADERS")
        self.wait_title("Vantrell - Web Admin [Domains/Headers]")
        self.click_menu("IMGDOMAINSMAIN")
        self.wait_title("Vantrell - Web Admin [Domains/Main]")
        self.open_paths_tab()
        self.assertTrue(self.element("R1C12").get_attribute("src").endswith("StatusRed.jpg"))
        self.click("BTNSAVESETTINGS")
        self.wait().until(lambda d: d.find_element(By.ID, "LBLSAVED").is_displayed())
        self.no_alert()
        self.assertEqual(len(self.driver.find_elements(By.CSS_SELECTOR, "#TBLGRDVIRTUALPATHS tr")), 1)



class GrowingGridTest(vtbrowser.BrowserTestCase):
    """The controls under a list grid stay below it as its rows grow (rows an
    answer brings, texts that wrap), moving together, and never rise above
    where the page put them."""

    def top_and_bottom(self, element_id):
        return self.driver.execute_script(
            "var r = document.getElementById(arguments[0]).getBoundingClientRect(); return [r.top, r.bottom];",
            element_id)

    def shifts(self, wrapper_ids):
        """How far the script moved each control from its own place."""
        return [self.driver.execute_script(
            "var e = document.getElementById(arguments[0]);"
            "return parseInt(e.style.top, 10) - parseInt(e.getAttribute('data-top'), 10);", i) for i in wrapper_ids]

    def grow(self, table_id, rows):
        """Rows added to the page's tree, as an answer that re-sends a grid does."""
        self.driver.execute_script(
            "var t = document.getElementById(arguments[0]), last = t.rows[t.rows.length - 1];"
            "for (var i = 0; i < arguments[1]; i++) last.parentNode.appendChild(last.cloneNode(true));",
            table_id, rows)

    def check_kept_below(self, table_id, shown_id, wrapper_ids, rows):
        self.assertEqual(set(self.shifts(wrapper_ids)), {0})
        self.grow(table_id, rows)
        bottom = self.top_and_bottom(table_id)[1]
        self.wait().until(lambda d: self.top_and_bottom(shown_id)[0] >= bottom + 11)
        shifts = self.shifts(wrapper_ids)
        self.assertGreater(shifts[0], 0)
        self.assertEqual(set(shifts), {shifts[0]}, dict(zip(wrapper_ids, shifts)))

    def test_domain_main_save_row_below_the_virtual_paths(self):
        self.login()
        self.wait_title("Vantrell - Web Admin [Main]")
        self.click_menu("IMGDOMAINS")
        self.wait_title("Vantrell - Web Admin [Domains]")
        self.click("BTNNEWDOMAIN")
        self.wait_title("Vantrell - Web Admin [Domains/Main]")
        self.click("TCMAIN_TAB1")
        self.visible("BTN1")
        self.check_kept_below("TBLGRDVIRTUALPATHS", "BTNSAVESETTINGSIWCL",
                              ["BTNSAVESETTINGSIWCL", "LBLSAVEDIWCL"], 40)
        # A new row re-sends the grid without the added ones: back up, not above the page's place.
        self.click("BTN1")
        self.wait().until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#TBLGRDVIRTUALPATHS tr")) < 10)
        self.wait().until(lambda d: set(self.shifts(["BTNSAVESETTINGSIWCL", "LBLSAVEDIWCL"])) == {0})

    def test_cluster_edit_controls_below_the_servers(self):
        self.login()
        self.wait_title("Vantrell - Web Admin [Main]")
        self.click_menu("IMGSERVERCLUSTER")
        self.wait_title("Vantrell - Web Admin [Server Cluster]")
        self.click("BTNNEWCLUSTER")
        self.wait_title("Vantrell - Web Admin [Server Cluster Edit]")
        self.check_kept_below("TBLGRDSERVERS", "BTNADDSERVERIWCL",
                              ["BTNADDSERVERIWCL", "IMGSTATUSIWCL", "LBLSTATUSIWCL", "BTNSAVESETTINGSIWCL",
                               "LBLSAVEDIWCL"], 12)


if __name__ == "__main__":
    unittest.main()
