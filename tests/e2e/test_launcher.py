"""The launcher window, end to end: opened by a real double click on the tray icon, its five
areas hit with real clicks at 100, 150 and 200 % DPI, their commands seen through the browser
recorder, the stand-in client, message boxes and the settings window."""

import unittest

import harness
from harness.program import (HOME_PAGE, LAUNCHER_TITLE, PASSWORD, SETTINGS_TITLE, SUPPORT_KEY,
                             USER, ProgramTestCase, digest, login_address)

DESKTOP = r"HKEY_CURRENT_USER\Control Panel\Desktop"

# The areas over the picture's painted buttons at 96 DPI: left, top, width, height in pixels.
AREAS = {
    "Hjemmeside": (16, 264, 169, 49),
    "Fjernstyring": (216, 264, 161, 49),
    "Support System": (400, 264, 201, 49),
    "Indstillinger": (376, 424, 153, 49),
    "Luk": (560, 424, 73, 49),
}
# Points of the picture outside every area (between, above and beside the buttons).
OUTSIDE = [(200, 288), (320, 100), (388, 288), (545, 448), (100, 460), (620, 300)]
CLIENT_SIZE = {96: (643, 482), 144: (965, 723), 192: (1286, 964)}


def centre(area: str) -> tuple[int, int]:
    left, top, width, height = AREAS[area]
    return left + width // 2, top + height // 2


class Launcher(ProgramTestCase):
    def open_launcher(self) -> dict:
        """Opens the launcher with a real double click on the tray icon; its rect record."""
        self.session.tray.double_click()
        self.session.uidriver("wait", "--title", LAUNCHER_TITLE, "--visible")
        [rect] = self.session.uidriver_records("rect", "--title", LAUNCHER_TITLE)
        self.client = rect["client"]
        self.dpi = rect["dpi"]
        return rect

    def click_launcher(self, x: int, y: int) -> None:
        """A real click at a point of the launcher's client area given at 96 DPI, scaled to the
        window's DPI."""
        scale = self.dpi / 96
        screen_x = self.client[0] + round(x * scale)
        screen_y = self.client[1] + round(y * scale)
        self.session.move_pointer(screen_x, screen_y)
        self.session.xdotool("click", "1")

    def keys_to_launcher(self) -> None:
        """The display has no window manager and its input focus follows the pointer: the
        pointer is moved over the picture, off the areas, so the keys reach the launcher."""
        scale = self.dpi / 96
        x, y = OUTSIDE[1]
        self.session.move_pointer(self.client[0] + round(x * scale),
                                  self.client[1] + round(y * scale))

    def click_area(self, area: str) -> None:
        self.click_launcher(*centre(area))

    def launcher_open(self) -> bool:
        return bool(self.session.uidriver_records("windows", "--title", LAUNCHER_TITLE))

    def settings_open(self) -> bool:
        return bool(self.session.uidriver_records("windows", "--title", SETTINGS_TITLE))

    def assert_browser(self, count: int, address: str) -> None:
        log = self.session.wait_browser_log(count)
        self.assertEqual(len(log), count)
        self.assertEqual(log[-1]["args"], [address])

    def assert_nothing_happened(self, browser: int, clients: int) -> None:
        """No page, no box, no client start, no settings window; the launcher still open."""
        self.assert_no_message_box(1500)
        self.assertEqual(len(self.session.browser_log()), browser)
        self.assertEqual(len(self.client_starts()), clients)
        self.assertFalse(self.settings_open())
        self.assertTrue(self.launcher_open())

    def test_areas_outside_and_close_at_96_dpi(self):
        session = self.session
        self.start_program()
        session.reg_add(SUPPORT_KEY, "Brugernavn", USER)
        session.reg_add(SUPPORT_KEY, "Kodeord", digest(PASSWORD))
        rect = self.open_launcher()
        self.assertEqual(self.dpi, 96)
        width, height = self.client[2] - self.client[0], self.client[3] - self.client[1]
        self.assertEqual((width, height), CLIENT_SIZE[96])
        self.screenshot_window(LAUNCHER_TITLE, "launcher")

        for point in OUTSIDE:
            self.click_launcher(*point)
        self.assert_nothing_happened(browser=0, clients=0)

        self.click_area("Hjemmeside")
        self.assert_browser(1, HOME_PAGE)
        self.click_area("Support System")
        self.assert_browser(2, login_address(USER, PASSWORD))

        # No client yet: the error box; the launcher stays open.
        self.click_area("Fjernstyring")
        self.assert_client_missing_box("English")
        self.assertTrue(self.launcher_open())
        session.install_tool("standin_client.exe", harness.PROGRAM_FOLDER, "Varnek_TeamViewer.exe")
        self.click_area("Fjernstyring")
        [started] = self.wait_client_starts(1)
        self.assertEqual((started["exe"], started["show"]), (r"C:\Varnek\Varnek_TeamViewer.exe", 5))
        self.assertIn(started["cwd"], (r"C:\Varnek", "C:\\Varnek\\"))

        self.click_area("Indstillinger")
        session.uidriver("wait", "--title", SETTINGS_TITLE, "--visible")
        self.assertTrue(self.launcher_open())

        # Luk closes the launcher only: the program, the settings window, the icon and its
        # menu go on, and the icon opens the launcher again.
        self.click_area("Luk")
        session.uidriver("wait", "--title", LAUNCHER_TITLE, "--gone")
        self.assertTrue(self.program.running())
        self.assertTrue(self.settings_open())
        self.menu("Varnek IT")
        self.assert_browser(3, HOME_PAGE)
        again = self.open_launcher()
        self.assertEqual(again["client"], rect["client"])
        self.click_launcher(*OUTSIDE[0])
        self.assert_no_message_box(1000)
        self.assertEqual(len(session.browser_log()), 3)
        self.assertEqual(len(self.client_starts()), 1)
        self.assertTrue(self.launcher_open())

    def test_keyboard_alone(self):
        """Real key presses: the first area has the focus on opening, Tab moves in reading
        order, Enter runs the focused area, Esc closes the window."""
        session = self.session
        self.start_program()
        session.reg_add(SUPPORT_KEY, "Brugernavn", USER)
        session.reg_add(SUPPORT_KEY, "Kodeord", digest(PASSWORD))
        self.open_launcher()
        self.keys_to_launcher()
        session.xdotool("key", "space")  # Hjemmeside has the focus
        self.assert_browser(1, HOME_PAGE)
        session.xdotool("key", "Tab", "Tab", "Return")  # Fjernstyring, Support System
        self.assert_browser(2, login_address(USER, PASSWORD))
        session.xdotool("key", "shift+Tab", "shift+Tab", "shift+Tab", "Return")  # round to Luk
        session.uidriver("wait", "--title", LAUNCHER_TITLE, "--gone")
        self.assertTrue(self.program.running())

        self.open_launcher()
        self.keys_to_launcher()
        session.xdotool("key", "Escape")
        session.uidriver("wait", "--title", LAUNCHER_TITLE, "--gone")
        self.assertTrue(self.program.running())
        self.assertEqual(len(session.browser_log()), 2)
        self.assertEqual(self.client_starts(), [])

    def check_scaled(self, dpi: int, name: str) -> None:
        session = self.session
        # Read by Wine when a process starts: set before the program runs.
        session.reg_add(DESKTOP, "LogPixels", dpi, "REG_DWORD")
        self.assertEqual(session.reg_get(DESKTOP, "LogPixels"), dpi)
        self.start_program()
        self.open_launcher()
        self.assertEqual(self.dpi, dpi, "Wine did not take the DPI from LogPixels")
        width, height = self.client[2] - self.client[0], self.client[3] - self.client[1]
        self.assertEqual((width, height), CLIENT_SIZE[dpi])
        self.screenshot_window(LAUNCHER_TITLE, name)

        self.click_launcher(*OUTSIDE[0])
        self.click_launcher(*OUTSIDE[3])
        self.assert_nothing_happened(browser=0, clients=0)
        self.click_area("Hjemmeside")
        self.assert_browser(1, HOME_PAGE)
        self.click_area("Support System")
        self.assert_browser(2, harness.SUPPORT_BASE)  # nothing stored: the bare address
        self.click_area("Fjernstyring")
        self.assert_client_missing_box("English")
        self.click_area("Indstillinger")
        session.uidriver("wait", "--title", SETTINGS_TITLE, "--visible")
        [settings] = session.uidriver_records("rect", "--title", SETTINGS_TITLE)
        self.assertEqual(settings["dpi"], dpi)
        self.click_area("Luk")
        session.uidriver("wait", "--title", LAUNCHER_TITLE, "--gone")
        self.assertTrue(self.program.running())
        self.assertTrue(self.settings_open())

    def test_areas_at_150_percent(self):
        self.check_scaled(144, "launcher_150")

    def test_areas_at_200_percent(self):
        self.check_scaled(192, "launcher_200")


if __name__ == "__main__":
    unittest.main()
