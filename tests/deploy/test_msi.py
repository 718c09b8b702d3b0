"""The Windows Installer package end to end, under Wine's own msiexec in a fresh prefix, run as
an administrator's deployment runs it (/qn, a verbose log): installed without autostart,
removed together with what the program wrote into its folder, installed again with autostart,
replaced by the package of the next version, and refusing to replace that by an older one."""

import os
import re
import unittest
from pathlib import Path

import harness
from deploy_common import required_path

RUN = r"Microsoft\Windows\CurrentVersion\Run"
UNINSTALL = r"Microsoft\Windows\CurrentVersion\Uninstall"
# Windows Installer's registration of the products, where Add or Remove Programs finds an
# installed package's icon.
PRODUCTS = r"HKEY_LOCAL_MACHINE\Software\Classes\Installer\Products"
# Both registry views: the package writes in the view of the program's own kind.
VIEWS = (r"HKEY_LOCAL_MACHINE\Software", r"HKEY_LOCAL_MACHINE\Software\Wow6432Node")
AUTOSTART_DATA = r"C:\Varnek\VarnekIT.exe"  # as the program's own Add Autostart writes it
FOLDER = r"C:\Varnek"
PACKAGES = r"C:\packages"
# What the program writes into its folder under fixed names, which the removal takes with it.
# (The package removes the names with a tag, unfinished downloads and the like, by wildcards,
# which Windows Installer expands and Wine's does not.)
WRITTEN = ["Varnek_TeamViewer.exe", "New_VarnekIT.exe", "DeleteOLD.bat", "VarnekIT.exe.old"]


class MsiTest(harness.E2ETestCase):

    def setUp(self):
        self.packages = {os.environ["VARNEK_PROJECT_VERSION"]: required_path("VARNEK_MSI"),
                         "1.0.3": required_path("VARNEK_NEXT_MSI")}
        super().setUp()
        self.shortcut = None

    def msiexec(self, *args: str) -> int:
        """Runs msiexec with the arguments, silent, with a verbose log (kept as an artifact,
        its text left in self.log); returns its exit code."""
        session = self.session
        name = rf"{PACKAGES}\msiexec.log"
        log = session.unix_path(name)
        log.unlink(missing_ok=True)
        result = session.run_wine(["msiexec", *args, "/qn", "/l*v", name], timeout=180,
                                  check=False)
        text = log.read_bytes() if log.exists() else b""
        self.log = text.decode("utf-16" if text.startswith(b"\xff\xfe") else "latin-1")
        with open(session.artifacts / "msiexec.log", "a") as kept:
            kept.write(self.log)
        return result.returncode

    def install(self, version: str, *properties: str) -> int:
        source = self.packages[version]
        code = self.msiexec("/i", self.session.install_program(PACKAGES, source), *properties)
        # The Start-menu entry goes into the Start menu the log names: for a package per
        # machine Windows takes all users' one, where Wine takes the user's own.
        menu = re.search(r"Property\(S\): ProgramMenuFolder = (.+?)\r?\n", self.log)
        if code == 0 and menu:
            self.shortcut = self.session.unix_path(menu.group(1) + "VarnekIT.lnk")
        return code

    def entries(self) -> dict[str, dict]:
        """The Add or Remove Programs entries named VarnekIT, by their keys' names."""
        found = {}
        for view in VIEWS:
            for key, values in self.session.reg_export(rf"{view}\{UNINSTALL}").items():
                if "DisplayName" in values and values["DisplayName"].data == "VarnekIT":
                    found[key.rsplit("\\", 1)[1]] = {n: v.data for n, v in values.items()}
        return found

    def autostart(self) -> list:
        values = [self.session.reg_values(rf"{view}\{RUN}") or {} for view in VIEWS]
        return [(v["VarnekIT"].type, v["VarnekIT"].data) for v in values if "VarnekIT" in v]

    def assert_installed(self, version: str, program: Path) -> str:
        """The program of that version in its place with its Start-menu entry, and one entry
        in Add or Remove Programs; returns its product code."""
        session = self.session
        self.assertEqual(session.unix_path(rf"{FOLDER}\VarnekIT.exe").read_bytes(),
                         program.read_bytes())
        self.assertTrue(self.shortcut.is_file())
        [(code, entry)] = self.entries().items()
        self.assertEqual((entry["DisplayVersion"], entry["Publisher"], entry["HelpLink"]),
                         (version, "Varnek IT Consulting", os.environ["VARNEK_HOME_PAGE"]), entry)
        [icon] = [values["ProductIcon"].data for values in session.reg_export(PRODUCTS).values()
                  if "ProductName" in values and values["ProductName"].data == "VarnekIT"]
        self.assertTrue(session.unix_path(icon).is_file(), icon)
        return code

    def test_install_remove_reinstall_and_upgrade(self):
        session = self.session
        version = os.environ["VARNEK_PROJECT_VERSION"]
        self.assertEqual(self.install(version, "REMOVE=Autostart"), 0, self.log)
        code = self.assert_installed(version, harness.program_exe())
        self.assertEqual(self.autostart(), [])

        # Removed by its product code, as Intune and Configuration Manager remove it, after
        # the program wrote into its folder: nothing of it is left, the folder neither.
        for name in WRITTEN:
            session.unix_path(rf"{FOLDER}\{name}").write_bytes(b"MZ " + name.encode())
        self.assertEqual(self.msiexec("/x", code), 0, self.log)
        self.assertFalse(session.unix_path(FOLDER).exists())
        self.assertFalse(self.shortcut.exists())
        self.assertEqual(self.entries(), {})

        self.assertEqual(self.install(version), 0, self.log)
        self.assert_installed(version, harness.program_exe())
        self.assertEqual(self.autostart(), [("REG_SZ", AUTOSTART_DATA)])

        # The next version replaces it: one entry, the new program, the autostart entry still.
        next_exe = Path(os.environ["VARNEK_NEXT_EXE"])
        self.assertEqual(self.install("1.0.3"), 0, self.log)
        next_code = self.assert_installed("1.0.3", next_exe)
        self.assertNotEqual(next_code, code)
        self.assertEqual(self.autostart(), [("REG_SZ", AUTOSTART_DATA)])

        # An older package changes nothing: ERROR_INSTALL_FAILURE, 1603, of which a Linux
        # process's exit status keeps the low byte. Its log names the newer product it found
        # (Windows logs the launch condition's message too, Wine does not).
        self.assertEqual(self.install(version), 1603 & 0xFF, self.log)
        self.assertIn(f"WIX_DOWNGRADE_DETECTED = {next_code}", self.log)
        self.assertEqual(self.assert_installed("1.0.3", next_exe), next_code)


if __name__ == "__main__":
    unittest.main()
