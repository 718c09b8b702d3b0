"""The installer end to end: the real VarnekIT-<version>-setup.exe run silently under Wine in a
fresh prefix, the installed program started from its Start-menu folder's target and shown in
the tray, and the silent uninstaller, run from the program-files folder the way Add or Remove
Programs runs it, ending the program and removing what was installed, itself included."""

import os
import sys
import unittest

import harness
from deploy_common import required_path

sys.path.insert(0, str(harness.source_dir() / "tools"))
import publish  # noqa: E402  (reads the version resource of the installer and uninstaller)

RUN_KEY = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run"
UNINSTALL_KEY = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\VarnekIT"
SESSION_MANAGER = r"HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Session Manager"
SETTINGS_KEY = r"HKEY_CURRENT_USER\Software\VB and VBA Program Settings\VarnekIT"
SUPPORT_KEY = SETTINGS_KEY + r"\Support"
AUTOSTART_DATA = r"C:\Varnek\VarnekIT.exe"  # as the program's own Add Autostart writes it
PROGRAM = r"C:\Varnek\VarnekIT.exe"
# The uninstaller lies where only administrators can change it: the program-files folder of
# the installer's own kind (a 32-bit one's is "Program Files (x86)" in a 64-bit Windows).
PROGRAM_FILES = (r"C:\Program Files", r"C:\Program Files (x86)")
UNINSTALLER_NAME = r"VarnekIT\uninstall.exe"
OLD_UNINSTALLER = r"C:\Varnek\uninstall.exe"  # where versions before kept it
SHORTCUT = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs\VarnekIT.lnk"
MAIN = "Hard Drive"
# Started without "_?=", the uninstaller runs a copy of itself in the temporary folder, so named.
UNINSTALLER_COPY = "Un.exe"
NOT_STARTED = ("VarnekIT could not be started for you from the setup. It starts at your next "
               "logon; to start it now, choose VarnekIT in the Start menu.")


class InstallerTest(harness.E2ETestCase):

    def setUp(self):
        self.setup_exe = required_path("VARNEK_INSTALLER")
        self.version = os.environ["VARNEK_PROJECT_VERSION"]
        super().setUp()

    def install(self, *options: str) -> None:
        session = self.session
        target = session.install_program(r"C:\downloads", self.setup_exe)
        result = session.run_wine([target, "/S", *options], timeout=180, check=False)
        self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))

    def uninstaller(self) -> str:
        """The installed uninstaller: the one program-files folder that holds it."""
        found = [rf"{folder}\{UNINSTALLER_NAME}" for folder in PROGRAM_FILES
                 if self.session.unix_path(rf"{folder}\{UNINSTALLER_NAME}").is_file()]
        self.assertEqual(len(found), 1, found)
        return found[0]

    def uninstall(self, *options: str, in_place: bool = False) -> None:
        """Runs the command Add or Remove Programs runs (QuietUninstallString) with options. The
        uninstaller hands its work to a copy of itself in the temporary folder and ends; the
        copy's end is the end of the uninstallation. In place ("_?=" and its folder, last) it
        does the work itself."""
        session = self.session
        uninstaller = self.uninstaller()
        self.assertEqual(session.reg_get(UNINSTALL_KEY, "QuietUninstallString"),
                         f'"{uninstaller}" /S')
        args = [uninstaller, "/S", *options]
        if in_place:
            # Wine quotes an argument with a space; the uninstaller reads "_?=" unquoted, to the
            # end of the command line, so the folder is given in words, as the line holds it.
            args += ("_?=" + uninstaller.rsplit("\\", 1)[0]).split(" ")
        result = session.run_wine(args, timeout=120, check=False)
        self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
        if not in_place:
            session.windows_processes(UNINSTALLER_COPY, gone=True, timeout=60)

    def running_programs(self) -> list[dict]:
        """The VarnekIT.exe processes running now (the listing of all processes never waits)."""
        return [p for p in self.session.uidriver_records("processes", "--timeout", "0")
                if p["exe"].lower() == "varnekit.exe"]

    def assert_installed(self) -> None:
        session = self.session
        exe = session.unix_path(PROGRAM)
        self.assertEqual(exe.read_bytes(), harness.program_exe().read_bytes())
        # Nothing an administrator runs lies in the folder every user can change.
        self.assertFalse(session.unix_path(OLD_UNINSTALLER).exists())
        uninstaller = self.uninstaller()
        self.assertTrue(session.unix_path(SHORTCUT).is_file())
        self.assertEqual(publish.format_version(publish.program_version(exe)), self.version)
        uninstall = session.reg_values(UNINSTALL_KEY)
        self.assertIsNotNone(uninstall)
        self.assertEqual(uninstall["DisplayVersion"].data, self.version)
        self.assertEqual(uninstall["UninstallString"].data, f'"{uninstaller}"')

    def assert_removed(self, in_place_uninstaller: str | None = None) -> None:
        """Nothing installed is left. An uninstaller that ran in place is a running program,
        which Windows deletes only at the next restart: it and its folder are named for that."""
        session = self.session
        for path in (PROGRAM, SHORTCUT, r"C:\Varnek"):
            self.assertFalse(session.unix_path(path).exists(), path)
        if in_place_uninstaller:
            pending = session.reg_get(SESSION_MANAGER, "PendingFileRenameOperations")
            folder = in_place_uninstaller.rsplit("\\", 1)[0]
            for path in (in_place_uninstaller, folder + "\\"):
                # Pairs of a name and its new name, "" for none; the last "" ends the list.
                self.assertIn("\\??\\" + path, pending or [])
                at = pending.index("\\??\\" + path)
                self.assertIn(pending[at + 1:at + 2], ([], [""]), path)
        else:
            for folder in PROGRAM_FILES:
                self.assertFalse(session.unix_path(rf"{folder}\VarnekIT").exists(), folder)
        self.assertIsNone(session.reg_get(RUN_KEY, "VarnekIT"))
        self.assertIsNone(session.reg_values(UNINSTALL_KEY))

    def test_setup_and_uninstaller_carry_the_version(self):
        self.assertEqual(publish.format_version(publish.program_version(self.setup_exe)),
                         self.version)
        self.install()
        uninstaller = self.session.unix_path(self.uninstaller())
        self.assertEqual(publish.format_version(publish.program_version(uninstaller)),
                         self.version)

    def test_silent_install_start_and_uninstall(self):
        session = self.session
        session.reg_add(RUN_KEY, "OtherProgram", r"C:\Other\other.exe")
        self.install()
        self.assert_installed()
        values = session.reg_values(RUN_KEY)
        self.assertEqual(values["VarnekIT"].type, "REG_SZ")
        self.assertEqual(values["VarnekIT"].data, AUTOSTART_DATA)
        # Silent mode does not start the program: no such process (a started one would be
        # listed from the moment the setup started it) and no window of it.
        self.assertEqual(self.running_programs(), [])
        self.assertEqual(session.uidriver_records("windows", "--all", "--title", MAIN), [])

        program = session.start_wine(PROGRAM)
        session.tray.wait_icon_count(1, timeout=60)
        session.screenshot("installed-program-running")
        session.reg_add(SUPPORT_KEY, "Username", "Søren")

        self.uninstall()
        self.assertEqual(program.wait(30), 0)
        session.tray.wait_icon_count(0, timeout=30)
        self.assertEqual(session.uidriver_records("windows", "--all", "--title", MAIN), [])
        self.assert_removed()
        # Another program's autostart entry and the user's settings stay.
        self.assertEqual(session.reg_get(RUN_KEY, "OtherProgram"), r"C:\Other\other.exe")
        self.assertEqual(session.reg_get(SUPPORT_KEY, "Username"), "Søren")

    def test_install_without_autostart_and_purging_uninstall(self):
        session = self.session
        self.install("/AUTOSTART=0")
        self.assert_installed()
        self.assertIsNone(session.reg_get(RUN_KEY, "VarnekIT"))
        session.reg_add(SUPPORT_KEY, "Username", "Søren")

        # In place, as where programs may not run from the temporary folder.
        uninstaller = self.uninstaller()
        self.uninstall("/PURGE=1", in_place=True)
        self.assert_removed(in_place_uninstaller=uninstaller)
        self.assertEqual(session.reg_export(SETTINGS_KEY), {})

    def test_uninstall_removes_what_the_program_wrote_and_the_folder(self):
        session = self.session
        self.install()
        # What the program itself leaves in its folder: the downloaded client, a new version
        # with its replacement script, copies moved aside, downloads and writes cut short.
        written = ["Varnek_TeamViewer.exe", "New_VarnekIT.exe", "VarnekIT.exe.old", "DeleteOLD.bat",
                   "Varnek_TeamViewer.exe.1a2b.3.download", "New_VarnekIT.zip.ff0.12.download",
                   "VarnekIT.exe.1a2b.old", "Varnek_TeamViewer.exe.1a2b.old", "vit3F.tmp"]
        for name in written:
            session.unix_path(rf"C:\Varnek\{name}").write_bytes(b"MZ" + name.encode())
        program = session.start_wine(PROGRAM)
        session.tray.wait_icon_count(1, timeout=60)

        self.uninstall()
        self.assertEqual(program.wait(30), 0)
        for name in written:
            self.assertFalse(session.unix_path(rf"C:\Varnek\{name}").exists(), name)
        self.assert_removed()  # the folder too

    def test_install_over_a_running_program(self):
        session = self.session
        self.install()
        first = session.start_wine(PROGRAM)
        session.tray.wait_icon_count(1, timeout=60)
        # The second install ends the running program before it replaces the file.
        self.install("/AUTOSTART=1")
        self.assertEqual(first.wait(30), 0)
        session.tray.wait_icon_count(0, timeout=30)
        self.assert_installed()
        self.assertEqual(session.reg_get(RUN_KEY, "VarnekIT"), AUTOSTART_DATA)
        self.uninstall()
        self.assert_removed()

    def test_install_right_after_the_uninstall_stays(self):
        # A technician's script: uninstall, then install at once. The uninstall command returns
        # while its copy still removes files; the setup waits for it, so nothing of the
        # uninstallation removes the new installation.
        session = self.session
        self.install()
        program = session.start_wine(PROGRAM)
        session.tray.wait_icon_count(1, timeout=60)
        result = session.run_wine([self.uninstaller(), "/S"], check=False)
        self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
        self.install()
        self.assertEqual(program.wait(30), 0)
        self.assert_installed()
        self.assertEqual(session.reg_get(RUN_KEY, "VarnekIT"), AUTOSTART_DATA)

    def test_install_into_a_folder_that_stood_before(self):
        session = self.session
        # Made by a user before the installation: an older version's uninstaller, a file of the
        # user's own, and under the program's name a hard link to another program's file.
        other = session.unix_path(r"C:\Other\other.exe")
        other.parent.mkdir()
        other.write_bytes(b"MZ another program")
        folder = session.unix_path(r"C:\Varnek")
        folder.mkdir()
        session.unix_path(OLD_UNINSTALLER).write_bytes(b"MZ a user's uninstall.exe")
        (folder / "notes.txt").write_text("the user's")
        os.link(other, folder / "VarnekIT.exe")
        self.install()
        self.assert_installed()
        self.assertEqual(other.read_bytes(), b"MZ another program")
        self.uninstall()
        # What the installer does not know stays, and with it the folder.
        self.assertEqual([p.name for p in folder.iterdir()], ["notes.txt"])
        self.assertEqual(other.read_bytes(), b"MZ another program")

    def test_a_file_in_the_program_folders_place_stops_the_setup(self):
        session = self.session
        place = session.unix_path(r"C:\Varnek")
        place.write_bytes(b"a user's file")
        target = session.install_program(r"C:\downloads", self.setup_exe)
        result = session.run_wine([target, "/S"], timeout=180, check=False)
        self.assertEqual(result.returncode, 2)  # ended by the setup: nothing installed
        self.assertEqual(place.read_bytes(), b"a user's file")
        self.assertIsNone(session.reg_values(UNINSTALL_KEY))

    def test_interactive_install_starts_the_program_only_as_the_user(self):
        session = self.session
        target = session.install_program(r"C:\downloads", self.setup_exe)
        setup = session.start_wine(target)
        # The wizard's title is the caption and the page's (blank) sub-caption.
        caption = f"VarnekIT {self.version} Setup"

        def wizard():
            found = session.uidriver_records("windows", "--class", "#32770")
            return [w for w in found if w["title"].strip() == caption]

        # Asked for from the moment the setup starts, while Wine still comes up in this
        # prefix (the first looks may well start Wine's own processes), and seen on the display.
        [window] = harness.wait_until(wizard, 60, 0.2, "the setup wizard's window")
        harness.wait_until(lambda: [w for w in session.top_windows()
                                    if (w.name or "").strip() == caption], 30, 0.5,
                           "the setup wizard on the display")
        title = ["--hwnd", window["hwnd"]]

        def controls():
            return {c["text"].replace("&", ""): c
                    for c in session.uidriver_records("children", *title)}

        self.assertEqual(controls()["Install"]["enabled"], 1)
        session.screenshot("setup-components")
        session.uidriver("click", *title, "--text", "Install")
        # The last page offers to start the program, ticked.
        # The driver's own time limit comes first, so a page that never shows is reported.
        session.uidriver("text", *title, "--text", "Finish", "--timeout", "60000", timeout=90)
        start = controls()["Start VarnekIT now"]
        self.assertEqual((start["visible"], start["checked"]), (1, 1))
        session.screenshot("setup-finish")
        session.uidriver("click", *title, "--text", "Finish", "--timeout", "60000", timeout=90)
        # The program is started only as the logged-on user, with the token of the shell's
        # process; Wine's desktop registers no shell window, so the setup says when the program
        # starts instead, and starts nothing with its own rights.
        [box] = session.uidriver_records("msgbox", "--pid", str(window["pid"]),
                                         "--timeout", "60000", timeout=90)
        self.assertEqual(box["text"], NOT_STARTED)
        session.screenshot("setup-not-started")
        session.uidriver("msgbox", "--pid", str(window["pid"]), "--press", "OK")
        self.assertEqual(setup.wait(60), 0)
        self.assertEqual(self.running_programs(), [])
        self.assert_installed()
        self.uninstall()
        self.assert_removed()

if __name__ == "__main__":
    unittest.main()
