"""tools/publish.py on the real built programs: the version read from the executable's own
version resource, the files it writes into a VarnekITApp folder, and the releases it refuses
(leaving the folder exactly as it was); and the fleet it reads from access logs."""

import datetime
import gzip
import hashlib
import os
import struct
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

from deploy_common import SOURCE, require_signing_tools, required_path
from harness.signing import make_certificate, signed_copy

PUBLISH = SOURCE / "tools" / "publish.py"


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


class FolderTest(unittest.TestCase):
    """A fresh VarnekITApp folder for each test, and publishes into it."""

    def setUp(self):
        self.exe = required_path("VARNEK_EXE")
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


class PublishTest(FolderTest):

    def setUp(self):
        super().setUp()
        self.next_exe = required_path("VARNEK_NEXT_EXE")

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
            "New_VarnekIT.zip": self.exe.read_bytes(), "RolloutVarnekIT.txt": b"100"})

        self.assert_published(["--program", self.next_exe])
        self.assertEqual(snapshot(self.folder), {
            "VersionVarnekIT.txt": b"1.0.3", "New_VarnekIT.zip": self.next_exe.read_bytes(),
            "RolloutVarnekIT.txt": b"100"})

        # Older, the same, and not a program at all.
        self.assert_refused(["--program", self.exe], "not newer than the published 1.0.3")
        self.assert_refused(["--program", self.next_exe], "is version 1.0.3, not newer")
        text = self.work / "notes.txt"
        text.write_text("MZ is not enough\r\n")
        self.assert_refused(["--program", text], "not a Windows program")
        text.write_text("release notes\n")
        self.assert_refused(["--program", text], "no MZ header")
        self.assert_refused(["--program", self.work / "missing.exe"], "cannot read")

    def test_a_program_of_another_machine_type_is_refused(self):
        self.assert_published(["--program", self.exe])
        data = bytearray(self.next_exe.read_bytes())
        header = struct.unpack_from("<I", data, 0x3C)[0] + 4
        machine = struct.unpack_from("<H", data, header)[0]
        struct.pack_into("<H", data, header, 0x8664 if machine == 0x14C else 0x14C)
        other = self.work / "other.exe"
        other.write_bytes(bytes(data))
        self.assert_refused(["--program", other], "every customer's program would refuse it")

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

    def test_the_share_of_machines_goes_with_the_program_or_alone(self):
        self.assert_refused(["--rollout", "10"], "no program is published")
        result = run_publish("--folder", self.folder, "--program", self.exe, "--rollout", "10")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("offered to 10 % of machines", result.stdout)
        self.assertEqual((self.folder / "RolloutVarnekIT.txt").read_bytes(), b"10")

        before = snapshot(self.folder)
        result = run_publish("--folder", self.folder, "--rollout", "50")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("offered to 50 % of machines", result.stdout)
        self.assertEqual(snapshot(self.folder), {**before, "RolloutVarnekIT.txt": b"50"})
        for share in ["101", "-1", "ten", "1.5", "", "1000"]:
            with self.subTest(share=share):
                self.assert_refused(["--rollout", share], "not a whole number from 0 to 100")
        # A bad share refuses the program that came with it, too.
        self.assert_refused(["--program", self.next_exe, "--rollout", "150"], "the share")
        # A new program without a share is offered to all: an old share never holds it back.
        self.assert_published(["--program", self.next_exe])
        self.assertEqual((self.folder / "RolloutVarnekIT.txt").read_bytes(), b"100")
        self.assert_published(["--rollout", "0"])
        self.assertEqual((self.folder / "VersionVarnekIT.txt").read_bytes(), b"1.0.3")
        self.assertEqual((self.folder / "RolloutVarnekIT.txt").read_bytes(), b"0")

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
        self.assert_published(["--client", client, "--client-date", "29/2/2024"])
        self.assertEqual(snapshot(self.folder), {
            "VersionTeamViewer.txt": b"29/2/2024", "Varnek_TeamViewer.zip": client.read_bytes()})

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
        # A day ahead is a date every program believes; further ahead is none.
        day = lambda days: today + datetime.timedelta(days=days)  # noqa: E731
        self.assert_published(["--client", client, "--client-date",
                               f"{day(1).day}/{day(1).month}/{day(1).year}"])
        self.assert_refused(["--client", client, "--client-date",
                             f"{day(2).day}/{day(2).month}/{day(2).year}"], "after tomorrow")
        self.assert_refused(["--client", client, "--client-date", "31/12/9999"], "after tomorrow")

    def test_program_and_client_together(self):
        client = required_path("VARNEK_CLIENT_EXE")
        self.assert_published(["--program", self.next_exe, "--client", client, "--client-date",
                               "1/12/2026"])
        files = snapshot(self.folder)
        self.assertEqual(sorted(files), ["New_VarnekIT.zip", "RolloutVarnekIT.txt",
                                         "Varnek_TeamViewer.zip", "VersionTeamViewer.txt",
                                         "VersionVarnekIT.txt"])
        self.assertEqual(files["VersionVarnekIT.txt"], b"1.0.3")
        self.assertEqual(files["VersionTeamViewer.txt"], b"1/12/2026")


class FleetTest(unittest.TestCase):
    """--fleet on a made-up nginx log and a compressed IIS log, with times around now."""

    def test_versions_and_their_distinct_addresses_in_the_last_day_and_week(self):
        now = datetime.datetime.now(datetime.timezone.utc)
        work = tempfile.TemporaryDirectory(prefix="varnek-fleet-")
        self.addCleanup(work.cleanup)
        nginx, iis = Path(work.name) / "access.log", Path(work.name) / "u_ex261209.log.gz"
        lines = []
        for address, hours, version, zone in [
                ("10.0.0.1", 2, "1.0.3", 0), ("10.0.0.1", 1, "1.0.3", 0),  # the same machine
                ("10.0.0.2", 72, "1.0.3", 0), ("10.0.0.8", 20, "1.0.3", -5),  # another zone
                ("10.0.0.6", 5, "1.0.10", 0), ("10.0.0.3", 48, None, 0),  # from before versions
                ("10.0.0.4", 192, "1.0.2", 0), ("10.0.0.5", 1, "browser", 0)]:
            when = (now - datetime.timedelta(hours=hours)).astimezone(
                datetime.timezone(datetime.timedelta(hours=zone)))
            stamp = when.strftime("%d/{}/%Y:%H:%M:%S %z").format(
                "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()[when.month - 1])
            agent = {None: "VarnekIT", "browser": "Mozilla/5.0 (Windows NT 10.0; Win64; x64)"}.get(
                version, f"VarnekIT/{version} (Windows NT 10.0; x64; i686 build)")
            lines.append(f'{address} - - [{stamp}] "GET /VarnekITApp/VersionVarnekIT.txt '
                         f'HTTP/1.1" 200 5 "-" "{agent}"\n')
        nginx.write_text("".join(lines) + "a line of something else\n")
        with gzip.open(iis, "wt") as log:
            log.write("#Fields: date time s-ip cs-method cs-uri-stem c-ip cs(User-Agent) "
                      "sc-status\n")
            for address in ["10.0.0.7", "10.0.0.1"]:
                when = (now - datetime.timedelta(minutes=30)).strftime("%Y-%m-%d %H:%M:%S")
                log.write(f"{when} 10.1.1.1 GET /VarnekITApp/VersionVarnekIT.txt {address} "
                          "VarnekIT/1.0.3+(Windows+NT+10.0;+x64;+i686+build) 200\n")

        result = run_publish("--fleet", nginx, iis)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual([line.split() for line in result.stdout.splitlines()], [
            ["version", "last", "day", "last", "week"], ["1.0.10", "1", "1"],
            ["1.0.3", "3", "4"], ["(no", "version)", "0", "1"],
            ["(1", "line", "in", "neither", "format", "left", "out)"]])
        nginx.write_text("nothing here\n")
        result = run_publish("--fleet", nginx)
        self.assertEqual(result.returncode, 1)
        self.assertIn("combined format or IIS's W3C format", result.stderr)


COMPANY = "C=DK, O=Varnek IT ApS, CN=Varnek IT"
OTHER_COMPANY = "C=DK, O=Varnek IT Holding, CN=Varnek IT"


CA_EXTENSIONS = ("basicConstraints=critical,CA:TRUE", "keyUsage=critical,keyCertSign")


class SignedPublishTest(FolderTest):
    """The signer of a published program: what --show-signer prints, and the programs refused
    because every installed copy would refuse them (signed by another subject or under another
    root, or unsigned after a signed one)."""

    @classmethod
    def setUpClass(cls):
        require_signing_tools()
        keys = tempfile.TemporaryDirectory(prefix="varnek-publish-keys-")
        cls.addClassCleanup(keys.cleanup)
        cls.keys = Path(keys.name)
        cls.root = make_certificate(cls.keys, "root", "/CN=Varnek Test Root",
                                    extensions=CA_EXTENSIONS)
        cls.next_root = make_certificate(cls.keys, "next-root", "/CN=Varnek Test Root 2",
                                         extensions=CA_EXTENSIONS)
        cls.company = cls.issued("company", "/C=DK/O=Varnek IT ApS/CN=Varnek IT", cls.root)
        cls.renewed = cls.issued("renewed", "/C=DK/O=Varnek IT ApS/CN=Varnek IT", cls.root)
        cls.moved = cls.issued("moved", "/C=DK/O=Varnek IT ApS/CN=Varnek IT", cls.next_root)
        cls.other = cls.issued("other", "/C=DK/O=Varnek IT Holding/CN=Varnek IT", cls.root)

    @classmethod
    def issued(cls, name: str, subject: str, root: tuple[Path, Path]) -> tuple[Path, Path]:
        """A certificate issued by `root`, as a chain file (the certificate, then the root)
        and its key."""
        cert, key = make_certificate(cls.keys, name, subject, issuer=root)
        chain = cls.keys / f"{name}-chain.pem"
        chain.write_bytes(cert.read_bytes() + root[0].read_bytes())
        return chain, key

    def setUp(self):
        super().setUp()
        # A newer version of the program to publish after it (built or not).
        self.next_exe = with_file_version(self.exe, self.work / "next-unsigned.exe", 9, 0, 0)

    def signed(self, program: Path, name: str, certificate: tuple[Path, Path]) -> Path:
        return signed_copy(program, certificate, self.work / f"{name}.exe")

    def show_signer(self, program: Path, *args) -> subprocess.CompletedProcess:
        return subprocess.run([sys.executable, str(PUBLISH), "--show-signer", str(program),
                               *map(str, args)],
                              capture_output=True, text=True, encoding="utf-8", timeout=60)

    @staticmethod
    def root_text(root: Path, subject: str) -> str:
        """A root as publish.py names it: the SHA-256 of the certificate openssl wrote, and
        its subject."""
        der = subprocess.run(["openssl", "x509", "-in", str(root), "-outform", "DER"],
                             capture_output=True, check=True).stdout
        return f"{hashlib.sha256(der).hexdigest()} ({subject})"

    def root_line(self, root: Path, subject: str) -> str:
        return f"root SHA-256: {self.root_text(root, subject)}"

    def test_show_signer_prints_the_whole_subject_and_the_roots_hash(self):
        result = self.show_signer(self.signed(self.exe, "company", self.company))
        root = self.root_line(self.root[0], "CN=Varnek Test Root")
        self.assertEqual((result.returncode, result.stdout), (0, f"{COMPANY}\n{root}\n"),
                         result.stderr)

        # Values Windows quotes (doubling the quotes inside), and a value outside ASCII; a
        # self-signed certificate is its own root.
        quoted = make_certificate(
            self.keys, "quoted", "/C=DK/L=K\u00f8ge/O=Varnek; \"IT\"/OU=Drift\\+Salg"
            "/CN= Varnek IT/DC=#1")
        subject = ('C=DK, L=K\u00f8ge, O="Varnek; ""IT""", OU="Drift+Salg", CN=" Varnek IT", '
                   'DC="#1"')
        result = self.show_signer(self.signed(self.exe, "quoted", quoted))
        self.assertEqual(result.stdout, f"{subject}\n{self.root_line(quoted[0], subject)}\n",
                         result.stderr)

        # A signature without its root: named by --root-certificate, or said to be unknown.
        bare = self.signed(self.exe, "bare", (self.keys / "company.pem", self.company[1]))
        result = self.show_signer(bare, "--root-certificate", self.root[0])
        self.assertEqual(result.stdout, f"{COMPANY}\n{root}\n", result.stderr)
        result = self.show_signer(bare)
        self.assertIn("root SHA-256: unknown: the chain leads to CN=Varnek Test Root,",
                      result.stdout)

        result = self.show_signer(self.exe)
        self.assertEqual(result.returncode, 1)
        self.assertIn("is not signed", result.stderr)
        self.assertEqual(result.stdout, "")

    def test_a_program_signed_by_another_subject_is_refused(self):
        self.assert_published(["--program", self.signed(self.exe, "published", self.company)])
        other = self.signed(self.next_exe, "other", self.other)
        before = snapshot(self.folder)
        result = run_publish("--folder", self.folder, "--program", other)
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertIn(f"signed by {OTHER_COMPANY}, but the published program is signed by "
                      f"{COMPANY}", result.stderr)
        self.assertIn("every customer's program would refuse it", result.stderr)
        self.assertEqual(snapshot(self.folder), before)

    def test_an_unsigned_program_after_a_signed_one_is_refused(self):
        self.assert_published(["--program", self.signed(self.exe, "published", self.company)])
        self.assert_refused(["--program", self.next_exe],
                            f"is not signed, but the published program is signed by {COMPANY}")

    def test_a_renewal_under_the_same_root_is_accepted_and_another_root_needs_new_root(self):
        published = self.signed(self.exe, "published", self.company)
        self.assert_published(["--program", published])
        # The same subject and a new key, under another root: refused, naming both roots.
        moved = self.signed(self.next_exe, "moved", self.moved)
        self.assert_refused(["--program", moved], (
            f"chains to the root {self.root_text(self.next_root[0], 'CN=Varnek Test Root 2')}, "
            f"but the published program to {self.root_text(self.root[0], 'CN=Varnek Test Root')}"))
        # A signature that leaves its root out cannot be compared, until the root is named.
        bare = self.signed(self.next_exe, "bare", (self.keys / "renewed.pem", self.renewed[1]))
        self.assert_refused(["--program", bare], "so the roots cannot be compared")

        renewed = self.signed(self.next_exe, "renewed", self.renewed)
        self.assertNotEqual(renewed.read_bytes(), self.signed(self.next_exe, "next", self.company)
                            .read_bytes())
        result = run_publish("--folder", self.folder, "--program", renewed)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(f"signed by {COMPANY}", result.stdout)
        self.assertEqual(snapshot(self.folder), {
            "VersionVarnekIT.txt": b"9.0.0", "New_VarnekIT.zip": renewed.read_bytes(),
            "RolloutVarnekIT.txt": b"100"})

        # Prepared (the programs in use name the new root): published on the technician's word.
        later = self.signed(with_file_version(self.exe, self.work / "later.exe", 9, 0, 1),
                            "moved-later", self.moved)
        self.assert_published(["--program", later, "--new-root"])
        self.assertEqual((self.folder / "New_VarnekIT.zip").read_bytes(), later.read_bytes())

    def test_after_an_unsigned_program_any_program_is_accepted(self):
        self.assert_published(["--program", self.exe])
        other = self.signed(self.next_exe, "other", self.other)
        self.assert_published(["--program", other])
        self.assertEqual((self.folder / "New_VarnekIT.zip").read_bytes(), other.read_bytes())
        # From now on the folder's program is signed, and its subject is the one to keep.
        self.assert_refused(["--program", with_file_version(self.exe, self.work / "later.exe",
                                                             9, 0, 1)], "is not signed")


if __name__ == "__main__":
    unittest.main()
