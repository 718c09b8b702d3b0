"""The update check, many times over in one process: the real VarnekIT.exe under Wine clicks
"Update Check" again and again while the loopback support server takes turns between good
answers and each of its fault modes on each file of the chain. The program must keep running
without a word, fetch the client on every good round, leave no temporary file in its folder,
and keep its handles, descriptors and windows flat.

VARNEK_SOAK_ROUNDS sets the number of checks (default 200)."""

import json
import os
import time
import unittest

import harness
from harness.program import CLIENT, PROGRAM, gui_counts
from harness.updates import (CLIENT_DATE, CLIENT_PACKAGE, PROGRAM_VERSION, TEMPORARY,
                             TICK_SECONDS, UpdateTestCase, publish_release, server_date, tool)

# Every fault mode that ends a read within a moment (a stall waits for the read's time-out and
# is left to the update tests). A 200 answer with a page instead of the file counts as one.
# Oversize is a fault for the version files only: a package has no size limit.
FAULTS = [
    {"mode": "404"},
    {"mode": "500"},
    {"mode": "status", "code": 503},
    {"mode": "reset"},
    {"mode": "short"},
    {"mode": "empty"},
    {"mode": "status", "code": 200},
    {"mode": "oversize", "size": 65537, "fill": " "},
]
# A failed client date ends the chain, a whole answer that is no date goes on to the program's
# version; a failed package still lets the program's version be read; the program's version is
# the last read (it names the running version: nothing newer).
CHAIN = [CLIENT_DATE, CLIENT_PACKAGE, PROGRAM_VERSION]
AFTER_FAULT = {CLIENT_DATE: [CLIENT_DATE], CLIENT_PACKAGE: CHAIN, PROGRAM_VERSION: CHAIN}
NO_DATE = [{"mode": "empty"}, {"mode": "status", "code": 200}]


def rounds() -> list[dict]:
    """Good answers every other round; between them each fault on each file in turn."""
    faults = [{path: fault} for fault in FAULTS for path in CHAIN
              if not (fault["mode"] == "oversize" and path == CLIENT_PACKAGE)]
    count = int(os.environ.get("VARNEK_SOAK_ROUNDS", "200"))
    return [{} if i % 2 == 0 else faults[(i // 2) % len(faults)] for i in range(count)]


class UpdateSoak(UpdateTestCase):
    def counts(self) -> dict:
        """What can be counted of the program from outside: its GDI objects, USER objects and
        handles through gui_counts, the Unix descriptors of its Wine process and its windows.
        Read once the program is at rest: a round's last read may still be ending (its thread,
        socket and file) when the server has answered, so the counts are read until two
        readings half a second apart agree."""
        def read() -> dict:
            counts = gui_counts(self.session, self.windows_pid)
            counts = {k: counts[k] for k in ("gdi", "user", "handles")}
            counts["windows"] = len(self.session.uidriver_records("windows", "--all", "--pid",
                                                                   self.windows_pid))
            return counts

        previous = read()
        for _ in range(20):
            time.sleep(0.5)
            current = read()
            if current == previous:
                return current
            previous = current
        self.fail(f"the program's counts did not settle: last {previous}")

    def folder_names(self) -> set[str]:
        return {p.name for p in self.folder.iterdir()}

    def test_update_check_over_and_over(self):
        session = self.session
        published = self.published
        # Published with the publish command: a newer client every time (the copy in the
        # folder counts as made today; a day ahead is the furthest a date is believed), and the
        # running program itself, so nothing newer.
        client = tool("standin_client.exe")
        result = publish_release(published, harness.program_exe(), client, server_date(1))
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual((published / "VersionVarnekIT.txt").read_bytes(), b"1.0.2")
        self.assertEqual((published / "Varnek_TeamViewer.zip").read_bytes(), client.read_bytes())
        session.install_tool("standin_teamviewer.exe", harness.PROGRAM_FOLDER, CLIENT)

        self.server = session.support_server(self.root).start(patience=300)
        self.start_program()
        # The automatic check comes first, with good answers; the rounds follow it.
        self.assertEqual([p for p, _, _ in self.new_requests(self.server, 3, TICK_SECONDS + 30,
                                                          settle=0.5)], CHAIN)
        self.assertEqual((self.folder / CLIENT).read_bytes(), client.read_bytes())
        self.open_settings("Settings")
        first = None
        descriptors = []
        started = time.monotonic()
        plan = rounds()
        # The counts to hold to are taken once every fault has come once: some paths make an
        # object of Wine's the first time they are taken, and keep it.
        rotation = 2 * len({json.dumps(f, sort_keys=True) for f in plan if f})
        baseline = max(2, min(rotation, len(plan) // 2))
        for number, faults in enumerate(plan, 1):
            with self.subTest(round=number, faults=faults):
                self.server.set_faults(faults)
                (self.folder / CLIENT).unlink()  # a good round must bring it back
                session.install_tool("standin_teamviewer.exe", harness.PROGRAM_FOLDER, CLIENT)
                self.assertEqual(self.click("Update Check"), "clicked")
                [path] = faults or [None]
                expected = AFTER_FAULT[path] if path else CHAIN
                if path == CLIENT_DATE and faults[path] in NO_DATE:
                    expected = [CLIENT_DATE, PROGRAM_VERSION]
                got = self.new_requests(self.server, len(expected), settle=0.5)
                self.assertEqual([p for p, _, _ in got], expected)
                self.assertEqual({p: f for p, _, f in got if f}, {p: f["mode"]
                                                               for p, f in faults.items()})
                self.assertTrue(self.program.running())
                names = self.folder_names()
                self.assertEqual([n for n in names if n.endswith(TEMPORARY)], [])
                self.assertEqual(names, {PROGRAM, CLIENT})
                fetched = (self.folder / CLIENT).read_bytes() == client.read_bytes()
                self.assertEqual(fetched, path in (None, PROGRAM_VERSION))
                descriptors.append(len(os.listdir(f"/proc/{self.program.pid}/fd")))
                if number == baseline:
                    first = self.counts()
        session.timings["rounds"] = len(plan)
        session.timings["seconds_per_round"] = (time.monotonic() - started) / len(plan)
        self.assert_no_message_box(500)
        last = self.counts()
        session.timings["baseline_round"] = baseline
        session.timings["counts_at_baseline"] = first
        session.timings["counts_at_end"] = last
        session.timings["descriptors_per_round"] = descriptors
        for key in ("gdi", "user", "handles", "windows"):
            self.assertLessEqual(last[key], first[key], key)
        # Wine keeps a few descriptors of its own open now and then: the most seen over the
        # last rounds may not pass the most seen over the first ones.
        window = max(1, min(10, len(descriptors) // 2))
        self.assertLessEqual(max(descriptors[-window:]), max(descriptors[:window]),
                             f"descriptors per round: {descriptors}")
        self.close_settings("Close")
        self.exit_program("Exit")
        self.assertEqual(self.folder_names(), {PROGRAM, CLIENT})


if __name__ == "__main__":
    unittest.main()
