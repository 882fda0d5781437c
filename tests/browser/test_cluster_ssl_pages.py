"""The server-cluster pages and the SSL settings pages against the running
switch, in a real browser: a cluster with one answering and one dead back
end, chosen for a domain; a certificate set made from uploaded files that
the restarted engine serves."""

import os
import socket
import ssl
import subprocess
import tempfile
import time
import unittest
import urllib.request

from selenium.webdriver.support import expected_conditions as EC
from selenium.webdriver.support.ui import Select

import vtbrowser


class SwitchTestCase(vtbrowser.BrowserTestCase):
    """The switch with one domain on a free port whose own target answers
    "served by the target"."""

    def setUp(self):
        self.target = vtbrowser.start_backend(self, lambda path: b"served by the target")
        self.switch_port = vtbrowser.free_port()
        self.settings_args = ("--port", str(self.switch_port), "--backend-port", str(self.target.server_address[1]))
        super().setUp()
        vtbrowser.wait_for_port(self.switch_port, vtbrowser.WAIT_SECONDS, self.program.process)
        self.login()
        self.wait_title("Vantrell - Web Admin [Main]")

    def settings_bytes(self):
        with open(os.path.join(self.program.path, "data", "settings.dat"), "rb") as f:
            return f.read()

    def wait_reload(self, old_element):
        """The full post the last action made has brought a new page."""
        self.wait().until(EC.staleness_of(old_element))

    def click_and_reload(self, element_id):
        old = self.element(element_id)
        self.click(element_id)
        self.wait_reload(old)


class ServerClusterPagesTest(SwitchTestCase):
    def through_switch(self):
        try:
            with urllib.request.urlopen("http://127.0.0.1:%d/" % self.switch_port, timeout=5) as r:
                return r.read()
        except OSError:
            return None

    def test_a_new_cluster_is_checked_and_serves_a_domain(self):
        answering = vtbrowser.start_backend(self, lambda path: b"served by the cluster")
        self.addCleanup(answering.server_close)
        self.addCleanup(answering.shutdown)
        dead_port = vtbrowser.free_port()

        self.click_menu("IMGSERVERCLUSTER")
        self.wait_title("Vantrell - Web Admin [Server Cluster]")
        self.assertEqual(self.broken_images(), [])
        self.click("BTNNEWCLUSTER")
        self.wait_title("Vantrell - Web Admin [Server Cluster Edit]")
        self.assertEqual(self.broken_images(), [])
        self.click_and_reload("BTNADDSERVER")
        self.type_into("EDTSERVERCLUSTERNAME", "pool")
        self.type_into("EDTMAXFAILBEFOREOFFLINE", "0")
        self.type_into("EDTFAILOVERCHECKINTERVAL", "1")
        for row, port in ((1, answering.server_address[1]), (2, dead_port)):
            self.type_into("GRDSERVERS_R%dC2" % row, "server %d" % row)
            self.type_into("GRDSERVERS_R%dC3" % row, "127.0.0.1")
            self.type_into("GRDSERVERS_R%dC4" % row, str(port))
        self.click_and_reload("BTNSAVESETTINGS")
        self.assertEqual(self.visible("LBLSAVED").text, "Settings saved")
        up, down = self.element("GRDSERVERS_R1C1"), self.element("GRDSERVERS_R2C1")
        self.assertTrue(up.get_attribute("src").endswith("/StatusGreen.jpg"), up.get_attribute("src"))
        self.assertTrue(down.get_attribute("src").endswith("/StatusRed.jpg"), down.get_attribute("src"))
        self.assertNotEqual(down.get_attribute("title"), "")
        self.assertEqual(self.broken_images(), [])

        # The domain takes the cluster on its main page.
        self.click_menu("IMGDOMAINS")
        self.wait_title("Vantrell - Web Admin [Domains]")
        self.click("GRDDOMAINS_R1C3")
        self.wait_title("Vantrell - Web Admin [Domains/Main]")
        old = self.element("CMBSERVERCLUSTER")
        Select(self.visible("CMBSERVERCLUSTER")).select_by_visible_text("pool")
        self.wait_reload(old)
        self.assertEqual(Select(self.visible("CMBSERVERCLUSTER")).first_selected_option.text, "pool")
        self.click_and_reload("BTNSAVESETTINGS")
        self.visible("LBLSAVED")

        # Once the engine's own checks took the dead server offline, every
        # request reaches the answering one.
        deadline = time.monotonic() + vtbrowser.WAIT_SECONDS
        in_a_row = 0
        while in_a_row < 5 and time.monotonic() < deadline:
            answer = self.through_switch()
            self.assertNotEqual(answer, b"served by the target")
            in_a_row = in_a_row + 1 if answer == b"served by the cluster" else 0
            if in_a_row == 0:
                time.sleep(0.2)
        self.assertEqual(in_a_row, 5)


class SSLSettingsPagesTest(SwitchTestCase):
    def make_certificate(self):
        folder = tempfile.mkdtemp(prefix="vt-cert-")
        self.addCleanup(subprocess.run, ["rm", "-rf", folder])
        crt, key = os.path.join(folder, "crt.pem"), os.path.join(folder, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-keyout", key, "-out", crt, "-days", "2",
                        "-subj", "/CN=vantrell-browser-test", "-passout", "pass:secret"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        return crt, key

    def upload(self, path):
        self.element("FILEUPLOAD").send_keys(path)
        self.click_and_reload("BTNUPLOAD")
        name = os.path.basename(path)
        self.assertEqual(self.visible("LBLUPLOADSTATUS").text, name + " uploaded.")

    def served_certificate(self, port):
        vtbrowser.wait_for_port(port, vtbrowser.WAIT_SECONDS, self.program.process)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        with socket.create_connection(("127.0.0.1", port), timeout=10) as raw:
            with context.wrap_socket(raw) as tls:
                return tls.getpeercert(binary_form=True)

    def test_uploaded_certificate_is_served_after_the_save(self):
        crt, key = self.make_certificate()
        tls_port = vtbrowser.free_port()
        self.click_menu("IMGSSLSETTINGS")
        self.wait_title("Vantrell - Web Admin [SSL settings]")
        self.assertEqual(self.broken_images(), [])
        self.click_and_reload("BTNNEWCERTIFICATE")
        self.assertEqual(self.visible("EDTCERTIFICATENAME").get_attribute("value"), "New certificate")
        self.upload(crt)
        self.upload(key)
        self.assertTrue(os.path.isfile(os.path.join(self.program.path, "data", "cert", "key.pem")))

        self.type_into("EDTBINDIP", "*")
        self.type_into("EDTBINDPORT", str(tls_port))
        self.click_and_reload("BTNBINDINGADD")
        self.assertIn(str(tls_port), self.visible("TBLGRDBINDINGS").text)
        self.type_into("EDTCERTIFICATENAME", "browser")
        Select(self.visible("CMBROOTCERTFILE")).select_by_visible_text("crt.pem")
        Select(self.visible("CMBCERTFILE")).select_by_visible_text("crt.pem")
        Select(self.visible("CMBKEYFILE")).select_by_visible_text("key.pem")
        enabled = self.visible("CHKSSLENABLED")
        if not enabled.is_selected():
            enabled.click()

        # No password: the check's alert, and the file stays as it was.
        before = self.settings_bytes()
        self.type_into("EDTCERTPASSWORD", "")
        self.click("BTNSAVESETTINGS")
        alert = self.wait().until(EC.alert_is_present())
        self.assertEqual(alert.text, "Certificate password not assigned!")
        alert.accept()
        self.assertEqual(self.visible("LBLSTATUS").text, "Certificate password not assigned!")
        self.assertFalse(self.element("LBLSAVEDIWCL").is_displayed())
        self.assertEqual(self.settings_bytes(), before)

        self.type_into("EDTCERTPASSWORD", "secret")
        self.click_and_reload("BTNSAVESETTINGS")
        self.assertEqual(self.visible("LBLSAVED").text, "Settings saved")
        self.assertFalse(self.element("LBLRESTARTIWCL").is_displayed())
        with open(crt) as f:
            expected = ssl.PEM_cert_to_DER_cert(f.read())
        self.assertEqual(self.served_certificate(tls_port), expected)


if __name__ == "__main__":
    unittest.main()
