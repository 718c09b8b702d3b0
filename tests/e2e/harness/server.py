"""The support server of the tests: tools/support_server.py on 127.0.0.1, started and stopped
by its process id, its fault table changed while it runs, its log read back."""

from __future__ import annotations

import json
import os
import select
import subprocess
import sys
import threading
import time
import urllib.request
from pathlib import Path
from typing import TYPE_CHECKING

from harness.common import SUPPORT_PORT, HarnessError, source_dir
from harness.wine import Process

if TYPE_CHECKING:  # a session hands itself over
    from harness.session import Session


class SupportServer:
    """tools/support_server.py on 127.0.0.1, started and stopped by its process id.

    users: {"user name": "password"} or a JSON file of that; faults: {"/path": {"mode": ...}}
    (see the server's FAULT_MODES) at start, or later through set_faults()."""

    def __init__(self, root: Path, folder: Path, users: dict | Path | None = None,
                 port: int = SUPPORT_PORT, faults: dict | None = None,
                 extra_args: list[str] | None = None, session: "Session | None" = None):
        """The server serves root; its log, its output and the files it is handed go into
        folder. Port 0 lets it pick a free port. A session ends it with its other processes."""
        self.root = Path(root)
        self.folder = Path(folder)
        self.users = users
        self.port = port
        self.faults = faults
        self.extra_args = extra_args or []
        self.session = session
        self.log_path = self.folder / "support_server.log"
        self.process: Process | None = None

    @property
    def base_url(self) -> str:
        return f"http://127.0.0.1:{self.port}"

    def _json_file(self, name: str, value) -> str:
        if isinstance(value, (str, Path)):
            return str(value)
        path = self.folder / name
        path.write_text(json.dumps(value, ensure_ascii=False), encoding="utf-8")
        return str(path)

    def start(self, timeout: float = 20.0, patience: float = 0.0) -> "SupportServer":
        """Starts the server and waits until it listens. With patience, a port that another
        run on this machine holds (where the tests do not run in network namespaces of their
        own) is waited for that many seconds."""
        deadline = time.monotonic() + patience
        while True:
            try:
                return self._start(timeout)
            except HarnessError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(2)

    def _start(self, timeout: float) -> "SupportServer":
        script = source_dir() / "tools" / "support_server.py"
        if not script.is_file():
            raise HarnessError(f"{script} is missing")
        args = [sys.executable, str(script), "--root", str(self.root), "--port", str(self.port),
                "--log", str(self.log_path)]
        if self.users is not None:
            args += ["--users", self._json_file("support-users.json", self.users)]
        if self.faults is not None:
            args += ["--faults", self._json_file("support-faults.json", self.faults)]
        output_path = self.folder / "support_server.out"
        with open(output_path, "wb") as output:
            popen = subprocess.Popen(args + self.extra_args, stdout=subprocess.PIPE,
                                     stderr=output, stdin=subprocess.DEVNULL,
                                     start_new_session=True)
        self.process = (self.session.adopt("support_server", popen) if self.session
                        else Process("support_server", popen, time.monotonic()))
        deadline = time.monotonic() + timeout
        line = b""
        while not line.endswith(b"\n"):
            ready, _, _ = select.select([popen.stdout], [], [], max(deadline - time.monotonic(), 0))
            chunk = os.read(popen.stdout.fileno(), 1) if ready else b""
            if not chunk:
                self.stop()
                why = "did not report it was ready" if not ready else "ended before it was ready"
                raise HarnessError(f"the support server {why} (see {output_path})")
            line += chunk
        words = line.split()
        if (len(words) < 2 or words[0] != b"ready" or not words[1].isdigit()
                or self.port not in (0, int(words[1]))):
            self.stop()
            raise HarnessError(f"unexpected first line from the support server: {line!r}")
        self.port = int(words[1])
        # Keep reading its output so that it never blocks on a full pipe.
        threading.Thread(target=self._drain, args=(popen.stdout,), daemon=True).start()
        return self

    @staticmethod
    def _drain(stream):
        for _ in iter(lambda: stream.read1(4096), b""):
            pass
        stream.close()

    def set_faults(self, faults: dict) -> None:
        """Replaces the server's fault table while it runs."""
        request = urllib.request.Request(self.base_url + "/_faults", method="PUT",
                                         data=json.dumps(faults).encode())
        with urllib.request.urlopen(request, timeout=10) as reply:
            reply.read()

    def log_entries(self) -> list[dict]:
        """The requests the server answered, one dict each, oldest first."""
        if not self.log_path.exists():
            return []
        lines = self.log_path.read_text(encoding="utf-8").splitlines()
        return [json.loads(line) for line in lines if line]

    def stop(self) -> int | None:
        """Ends the server by its id; its exit code (0 when SIGTERM ended it as it should)."""
        if self.process:
            self.process.stop()
            return self.process.popen.returncode
        return None

    def __enter__(self):
        return self.start() if not self.process else self

    def __exit__(self, *exc):
        self.stop()
