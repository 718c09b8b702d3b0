"""The session: one test's fresh prefix (copied from the template), its private display and the
processes started in them, all ended by their ids at the end; and E2ETestCase, which gives each
test a session of its own."""

from __future__ import annotations

import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

from harness.common import (ENV_KEEP, HarnessError, artifacts_root, program_exe, template_dir,
                            tools_dir, wait_until)
from harness.display import Display
from harness.registry import Registry
from harness.server import SupportServer
from harness.uidriver import UiDriver
from harness.wine import (PROGRAM_FOLDER, TOOLS_FOLDER, WINE_ENV, Process, clean_env,
                          prefix_processes, template_is_current)
from harness.x11 import SCREEN, Xvfb


class Session(Display, Registry, UiDriver):
    """A fresh prefix (copied from the template), a private display and the processes started
    in them. Use as a context manager; close() always runs every cleanup step."""

    def __init__(self, name: str, template: Path | None = None, screen: str = SCREEN):
        self.name = re.sub(r"[^A-Za-z0-9_.-]+", "_", name)
        self.template = template or template_dir()
        self.screen = screen
        self.artifacts = artifacts_root() / self.name
        self.temp: Path | None = None
        self.prefix: Path | None = None
        self.xvfb: Xvfb | None = None
        self.env: dict = {}
        self.processes: list[Process] = []
        self.timings: dict[str, float] = {}
        self._tray = None
        self._shots = 0

    # -- set-up and clean-up -----------------------------------------------------------------

    def open(self) -> "Session":
        if not template_is_current(self.template):
            raise HarnessError(f"no current prefix template in {self.template} "
                               "(run: python3 -m harness make-template DIR)")
        shutil.rmtree(self.artifacts, ignore_errors=True)
        self.artifacts.mkdir(parents=True)
        self.temp = Path(tempfile.mkdtemp(prefix="varnek-e2e-"))
        try:
            started = time.monotonic()
            self.prefix = self.temp / "prefix"
            subprocess.run(["cp", "-a", str(self.template), str(self.prefix)], check=True)
            self.timings["copy_prefix"] = time.monotonic() - started
            self.xvfb = Xvfb(self.screen, self.artifacts / "xvfb.log")
            self.xvfb.start()
            self.timings["start_xvfb"] = self.xvfb.start_seconds
            self.env = clean_env()
            self.env.update(WINE_ENV)
            self.env["WINEPREFIX"] = str(self.prefix)
            self.env["DISPLAY"] = self.xvfb.display
            self._install_tools()
        except BaseException:
            self.close()
            raise
        return self

    def _install_tools(self) -> None:
        """Copies the current test tools into the prefix's C:\\e2e (the browser recorder must
        live there: the prefix's http/https handler points at it and it logs beside itself)."""
        tools = tools_dir()
        target = self.unix_path(TOOLS_FOLDER)
        target.mkdir(parents=True, exist_ok=True)
        if tools and tools.is_dir():
            for exe in tools.glob("*.exe"):
                shutil.copy2(exe, target / exe.name)

    def close(self) -> None:
        errors = []
        for process in reversed(self.processes):
            try:
                process.stop()
            except Exception as error:  # keep cleaning up
                errors.append(error)
        if self.prefix and self.prefix.exists():
            # Always with this session's own prefix named, never an inherited one.
            env = dict(self.env or clean_env(), WINEPREFIX=str(self.prefix))
            subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            try:
                subprocess.run(["wineserver", "-w"], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=30)
            except subprocess.TimeoutExpired as error:
                errors.append(error)
            # A Wine process that lost its server (one stopped by the session, say) lingers
            # on its own: end what still runs in this prefix, each by its id.
            for pid in prefix_processes(self.prefix):
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
        if self.xvfb:
            self.xvfb.stop()
        if self.artifacts.exists() and self.timings:
            (self.artifacts / "timings.json").write_text(json.dumps(self.timings, indent=2))
        if self.temp and not os.environ.get(ENV_KEEP):
            shutil.rmtree(self.temp, ignore_errors=True)
        if errors:
            raise errors[0]

    def __enter__(self):
        return self.open()

    def __exit__(self, *exc):
        self.close()

    # -- paths ---------------------------------------------------------------------------------

    def unix_path(self, windows_path: str) -> Path:
        """C:\\Varnek\\x.exe -> <prefix>/drive_c/Varnek/x.exe (drive C only)."""
        match = re.match(r"^[cC]:[\\/]?(.*)$", windows_path)
        if not match:
            raise HarnessError(f"not a C: path: {windows_path}")
        parts = [p for p in re.split(r"[\\/]", match.group(1)) if p]
        return self.prefix.joinpath("drive_c", *parts)

    def windows_path(self, unix_path: Path) -> str:
        relative = Path(unix_path).resolve().relative_to((self.prefix / "drive_c").resolve())
        return "C:\\" + "\\".join(relative.parts)

    def install_program(self, folder: str = PROGRAM_FOLDER, exe: Path | None = None,
                        name: str | None = None) -> str:
        """Copies the program into a folder of the prefix; returns its Windows path."""
        exe = Path(exe) if exe else program_exe()
        target = self.unix_path(folder)
        target.mkdir(parents=True, exist_ok=True)
        shutil.copy2(exe, target / (name or exe.name))
        return folder.rstrip("\\") + "\\" + (name or exe.name)

    def install_tool(self, tool: str, folder: str, name: str | None = None) -> str:
        """Copies one of the test tools (e.g. a stand-in) into a folder under another name."""
        tools = tools_dir()
        source = tools / tool if tools else None
        if not source or not source.is_file():
            raise HarnessError(f"test tool {tool} is missing in {tools}: build the tools first")
        return self.install_program(folder, source, name)

    # -- processes ----------------------------------------------------------------------------

    def adopt(self, name: str, popen: subprocess.Popen, started: float | None = None) -> Process:
        process = Process(name, popen, started or time.monotonic())
        self.processes.append(process)
        return process

    def start(self, args: list[str], name: str | None = None, cwd: Path | None = None) -> Process:
        """Starts a host command in the session's environment; its output goes to artifacts."""
        name = name or Path(args[0]).name
        log = open(self.artifacts / f"{name}.{len(self.processes)}.log", "wb")
        started = time.monotonic()
        with log:
            popen = subprocess.Popen(args, env=self.env, cwd=cwd or self.temp,
                                     stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                     start_new_session=True)
        return self.adopt(name, popen, started)

    def start_wine(self, program: str, args: list[str] | None = None,
                   cwd: str | None = None) -> Process:
        """Starts a Windows program (a C:\\ path or a host path) under Wine. The working folder is
        the program's own folder unless given."""
        if re.match(r"^[cC]:", program):
            folder = cwd or program.rsplit("\\", 1)[0]
            unix_cwd = self.unix_path(folder)
        else:
            unix_cwd = self.unix_path(cwd) if cwd else Path(program).parent
        name = re.split(r"[\\/]", program)[-1]
        return self.start(["wine", program, *(args or [])], name=name, cwd=unix_cwd)

    def run_wine(self, args: list[str], timeout: float = 60.0,
                 check: bool = True) -> subprocess.CompletedProcess:
        """Runs a Wine command to its end (reg, regedit, a console tool) and returns its output.

        The output is collected in files, and the wait is for the command's own process. With
        pipes, the wait would be for their end, and that can be much later: whichever process
        comes first in a prefix starts the wineserver and Wine's services and desktop, which
        inherit its standard output and error and keep them open as long as Wine runs. A
        command that starts just as a program does (a setup) can be that process, and then
        its pipes stay open until the program ends.

        Wine's own error messages stay on (only its fixme lines are off), so a command that
        Wine could not start or that died says why in its error output."""
        env = dict(self.env, WINEDEBUG="fixme-all")
        with tempfile.TemporaryFile(dir=self.temp) as out, \
                tempfile.TemporaryFile(dir=self.temp) as err:
            popen = subprocess.Popen(["wine", *args], env=env, cwd=self.temp,
                                     stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            try:
                code = popen.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                popen.kill()  # our own child, by its id
                popen.wait()
                raise HarnessError(f"wine {' '.join(args)} did not end within {timeout} s")
            out.seek(0)
            err.seek(0)
            result = subprocess.CompletedProcess(popen.args, code, out.read(), err.read())
        if check and result.returncode != 0:
            raise HarnessError(f"wine {' '.join(args)} failed ({result.returncode}): "
                               f"{result.stdout.decode(errors='replace')}"
                               f"{result.stderr.decode(errors='replace')}")
        return result

    def support_server(self, root: Path, users: dict | Path | None = None,
                       **kwargs) -> SupportServer:
        """The support server on the build's port: its log and output among the artifacts,
        ended with the session's processes."""
        return SupportServer(root, self.artifacts, users, session=self, **kwargs)

    def browser_log(self) -> list[dict]:
        """Addresses the prefix's browser received, as logged by the browser recorder."""
        log = self.unix_path(TOOLS_FOLDER + r"\browser_recorder.log")
        if not log.exists():
            return []
        return [json.loads(line) for line in log.read_text(encoding="utf-8").splitlines() if line]

    def wait_browser_log(self, count: int, timeout: float = 20.0) -> list[dict]:
        return wait_until(lambda: (lambda log: log if len(log) >= count else None)(
            self.browser_log()), timeout, what=f"{count} browser launch(es)")


class E2ETestCase(unittest.TestCase):
    """Gives each test self.session (fresh prefix and display), cleaned up even on failure; a
    last screenshot of the display is kept as final.png."""

    session: Session

    def setUp(self):
        name = self.id().split(".", 1)[-1]  # Class.test_method
        self._started = time.monotonic()
        self.session = Session(name)
        self.session.open()
        self.addCleanup(self._finish)

    def _finish(self):
        self.session.timings["test"] = time.monotonic() - self._started
        try:
            self.session.screenshot("final")
        except Exception as error:  # the display may already be gone; keep cleaning up
            print(f"no final screenshot: {error}", file=sys.stderr)
        finally:
            self.session.close()
