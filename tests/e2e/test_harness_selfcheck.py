"""Checks the harness itself against the real thing: Wine's tray window, its registry, its
http handler and the loopback support server, with the reference tray program standing in for
a tray program."""

import os
import time
import unittest
import urllib.error
import urllib.request

import harness


class TrayIcon(harness.E2ETestCase):
    def test_icon_appears_and_goes_with_its_process(self):
        session = self.session
        program = session.install_program(r"C:\Reference", harness.reference_tray())
        tray = session.tray
        self.assertIsNone(tray.window(), "a tray window before any program ran")

        first = session.start_wine(program)
        tray.wait_icon_count(1, timeout=60)
        session.timings["first_start_to_icon"] = time.monotonic() - first.started
        shot = harness.Image.load(session.screenshot("one-icon"))
        self.assertEqual((shot.width, shot.height), (1280, 1024))
        window = tray.window()
        self.assertEqual(tray.icon_slots()[:2], [True, False])
        # The icon is drawn where the harness clicks.
        x, y = tray.icon_centre(0)
        self.assertNotEqual(shot.pixel(x, y), shot.pixel(window.x + window.width - 1, y))

        second = session.start_wine(program)
        tray.wait_icon_count(2)
        session.timings["second_start_to_icon"] = time.monotonic() - second.started
        session.screenshot("two-icons")

        # Asked to close, the program removes its icon and ends by itself.
        windows = session.find_windows("Reference Tray", process=second)
        self.assertEqual(len(windows), 1, "one hidden window per program")
        session.request_close(windows[0])
        self.assertEqual(second.wait(20), 0)
        tray.wait_icon_count(1)
        self.assertTrue(first.running())

        # Ended from outside, it leaves Wine to remove the icon; with no program left the tray
        # window goes too.
        first.stop()
        tray.wait_gone(30)
        self.assertFalse(first.running())
        # A window that is gone gives no picture, at once (no wait for it, nor for the user).
        started = time.monotonic()
        self.assertIsNone(session.capture(window.id))
        self.assertLess(time.monotonic() - started, 1.0)
        self.assertEqual(tray.icon_count(), 0)


class Registry(harness.E2ETestCase):
    KEY = r"HKEY_CURRENT_USER\Software\VB and VBA Program Settings\VarnekIT\Support"

    def test_values_read_back_exactly(self):
        session = self.session
        self.assertIsNone(session.reg_values(self.KEY))
        name = 'Søren "Æble" \\ Ø å'
        session.reg_add(self.KEY, "Navn", name)
        session.reg_add(self.KEY, "Tom", "")
        session.reg_add(self.KEY, "Tal", 4242, "REG_DWORD")
        session.reg_add(self.KEY, "Sti", r"%TEMP%\ø", "REG_EXPAND_SZ")
        session.reg_add(self.KEY + r"\Under", None, "standard")
        values = session.reg_values(self.KEY)
        self.assertEqual(values["Navn"], harness.RegValue("REG_SZ", name))
        self.assertEqual(values["Tom"], harness.RegValue("REG_SZ", ""))
        self.assertEqual(values["Tal"], harness.RegValue("REG_DWORD", 4242))
        self.assertEqual(values["Sti"], harness.RegValue("REG_EXPAND_SZ", r"%TEMP%\ø"))
        self.assertEqual(session.reg_get(self.KEY + r"\Under", ""), "standard")
        self.assertIsNone(session.reg_get(self.KEY, "Mangler"))

        session.reg_delete(self.KEY, "Navn")
        self.assertIsNone(session.reg_get(self.KEY, "Navn"))
        self.assertEqual(session.reg_get(self.KEY, "Tal"), 4242)

    def test_prefix_sends_web_addresses_to_the_recorder(self):
        for scheme in ("http", "https"):
            command = self.session.reg_get(rf"HKEY_CLASSES_ROOT\{scheme}\shell\open\command", "")
            self.assertEqual(command, rf'"{harness.TOOLS_FOLDER}\browser_recorder.exe" "%1"')


class Tools(harness.E2ETestCase):
    def require_tools(self, *names):
        for name in names:
            if not self.session.unix_path(rf"{harness.TOOLS_FOLDER}\{name}").is_file():
                # A build names its tools folder: there they must be. By hand they may be absent.
                if harness.tools_dir():
                    self.fail(f"{name} is missing in {harness.tools_dir()}")
                self.skipTest(f"{name} is not built")

    def test_uidriver_finds_and_closes_the_hidden_window(self):
        self.require_tools("uidriver.exe")
        session = self.session
        program = session.start_wine(session.install_program(r"C:\Reference",
                                                             harness.reference_tray()))
        session.tray.wait_icon_count(1, timeout=60)
        [window] = session.uidriver_records("windows", "--all", "--title", "Reference Tray")
        self.assertEqual((window["class"], window["visible"]), ("ReferenceTray", 0))
        session.uidriver("close", "--hwnd", window["hwnd"])
        self.assertEqual(program.wait(20), 0)
        session.tray.wait_gone(30)

    def test_browser_recorder_gets_the_address(self):
        self.require_tools("browser_recorder.exe", "shellexec.exe")
        address = "http://127.0.0.1:18080/home.html?a=1&b=ø"
        self.session.run_wine([harness.TOOLS_FOLDER + r"\shellexec.exe", address])
        log = self.session.wait_browser_log(1)
        self.assertEqual(log[0]["args"], [address])

    def test_support_server_serves_its_folder(self):
        root = self.session.temp / "www"
        (root / "VarnekITApp").mkdir(parents=True)
        (root / "VarnekITApp" / "Version.txt").write_bytes(b"1.0.3\r\n")
        url = f"{harness.SUPPORT_BASE}/VarnekITApp/Version.txt"
        with self.session.support_server(root, {"Søren": "hemmelig"}) as server:
            with urllib.request.urlopen(url, timeout=10) as reply:
                self.assertEqual(reply.read(), b"1.0.3\r\n")
            server.set_faults({"/VarnekITApp/Version.txt": {"mode": "404"}})
            with self.assertRaises(urllib.error.HTTPError) as missing:
                urllib.request.urlopen(url, timeout=10)
            self.assertEqual(missing.exception.code, 404)
            self.assertEqual(len(server.log_entries()), 2)
            pid = server.process.pid
        self.assertFalse(server.process.running())
        with self.assertRaises(ProcessLookupError):
            os.kill(pid, 0)


if __name__ == "__main__":
    unittest.main()
