"""The settings window and the tray menu's commands, end to end: the real VarnekIT.exe under
Wine, its settings in the real registry, the tray menu opened with real clicks and read by OCR,
the remote-control client and running clients as stand-in processes, the browser as the
prefix's recorder and the support system as the loopback support server."""

import subprocess
import unittest
import urllib.request

import harness
from harness.program import (MENU_DANISH, MENU_ENGLISH, PASSWORD, SETTINGS_TITLE, SUPPORT_KEY,
                             USER, ProgramTestCase, digest, login_address)

RUN_KEY = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run"
ES_PASSWORD = 0x20

# Every caption of the settings window (buttons, frames, options, labels) in each language.
CAPTIONS_ENGLISH = [
    "Varnek Support System - Login Settings", "Username", "Password",
    "A password have been entered, only write to change", "Delete Userdata",
    "Generel Settings", "English", "Danish", "Automatic Exit running TeamViewer",
    "Add Autostart", "Remove Autostart", "Update Check", "Ny Version :", "Version : 1.0.2",
    "Save", "Close"]
CAPTIONS_DANISH = [
    "Varnek Support System - Login Oplysninger", "Brugernavn", "Kodeord",
    "En kode er angivet skriv kun for at ændre.", "Slet Brugerdata",
    "Generelle - Indstillinger", "Engelsk", "Dansk", "Afslut eksisterende TeamViewer Klient",
    "Tilføj Autostart", "Fjern Autostart", "Update Check", "Ny Version :", "Version : 1.0.2",
    "Gem", "Luk"]

NOTE = {"English": CAPTIONS_ENGLISH[3], "Danish": CAPTIONS_DANISH[3]}
DELETE_QUESTION = {
    "English": "Are you sure yoy want to delete all USer Data ?",
    "Danish": "Er du sikker på du ønsker at slette alle bruger informationerne ?"}


class SettingsTestCase(ProgramTestCase):
    """The settings window's controls and what it stores."""

    def controls(self) -> list[dict]:
        return self.session.uidriver_records("children", "--title", SETTINGS_TITLE)

    def captions(self) -> list[str]:
        return sorted(c["text"] for c in self.controls() if c["class"] != "Edit")

    def control(self, text: str) -> dict:
        [found] = [c for c in self.controls() if c["text"] == text]
        return found

    def edits(self) -> tuple[dict, dict]:
        """The user name field and the password field (told apart by ES_PASSWORD)."""
        edits = [c for c in self.controls() if c["class"] == "Edit"]
        self.assertEqual(len(edits), 2)
        [password] = [e for e in edits if int(e["style"], 16) & ES_PASSWORD]
        [name] = [e for e in edits if not int(e["style"], 16) & ES_PASSWORD]
        return name, password

    def type_into(self, field: dict, text: str) -> None:
        """Empties the field and types the text into it, character by character."""
        self.session.uidriver("type", "--title", SETTINGS_TITLE, "--id", str(field["id"]),
                              "--clear", "--", text)

    def field_text(self, field: dict) -> str:
        return self.label(field["id"])

    def stored(self) -> dict[str, str]:
        """The program's stored values (all REG_SZ)."""
        values = self.session.reg_values(SUPPORT_KEY) or {}
        for name, value in values.items():
            self.assertEqual(value.type, "REG_SZ", name)
        return {name: value.data for name, value in values.items()}

    def assert_delete_question(self, language: str) -> None:
        box = self.message_box()
        self.assertEqual(box["title"], "VarnekIT")
        self.assertEqual(box["text"], DELETE_QUESTION[language])
        self.assertEqual([b["id"] for b in box["buttons"]], [6, 7])  # Yes, No


class SettingsWindow(SettingsTestCase):
    def test_save_reload_delete_and_autostart(self):
        session = self.session
        self.start_program()
        self.assertIsNone(session.reg_values(SUPPORT_KEY), "settings before the first save")
        self.open_settings("Settings")

        # The design state in English: nothing stored, so no note.
        self.assertEqual(self.captions(), sorted(CAPTIONS_ENGLISH))
        self.assertEqual(self.control("English")["checked"], 1)
        self.assertEqual(self.control("Danish")["checked"], 0)
        self.assertEqual(self.control("Automatic Exit running TeamViewer")["checked"], 1)
        self.assertEqual(self.control(NOTE["English"])["visible"], 0)
        self.assertEqual(self.control("Version : 1.0.2")["visible"], 1)
        name, password = self.edits()
        self.assertEqual((name["text"], password["text"]), ("", ""))
        self.screenshot_window(SETTINGS_TITLE, "settings_english")

        # Save stores the name, the digest, the client option and the language.
        self.type_into(name, USER)
        self.type_into(password, PASSWORD)
        self.assertEqual(self.field_text(name), USER)
        self.assertEqual(self.click("Automatic Exit running TeamViewer"), "clicked")
        self.assertEqual(self.control("Automatic Exit running TeamViewer")["checked"], 0)
        self.assertEqual(self.click("Save"), "clicked")
        expected = {"Brugernavn": USER, "Kodeord": digest(PASSWORD), "Teamviewer": "0",
                    "Language": "0"}
        self.assertEqual(self.stored(), expected)

        # Loaded again, the window shows the name, the option and the note, not the password.
        self.close_settings("Close")
        self.open_settings("Settings")
        name, password = self.edits()
        self.assertEqual(self.field_text(name), USER)
        self.assertEqual(self.field_text(password), "")
        self.assertEqual(self.control(NOTE["English"])["visible"], 1)
        self.assertEqual(self.control("Automatic Exit running TeamViewer")["checked"], 0)

        # Emptied fields keep the stored name and digest: typed, then cleared, then saved.
        self.type_into(name, "Ny bruger")
        self.type_into(password, "andet kodeord")
        self.type_into(name, "")
        self.type_into(password, "")
        self.assertEqual(self.click("Automatic Exit running TeamViewer"), "clicked")
        self.assertEqual(self.click("Save"), "clicked")
        self.assertEqual(self.stored(), dict(expected, Teamviewer="1"))

        # Delete user data: No changes nothing, Yes removes all but the language.
        self.assertEqual(self.click("Delete Userdata"), "pending")  # the box is open
        self.assert_delete_question("English")
        self.press("No")
        self.assertEqual(self.stored(), dict(expected, Teamviewer="1"))
        self.assertEqual(self.click("Delete Userdata"), "pending")
        self.assert_delete_question("English")
        self.press("Yes")
        self.assertEqual(self.stored(), {"Language": "0"})
        self.close_settings()  # as the window manager's close button does
        self.open_settings("Settings")
        name, _ = self.edits()
        self.assertEqual(self.field_text(name), "")
        self.assertEqual(self.control(NOTE["English"])["visible"], 0)

        # Autostart: the Run value is written as an exact string and removed again; neither
        # step shows a box, not even removing a value that is already gone.
        self.assertIsNone(session.reg_get(RUN_KEY, "VarnekIT"))
        self.assertEqual(self.click("Add Autostart"), "clicked")
        self.assert_no_message_box()
        run_value = r'"VarnekIT"="C:\\Varnek\\VarnekIT.exe"'
        self.assertIn(run_value, reg_export_lines(session, RUN_KEY))
        self.assertEqual(session.reg_values(RUN_KEY)["VarnekIT"],
                         harness.RegValue("REG_SZ", r"C:\Varnek\VarnekIT.exe"))
        # regedit shows the text only; the registry file shows the stored bytes: a plain string
        # is the text and one NUL, anything after the NUL would be written out as "\0".
        self.exit_program("Exit")
        subprocess.run(["wineserver", "-w"], env=session.env, timeout=60, check=True)
        system_reg = (session.prefix / "system.reg").read_text(encoding="utf-8")
        self.assertIn(run_value, system_reg.splitlines())

        self.start_program()
        self.open_settings("Settings")
        self.assertEqual(self.click("Remove Autostart"), "clicked")
        self.assert_no_message_box()
        self.assertNotIn("VarnekIT", session.reg_values(RUN_KEY))
        self.assertFalse([ln for ln in reg_export_lines(session, RUN_KEY) if "VarnekIT" in ln])
        self.assertEqual(self.click("Remove Autostart"), "clicked")
        self.assert_no_message_box()
        self.assertTrue(self.program.running())

    def test_language_switch_restarts_and_exit(self):
        session = self.session
        self.start_program()
        self.menu(expect=MENU_ENGLISH)
        self.open_settings("Settings")
        self.assertEqual(self.captions(), sorted(CAPTIONS_ENGLISH))

        # Danish at once, everywhere, without storing anything.
        self.assertEqual(self.click("Danish"), "clicked")
        self.assertEqual(self.captions(), sorted(CAPTIONS_DANISH))
        self.assertEqual((self.control("Dansk")["checked"], self.control("Engelsk")["checked"]),
                         (1, 0))
        self.screenshot_window(SETTINGS_TITLE, "settings_danish")
        self.assertIsNone(session.reg_values(SUPPORT_KEY))
        self.menu(expect=MENU_DANISH)
        self.assertEqual(self.click("Slet Brugerdata"), "pending")
        self.assert_delete_question("Danish")
        self.press("No")
        self.assertIsNone(session.reg_values(SUPPORT_KEY))
        # Loaded again, the window keeps the language in use.
        self.close_settings("Luk")
        self.open_settings("Indstillinger")
        self.assertEqual(self.captions(), sorted(CAPTIONS_DANISH))
        self.assertEqual(self.control("Dansk")["checked"], 1)
        # "Afslut" ends the program; the next start is in the stored language, English.
        self.exit_program("Afslut")

        self.start_program()
        self.menu(expect=MENU_ENGLISH)
        self.open_settings("Settings")
        self.assertEqual(self.captions(), sorted(CAPTIONS_ENGLISH))
        self.assertEqual(self.control("English")["checked"], 1)
        self.assertEqual(self.click("Danish"), "clicked")
        self.assertEqual(self.click("Gem"), "clicked")
        self.assertEqual(self.stored(), {"Language": "1", "Teamviewer": "1"})
        self.close_settings("Luk")
        self.exit_program("Afslut")

        # Saved, the next start is Danish: the menu, the window and the messages.
        self.start_program()
        self.menu(expect=MENU_DANISH)
        self.open_settings("Indstillinger")
        self.assertEqual(self.captions(), sorted(CAPTIONS_DANISH))
        self.assertEqual((self.control("Dansk")["checked"], self.control("Engelsk")["checked"]),
                         (1, 0))
        self.menu("Fjernstyring")
        self.assert_client_missing_box("Danish")
        # Back to English, saved.
        self.assertEqual(self.click("Engelsk"), "clicked")
        self.assertEqual(self.captions(), sorted(CAPTIONS_ENGLISH))
        self.assertEqual(self.click("Save"), "clicked")
        self.assertEqual(self.stored()["Language"], "0")
        self.exit_program("Exit")


class MenuCommands(SettingsTestCase):
    def test_remote_control_support_system_and_home_page(self):
        session = self.session
        root = session.temp / "www"
        root.mkdir()
        with session.support_server(root, {USER: PASSWORD}) as server:
            self.start_program()

            # Nothing stored: the support system's bare address; the home page.
            self.menu("Support System", expect=MENU_ENGLISH)
            self.assertEqual(session.wait_browser_log(1)[-1]["args"], [harness.SUPPORT_BASE])
            self.menu("Varnek IT")
            self.assertEqual(session.wait_browser_log(2)[-1]["args"],
                             [f"{harness.SUPPORT_BASE}/home.html"])

            # No client in the program folder: an error box, nothing started.
            self.menu("RemoteSupport")
            self.assert_client_missing_box("English")
            client_log = self.client_log()
            session.install_tool("standin_client.exe", harness.PROGRAM_FOLDER,
                                 "Varnek_TeamViewer.exe")
            self.assertFalse(client_log.exists())

            # Name and password saved through the window; "end a running client" is on.
            self.open_settings("Settings")
            name, password = self.edits()
            self.type_into(name, USER)
            self.type_into(password, PASSWORD)
            self.assertEqual(self.click("Save"), "clicked")
            self.assertEqual(self.stored(), {"Brugernavn": USER, "Kodeord": digest(PASSWORD),
                                             "Teamviewer": "1", "Language": "0"})
            self.close_settings("Close")

            # Running clients are ended first, then the client starts in the program folder.
            running = self.start_running_clients(2)
            self.menu("RemoteSupport")
            self.assertEqual(session.windows_processes("TeamViewer.exe", gone=True), [])
            for process in running:
                self.assertEqual(process.wait(20), 0)  # ended by TerminateProcess(h, 0)
            [started] = self.wait_client_starts(1)
            self.assertEqual(started["exe"], r"C:\Varnek\Varnek_TeamViewer.exe")
            # The program names "C:\Varnek\"; the client sees the folder without the backslash.
            self.assertIn(started["cwd"], (r"C:\Varnek", "C:\\Varnek\\"))
            self.assertEqual(started["show"], 5)
            self.assert_no_message_box(500)

            # With the option off, a running client is left alone.
            session.reg_add(SUPPORT_KEY, "Teamviewer", "0")
            [other] = self.start_running_clients(1)
            self.menu("RemoteSupport")
            self.assertEqual(len(self.wait_client_starts(2)), 2)
            # A running client would have been ended before the start.
            self.assertEqual(len(session.windows_processes("TeamViewer.exe")), 1)
            self.assertTrue(other.running())

            # Both stored: the login address, which the support system accepts.
            self.menu("Support System")
            address = session.wait_browser_log(3)[-1]["args"][0]
            self.assertEqual(address, login_address(USER, PASSWORD))
            self.assertTrue(address.startswith(
                f"{harness.SUPPORT_BASE}/AppLogin.asp?Username=S%C3%B8ren%20%26%20Co&Password="))
            with urllib.request.urlopen(address, timeout=10) as reply:
                self.assertEqual(reply.headers["X-Varnek-Login"], "OK")
                body = reply.read().decode("utf-8")
            self.assertIn("Login OK: Søren &amp; Co", body)
            self.assertEqual(server.log_entries()[-1]["login"], f"Login OK: {USER}")
            self.assertEqual(len(session.browser_log()), 3)
            self.assertTrue(self.program.running())

    def start_running_clients(self, count: int) -> list[harness.Process]:
        exe = self.session.install_tool("standin_teamviewer.exe", r"C:\Other", "TeamViewer.exe")
        processes = [self.session.start_wine(exe, ["300"]) for _ in range(count)]
        harness.wait_until(
            lambda: len(self.session.windows_processes("TeamViewer.exe")) == count, 20,
            0.2, f"{count} running client(s)")
        return processes



def reg_export_lines(session: harness.Session, key: str) -> list[str]:
    """The lines of a regedit /E export of a key, as regedit writes them."""
    out = session.temp / "run-export.reg"
    session.run_wine(["regedit", "/E", str(out), key])
    try:
        return out.read_bytes().decode("utf-16").replace("\r\n", "\n").split("\n")
    finally:
        out.unlink(missing_ok=True)


if __name__ == "__main__":
    unittest.main()
