"""What the update tests share: the paths of the server's update folder, the publish command
run as a technician runs it, the next version's build, dates as the server writes them, and
UpdateTestCase, which holds the server's folder, the program folder and the update log."""

from __future__ import annotations

import hashlib
import json
import os
import subprocess
import sys
import time
from pathlib import Path

from harness.common import HarnessError, source_dir, tools_dir, wait_until
from harness.program import PROGRAM_FOLDER, ProgramTestCase

APP = "/VarnekITApp/"
CLIENT_DATE = APP + "VersionTeamViewer.txt"
CLIENT_PACKAGE = APP + "Varnek_TeamViewer.zip"
PROGRAM_VERSION = APP + "VersionVarnekIT.txt"
PROGRAM_PACKAGE = APP + "New_VarnekIT.zip"
ROLLOUT = APP + "RolloutVarnekIT.txt"  # the share of machines a newer program is offered to
TEMPORARY = ".download"  # every download's temporary file: "<file>.<process>-<n>.download"
TICK_SECONDS = 30  # the automatic check: the 30th tick of the one-second timer


def next_exe() -> Path:
    """The same program built as version 1.0.3: the update the server publishes."""
    path = Path(os.environ.get("VARNEK_NEXT_EXE", ""))
    if not path.is_file():
        raise HarnessError("VARNEK_NEXT_EXE does not name the 1.0.3 build")
    return path


def publish_release(folder: Path, program: Path | None = None, client: Path | None = None,
                    client_date: str | None = None) -> subprocess.CompletedProcess:
    """Runs the publish command on the server's VarnekITApp folder, as a technician runs it."""
    args = [sys.executable, str(source_dir() / "tools" / "publish.py"),
            "--folder", str(folder)]
    if program is not None:
        args += ["--program", str(program)]
    if client is not None:
        args += ["--client", str(client)]
    if client_date is not None:
        args += ["--client-date", client_date]
    return subprocess.run(args, capture_output=True, text=True, timeout=60)


def tool(name: str) -> Path:
    path = (tools_dir() or Path("/nonexistent")) / name
    if not path.is_file():
        raise HarnessError(f"test tool {name} is missing: build the tools first")
    return path


def sha256(path: Path) -> str:
    return hashlib.sha256(path.read_bytes()).hexdigest()


def server_date(days: int, iso: bool = False) -> str:
    """A date as the server writes it (d/m/yyyy, or yyyy-mm-dd), `days` from today. Under
    Wine a client copied in by the test counts as made today, so only a later date makes it
    out of date, and the program believes a date at most a day ahead."""
    day = time.localtime(time.time() + days * 86400)
    if iso:
        return f"{day.tm_year}-{day.tm_mon:02}-{day.tm_mday:02}"
    return f"{day.tm_mday}/{day.tm_mon}/{day.tm_year}"


def update_log(session) -> list[str]:
    """The update log of the prefix's user (%LOCALAPPDATA%\\VarnekIT\\update.log), by lines."""
    logs = list(session.unix_path("C:\\users").glob("*/AppData/Local/VarnekIT/update.log"))
    return logs[0].read_text(encoding="utf-8").splitlines() if logs else []


class UpdateTestCase(ProgramTestCase):
    """The server's update folder, the program folder, and the settings window's update area."""

    def setUp(self):
        super().setUp()
        self.root = self.session.temp / "www"
        self.published = self.root / "VarnekITApp"  # made by the first publish
        self.folder = self.session.unix_path(PROGRAM_FOLDER)
        self.folder.mkdir(parents=True)
        self.seen = 0  # server log entries already looked at

    def publish(self, program: Path | None = None, client: Path | None = None,
                client_date: str | None = None, version: str | None = None,
                signer: str | None = None) -> None:
        """Publishes a program (whose version is `version`, signed by `signer` if given) and/or
        a client of that date with the publish command; the files it does not write stay as
        they are."""
        result = publish_release(self.published, program, client, client_date)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        report = []
        if program is not None:
            signature = f"signed by {signer}" if signer else "not signed"
            report.append(f"published VarnekIT {version} ({signature}) in {self.published}")
        if client is not None:
            report.append(f"published client of {client_date} in {self.published}")
        self.assertEqual(result.stdout.splitlines(), report)

    def alter(self, name: str, data: bytes) -> None:
        """Changes a published file by hand, the way the command would not."""
        path = self.published / name
        self.assertTrue(path.is_file(), f"{name} was not published")
        path.write_bytes(data)

    def folder_files(self) -> dict[str, str]:
        """The program folder's files and their SHA-256."""
        return {p.name: sha256(p) for p in sorted(self.folder.iterdir()) if p.is_file()}

    def wait_folder(self, expected: dict[str, str], timeout: float = 10.0) -> None:
        try:
            wait_until(lambda: self.folder_files() == expected, timeout, 0.2,
                               "the program folder")
        except HarnessError:
            pass
        self.assertEqual(self.folder_files(), expected)

    def new_requests(self, server, count: int, timeout: float = 20.0,
                     settle: float = 1.0) -> list[tuple]:
        """Waits for `count` more requests at the server and a moment longer (nothing else may
        follow); returns them as (path, status, fault) and marks them seen."""
        wait_until(lambda: len(server.log_entries()) >= self.seen + count, timeout,
                           0.1, f"{count} more request(s) at the support server")
        time.sleep(settle)
        entries = server.log_entries()[self.seen:]
        self.seen += len(entries)
        return [(e["path"], e["status"], e.get("fault")) for e in entries]

    def partial(self, name: str) -> Path | None:
        """The temporary file a download to `name` writes now, if any: made when the answer
        begins, it holds the data a block at a time (a package smaller than a block arrives in
        one)."""
        found = [p for p in self.folder.glob(f"{name}.*{TEMPORARY}") if p.is_file()]
        return found[0] if len(found) == 1 else None

    def start_installed(self) -> dict[str, str]:
        """Starts the program the test put into the folder and opens its settings window;
        returns the folder's files as they are then."""
        self.start_program()
        files = self.folder_files()
        self.open_settings("Settings")
        return files

    def check(self, server, count: int) -> list[str]:
        """Clicks Update Check; the paths of the `count` requests that follow."""
        self.assertEqual(self.click("Update Check"), "clicked")
        return [r[0] for r in self.new_requests(server, count)]

    def log_lines(self) -> list[str]:
        """The update log of the prefix's user (%LOCALAPPDATA%\\VarnekIT\\update.log)."""
        return update_log(self.session)

    def wait_logged(self, part: str, timeout: float = 30.0) -> str:
        return wait_until(
            lambda: next((line for line in self.log_lines() if part in line), None), timeout,
            0.2, f"{part!r} in the update log")

    def processes(self, exe: str) -> list[dict]:
        """The running Windows processes of that name (none is no error)."""
        result = self.session.uidriver("processes", "--name", exe, "--timeout", "0", "--json",
                                       check=False)
        return [json.loads(line) for line in result.stdout.splitlines() if line.strip()]
