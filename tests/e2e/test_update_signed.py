"""Signed updates end to end: the real VarnekIT.exe under Wine installs only what its own
signer signed, refuses a release that cannot start or is of another machine type (with the
folder byte for byte as it was), and, built with a client publisher, takes only that
publisher's clients and dates it can believe. Certificates are made here with openssl,
signatures with osslsigncode."""

import os
import unittest
from pathlib import Path

import harness
from harness.program import CLIENT, PROGRAM
from harness.signing import make_certificate, signed_copy
from harness.updates import (CLIENT_DATE, CLIENT_PACKAGE, PROGRAM_PACKAGE, PROGRAM_VERSION,
                             ROLLOUT, TICK_SECONDS, UpdateTestCase, next_exe, server_date,
                             sha256, tool)

AUTHORITY = ("basicConstraints=critical,CA:TRUE", "keyUsage=critical,keyCertSign,cRLSign")


def with_chain(signer: tuple[Path, Path], authority: tuple[Path, Path]) -> tuple[Path, Path]:
    """The signer with its authority's certificate after its own, for the signature to carry the
    chain up to the root."""
    signer[0].write_bytes(signer[0].read_bytes() + authority[0].read_bytes())
    return signer


COMPANY = "/C=DK/O=Varnek IT ApS/CN=Varnek IT"
# The same common name, another organisation: another signer.
IMPOSTOR = "/C=DK/O=Someone Else/CN=Varnek IT"


class SignedUpdate(UpdateTestCase):
    def test_a_signed_program_installs_only_what_its_own_signer_signed(self):
        session = self.session
        keys = session.temp / "keys"
        keys.mkdir()
        # The company's certificate and its renewal (a new key) come from one authority's root.
        authority = make_certificate(keys, "authority", "/C=DK/O=Test Authority/CN=Test Root",
                                     extensions=AUTHORITY)
        company = with_chain(make_certificate(keys, "company", COMPANY, authority), authority)
        renewed = with_chain(make_certificate(keys, "renewed", COMPANY, authority), authority)
        impostor = make_certificate(keys, "impostor", IMPOSTOR)
        signed = {name: signed_copy(exe, signer, keys / f"{name}.exe") for name, exe, signer in [
            ("program", harness.program_exe(), company),
            ("next-impostor", next_exe(), impostor),
            ("next-renewed", next_exe(), renewed),
            ("client", tool("standin_client.exe"), company),
            ("client-impostor", tool("standin_teamviewer.exe"), impostor),
            ("client-renewed", tool("standin_teamviewer.exe"), renewed)]}
        exe = session.install_program(exe=signed["program"], name=PROGRAM)
        session.install_program(exe=signed["client"], name=CLIENT)
        # A newer client and program, both signed by another organisation of the same name.
        self.publish(program=signed["next-impostor"], version="1.0.3",
                     signer="C=DK, O=Someone Else, CN=Varnek IT",
                     client=signed["client-impostor"], client_date=server_date(1))
        with session.support_server(self.root) as server:
            self.program = session.start_wine(exe)
            session.tray.wait_icon_count(1, timeout=60)
            baseline = self.folder_files()
            # Opened before the automatic check: the balloon of the program download that it
            # starts sits by Wine's tray window for a while, and keys meant for the tray menu
            # would go to it.
            self.open_settings("Settings")

            # The automatic check: both packages are fetched whole, and both refused.
            self.assertEqual([r[0] for r in self.new_requests(server, 5, TICK_SECONDS + 30)],
                             [CLIENT_DATE, CLIENT_PACKAGE, PROGRAM_VERSION, ROLLOUT,
                              PROGRAM_PACKAGE])
            # The refusal names both signers (the system decides how it quotes their names).
            refusal = self.wait_logged("failed: refused: the program")
            self.assertRegex(refusal, r'signed by "C=DK, O="?Someone Else"?, CN=Varnek IT", '
                                      r'not by the running program\'s signer "C=DK, '
                                      r'O="?Varnek IT ApS"?, CN=Varnek IT"')
            self.assertIn("refused: the client is signed by", self.wait_logged(
                "download of Varnek_TeamViewer.exe failed"))
            self.wait_folder(baseline)
            self.assertTrue(self.program.running())
            self.assert_no_message_box(300)

            # Refused packages are not fetched again while the server announces the same texts.
            self.assertEqual(self.check(server, 2), [CLIENT_DATE, PROGRAM_VERSION])
            self.wait_logged("not downloaded again: \"1.0.3\" was refused on")

            # The same program unsigned, announced anew: refused as well, nothing changes.
            self.alter(PROGRAM_PACKAGE.rsplit("/", 1)[1], next_exe().read_bytes())
            self.alter(PROGRAM_VERSION.rsplit("/", 1)[1], b"1.0.4")
            self.check(server, 3)
            self.assertIn("the program is not signed", self.wait_logged("is not signed, not by"))
            self.wait_folder(baseline)
            self.assertTrue(self.program.running())

            # Signed by the same subject with a renewed key under the same root: the client and
            # then the program are replaced, and the new program runs.
            self.alter(CLIENT_PACKAGE.rsplit("/", 1)[1], signed["client-renewed"].read_bytes())
            self.alter(CLIENT_DATE.rsplit("/", 1)[1], server_date(1, iso=True).encode())
            self.alter(PROGRAM_PACKAGE.rsplit("/", 1)[1], signed["next-renewed"].read_bytes())
            self.alter(PROGRAM_VERSION.rsplit("/", 1)[1], b"1.0.5")
            self.assertEqual(self.click("Update Check"), "clicked")
            self.assertEqual(self.program.wait(30), 0)
            harness.wait_until(lambda: self.processes(PROGRAM), 30, 0.3, "the new program")
            files = self.folder_files()
            self.assertEqual(files[PROGRAM], sha256(signed["next-renewed"]))
            self.assertEqual(files[CLIENT], sha256(signed["client-renewed"]))
            self.wait_logged("client replaced")
            self.wait_logged("replacement started")
            (session.artifacts / "update.log").write_text("\n".join(self.log_lines()) + "\n",
                                                          encoding="utf-8")



def other_machine(exe: Path, out: Path) -> Path:
    """A copy of a program whose PE header names the other machine type (32 and 64-bit x86)."""
    data = bytearray(exe.read_bytes())
    header = int.from_bytes(data[0x3C:0x40], "little") + 4
    machine = int.from_bytes(data[header:header + 2], "little")
    data[header:header + 2] = (0x8664 if machine == 0x14C else 0x14C).to_bytes(2, "little")
    out.write_bytes(bytes(data))
    return out


class RefusedRelease(UpdateTestCase):
    def test_a_release_that_cannot_start_or_is_of_another_kind_replaces_nothing(self):
        session = self.session
        keys = session.temp / "keys"
        keys.mkdir()
        company = make_certificate(keys, "company", COMPANY)
        program = signed_copy(harness.program_exe(), company, keys / "program.exe")
        # The next version, signed by the same subject: one that ends with 0 at once whatever
        # it is asked (it never runs its self-test), and one made for the other machine type.
        failing = signed_copy(tool("failing_release.exe"), company, keys / "failing.exe")
        foreign = signed_copy(other_machine(next_exe(), keys / "foreign-unsigned.exe"), company,
                              keys / "foreign.exe")
        session.install_program(exe=program, name=PROGRAM)
        session.install_tool("standin_client.exe", harness.PROGRAM_FOLDER, CLIENT)
        self.publish(client=tool("standin_client.exe"), client_date=server_date(-30))
        self.publish(program=failing, version="1.0.3", signer="C=DK, O=Varnek IT ApS, CN=Varnek IT")
        with session.support_server(self.root) as server:
            baseline = self.start_installed()

            # Fetched whole, signed as it should be, and refused by its own start.
            self.assertEqual(self.check(server, 3), [CLIENT_DATE, PROGRAM_VERSION, PROGRAM_PACKAGE])
            self.assertIn("refused: the program did not run its self-test (it ended with 0",
                          self.wait_logged("failed: refused: the program did not run"))
            self.wait_folder(baseline)
            self.assertTrue(self.program.running())
            self.assert_no_message_box(300)
            # And not fetched again while the server announces the same version.
            self.assertEqual(self.check(server, 2), [CLIENT_DATE, PROGRAM_VERSION])
            self.wait_logged("not downloaded again: \"1.0.3\"")

            # Of another machine type: refused by its header.
            self.alter(PROGRAM_PACKAGE.rsplit("/", 1)[1], foreign.read_bytes())
            self.alter(PROGRAM_VERSION.rsplit("/", 1)[1], b"1.0.4")
            self.check(server, 3)
            self.wait_logged("made for another machine type")
            self.wait_folder(baseline)
            self.assertTrue(self.program.running())
            (session.artifacts / "update.log").write_text("\n".join(self.log_lines()) + "\n",
                                                          encoding="utf-8")


class ConfiguredPublisher(UpdateTestCase):
    def test_a_build_with_a_client_publisher_takes_only_its_clients_and_believable_dates(self):
        session = self.session
        keys = session.temp / "keys"
        keys.mkdir()
        # The next build names this subject as the client's signer.
        publisher = os.environ["VARNEK_NEXT_PUBLISHER"]
        signer = make_certificate(keys, "publisher",
                                  "/" + "/".join(part.strip() for part in publisher.split(",")))
        signed = signed_copy(tool("standin_client.exe"), signer, keys / "client.exe")
        later = signed_copy(tool("standin_teamviewer.exe"), signer, keys / "later.exe")
        # A fresh installation of that build: no client yet; the server offers an unsigned one.
        session.install_program(exe=next_exe(), name=PROGRAM)
        self.publish(client=tool("standin_client.exe"), client_date=server_date(-2))
        with session.support_server(self.root) as server:
            baseline = self.start_installed()

            self.assertEqual(self.check(server, 3), [CLIENT_DATE, CLIENT_PACKAGE, PROGRAM_VERSION])
            self.assertIn(f'not by the configured publisher "{publisher}"',
                          self.wait_logged("download of Varnek_TeamViewer.exe failed"))
            self.wait_folder(baseline)

            # Signed by the publisher: the first client.
            self.publish(client=signed, client_date=server_date(-1))
            self.check(server, 3)
            self.wait_folder(dict(baseline, **{CLIENT: sha256(signed)}))
            present = self.folder_files()

            # A date far ahead is no date: nothing is fetched, the program is checked.
            self.alter(CLIENT_PACKAGE.rsplit("/", 1)[1], later.read_bytes())
            self.alter(CLIENT_DATE.rsplit("/", 1)[1], b"31/12/9999")
            self.assertEqual(self.check(server, 2), [CLIENT_DATE, PROGRAM_VERSION])
            self.wait_logged("more than a day after today")
            self.assertEqual(self.folder_files(), present)
            # Tomorrow's is believed, and taken.
            self.alter(CLIENT_DATE.rsplit("/", 1)[1], server_date(1).encode())
            self.check(server, 3)
            self.wait_folder(dict(present, **{CLIENT: sha256(later)}))
            self.assertTrue(self.program.running())
            self.assert_no_message_box(300)


if __name__ == "__main__":
    unittest.main()
