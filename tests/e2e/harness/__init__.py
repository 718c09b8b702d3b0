#!/usr/bin/env python3
"""End-to-end harness: runs Windows programs under Wine on a private Xvfb display and drives
them from outside the way a user would (real clicks on the tray, keys, screenshots, OCR).

Each test gets a fresh Wine prefix copied from a template made once per build directory, its
own X display, and a temporary folder that is removed at the end. Everything the harness
starts is remembered by process id and ended by that id; the test's own wineserver is stopped
with `wineserver -k` for its own prefix only.

Used from unittest files next to this one (see E2ETestCase) and from the command line:
    python3 -m harness make-template DIR     (from tests/e2e)
"""

from __future__ import annotations

import ctypes
import ctypes.util
import hashlib
import json
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.request
import zlib
from collections import Counter
from dataclasses import dataclass, field
from pathlib import Path

from harness.common import (ENV_ARTIFACTS, ENV_EXE, ENV_KEEP, ENV_REFERENCE_TRAY, ENV_SOURCE,
                            ENV_TEMPLATE, ENV_TOOLS, REPOSITORY, SUPPORT_BASE, SUPPORT_PORT,
                            HarnessError, artifacts_root, find_tool, imagemagick, program_exe,
                            source_dir, template_dir, tools_dir, wait_until)
from harness.ui import TRAY_TITLE, SEPARATOR, ocr, normalise_text, MenuRow, analyse_menu_rows, PopupMenu, SystemTray  # noqa
from harness.x11 import SCREEN, Xvfb, Image, XWindow, _XWindowAttributes, _XImage, _XErrorEvent, _XClassHint, _XClientMessage, _XEvent, _X_ERRORS, _count_x_error, _X_ERROR_HANDLER, _X11, _x11, IS_VIEWABLE, _Z_PIXMAP, _ALL_PLANES, XConnection  # noqa
from harness.wine import WINE_ENV, TOOLS_FOLDER, PROGRAM_FOLDER, TEMPLATE_VERSION, TEMPLATE_STAMP, TEMPLATE_REG, wine_version, template_stamp, template_is_current, make_template, detach_home_folders, clean_env, Process, prefix_processes  # noqa




# ---------------------------------------------------------------------------------------------
# Prefix template




# ---------------------------------------------------------------------------------------------
# Processes





# ---------------------------------------------------------------------------------------------
# Images





# ---------------------------------------------------------------------------------------------
# X windows, through a connection of the harness's own (libX11 through ctypes)
#
# Pictures are taken with XGetImage on the root window, cropped to the window's place, while
# the connection holds the server: the window is either there for the whole picture or not at
# all. A window that went away is a value (None, "no picture"), never an error and never a
# wait: ImageMagick's `import -window ID` falls back to letting the user pick a window with the
# mouse when ID is gone, and waits for that click with the server grabbed, which freezes the
# display (and Wine on it) until it is killed.






# ---------------------------------------------------------------------------------------------
# Registry exports


@dataclass
class RegValue:
    type: str  # REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY, hex(N)
    data: object


def _unescape_reg_string(text: str) -> str:
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            out.append({"n": "\n", "r": "\r", "0": "\0"}.get(nxt, nxt))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def _read_quoted(text: str, start: int) -> tuple[str, int]:
    """Reads a "..." string at text[start]; returns its raw contents and the index after it."""
    assert text[start] == '"'
    i = start + 1
    while text[i] != '"':
        i += 2 if text[i] == "\\" else 1
    return text[start + 1:i], i + 1


def _reg_data(raw: str) -> RegValue:
    if raw.startswith('"'):
        contents, _ = _read_quoted(raw, 0)
        return RegValue("REG_SZ", _unescape_reg_string(contents))
    if raw.startswith("dword:"):
        return RegValue("REG_DWORD", int(raw[6:], 16))
    match = re.match(r"hex(?:\(([0-9a-fA-F]+)\))?:(.*)$", raw, re.S)
    if not match:
        raise HarnessError(f"cannot read registry data {raw!r}")
    kind = int(match.group(1), 16) if match.group(1) else 3
    hexes = re.sub(r"[\s\\]", "", match.group(2))
    data = bytes(int(h, 16) for h in hexes.split(",") if h)
    if kind in (1, 2):
        return RegValue("REG_SZ" if kind == 1 else "REG_EXPAND_SZ",
                        data.decode("utf-16-le").rstrip("\0"))
    if kind == 7:
        text = data.decode("utf-16-le")
        return RegValue("REG_MULTI_SZ", [s for s in text.rstrip("\0").split("\0")] if
                        text.strip("\0") else [])
    if kind == 0xB:
        return RegValue("REG_QWORD", int.from_bytes(data, "little"))
    if kind == 3:
        return RegValue("REG_BINARY", data)
    return RegValue(f"hex({kind:x})", data)


def parse_reg_export(text: str) -> dict[str, dict[str, RegValue]]:
    """Parses a regedit export: {key path: {value name ("" for the default): RegValue}}."""
    keys: dict[str, dict[str, RegValue]] = {}
    current = None
    lines = text.replace("\r\n", "\n").split("\n")
    i = 0
    while i < len(lines):
        line = lines[i]
        i += 1
        if line.startswith("[") and line.rstrip().endswith("]"):
            current = keys.setdefault(line.strip()[1:-1], {})
            continue
        if current is None or not line.strip() or line.startswith(";"):
            continue
        if line.startswith("@="):
            name, rest = "", line[2:]
        elif line.startswith('"'):
            raw_name, end = _read_quoted(line, 0)
            name, rest = _unescape_reg_string(raw_name), line[end + 1:]
        else:
            raise HarnessError(f"cannot read registry line {line!r}")
        if rest.startswith("hex"):
            while rest.rstrip().endswith("\\") and i < len(lines):
                rest = rest.rstrip()[:-1] + lines[i].strip()
                i += 1
        current[name] = _reg_data(rest)
    return keys


# ---------------------------------------------------------------------------------------------
# The support server


class SupportServer:
    """tools/support_server.py on 127.0.0.1, started and stopped by its process id.

    users: {"user name": "password"} or a JSON file of that; faults: {"/path": {"mode": ...}}
    (see the server's FAULT_MODES) at start, or later through set_faults()."""

    def __init__(self, session: "Session", root: Path, users: dict | Path | None = None,
                 port: int = SUPPORT_PORT, faults: dict | None = None,
                 extra_args: list[str] | None = None):
        self.session = session
        self.root = Path(root)
        self.users = users
        self.port = port
        self.faults = faults
        self.extra_args = extra_args or []
        self.log_path = session.artifacts / "support_server.log"
        self.process: Process | None = None
        self.base_url = f"http://127.0.0.1:{port}"

    def _json_file(self, name: str, value) -> str:
        if isinstance(value, (str, Path)):
            return str(value)
        path = self.session.temp / name
        path.write_text(json.dumps(value, ensure_ascii=False), encoding="utf-8")
        return str(path)

    def start(self, timeout: float = 20.0) -> "SupportServer":
        script = source_dir() / "tools" / "support_server.py"
        if not script.is_file():
            raise HarnessError(f"{script} is missing")
        args = [sys.executable, str(script), "--root", str(self.root), "--port", str(self.port),
                "--log", str(self.log_path)]
        if self.users is not None:
            args += ["--users", self._json_file("support-users.json", self.users)]
        if self.faults is not None:
            args += ["--faults", self._json_file("support-faults.json", self.faults)]
        output_path = self.session.artifacts / "support_server.out"
        with open(output_path, "wb") as output:
            popen = subprocess.Popen(args + self.extra_args, stdout=subprocess.PIPE,
                                     stderr=output, stdin=subprocess.DEVNULL,
                                     start_new_session=True)
        self.process = self.session.adopt("support_server", popen)
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
        if line.split()[:2] != [b"ready", str(self.port).encode()]:
            self.stop()
            raise HarnessError(f"unexpected first line from the support server: {line!r}")
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

    def stop(self) -> None:
        if self.process:
            self.process.stop()

    def __enter__(self):
        return self.start() if not self.process else self

    def __exit__(self, *exc):
        self.stop()





class Session:
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
        self._tray: SystemTray | None = None
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

    # -- X -------------------------------------------------------------------------------------

    def x_command(self, *args: str, check: bool = True) -> str:
        result = subprocess.run(list(args), env=self.env, capture_output=True, text=True,
                                timeout=30)
        if check and result.returncode != 0:
            raise HarnessError(f"{' '.join(args)} failed: {result.stderr.strip()}")
        return result.stdout

    def xdotool(self, *args: str) -> str:
        return self.x_command(find_tool("xdotool"), *args)

    def pointer(self) -> tuple[int, int]:
        out = self.xdotool("getmouselocation", "--shell")
        values = dict(line.split("=", 1) for line in out.split())
        return int(values["X"]), int(values["Y"])

    def move_pointer(self, x: int, y: int) -> None:
        # mousemove --sync waits for a motion, and there is none if the pointer is there already.
        if self.pointer() != (x, y):
            self.xdotool("mousemove", "--sync", str(x), str(y))

    def xdotool_ids(self, *args: str) -> set[int]:
        # xdotool search exits with 1 when nothing matches.
        out = self.x_command(find_tool("xdotool"), *args, check=False)
        return {int(line) for line in out.split()}

    def x(self) -> XConnection:
        """A connection of the harness's own to the session's display (use with `with`)."""
        return XConnection(self.env["DISPLAY"])

    def top_windows(self) -> list[XWindow]:
        """The display's top-level windows, hidden ones too, bottom to top."""
        with self.x() as x:
            return x.top_windows()

    def window_viewable(self, window_id: int, override_redirect: bool | None = None) -> bool:
        """Whether the window is shown (and, if asked, is or is not override-redirect); False
        for a window that is gone."""
        with self.x() as x:
            attributes = x.attributes(window_id)
        if attributes is None or attributes.map_state != IS_VIEWABLE:
            return False
        return override_redirect is None or bool(attributes.override_redirect) == override_redirect

    def window_pid(self, window_id: int) -> int | None:
        """_NET_WM_PID of a window (Wine sets it to the Unix pid); None if unset or gone."""
        with self.x() as x:
            return x.pid(window_id)

    def find_windows(self, title: str, process: Process | None = None,
                     visible_only: bool = False) -> list[int]:
        """X windows whose title is exactly title (also hidden ones unless visible_only)."""
        args = ["search", "--all"]  # every condition must hold (xdotool's default is any)
        if visible_only:
            args.append("--onlyvisible")
        if process:
            args += ["--pid", str(process.pid)]
        args += ["--name", "^" + re.escape(title) + "$"]
        return sorted(self.xdotool_ids(*args))

    def request_close(self, window_id: int) -> None:
        """Asks a window to close as a window manager's close button does (WM_DELETE_WINDOW);
        Wine turns this into SC_CLOSE, and so WM_CLOSE, for the program's window."""
        with self.x() as x:
            if not x.send_delete_window(window_id):
                raise HarnessError(f"could not send WM_DELETE_WINDOW to {window_id:#x}")

    def wait_window_settled(self, window_id: int, timeout: float = 10.0) -> None:
        """Waits until a window has been painted: two pictures alike and not of one colour."""
        previous = [None]

        def settled():
            image = self.capture(window_id)
            if image is None:
                return False  # not shown (yet, or any more)
            same = previous[0] == image.data
            previous[0] = image.data
            return same and len(set(image.data[i:i + 3] for i in range(0, len(image.data), 3))) > 1

        wait_until(settled, timeout, 0.1, "the window to be painted")

    def capture(self, window: int | None = None) -> Image | None:
        """What the display shows of a window (or the whole display), None when the window is
        gone or hidden. Never blocks: nothing waits for the window or the user."""
        with self.x() as x:
            return x.picture(window)

    def screenshot(self, name: str, window: int | None = None,
                   image: Image | None = None) -> Path:
        """Saves a PNG of the display (or of one window, or a picture already taken) under the
        test's artifacts as NN-name.png."""
        image = image or self.capture(window)
        if image is None:
            raise HarnessError(f"no picture for {name}: window {window:#x} is gone or hidden")
        self._shots += 1
        return image.save_png(self.artifacts / f"{self._shots:02d}-{name}.png")

    def read_window_text(self, window_id: int, name: str, psm: int = 7) -> str:
        """Reads a window's text from the screen (a tooltip, say): a screenshot of it, kept,
        scaled to 300 % in grey and read with tesseract; whitespace runs become one space."""
        shot = self.screenshot(name, window=window_id)
        scaled = shot.with_name(shot.stem + "-300.png")
        subprocess.run([imagemagick("convert"), str(shot), "-colorspace", "Gray", "-resize",
                        "300%", str(scaled)], check=True)
        return normalise_text(ocr(scaled, psm=psm))

    @property
    def tray(self) -> SystemTray:
        if not self._tray:
            self._tray = SystemTray(self)
        return self._tray

    # -- registry ------------------------------------------------------------------------------

    def reg_export(self, key: str) -> dict[str, dict[str, RegValue]]:
        """Exports a key with its subkeys through regedit (exact, UTF-16); {} if it is missing."""
        with tempfile.TemporaryDirectory(dir=self.temp) as work:
            out = Path(work) / "export.reg"
            self.run_wine(["regedit", "/E", str(out), key])
            if not out.exists():
                return {}
            return parse_reg_export(out.read_bytes().decode("utf-16"))

    def reg_values(self, key: str) -> dict[str, RegValue] | None:
        """The values of one key, or None if the key is missing."""
        return self.reg_export(key).get(key)

    def reg_get(self, key: str, name: str):
        """The data of one value (str, int, list or bytes), or None if it is missing."""
        values = self.reg_values(key)
        if values is None or name not in values:
            return None
        return values[name].data

    def reg_add(self, key: str, name: str | None, data: str | int, kind: str = "REG_SZ") -> None:
        args = ["reg", "add", key]
        args += ["/ve"] if name is None else ["/v", name]
        self.run_wine(args + ["/t", kind, "/d", str(data), "/f"])

    def reg_delete(self, key: str, name: str | None = None) -> None:
        args = ["reg", "delete", key] + (["/v", name] if name is not None else []) + ["/f"]
        self.run_wine(args, check=False)

    # -- tools ---------------------------------------------------------------------------------

    def support_server(self, root: Path, users: dict | Path | None = None,
                       **kwargs) -> SupportServer:
        return SupportServer(self, root, users, **kwargs)

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

    def browser_log(self) -> list[dict]:
        """Addresses the prefix's browser received, as logged by the browser recorder."""
        log = self.unix_path(TOOLS_FOLDER + r"\browser_recorder.log")
        if not log.exists():
            return []
        return [json.loads(line) for line in log.read_text(encoding="utf-8").splitlines() if line]

    def wait_browser_log(self, count: int, timeout: float = 20.0) -> list[dict]:
        return wait_until(lambda: (lambda log: log if len(log) >= count else None)(
            self.browser_log()), timeout, what=f"{count} browser launch(es)")


# ---------------------------------------------------------------------------------------------
# unittest glue


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
