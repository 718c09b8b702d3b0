"""The tray program as a user meets it: start-up, the icon and its tooltip, the popup menu in
each language and its commands, clicks on the icon, a second start, and the ways the program
ends. Real clicks on Wine's tray window, the menu read from the screen."""

import os
import time
import unittest

import harness
from harness.program import (CLIENT, CLIENT_MISSING, HOME_PAGE, LAUNCHER_TITLE, MAIN_TITLE,
                             MENU_DANISH, MENU_ENGLISH, PROGRAM_PATH, SETTINGS_TITLE,
                             SUPPORT_KEY, ProgramTestCase)

TOOLTIP = "Varnek IT Consulting"
SEP = harness.SEPARATOR
DESIGN_MENU = ["Varnek IT", SEP, "Fjernstyring", "Support System", SEP, "Indstillinger", SEP,
               "Exit"]

WM_MOUSEMOVE = 0x200  # also the icon's callback message: the notification code comes in lParam
WM_LBUTTONDBLCLK = 0x203


class TrayTestCase(ProgramTestCase):
    """Finds the program's windows; the checks shared by the tests below."""

    def main_window(self) -> dict:
        """The program's hidden main window, as the UI driver sees it (there must be one)."""
        windows = self.session.uidriver_records("windows", "--all", "--title", MAIN_TITLE)
        self.assertEqual(len(windows), 1, windows)
        return windows[0]

    def visible_windows(self, pid: int) -> list[dict]:
        return self.session.uidriver_records("windows", "--pid", str(pid))

    def answer_error_box(self, pid: int) -> dict:
        """Waits for the program's "Error" box, answers it with OK and returns what it showed."""
        session = self.session
        [box] = session.uidriver_records("msgbox", "--pid", str(pid), "--title", "Error")
        self.assertEqual([b["text"] for b in box["buttons"]], ["OK"], box)
        session.uidriver("msgbox", "--pid", str(pid), "--title", "Error", "--press", "OK")
        return box

    def new_program_popups(self, program: harness.Process, before: set[int]) -> list:
        """Override-redirect X windows of the program (a menu, say) shown since before."""
        session = self.session
        return [w for w in session.top_windows()
                if w.id not in before and session.window_pid(w.id) == program.pid
                and session.window_viewable(w.id, override_redirect=True)]

    def viewable_windows(self) -> set[int]:
        return {w.id for w in self.session.top_windows() if self.session.window_viewable(w.id)}


class StartAndMenu(TrayTestCase):
    def test_fresh_profile_shows_the_english_menu_and_exit_ends_the_program(self):
        session = self.session
        self.assertIsNone(session.reg_values(SUPPORT_KEY), "the profile is not fresh")
        program = self.start_program()
        session.timings["start_to_icon"] = time.monotonic() - program.started

        main = self.main_window()
        self.assertEqual((main["class"], main["visible"]), ("VarnekIT", 0))
        self.assertEqual(session.find_windows(MAIN_TITLE, visible_only=True), [])
        self.assertEqual(self.visible_windows(main["pid"]), [])
        self.assertEqual(session.tray.tooltip(), TOOLTIP)

        # Without the client beside it, "RemoteSupport" explains in English what is missing.
        self.menu("RemoteSupport", MENU_ENGLISH, program)
        box = self.answer_error_box(main["pid"])
        self.assertEqual(box["text"], CLIENT_MISSING["English"])
        self.assertEqual(self.client_starts(), [])

        self.menu("Settings", MENU_ENGLISH, program)
        session.uidriver("wait", "--title", SETTINGS_TITLE, "--pid", str(main["pid"]),
                         "--visible")

        menu = session.tray.open_menu(owner=program, name="menu-exit")
        self.assertEqual(menu.labels(), MENU_ENGLISH, menu.lines)
        session.screenshot("menu-open")  # the whole display with the menu open
        menu.choose("Exit")
        self.assertEqual(program.wait(20), 0)
        session.tray.wait_gone(30)
        self.assertEqual(session.find_windows(MAIN_TITLE), [])
        self.assertEqual(session.browser_log(), [])

    def test_design_captions_and_their_commands_then_danish(self):
        session = self.session
        program_folder = session.unix_path(harness.PROGRAM_FOLDER)
        # A stored language the program does not know applies none: the design captions stay.
        session.reg_add(SUPPORT_KEY, "Language", "")
        # Started from another folder: the program's own folder counts, not the working one.
        program = self.start_program(cwd=harness.TOOLS_FOLDER)
        pid = self.main_window()["pid"]

        self.menu("Support System", DESIGN_MENU, program)
        log = session.wait_browser_log(1)
        self.assertEqual(log[0]["args"], [harness.SUPPORT_BASE])

        self.menu("Varnek IT", DESIGN_MENU, program)
        log = session.wait_browser_log(2)
        self.assertEqual(log[1]["args"], [HOME_PAGE])

        # No client yet: the error box comes, with no text as no language was applied.
        self.menu("Fjernstyring", DESIGN_MENU, program)
        box = self.answer_error_box(pid)
        self.assertEqual(box["text"], "")
        self.assertEqual(self.client_starts(), [])

        session.install_tool("standin_client.exe", harness.PROGRAM_FOLDER, CLIENT)
        self.menu("Fjernstyring", DESIGN_MENU, program)
        [client] = self.wait_client_starts(1)
        self.assertEqual(client["exe"], rf"{harness.PROGRAM_FOLDER}\{CLIENT}")
        self.assertEqual(client["cwd"], harness.PROGRAM_FOLDER)
        self.assertEqual(client["show"], 5)
        self.assert_no_message_box(pid=pid)
        self.assertEqual(len(session.browser_log()), 2)

        self.menu("Exit", DESIGN_MENU, program)
        self.assertEqual(program.wait(20), 0)
        session.tray.wait_gone(30)
        self.assertEqual(session.reg_get(SUPPORT_KEY, "Language"), "")  # left as it was
        self.assertTrue((program_folder / CLIENT).is_file())

        session.reg_add(SUPPORT_KEY, "Language", "1")
        program = self.start_program()
        self.menu("Afslut", MENU_DANISH, program)
        self.assertEqual(program.wait(20), 0)
        session.tray.wait_gone(30)
        self.assertEqual(len(self.client_starts()), 1)
        self.assertEqual(len(session.browser_log()), 2)


class StartUp(TrayTestCase):
    def test_left_over_script_goes_and_a_second_start_ends_silently(self):
        session = self.session
        session.install_program()
        folder = session.unix_path(harness.PROGRAM_FOLDER)
        script = folder / "DeleteOLD.bat"
        script.write_bytes(b"@echo off\r\ndel New_VarnekIT.exe\r\n")
        hour_ago = time.time() - 3600  # left by an update long ago: no script runs that long
        os.utime(script, (hour_ago, hour_ago))
        other = folder / "DeleteOLD.txt"
        other.write_bytes(b"keep\r\n")
        in_working_folder = session.unix_path(harness.TOOLS_FOLDER) / "DeleteOLD.bat"
        in_working_folder.write_bytes(b"@echo off\r\n")

        first = self.start_program(cwd=harness.TOOLS_FOLDER)
        icon_at = time.monotonic()
        harness.wait_until(lambda: not script.exists(), 2.0, 0.05,
                           what="DeleteOLD.bat to be deleted")
        session.timings["icon_to_script_gone"] = time.monotonic() - icon_at
        self.assertTrue(first.running())
        self.assertTrue(other.exists(), "another file of the program folder went too")
        self.assertTrue(in_working_folder.exists(), "the working folder's script was deleted")
        main = self.main_window()

        second = session.start_wine(PROGRAM_PATH)
        # While it lives, it makes no window (best effort: sampled until it ends).
        windows_seen, looks = set(), 0
        deadline = time.monotonic() + 10
        while second.running() and time.monotonic() < deadline:
            windows_seen |= session.xdotool_ids("search", "--pid", str(second.pid))
            looks += 1
        session.timings["second_start_window_looks"] = looks
        self.assertEqual(second.wait(5), 0)
        session.timings["second_start_to_end"] = time.monotonic() - second.started
        self.assertEqual(windows_seen, set(), "the second start made windows")
        time.sleep(1.5)  # an icon it added would be drawn by now
        self.assertEqual(session.tray.icon_slots()[:2], [True, False])
        self.assertEqual(self.main_window(), main)
        self.assertEqual(len(session.find_windows(MAIN_TITLE)), 1)
        self.assertEqual([p["exe"] for p in session.windows_processes("VarnekIT.exe")],
                         ["VarnekIT.exe"])
        self.assertTrue(first.running())

        # The first keeps its icon and its menu.
        self.menu("Support System", MENU_ENGLISH, first)
        self.assertEqual(session.wait_browser_log(1)[0]["args"], [harness.SUPPORT_BASE])
        self.menu("Exit", MENU_ENGLISH, first)
        self.assertEqual(first.wait(20), 0)
        session.tray.wait_gone(30)


class IconMessages(TrayTestCase):
    def post(self, main: dict, message: str | int, lparam: int = 0, wparam: int = 0):
        self.session.uidriver("post", "--hwnd", main["hwnd"], "--message", str(message),
                              "--wparam", str(wparam), "--lparam", str(lparam))

    def assert_nothing_happened(self, program: harness.Process, pid: int, before: set[int]):
        self.assert_no_message_box(pid=pid)
        self.assertEqual(self.visible_windows(pid), [])
        self.assertEqual(self.new_program_popups(program, before), [])
        self.assertEqual(self.session.browser_log(), [])
        self.assertTrue(program.running())
        self.assertEqual(self.session.tray.icon_slots()[:2], [True, False])

    def test_clicks_on_the_icon_and_other_notifications(self):
        session = self.session
        program = self.start_program()
        main = self.main_window()
        pid = main["pid"]
        before = self.viewable_windows()

        session.tray.left_click()
        time.sleep(1.0)  # past the double-click time: a lone click
        self.assert_nothing_happened(program, pid, before)

        session.tray.double_click()
        [launcher] = session.uidriver_records("wait", "--title", LAUNCHER_TITLE, "--pid",
                                              str(pid), "--visible")
        session.wait_window_settled(session.find_windows(LAUNCHER_TITLE)[0])
        session.screenshot("launcher")
        session.uidriver("close", "--hwnd", launcher["hwnd"])
        session.uidriver("wait", "--title", LAUNCHER_TITLE, "--gone")

        # Balloon notifications, a move, a left button down and a right double click: nothing.
        for code in (0x403, 0x404, 0x405, 0x200, 0x201, 0x206):
            self.post(main, WM_MOUSEMOVE, lparam=code)
        self.assert_nothing_happened(program, pid, before)

        # The same way in, a double click opens the launcher: the messages above did arrive.
        self.post(main, WM_MOUSEMOVE, lparam=WM_LBUTTONDBLCLK)
        session.uidriver("wait", "--title", LAUNCHER_TITLE, "--pid", str(pid), "--visible")
        self.assertEqual(session.browser_log(), [])


class EndAndShellRestart(TrayTestCase):
    def test_icon_comes_back_with_the_taskbar_and_close_ends_the_program(self):
        session = self.session
        program = self.start_program()
        main = self.main_window()

        # The shell forgets the icon, as a restarted shell knows none of the old ones.
        session.uidriver("tray-delete", "--hwnd", main["hwnd"], "--uid", "1")
        session.tray.wait_gone(10)
        time.sleep(2.0)
        self.assertIsNone(session.tray.window(), "the icon came back by itself")
        self.assertTrue(program.running())

        # The shell announces its taskbar to every top-level window.
        session.uidriver("post", "--broadcast", "--message", "TaskbarCreated")
        session.tray.wait_icon_count(1, timeout=10)
        session.screenshot("icon-back")
        self.assertEqual(session.tray.tooltip(), TOOLTIP)
        menu = session.tray.open_menu(owner=program)
        self.assertEqual(menu.labels(), MENU_ENGLISH, menu.lines)
        menu.close()
        self.assertTrue(program.running())

        # Asked to close, the hidden main window takes the icon away and the program ends.
        session.uidriver("close", "--hwnd", main["hwnd"])
        self.assertEqual(program.wait(20), 0)
        session.tray.wait_gone(30)


if __name__ == "__main__":
    unittest.main()
