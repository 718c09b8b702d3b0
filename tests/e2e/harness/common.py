"""What every part of the harness shares: its error, waiting for a condition, the host's tools,
and the paths and port of the build under test, as CMake hands them over."""

from __future__ import annotations

import os
import shutil
import time
from pathlib import Path

REPOSITORY = Path(__file__).resolve().parents[3]

# Paths handed over by CMake (tests/e2e/CMakeLists.txt); the defaults fit a manual run from a
# build directory laid out like the i686 one.
ENV_EXE = "VARNEK_EXE"  # the VarnekIT.exe under test
ENV_TOOLS = "VARNEK_TOOLS_DIR"  # uidriver.exe, browser_recorder.exe, stand-ins, ...
ENV_SOURCE = "VARNEK_SOURCE_DIR"  # the repository (for tools/support_server.py)
ENV_ARTIFACTS = "VARNEK_E2E_ARTIFACTS"  # screenshots and logs, one folder per test
ENV_TEMPLATE = "VARNEK_E2E_TEMPLATE"  # the prefix template
ENV_REFERENCE_TRAY = "VARNEK_REFERENCE_TRAY"  # bench/reference_tray's program
ENV_KEEP = "VARNEK_E2E_KEEP"  # set to 1 to keep each test's temporary folder

# The port the build under test was configured with (SupportServerUrl); 18080 in the presets.
SUPPORT_PORT = int(os.environ.get("VARNEK_SUPPORT_PORT", "18080"))
SUPPORT_BASE = f"http://127.0.0.1:{SUPPORT_PORT}"  # where the test build of the program looks


class HarnessError(Exception):
    """The harness could not do what it was asked (missing tool, time-out, ...)."""


def find_tool(name: str) -> str:
    path = shutil.which(name)
    if not path:
        raise HarnessError(f"{name} is not installed")
    return path


def imagemagick(name: str) -> str:
    # Prefer the distribution's binary over any wrapper earlier on PATH.
    system = Path("/usr/bin") / name
    return str(system) if system.exists() else find_tool(name)


def wait_until(predicate, timeout: float, interval: float = 0.1, what: str = "condition"):
    """Polls predicate until it returns something truthy; returns that value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise HarnessError(f"timed out after {timeout:.1f} s waiting for {what}")
        time.sleep(interval)


def source_dir() -> Path:
    return Path(os.environ.get(ENV_SOURCE, REPOSITORY))


def tools_dir() -> Path | None:
    value = os.environ.get(ENV_TOOLS)
    return Path(value) if value else None


def program_exe() -> Path:
    value = os.environ.get(ENV_EXE)
    if not value:
        raise HarnessError(f"{ENV_EXE} does not name the program under test")
    path = Path(value)
    if not path.is_file():
        raise HarnessError(f"{path} is missing: build the project first")
    return path


def artifacts_root() -> Path:
    return Path(os.environ.get(ENV_ARTIFACTS, Path.cwd() / "e2e-artifacts"))


def template_dir() -> Path:
    value = os.environ.get(ENV_TEMPLATE)
    if not value:
        raise HarnessError(f"{ENV_TEMPLATE} does not name the prefix template")
    return Path(value)


def reference_tray() -> Path:
    """bench/reference_tray's program: a bare tray program to measure the program against."""
    path = Path(os.environ.get(ENV_REFERENCE_TRAY, ""))
    if not path.is_file():
        raise HarnessError(f"{ENV_REFERENCE_TRAY} does not name reference_tray.exe")
    return path
