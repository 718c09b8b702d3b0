"""Wine: the environment every Wine command runs in, the prefix template the tests copy, and
the processes the harness starts (each ended only through its own id)."""

from __future__ import annotations

import hashlib
import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

from harness.common import HarnessError


WINE_ENV = {
    "WINEDEBUG": "-all",
    "WINEDLLOVERRIDES": "mscoree,mshtml=",
    "LANG": "C.UTF-8",
    "LC_ALL": "C.UTF-8",
}


TOOLS_FOLDER = r"C:\e2e"  # where each prefix keeps its copy of the test tools
PROGRAM_FOLDER = r"C:\Varnek"


# Bump when the template's making changes, so old templates are rebuilt (a change of Wine's
# version or of TEMPLATE_REG rebuilds it anyway).
TEMPLATE_VERSION = "1"
TEMPLATE_STAMP = ".e2e-template"
TEMPLATE_REG = r"""Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Software\Wine\DllOverrides]
"winemenubuilder.exe"=""

[HKEY_CLASSES_ROOT\http\shell\open\command]
@="\"C:\\e2e\\browser_recorder.exe\" \"%1\""

[HKEY_CLASSES_ROOT\https\shell\open\command]
@="\"C:\\e2e\\browser_recorder.exe\" \"%1\""
"""


def wine_version() -> str:
    return subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()


def template_stamp() -> str:
    settings = hashlib.sha256(TEMPLATE_REG.encode()).hexdigest()[:16]
    return f"{TEMPLATE_VERSION} {settings} {wine_version()}\n"


def template_is_current(directory: Path) -> bool:
    stamp = directory / TEMPLATE_STAMP
    return stamp.is_file() and stamp.read_text() == template_stamp()


def make_template(directory: Path, log=sys.stdout) -> bool:
    """Makes the prefix template in directory unless a current one is there already.
    Returns True when a new template was made."""
    directory = directory.resolve()
    if template_is_current(directory):
        print(f"template {directory} is current", file=log)
        return False
    work = directory.with_name(directory.name + ".new")
    shutil.rmtree(work, ignore_errors=True)
    work.parent.mkdir(parents=True, exist_ok=True)
    env = clean_env()
    env.update(WINE_ENV)
    env["WINEPREFIX"] = str(work)
    env.pop("DISPLAY", None)  # nothing to show while the prefix is made
    started = time.monotonic()
    try:
        subprocess.run(["wineboot", "-i"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)
        settings = work / "e2e-settings.reg"
        settings.write_bytes(b"\xff\xfe" + TEMPLATE_REG.replace("\n", "\r\n").encode("utf-16-le"))
        subprocess.run(["wine", "regedit", "/S", str(settings)], env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        settings.unlink()
        subprocess.run(["wineserver", "-w"], env=env, timeout=120)
    finally:
        # wineboot may leave a server behind if it failed half-way.
        subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
    if not (work / "system.reg").is_file():
        raise HarnessError(f"wineboot did not make a prefix in {work}")
    # regedit /S says nothing either way: check that the settings landed.
    if ("browser_recorder.exe" not in (work / "system.reg").read_text(errors="replace")
            or "ShowCrashDialog" not in (work / "user.reg").read_text(errors="replace")):
        raise HarnessError(f"the template's settings are missing in {work}")
    detach_home_folders(work)
    (work / "drive_c" / "e2e").mkdir(exist_ok=True)
    (work / TEMPLATE_STAMP).write_text(template_stamp())
    shutil.rmtree(directory, ignore_errors=True)
    work.rename(directory)
    print(f"made template {directory} in {time.monotonic() - started:.1f} s", file=log)
    return True


def detach_home_folders(prefix: Path) -> None:
    """wineboot links Desktop, Documents, ... to the host's home; a test must not write there."""
    for user in (prefix / "drive_c" / "users").iterdir():
        for entry in user.iterdir():
            if entry.is_symlink():
                entry.unlink()
                entry.mkdir()


def clean_env() -> dict:
    env = dict(os.environ)
    for name in ("WINEPREFIX", "DISPLAY", "WINEARCH", "WINESERVER", "WINELOADER", "XAUTHORITY"):
        env.pop(name, None)
    return env


class Process:
    """A process the harness started; ended only through its own id."""

    def __init__(self, name: str, popen: subprocess.Popen, started: float):
        self.name = name
        self.popen = popen
        self.started = started  # time.monotonic() just before it was started

    @property
    def pid(self) -> int:
        return self.popen.pid

    def running(self) -> bool:
        return self.popen.poll() is None

    def wait(self, timeout: float) -> int:
        """Waits until the process has ended; returns its exit code."""
        try:
            return self.popen.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError(f"{self.name} (pid {self.pid}) still runs after {timeout} s")

    def stop(self, grace: float = 3.0) -> None:
        """Ends the process by its id (SIGTERM, then SIGKILL) and reaps it."""
        for sig in (signal.SIGTERM, signal.SIGKILL):
            if self.popen.poll() is not None:
                return
            self.popen.send_signal(sig)  # Popen signals only its own, still unreaped child
            try:
                self.popen.wait(timeout=grace)
            except subprocess.TimeoutExpired:
                continue
        self.popen.wait(timeout=grace)


def prefix_processes(prefix: Path) -> list[int]:
    """The ids of the processes that run with WINEPREFIX set to this prefix."""
    wanted = b"WINEPREFIX=" + os.fsencode(str(prefix))
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit() or int(entry.name) == os.getpid():
            continue
        try:
            environ = (entry / "environ").read_bytes()
        except OSError:
            continue  # ended meanwhile, or not ours to read
        if wanted in environ.split(b"\0"):
            found.append(int(entry.name))
    return found
