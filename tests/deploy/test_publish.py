"""tools/publish.py on the real built programs: the version read from the executable's own
version resource, the files it writes into a VarnekITApp folder, and the releases it refuses
(leaving the folder exactly as it was)."""

import datetime
import os
import struct
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

SOURCE = Path(os.environ.get("VARNEK_SOURCE_DIR", Path(__file__).resolve().parents[2]))
PUBLISH = SOURCE / "tools" / "publish.py"


def required_path(variable: str) -> Path:
    value = os.environ.get(variable)
    if not value or not Path(value).is_file():
        raise unittest.SkipTest(f"{variable} does not name a built file")
    return Path(value)


def run_publish(*args) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, str(PUBLISH), *map(str, args)], capture_output=True,
                          text=True, timeout=60)


def snapshot(folder: Path) -> dict:
    """Every file in the folder (hidden temporary ones included) with its bytes."""
    if not folder.exists():
        return {}
    return {entry.name: entry.read_bytes() for entry in folder.iterdir()}


def with_file_version(exe: Path, target: Path, major: int, minor: int, revision: int) -> Path:
    """A copy of the program whose fixed file version says major.minor.revision, patched in
    the VS_FIXEDFILEINFO that follows the resource's "VS_VERSION_INFO" key (a byte search)."""
    data = bytearray(exe.read_bytes())
    key = "VS_VERSION_INFO\0".encode("utf-16-le")
    assert data.count(key) == 1
    at = data.find(struct.pack("<I", 0xFEEF04BD), data.find(key))
    assert 0 < at - data.find(key) <= len(key) + 4
    struct.pack_into("<II", data, at + 8, (major << 16) | minor, revision << 16)
    target.write_bytes(bytes(data))
    return target


class PublishTest(unittest.TestCase):

    def setUp(self):
        self.exe = required_path("VARNEK_EXE")
        self.next_exe = required_path("VARNEK_NEXT_EXE")
        work = tempfile.TemporaryDirectory(prefix="varnek-publish-")
        self.addCleanup(work.cleanup)
        self.work = Path(work.name)
        self.folder = self.work / "server" / "VarnekITApp"

    def assert_refused(self, args: list, message: str) -> None:
        before = snapshot(self.folder)
        result = run_publish("--folder", self.folder, *args)
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertIn(message, result.stderr)
        self.assertIn("nothing was changed", result.stderr)
        self.assertEqual(snapshot(self.folder), before)

    def assert_published(self, args: list) -> None:
        result = run_publish("--folder", self.folder, *args)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_version_read_from_the_program_is_the_project_version(self):
        expected = os.environ.get("VARNEK_PROJECT_VERSION")
        if not expected:
            self.skipTest("VARNEK_PROJECT_VERSION is not set")
        result = run_publish("--show-version", self.exe)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.strip(), expected)
        result = run_publish("--show-version", self.next_exe)
        self.assertEqual(result.stdout.strip(), "1.0.3")

    def test_update_sequence(self):
        self.assert_published(["--program", self.exe])
        self.assertEqual(snapshot(self.folder), {
            "VersionVarnekIT.txt": os.environ["VARNEK_PROJECT_VERSION"].encode(),
            "New_VarnekIT.zip": self.exe.read_bytes()})

        self.assert_published(["--program", self.next_exe])
        self.assertEqual(snapshot(self.folder), {
            "VersionVarnekIT.txt": b"1.0.3", "New_VarnekIT.zip": self.next_exe.read_bytes()})

        # Older, the same, and not a program at all.
        self.assert_refused(["--program", self.exe], "not newer than the published 1.0.3")
        self.assert_refused(["--program", self.next_exe], "is version 1.0.3, not newer")
        text = self.work / "notes.txt"
        text.write_text("MZ is not enough\r\n")
        self.assert_refused(["--program", text], "not a Windows program")
        text.write_text("release notes\n")
        self.assert_refused(["--program", text], "no MZ header")
        self.assert_refused(["--program", self.work / "missing.exe"], "cannot read")

    def test_versions_compare_as_numbers(self):
        nine = with_file_version(self.exe, self.work / "nine.exe", 1, 0, 9)
        ten = with_file_version(self.exe, self.work / "ten.exe", 1, 0, 10)
        self.assertEqual(run_publish("--show-version", ten).stdout.strip(), "1.0.10")
        self.assert_published(["--program", nine])
        self.assert_published(["--program", ten])
        self.assertEqual((self.folder / "VersionVarnekIT.txt").read_bytes(), b"1.0.10")
        self.assert_refused(["--program", nine], "not newer")
        two = with_file_version(self.exe, self.work / "two.exe", 2, 0, 0)
        self.assert_published(["--program", two])
        self.assertEqual((self.folder / "VersionVarnekIT.txt").read_bytes(), b"2.0.0")

    def test_program_without_version_resource_is_refused(self):
        client = required_path("VARNEK_CLIENT_EXE")
        self.assert_refused(["--program", client], "has no version resource")
        self.assertFalse(self.folder.exists())

    def test_damaged_folder_version_is_refused(self):
        self.folder.mkdir(parents=True)
        (self.folder / "VersionVarnekIT.txt").write_bytes(b"version two")
        self.assert_refused(["--program", self.next_exe], "not a major.minor.revision")

    def test_client_and_its_date(self):
        client = required_path("VARNEK_CLIENT_EXE")
        self.assert_published(["--client", client, "--client-date", "29/2/2028"])
        self.assertEqual(snapshot(self.folder), {
            "VersionTeamViewer.txt": b"29/2/2028", "Varnek_TeamViewer.zip": client.read_bytes()})

        for date in ["29/2/2027", "31/4/2026", "0/1/2026", "1/13/2026", "2026-12-08",
                     "8/12/26", "8/12/2026 ", "1//2026"]:
            with self.subTest(date=date):
                self.assert_refused(["--client", client, "--client-date", date], "date")
        text = self.work / "client.txt"
        text.write_text("not a program")
        self.assert_refused(["--client", text, "--client-date", "1/1/2029"],
                            "not a Windows program")
        # One bad part refuses the whole publish, the good part included.
        self.assert_refused(["--program", self.next_exe, "--client", client, "--client-date",
                             "30/2/2029"], "not a real date")

        today = datetime.date.today()
        self.assert_published(["--client", client])
        self.assertEqual((self.folder / "VersionTeamViewer.txt").read_bytes(),
                         f"{today.day}/{today.month}/{today.year}".encode())

    def test_program_and_client_together(self):
        client = required_path("VARNEK_CLIENT_EXE")
        self.assert_published(["--program", self.next_exe, "--client", client, "--client-date",
                               "1/12/2026"])
        files = snapshot(self.folder)
        self.assertEqual(sorted(files), ["New_VarnekIT.zip", "Varnek_TeamViewer.zip",
                                         "VersionTeamViewer.txt", "VersionVarnekIT.txt"])
        self.assertEqual(files["VersionVarnekIT.txt"], b"1.0.3")
        self.assertEqual(files["VersionTeamViewer.txt"], b"1/12/2026")


if __name__ == "__main__":
    unittest.main()
