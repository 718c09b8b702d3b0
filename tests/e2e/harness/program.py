"""The program under test as the tests meet it: its windows, its tray menu in each language, its
stored settings, the user the tests log in as, and ProgramTestCase, which starts the program
and drives its menu, its settings window and its message boxes."""

from __future__ import annotations

import hashlib
import json
import urllib.parse
from pathlib import Path

from harness.common import SUPPORT_BASE, wait_until
from harness.session import E2ETestCase
from harness.ui import SEPARATOR
from harness.wine import PROGRAM_FOLDER, TOOLS_FOLDER, Process

PROGRAM = "VarnekIT.exe"
PROGRAM_PATH = PROGRAM_FOLDER + "\\" + PROGRAM
CLIENT = "Varnek_TeamViewer.exe"  # the remote-control client, beside the program
SUPPORT_KEY = r"HKEY_CURRENT_USER\Software\VB and VBA Program Settings\VarnekIT\Support"
HOME_PAGE = f"{SUPPORT_BASE}/home.html"

MAIN_TITLE = "Hard Drive"  # the program's hidden main window
SETTINGS_TITLE = " Indstillinger"
LAUNCHER_TITLE = " Varnek IT Consulting"

MENU_ENGLISH = ["Varnek IT", SEPARATOR, "RemoteSupport", "Support System", SEPARATOR,
                "Settings", SEPARATOR, "Exit"]
MENU_DANISH = ["Varnek IT", SEPARATOR, "Fjernstyring", "Support System", SEPARATOR,
               "Indstillinger", SEPARATOR, "Afslut"]
CLIENT_MISSING = {
    "English": "Teamviewer was not found, try to Update or contact Varnek for help.",
    "Danish": "Teamviewer blev ikke fundet, prøv at opdater VarnekIT, eller Kontakt Varnek for "
              "hjælp."}

SALT = "8OurOddPepper42"
USER = "Søren & Co"  # a space, "&" and "ø": all of them must be percent-encoded
PASSWORD = "Hemmelig ø42"


def digest(password: str) -> str:
    """The stored form of a password: SHA-256 of password + salt over its Latin-1 bytes."""
    return hashlib.sha256((password + SALT).encode("latin-1")).hexdigest()


def login_address(user: str, password: str) -> str:
    return (f"{SUPPORT_BASE}/AppLogin.asp?Username={urllib.parse.quote(user, safe='')}"
            f"&Password={digest(password)}")


def gui_counts(session, windows_pid: str) -> dict:
    """gui_counts' JSON record of a Windows process: gdi, user, handles (and private), each with
    the way it was counted (gdi_source, user_source, handles_source): the Windows call, or
    under Wine the process's GDI handle table, its windows and the system's handle list."""
    result = session.run_wine([TOOLS_FOLDER + r"\gui_counts.exe", windows_pid])
    return json.loads(result.stdout.decode())


def start_program(session, cwd: str | None = None) -> Process:
    """Starts the program in its folder (the built one is copied there first, unless the test
    put one there) and returns once its icon is drawn."""
    if not session.unix_path(PROGRAM_PATH).is_file():
        session.install_program()
    program = session.start_wine(PROGRAM_PATH, cwd=cwd)
    session.tray.wait_icon_count(1, timeout=60)
    return program


def windows_pid(session) -> str:
    """The Windows process id of the running program (its hidden main window's)."""
    [main] = session.uidriver_records("windows", "--all", "--title", MAIN_TITLE)
    return str(main["pid"])


class ProgramTestCase(E2ETestCase):
    """Starts the program, drives its tray menu, its settings window and its message boxes."""

    program: Process | None = None
    _windows_pid: str | None = None

    def start_program(self, cwd: str | None = None) -> Process:
        """Starts the program (see start_program) as self.program."""
        self._windows_pid = None
        self.program = start_program(self.session, cwd)
        return self.program

    @property
    def windows_pid(self) -> str:
        """The Windows process id of the program started last (its hidden main window's)."""
        if self._windows_pid is None:
            self._windows_pid = windows_pid(self.session)
        return self._windows_pid

    def exit_program(self, label: str) -> None:
        self.menu(label)
        self.assertEqual(self.program.wait(20), 0)
        self.session.tray.wait_icon_count(0, timeout=30)

    def menu(self, choose: str | None = None, expect: list[str] | None = None,
             program: Process | None = None) -> list[str]:
        """Opens the tray menu of the program (the one started last unless named) with a real
        right click, reads it, then chooses an entry (or closes it with Escape)."""
        name = "menu-" + (choose or "closed").replace(" ", "_")
        menu = self.session.tray.open_menu(owner=program or self.program, name=name)
        labels = menu.labels()
        if expect is not None:
            self.assertEqual(labels, expect, menu.lines)
        if choose:
            menu.choose(choose)
        else:
            menu.close()
        return labels

    # -- the settings window ------------------------------------------------------------------

    def open_settings(self, label: str) -> None:
        self.menu(label)
        self.session.uidriver("wait", "--title", SETTINGS_TITLE, "--visible")

    def click(self, caption: str) -> str:
        return self.session.uidriver("click", "--title", SETTINGS_TITLE, "--text",
                                     caption).stdout.strip()

    def label(self, control_id: int) -> str:
        """The text of one of the settings window's controls, exactly."""
        out = self.session.uidriver("text", "--title", SETTINGS_TITLE, "--id", str(control_id),
                                    "--json").stdout
        return json.loads(out)

    def close_settings(self, caption: str | None = None) -> None:
        """Closes the window with its Close button, or as the window manager does."""
        if caption:
            self.assertEqual(self.click(caption), "clicked")
        else:
            [window] = self.session.find_windows(SETTINGS_TITLE, visible_only=True)
            self.session.request_close(window)
        self.session.uidriver("wait", "--title", SETTINGS_TITLE, "--gone")

    def screenshot_window(self, title: str, name: str) -> None:
        """Keeps a picture of a shown window, once painted, as <artifacts>/<name>.png."""
        [window] = self.session.find_windows(title, visible_only=True)
        self.session.wait_window_settled(window)
        shot = self.session.screenshot(name, window=window)
        shot.rename(shot.with_name(f"{name}.png"))

    # -- message boxes ------------------------------------------------------------------------

    def message_box(self) -> dict:
        [box] = self.session.uidriver_records("msgbox", "--pid", self.windows_pid)
        return box

    def press(self, button: str) -> None:
        """Presses a button of the open message box and waits until the box is destroyed: the
        call that showed it has then returned (hiding a window takes Wine up to 2 s here,
        where no window manager answers)."""
        box = self.message_box()
        self.session.uidriver("msgbox", "--pid", self.windows_pid, "--press", button)
        self.session.uidriver("wait", "--hwnd", box["hwnd"], "--gone")

    def assert_no_message_box(self, ms: int = 1500, pid: int | None = None) -> None:
        """No message box (of any process, or of the Windows process pid) within ms."""
        args = ["--pid", str(pid)] if pid is not None else []
        result = self.session.uidriver("msgbox", *args, "--none", "--timeout", str(ms),
                                       check=False)
        self.assertEqual(result.returncode, 0,
                         f"unexpected message box: {result.stdout}{result.stderr}")

    def assert_client_missing_box(self, language: str) -> None:
        """The box that says the client is missing, in the language; answered with OK."""
        box = self.message_box()
        self.assertEqual((box["title"], box["text"]), ("Error", CLIENT_MISSING[language]))
        self.assertEqual([b["id"] for b in box["buttons"]], [1])  # OK
        self.press("OK")

    # -- what the program started -------------------------------------------------------------

    def client_log(self) -> Path:
        """Where the stand-in client in the program folder logs each start."""
        return self.session.unix_path(PROGRAM_FOLDER + r"\Varnek_TeamViewer.log")

    def client_starts(self) -> list[dict]:
        """The starts of the stand-in client so far, one record each."""
        log = self.client_log()
        if not log.exists():
            return []
        return [json.loads(line) for line in log.read_text(encoding="utf-8").splitlines() if line]

    def wait_client_starts(self, count: int) -> list[dict]:
        """Waits until the client has been started at least count times; all its starts."""
        return wait_until(lambda: (lambda starts: starts if len(starts) >= count else None)(
            self.client_starts()), 20, 0.2, f"{count} client start(s)")
