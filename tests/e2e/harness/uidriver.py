"""The UI driver (tools/uidriver), run inside a session's prefix and display: the one way the
tests read and drive what is inside windows (texts, controls, message boxes) and list the
Windows processes that the program started."""

from __future__ import annotations

import json
import subprocess

from harness.common import HarnessError
from harness.wine import TOOLS_FOLDER


class UiDriver:
    """Mixed into Session (needs run_wine and unix_path)."""

    def uidriver(self, *args: str, timeout: float = 60.0,
                 check: bool = True) -> subprocess.CompletedProcess:
        """Runs the UI driver in this prefix and display; stdout/stderr decoded as UTF-8."""
        exe = self.unix_path(TOOLS_FOLDER + r"\uidriver.exe")
        if not exe.is_file():
            raise HarnessError("uidriver.exe is missing: build the tools first")
        # Every failure of the driver says why on its error output, and so does Wine when it
        # cannot start or keep it (run_wine): a failure is reported once, never tried again.
        result = self.run_wine([TOOLS_FOLDER + r"\uidriver.exe", *args], timeout, check=False)
        completed = subprocess.CompletedProcess(result.args, result.returncode,
                                                result.stdout.decode("utf-8", "replace"),
                                                result.stderr.decode("utf-8", "replace"))
        if check and completed.returncode != 0:
            raise HarnessError(f"uidriver {' '.join(args)} failed ({completed.returncode}): "
                               f"{completed.stdout}{completed.stderr}")
        return completed

    def uidriver_records(self, *args: str, timeout: float = 60.0) -> list[dict]:
        """Runs a listing command of the UI driver with --json: one dict per record."""
        out = self.uidriver(*args, "--json", timeout=timeout).stdout
        return [json.loads(line) for line in out.splitlines() if line.strip()]

    def windows_processes(self, exe: str, gone: bool = False, timeout: float = 10.0) -> list[dict]:
        """Waits until a Windows process of that name runs (or, with gone, until none is left)
        and lists them: the program's children are started by Wine, not by the harness."""
        args = ["processes", "--name", exe, "--timeout", str(int(timeout * 1000))]
        if gone:
            args.append("--gone")
        return self.uidriver_records(*args, timeout=timeout + 30)
