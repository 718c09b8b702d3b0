"""The tray program as a user meets it: start-up, the icon and its tooltip, the popup menu in
each language and its commands, clicks on the icon, a second start, and the ways the program
ends. Real clicks on Wine's tray window, the menu read from the screen."""

import json
import time
import unittest

import harness

KEY = r"HKEY_CURRENT_USER\Software\VB and VBA Program Settings\VarnekIT\Support"
MAIN_TITLE = "Hard Drive"
LAUNCHER_TITLE = " Varnek IT Consulting"
SETTINGS_TITLE = " Indstillinger"
TOOLTIP = "Varnek IT Consulting"
HOME_PAGE = f"{harness.SUPPORT_BASE}/home.html"
CLIENT = "Varnek_TeamViewer.exe"
NOT_FOUND_ENGLISH = "Teamviewer was not found, try to Update or contact Varnek for help."

SEP = harness.SEPARATOR
ENGLISH_MENU = ["Varnek IT", SEP, "RemoteSupport", "Support System", SEP, "Settings", SEP, "Exit"]
DANISH_MENU = ["Varnek IT", SEP, "Fjernstyring", "Support System", SEP, "Indstillinger", SEP,
               "Afslut"]
DESIGN_MENU = ["Varnek IT", SEP, "Fjernstyring", "Support System", SEP, "Indstillinger", SEP,
               "Exit"]

WM_MOUSEMOVE = 0x200  # also the icon's callback message: the notification code comes in lParam
WM_LBUTTONDBLCLK = 0x203


class TrayTestCase(harness.E2ETestCase):
    """Starts the program and finds its windows; the checks shared by the tests below."""

    def start_program(self, cwd: str | None = None) -> harness.Process:
        """Installs (once) and starts the program; returns once its icon is drawn."""
        session = self.session
        if not session.unix_path(harness.PROGRAM_FOLDER + r"\VarnekIT.exe").is_file():
            session.install_program()
        program = session.start_wine(harness.PROGRAM_FOLDER + r"\VarnekIT.exe", cwd=cwd)
        session.tray.wait_icon_count(1, timeout=60)
        return program

    def main_window(self) -> dict:
        """The program's hidden main window, as the UI driver sees it (there must be one)."""
        windows = self.session.uidriver_records("windows", "--all", "--title", MAIN_TITLE)
        self.assertEqual(len(windows), 1, windows)
        return windows[0]

    def visible_windows(self, pid: int) -> list[dict]:
        return self.session.uidriver_records("windows", "--pid", str(pid))

    def assert_no_message_box(self, pid: int, wait_ms: int = 1500):
        result = self.session.uidriver("msgbox", "--pid", str(pid), "--none", "--timeout",
                                       str(wait_ms), check=False)
        self.assertEqual(result.returncode, 0, f"a message box appeared: {result.stdout}")

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

    def read_tooltip(self, index: int = 0) -> str:
        """Rests the pointer on the icon and reads the tooltip the shell shows for it."""
        session = self.session
        session.move_pointer(640, 700)  # off the icon first, so resting on it shows the tip
        time.sleep(0.3)
        before = self.viewable_windows()
        session.move_pointer(*session.tray.icon_centre(index))
        tray = session.tray.window()

        def tip():
            for window in session.top_windows():
                if (window.id not in before and window.id != tray.id and window.height >= 8
                        and (window.wm_class or "").lower() == "explorer.exe"
                        and session.window_viewable(window.id)):
                    return window
            return None

        window = harness.wait_until(tip, 10, what="the icon's tooltip")
        session.wait_window_settled(window.id)
        text = session.read_window_text(window.id, "tooltip")
        session.move_pointer(640, 700)
        harness.wait_until(lambda: not session.window_viewable(window.id), 10,
                           what="the tooltip to go")
        return text

    def choose(self, program: harness.Process, label: str, expected_menu: list[str]):
        """Opens the menu with a real right click, checks what it reads, chooses label."""
        menu = self.session.tray.open_menu(owner=program, name="menu-" + label.replace(" ", "_"))
        self.assertEqual(menu.labels(), expected_menu, menu.lines)
        menu.choose(label)

    def client_log(self) -> list[dict]:
        log = self.session.unix_path(harness.PROGRAM_FOLDER + r"\Varnek_TeamViewer.log")
        if not log.exists():
            return []
        return [json.loads(line) for line in log.read_text(encoding="utf-8").splitlines() if line]


class StartAndMenu(TrayTestCase):
    def test_fresh_profile_shows_the_english_menu_and_exit_ends_the_program(self):
        session = self.session
        self.assertIsNone(session.reg_values(KEY), "the profile is not fresh")
        program = self.start_program()
        session.timings["start_to_icon"] = time.monotonic() - program.started

        main = self.main_window()
        self.assertEqual((main["class"], main["visible"]), ("VarnekIT", 0))
        self.assertEqual(session.find_windows(MAIN_TITLE, visible_only=True), [])
        self.assertEqual(self.visible_windows(main["pid"]), [])
        self.assertEqual(self.read_tooltip(), TOOLTIP)

        # Without the client beside it, "RemoteSupport" explains in English what is missing.
        self.choose(program, "RemoteSupport", ENGLISH_MENU)
        box = self.answer_error_box(main["pid"])
        self.assertEqual(box["text"], NOT_FOUND_ENGLISH)
        self.assertEqual(self.client_log(), [])

        self.choose(program, "Settings", ENGLISH_MENU)
        session.uidriver("wait", "--title", SETTINGS_TITLE, "--pid", str(main["pid"]),
                         "--visible")

        menu = session.tray.open_menu(owner=program, name="menu-exit")
        self.assertEqual(menu.labels(), ENGLISH_MENU, menu.lines)
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
        session.reg_add(KEY, "Language", "")
        # Started from another folder: the program's own folder counts, not the working one.
        program = self.start_program(cwd=harness.TOOLS_FOLDER)
        pid = self.main_window()["pid"]

        self.choose(program, "Support System", DESIGN_MENU)
        log = session.wait_browser_log(1)
        self.assertEqual(log[0]["args"], [harness.SUPPORT_BASE])

        self.choose(program, "Varnek IT", DESIGN_MENU)
        log = session.wait_browser_log(2)
        self.assertEqual(log[1]["args"], [HOME_PAGE])

        # No client yet: the error box comes, with no text as no language was applied.
        self.choose(program, "Fjernstyring", DESIGN_MENU)
        box = self.answer_error_box(pid)
        self.assertEqual(box["text"], "")
        self.assertEqual(self.client_log(), [])

        session.install_tool("standin_client.exe", harness.PROGRAM_FOLDER, CLIENT)
        self.choose(program, "Fjernstyring", DESIGN_MENU)
        [client] = harness.wait_until(self.client_log, 20, what="the client to start")
        self.assertEqual(client["exe"], rf"{harness.PROGRAM_FOLDER}\{CLIENT}")
        self.assertEqual(client["cwd"], harness.PROGRAM_FOLDER)
        self.assertEqual(client["show"], 5)
        self.assert_no_message_box(pid)
        self.assertEqual(len(session.browser_log()), 2)

        self.choose(program, "Exit", DESIGN_MENU)
        self.assertEqual(program.wait(20), 0)
        session.tray.wait_gone(30)
        self.assertEqual(session.reg_get(KEY, "Language"), "")  # left as it was
        self.assertTrue((program_folder / CLIENT).is_file())

        session.reg_add(KEY, "Language", "1")
        program = self.start_program()
        self.choose(program, "Afslut", DANISH_MENU)
        self.assertEqual(program.wait(20), 0)
        session.tray.wait_gone(30)
        self.assertEqual(len(self.client_log()), 1)
        self.assertEqual(len(session.browser_log()), 2)


class StartUp(TrayTestCase):
    def test_left_over_script_goes_and_a_second_start_ends_silently(self):
        session = self.session
        session.install_program()
        folder = session.unix_path(harness.PROGRAM_FOLDER)
        script = folder / "DeleteOLD.bat"
        script.write_bytes(b"@echo off\r\ndel New_VarnekIT.exe\r\n")
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

        second = session.start_wine(harness.PROGRAM_FOLDER + r"\VarnekIT.exe")
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
        self.choose(first, "Support System", ENGLISH_MENU)
        self.assertEqual(session.wait_browser_log(1)[0]["args"], [harness.SUPPORT_BASE])
        self.choose(first, "Exit", ENGLISH_MENU)
        self.assertEqual(first.wait(20), 0)
        session.tray.wait_gone(30)


class IconMessages(TrayTestCase):
    def post(self, main: dict, message: str | int, lparam: int = 0, wparam: int = 0):
        self.session.uidriver("post", "--hwnd", main["hwnd"], "--message", str(message),
                              "--wparam", str(wparam), "--lparam", str(lparam))

    def assert_nothing_happened(self, program: harness.Process, pid: int, before: set[int]):
        self.assert_no_message_box(pid)
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
        self.assertEqual(self.read_tooltip(), TOOLTIP)
        menu = session.tray.open_menu(owner=program)
        self.assertEqual(menu.labels(), ENGLISH_MENU, menu.lines)
        menu.close()
        self.assertTrue(program.running())

        # Asked to close, the hidden main window takes the icon away and the program ends.
        session.uidriver("close", "--hwnd", main["hwnd"])
        self.assertEqual(program.wait(20), 0)
        session.tray.wait_gone(30)


if __name__ == "__main__":
    unittest.main()
