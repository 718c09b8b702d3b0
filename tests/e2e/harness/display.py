"""The display part of a session: X windows as the display knows them, the pointer and keys
(xdotool), and pictures of what is shown. Needs the session's env (DISPLAY) and artifacts."""

from __future__ import annotations

import re
import subprocess
from pathlib import Path

from harness.common import HarnessError, find_tool, wait_until
from harness.ui import SystemTray
from harness.wine import Process
from harness.x11 import IS_VIEWABLE, Image, XConnection, XWindow


class Display:
    """Mixed into Session (needs env, artifacts, and _tray and _shots, which it sets up)."""

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

    @property
    def tray(self) -> SystemTray:
        if not self._tray:
            self._tray = SystemTray(self)
        return self._tray
