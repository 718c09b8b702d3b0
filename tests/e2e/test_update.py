"""The update service, end to end: the real VarnekIT.exe (1.0.2) under Wine fetches the version
files and packages from the loopback support server, on its own at the 30th timer tick or by
the settings window's "Update Check", and replaces itself by a real 1.0.3 build through the
script it hands to Wine's cmd. The server's folder is written by the publish command
(tools/publish.py), as a technician writes it. Faults of the server on every path must leave
the program running, quiet, and its folder byte for byte as it was. Signed updates and refused
releases: test_update_signed.py."""

import os
import time
import unittest

import harness
from harness.program import CLIENT, MENU_ENGLISH, PROGRAM, SETTINGS_TITLE
from harness.updates import (CLIENT_DATE, CLIENT_PACKAGE, PROGRAM_PACKAGE, PROGRAM_VERSION,
                             ROLLOUT, TICK_SECONDS, UpdateTestCase, next_exe, server_date,
                             sha256, tool)

NEW_PROGRAM = "New_VarnekIT.exe"
SCRIPT = "DeleteOLD.bat"

# The settings window's update labels, by control id (the window numbers its controls from
# 1000 in its own order).
VERSION_NEW = 1010  # "Ny Version : " and the server's version text
VERSION_RUNNING = 1011  # "Version : " and the running version

# A read that receives nothing for this long fails: the build's constant, which the test
# builds shorten.
READ_TIMEOUT = int(os.environ.get("VARNEK_READ_STALL_SECONDS", "30"))


class AutomaticUpdate(UpdateTestCase):
    def test_update_on_the_30th_tick_then_the_new_version_is_up_to_date(self):
        session = self.session
        client, new = tool("standin_client.exe"), next_exe()
        # The client and the program published one after the other, as two releases.
        self.publish(client=client, client_date=server_date(-30))
        self.publish(program=new, version="1.0.3")
        with session.support_server(self.root) as server:
            self.start_program()
            old = self.program
            self.assertEqual(self.folder_files(), {PROGRAM: sha256(harness.program_exe())})

            # No click: at the 30th tick the missing client and the newer program are fetched,
            # the script is started and the old process ends.
            self.assertEqual(old.wait(TICK_SECONDS + 30), 0)
            ended = time.monotonic() - old.started
            self.assertGreaterEqual(ended, TICK_SECONDS)
            session.timings["start_to_old_program_end"] = ended
            self.assertEqual(self.new_requests(server, 5, settle=0), [
                (CLIENT_DATE, 200, None), (CLIENT_PACKAGE, 200, None),
                (PROGRAM_VERSION, 200, None), (ROLLOUT, 200, None), (PROGRAM_PACKAGE, 200, None)])

            # The script swaps the programs and starts the new one; it runs hidden.
            [started] = harness.wait_until(lambda: self.processes(PROGRAM), 30, 0.3,
                                           "the new program to start")
            session.tray.wait_icon_count(1, timeout=30)
            session.timings["old_end_to_new_icon"] = time.monotonic() - old.started - ended
            # The script started the new program without waiting for it and removed itself,
            # and the old program's aside copy went with it: nothing half-done, nothing left.
            files = {PROGRAM: sha256(new), CLIENT: sha256(client)}
            self.wait_folder(files)
            visible = session.uidriver_records("windows")
            self.assertEqual([w["title"] for w in visible], [harness.TRAY_TITLE])
            self.assertEqual(self.processes("cmd.exe"), [])
            self.assertNotIn(started["parent"], [p["pid"] for p in self.processes("cmd.exe")])

            # The new version's settings window, opened from its menu.
            menu = session.tray.open_menu()
            self.assertEqual(menu.labels(), MENU_ENGLISH)
            menu.choose("Settings")
            session.uidriver("wait", "--title", SETTINGS_TITLE, "--visible")
            self.assertEqual(self.label(VERSION_RUNNING), "Version : 1.0.3")
            self.assertEqual(self.label(VERSION_NEW), "Ny Version :")

            # Its check finds both up to date: the two version files, no package.
            self.assertEqual(self.click("Update Check"), "clicked")
            harness.wait_until(lambda: self.label(VERSION_NEW) == "Ny Version : 1.0.3", 20,
                               0.2, "the server's version in the window")
            self.assertEqual(self.new_requests(server, 2, settle=1.5),
                             [(CLIENT_DATE, 200, None), (PROGRAM_VERSION, 200, None)])
            # Each read keeps its connection (an authenticating proxy's handshake needs it) and
            # names the program, its version and the machine, nothing of the user.
            entries = server.log_entries()
            self.assertEqual({e["connection"].lower() for e in entries}, {"keep-alive"})
            self.assertRegex(entries[-1]["user_agent"],
                             r"^VarnekIT/1\.0\.3 \(Windows NT \d+\.\d+; (x64|x86|ARM64); "
                             r"(i686|x86_64) build\)$")
            self.assert_no_message_box(500)
            self.assertEqual(self.folder_files(), files)

            self.close_settings("Close")
            menu = session.tray.open_menu()
            menu.choose("Exit")
            harness.wait_until(lambda: not self.processes(PROGRAM), 20, 0.3,
                               "the new program to end")
            self.assertEqual(self.folder_files(), files)
            # Nothing fetched since, unless the new version's own automatic check came first
            # (on a busy machine): then only the two version files, both up to date.
            later = [e["path"] for e in server.log_entries()[self.seen:]]
            if later:
                self.assertEqual(later, [CLIENT_DATE, PROGRAM_VERSION])
                self.wait_logged("update check started automatically")


class StagedRelease(UpdateTestCase):
    def test_the_automatic_check_waits_for_its_share_and_the_button_installs_at_once(self):
        session = self.session
        session.install_program(name=PROGRAM)
        session.install_tool("standin_client.exe", harness.PROGRAM_FOLDER, CLIENT)
        new = next_exe()
        self.publish(program=new, version="1.0.3", client=tool("standin_client.exe"),
                     client_date=server_date(-30))
        self.alter("RolloutVarnekIT.txt", b"0")  # offered to no machine yet
        with session.support_server(self.root) as server:
            baseline = self.start_installed()
            # The automatic check asks for the share of the newer version, and waits.
            self.assertEqual([r[0] for r in self.new_requests(server, 3, TICK_SECONDS + 30)],
                             [CLIENT_DATE, PROGRAM_VERSION, ROLLOUT])
            self.assertRegex(self.wait_logged("is offered to 0 % of machines"),
                             r"1\.0\.3 is offered to 0 % of machines; this one is number \d+$")
            self.wait_folder(baseline)
            # A person asks for it: it is installed at once.
            self.assertEqual(self.click("Update Check"), "clicked")
            self.assertEqual(self.program.wait(30), 0)
            self.assertEqual([r[0] for r in self.new_requests(server, 3, settle=0)],
                             [CLIENT_DATE, PROGRAM_VERSION, PROGRAM_PACKAGE])
            harness.wait_until(lambda: self.processes(PROGRAM), 30, 0.3, "the new program")
            self.wait_folder(dict(baseline, **{PROGRAM: sha256(new)}))
            # Every request named the program and its version: the web server's log is the
            # fleet's inventory.
            self.assertEqual({e["user_agent"].split(" ", 1)[0] for e in server.log_entries()},
                             {"VarnekIT/1.0.2"})


# A script an earlier update left behind (as the versions before this one wrote it).
SCRIPT_TEXT = (b'@Echo off\r\n:S\r\nDel "VarnekIT.exe"\r\nIf Exist "VarnekIT.exe" Goto S\r\n'
               b':D\r\nren "New_VarnekIT.exe" "VarnekIT.exe"\r\n'
               b'If Exist "New_VarnekIT.exe" Goto D\r\n"VarnekIT.exe"\r\nDel DeleteOLD.bat\r\n')


class ManualCheck(UpdateTestCase):
    def test_update_check_fetches_a_newer_client_only(self):
        session = self.session
        # An older client (another program, so that its replacement shows) and a script left
        # over from an earlier update, which the start removes.
        session.install_tool("standin_teamviewer.exe", harness.PROGRAM_FOLDER, CLIENT)
        (self.folder / SCRIPT).write_bytes(SCRIPT_TEXT)
        # Left an hour ago: no script runs that long.
        hour_ago = time.time() - 3600
        os.utime(self.folder / SCRIPT, (hour_ago, hour_ago))
        client = tool("standin_client.exe")
        # The running version published, with a line break added after it: not newer.
        self.publish(program=harness.program_exe(), version="1.0.2", client=client,
                     client_date=server_date(1))
        self.alter("VersionVarnekIT.txt", b"1.0.2\r\n")
        with session.support_server(self.root) as server:
            self.start_program()
            harness.wait_until(lambda: SCRIPT not in self.folder_files(), 10, 0.2,
                               "the left-over script to go")
            self.open_settings("Settings")
            self.assertEqual(self.label(VERSION_NEW), "Ny Version :")
            self.assertEqual(self.label(VERSION_RUNNING), "Version : 1.0.2")
            self.assertEqual(server.log_entries(), [])  # nothing before the click

            self.assertEqual(self.click("Update Check"), "clicked")
            harness.wait_until(lambda: self.label(VERSION_NEW) == "Ny Version : 1.0.2", 20,
                               0.2, "the server's version in the window")
            self.assertEqual(self.new_requests(server, 3, settle=1.5), [
                (CLIENT_DATE, 200, None), (CLIENT_PACKAGE, 200, None),
                (PROGRAM_VERSION, 200, None)])
            # All of it the button's: the automatic check had not started before it.
            checks = [line for line in self.log_lines() if "update check started" in line]
            self.assertTrue(checks[0].endswith("update check started by hand"), checks)
            self.assertEqual(self.folder_files(), {PROGRAM: sha256(harness.program_exe()),
                                                   CLIENT: sha256(client)})
            self.assert_no_message_box(500)
            self.assertTrue(self.program.running())
            self.assertEqual(self.label(VERSION_RUNNING), "Version : 1.0.2")


# The faults, each on the paths where it matters. The version files end in CR LF and a cut
# body ("bytes") keeps exactly the text before it, so a program that took a cut answer for the
# whole would see a valid, newer date or version and go on to fetch a package.
VERSION_TEXT = b"1.0.3\r\n"
TEXT_ONLY = "text"  # "bytes" of a cut: the version file's text without its line break
FAULTS = {
    "404": ({"mode": "404"}, {"mode": "404"}),
    "500": ({"mode": "500"}, {"mode": "500"}),
    "reset": ({"mode": "reset", "bytes": TEXT_ONLY}, {"mode": "reset"}),
    "short": ({"mode": "short", "bytes": TEXT_ONLY}, {"mode": "short"}),
    "empty": ({"mode": "empty"}, {"mode": "empty"}),
    # A 200 answer with an HTML page instead of the file.
    "html": ({"mode": "status", "code": 200}, {"mode": "status", "code": 200}),
}


class FaultModes(UpdateTestCase):
    def test_every_fault_leaves_the_program_and_its_folder_as_they_were(self):
        session = self.session
        client, new = tool("standin_client.exe"), next_exe()
        session.install_tool("standin_client.exe", harness.PROGRAM_FOLDER, CLIENT)
        date = server_date(1)
        self.publish(program=new, version="1.0.3", client=client, client_date=date)
        # Line breaks after the published texts, for the cut faults below.
        self.alter("VersionTeamViewer.txt", date.encode() + b"\r\n")
        self.alter("VersionVarnekIT.txt", VERSION_TEXT)
        self.date_length = len(date)
        self.server = session.support_server(self.root).start()
        self.start_program()
        self.baseline = self.folder_files()
        self.open_settings("Settings")
        self.ticked = False

        for name, (text, package) in FAULTS.items():
            # The client's date fails: nothing follows. A whole answer that is no date is
            # taken for none, and the program's version is read next (failing the same way).
            if name in ("empty", "html"):
                self.case(name, {CLIENT_DATE: self.cut(text),
                                 PROGRAM_VERSION: self.cut(text, True)},
                          [CLIENT_DATE, PROGRAM_VERSION])
            else:
                self.case(name, {CLIENT_DATE: self.cut(text)}, [CLIENT_DATE])
            # The client's package and then the program's version fail.
            self.case(name, {CLIENT_PACKAGE: package, PROGRAM_VERSION: self.cut(text, True)},
                      [CLIENT_DATE, CLIENT_PACKAGE, PROGRAM_VERSION])
            # Both packages fail; the version between them is read.
            self.case(name, {CLIENT_PACKAGE: package, PROGRAM_PACKAGE: package},
                      [CLIENT_DATE, CLIENT_PACKAGE, PROGRAM_VERSION, PROGRAM_PACKAGE],
                      version_read=True)
        # Larger than a version file may be, padded with blanks (trimmed, the text would be
        # good): just over the limit, and far over it.
        self.case("oversize", {CLIENT_DATE: {"mode": "oversize", "size": 65537, "fill": " "}},
                  [CLIENT_DATE])
        self.case("oversize", {CLIENT_PACKAGE: {"mode": "404"},
                               PROGRAM_VERSION: {"mode": "oversize", "fill": " "}},
                  [CLIENT_DATE, CLIENT_PACKAGE, PROGRAM_VERSION])
        self.assertTrue(self.ticked, "the automatic check did not come during the cases")

        # A silent server: the read gives up after its time-out, and the chain goes on.
        self.stall_case()
        # No server at all: the connection is refused.
        self.refused_case()

        # Chunked answers are whole answers: both packages arrive, the client unchanged in
        # bytes, and the program is replaced by the new version.
        self.server.set_faults({CLIENT_DATE: {"mode": "chunked", "chunk": 3},
                         CLIENT_PACKAGE: {"mode": "chunked", "chunk": 1000},
                         PROGRAM_VERSION: {"mode": "chunked", "chunk": 2},
                         PROGRAM_PACKAGE: {"mode": "chunked", "chunk": 4096}})
        self.assertEqual(self.click("Update Check"), "clicked")
        self.assertEqual(self.program.wait(30), 0)
        self.assertEqual(self.new_requests(self.server, 4, settle=0),
                         [(path, 200, "chunked") for path in (CLIENT_DATE, CLIENT_PACKAGE,
                                                              PROGRAM_VERSION, PROGRAM_PACKAGE)])
        harness.wait_until(lambda: self.processes(PROGRAM), 30, 0.3, "the new program to start")
        files = self.folder_files()
        files.pop(SCRIPT, None)  # held by Wine's cmd while the new program runs
        self.assertEqual(files, dict(self.baseline, **{PROGRAM: sha256(new)}))

    def cut(self, fault: dict, program_version: bool = False) -> dict:
        """A cut fault on a version file keeps its text without the line break."""
        if fault.get("bytes") == TEXT_ONLY:
            length = len(VERSION_TEXT) - 2 if program_version else self.date_length
            return dict(fault, bytes=length)
        return fault

    def case(self, name: str, faults: dict, paths: list[str], version_read: bool = False):
        """Sets the faults, starts a check (by a click, or the timer's own once its time is
        near) and checks its requests, the window, the folder and the program."""
        with self.subTest(fault=name, paths=[p.rsplit("/", 1)[1] for p in faults]):
            self.server.set_faults(faults)
            before = self.label(VERSION_NEW)
            since_start = time.monotonic() - self.program.started
            by_timer = not self.ticked and since_start > TICK_SECONDS - 8
            if by_timer:
                self.ticked = True
                timeout = TICK_SECONDS + 15 - since_start
                if PROGRAM_PACKAGE in paths:  # it asks for the newer version's share first
                    paths = paths[:-1] + [ROLLOUT, PROGRAM_PACKAGE]
            else:
                self.assertEqual(self.click("Update Check"), "clicked")
                timeout = 20
            requests = self.new_requests(self.server, len(paths), timeout=timeout)
            if by_timer:
                self.session.timings["start_to_automatic_check"] = (
                    time.monotonic() - self.program.started)
            self.assertEqual([r[0] for r in requests], paths)
            self.assertEqual({r[0]: r[2] for r in requests if r[2]},
                             {path: fault["mode"] for path, fault in faults.items()})
            self.assertEqual(self.label(VERSION_NEW),
                             "Ny Version : 1.0.3" if version_read else before)
            self.assert_quiet()

    def assert_quiet(self) -> None:
        self.wait_folder(self.baseline)
        self.assert_no_message_box(300)
        self.assertTrue(self.program.running())
        self.assertEqual(self.label(VERSION_RUNNING), "Version : 1.0.2")

    def stall_case(self) -> None:
        with self.subTest(fault="stall"):
            # Half of the client is sent, then nothing for longer than the read waits.
            self.server.set_faults({CLIENT_PACKAGE: {"mode": "stall", "seconds": READ_TIMEOUT * 3},
                             PROGRAM_PACKAGE: {"mode": "500"}})
            self.assertEqual(self.click("Update Check"), "clicked")
            self.assertEqual(self.new_requests(self.server, 2, settle=0),
                             [(CLIENT_DATE, 200, None), (CLIENT_PACKAGE, 200, "stall")])
            stalled = time.monotonic()
            harness.wait_until(lambda: self.partial(CLIENT), 10, 0.1, "the download to begin")
            self.assertEqual(self.folder_files()[CLIENT], self.baseline[CLIENT])
            settle = 1.0
            requests = self.new_requests(self.server, 2, timeout=READ_TIMEOUT + 20,
                                         settle=settle)
            waited = time.monotonic() - stalled - settle
            self.session.timings["stalled_read_gave_up_after"] = waited
            self.assertEqual(requests, [(PROGRAM_VERSION, 200, None),
                                        (PROGRAM_PACKAGE, 500, "500")])
            self.assertGreater(waited, READ_TIMEOUT * 0.6)
            self.assertLess(waited, READ_TIMEOUT * 3 - 2)  # before the server ended it
            self.assert_quiet()

    def refused_case(self) -> None:
        with self.subTest(fault="refused"):
            self.server.set_faults({})
            self.server.stop()
            self.assertEqual(self.click("Update Check"), "clicked")
            time.sleep(3)
            self.assert_quiet()
            self.server = self.session.support_server(self.root).start()
            time.sleep(1)  # nothing is tried again once the server is back
            self.assertEqual(len(self.server.log_entries()), self.seen)


class CloseDuringDownload(UpdateTestCase):
    def test_closing_the_window_ends_the_download(self):
        session = self.session
        session.install_tool("standin_client.exe", harness.PROGRAM_FOLDER, CLIENT)
        self.publish(program=next_exe(), version="1.0.3", client=tool("standin_client.exe"),
                     client_date=server_date(-30))
        faults = {PROGRAM_PACKAGE: {"mode": "stall", "seconds": READ_TIMEOUT * 3}}
        with session.support_server(self.root, faults=faults) as server:
            self.start_program()
            baseline = self.folder_files()
            self.open_settings("Settings")
            self.assertEqual(self.click("Update Check"), "clicked")
            self.assertEqual(self.new_requests(server, 3, settle=0), [
                (CLIENT_DATE, 200, None), (PROGRAM_VERSION, 200, None),
                (PROGRAM_PACKAGE, 200, "stall")])
            partial = harness.wait_until(lambda: self.partial(NEW_PROGRAM), 10, 0.1,
                                         "the download to begin")

            self.close_settings("Close")
            closed = time.monotonic()
            self.assert_no_message_box(500)
            self.assertTrue(self.program.running())
            # Nothing newer any more, for the automatic check to come: the release taken
            # back by hand (the publish command only goes forward).
            self.alter("VersionVarnekIT.txt", b"1.0.2")
            self.menu("Settings", expect=MENU_ENGLISH)
            session.uidriver("wait", "--title", SETTINGS_TITLE, "--visible")
            # A new window in its design state, unless the automatic check (which makes the
            # window anew) came first on a busy machine.
            shown = self.label(VERSION_NEW)
            automatic = any("update check started automatically" in line
                            for line in self.log_lines())
            self.assertIn(shown, ["Ny Version :", "Ny Version : 1.0.2"] if automatic
                          else ["Ny Version :"])
            self.close_settings("Close")

            # The dropped read closed its file at once, so it goes with the window.
            harness.wait_until(lambda: not partial.exists(), 5, 0.1,
                               "the partial download to be removed")
            session.timings["close_to_partial_removed"] = time.monotonic() - closed
            self.assertEqual(self.folder_files(), baseline)
            # The automatic check still runs, and finds nothing to do.
            since_start = time.monotonic() - self.program.started
            self.assertEqual(self.new_requests(server, 2, timeout=TICK_SECONDS + 15 - since_start),
                             [(CLIENT_DATE, 200, None), (PROGRAM_VERSION, 200, None)])
            self.assertEqual(self.folder_files(), baseline)
            self.assertTrue(self.program.running())
            self.menu(expect=MENU_ENGLISH)
            self.assert_no_message_box(300)


class ExitDuringDownload(UpdateTestCase):
    def test_exit_or_a_killed_run_mid_download_leaves_only_the_files_that_were_there(self):
        session = self.session
        session.install_tool("standin_client.exe", harness.PROGRAM_FOLDER, CLIENT)
        self.publish(program=next_exe(), version="1.0.3", client=tool("standin_client.exe"),
                     client_date=server_date(-30))
        faults = {PROGRAM_PACKAGE: {"mode": "stall", "seconds": READ_TIMEOUT * 3}}
        listings = self.session.artifacts / "folder-listings.txt"
        with session.support_server(self.root, faults=faults) as server, \
                open(listings, "w", encoding="utf-8") as out:
            for how in ("exit", "killed"):
                with self.subTest(how=how):
                    self.start_program()
                    baseline = self.folder_files()
                    self.open_settings("Settings")
                    self.assertEqual(self.click("Update Check"), "clicked")
                    self.new_requests(server, 3, settle=0)
                    partial = harness.wait_until(lambda: self.partial(NEW_PROGRAM), 10, 0.1,
                                                 "the download to begin")
                    out.write(f"{how}, mid-download: {sorted(self.folder_files())}\n")
                    if how == "exit":
                        self.close_settings("Close")
                        self.exit_program("Exit")
                        # The program ends at once, and its download's file with it.
                        self.assertFalse(partial.exists())
                    else:
                        self.program.stop()  # by its id: nothing of the program runs on
                        harness.wait_until(lambda: not self.processes(PROGRAM), 20, 0.2,
                                           "the killed program to be gone")
                        session.tray.wait_icon_count(0, timeout=30)
                        self.assertTrue(partial.exists())
                    out.write(f"{how}, after the end: {sorted(self.folder_files())}\n")
                    # The next start removes what a run could not (the tick is far off).
                    server.set_faults({PROGRAM_PACKAGE: {"mode": "404"}})
                    self.start_program()
                    out.write(f"{how}, after the next start: {sorted(self.folder_files())}\n")
                    self.assertEqual(self.folder_files(), baseline)
                    self.exit_program("Exit")
                    self.seen = len(server.log_entries())
                    server.set_faults(faults)
        print(listings.read_text(encoding="utf-8"))


if __name__ == "__main__":
    unittest.main()
