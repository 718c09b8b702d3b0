"""What the user sees of the program on the screen: Wine's tray window with its icons, and the
popup menus, read from their pictures.

A menu's rows are told apart by pixels and each entry is read with tesseract (OCR). That is the
one place the harness reads text from the screen: under Wine a popup menu's items cannot be
read by another process (the handle that MN_GETHMENU gives is no menu there: IsMenu says no,
GetMenuItemCount -1), so the UI driver cannot list them. Everything else inside windows is read
and driven through the UI driver."""

from __future__ import annotations

import json
import os
import subprocess
import tempfile
from collections import Counter
from dataclasses import dataclass
from pathlib import Path
from typing import TYPE_CHECKING

from harness.common import HarnessError, find_tool, imagemagick, wait_until
from harness.wine import Process
from harness.x11 import Image, XWindow

if TYPE_CHECKING:  # a session hands itself over
    from harness.session import Session


TRAY_TITLE = "Wine System Tray"
SEPARATOR = "---"


def ocr(path: Path, psm: int = 6, lang: str | None = None) -> str:
    lang = lang or os.environ.get("VARNEK_E2E_OCR_LANG", "eng")
    result = subprocess.run([find_tool("tesseract"), str(path), "stdout", "--psm", str(psm),
                             "-l", lang], capture_output=True, text=True)
    if result.returncode != 0:
        raise HarnessError(f"tesseract failed on {path}: {result.stderr.strip()}")
    return result.stdout


def normalise_text(text: str) -> str:
    return " ".join(text.split())


@dataclass
class MenuRow:
    """One row of a popup menu as seen on screen."""

    kind: str  # "entry" or "separator"
    top: int  # pixel rows in the menu window, inclusive
    bottom: int
    left: int  # columns left .. right - 1: inside the frame, or the highlight bar
    right: int
    highlighted: bool = False
    text: str = ""

    @property
    def label(self) -> str:
        return SEPARATOR if self.kind == "separator" else self.text


def analyse_menu_rows(image: Image) -> list[MenuRow]:
    """Splits a menu picture into entries and separators by its pixel rows.

    The menu's background is its most common colour. A row with no other colour is empty; an
    entry is a band of rows with text (or a highlight bar, which fills the band); a separator is
    a band of at most three rows, each a single stretch of one colour across most of the menu.
    """
    background = image.most_common()
    x0, x1, y0, y1 = 0, image.width, 0, image.height

    def share(pixels):
        return sum(1 for p in pixels if p == background) / max(len(pixels), 1)

    # Strip the frame: edge rows and columns with hardly any background colour.
    for _ in range(4):
        if y1 - y0 > 2 and share(image.row(y0, x0, x1)) < 0.5:
            y0 += 1
        if y1 - y0 > 2 and share(image.row(y1 - 1, x0, x1)) < 0.5:
            y1 -= 1
        if x1 - x0 > 2 and share([image.pixel(x0, y) for y in range(y0, y1)]) < 0.5:
            x0 += 1
        if x1 - x0 > 2 and share([image.pixel(x1 - 1, y) for y in range(y0, y1)]) < 0.5:
            x1 -= 1
    width = x1 - x0

    def classify(y):
        pixels = image.row(y, x0, x1)
        ink = [(x, p) for x, p in enumerate(pixels) if p != background]
        if not ink:
            return "empty", None
        colour, count = Counter(p for _, p in ink).most_common(1)[0]
        xs = [x for x, p in ink if p == colour]
        solid = (count >= 0.6 * width and count >= 0.9 * len(ink)
                 and xs[-1] - xs[0] + 1 == count)
        return ("solid", (x0 + xs[0], x0 + xs[-1] + 1)) if solid else ("ink", None)

    rows = [classify(y) for y in range(y0, y1)]
    result: list[MenuRow] = []
    y = 0
    while y < len(rows):
        if rows[y][0] == "empty":
            y += 1
            continue
        start = y
        while y < len(rows) and rows[y][0] != "empty":
            y += 1
        band = rows[start:y]
        solid = [kind for kind, _ in band if kind == "solid"]
        if len(band) <= 3 and len(solid) == len(band):
            result.append(MenuRow("separator", y0 + start, y0 + y - 1, x0, x1))
        elif band[0][0] == "solid" and band[-1][0] == "solid":
            # A highlight bar: the band's top and bottom rows are one solid colour.
            left, right = band[0][1]
            result.append(MenuRow("entry", y0 + start, y0 + y - 1, left, right, True))
        else:
            result.append(MenuRow("entry", y0 + start, y0 + y - 1, x0, x1))
    return result


class PopupMenu:
    """An open popup menu: read as the user sees it, chosen from with the keyboard."""

    def __init__(self, session: "Session", window: XWindow, name: str):
        self.session = session
        self.window = window
        self.name = name
        self.rows: list[MenuRow] = []
        self.lines: list[str] = []  # OCR of the whole menu, one entry per line

    def screenshot(self, suffix: str = "") -> Path:
        return self.session.screenshot(f"{self.name}{suffix}", window=self.window.id)

    def read(self) -> list[MenuRow]:
        """Reads the menu: rows with their texts (OCR of each entry at 300 %)."""
        image = self.session.capture(self.window.id)
        if image is None:
            raise HarnessError(f"the menu {self.window.id:#x} closed before it was read")
        shot = self.session.screenshot(self.name, image=image)
        self.rows = analyse_menu_rows(image)
        convert = imagemagick("convert")
        scaled = shot.with_name(shot.stem + "-300.png")
        subprocess.run([convert, str(shot), "-colorspace", "Gray", "-resize", "300%",
                        str(scaled)], check=True)
        self.lines = [line.strip() for line in ocr(scaled, psm=6).splitlines() if line.strip()]
        with tempfile.TemporaryDirectory() as work:
            for index, row in enumerate(self.rows):
                if row.kind != "entry":
                    continue
                crop = Path(work) / f"row{index}.png"
                # A little of the empty rows around plain text; just the bar when highlighted.
                margin = 0 if row.highlighted else 2
                top = max(row.top - margin, 0)
                height = min(row.bottom + 1 + margin, image.height) - top
                width = row.right - row.left
                steps = [convert, str(shot), "-crop", f"{width}x{height}+{row.left}+{top}",
                         "+repage", "-colorspace", "Gray", "-resize", "300%"]
                if row.highlighted:  # light text on the highlight bar
                    steps += ["-threshold", "75%", "-negate"]
                steps += ["-bordercolor", "white", "-border", "12", str(crop)]
                subprocess.run(steps, check=True)
                row.text = normalise_text(ocr(crop, psm=7))
        layout = "\n".join(f"{r.top:4}-{r.bottom:<4} {'*' if r.highlighted else ' '} {r.label}"
                           for r in self.rows)
        shot.with_suffix(".txt").write_text(layout + "\n\nOCR:\n" + "\n".join(self.lines) + "\n")
        return self.rows

    def labels(self) -> list[str]:
        """Entries' texts and SEPARATOR for each separator, top to bottom."""
        if not self.rows:
            self.read()
        return [row.label for row in self.rows]

    def entries(self) -> list[MenuRow]:
        if not self.rows:
            self.read()
        return [row for row in self.rows if row.kind == "entry"]

    def highlighted_entry(self) -> int | None:
        """Index (among the entries) of the highlighted entry, from a fresh picture; None when
        none is highlighted or the menu is gone."""
        image = self.session.capture(self.window.id)
        if image is None:
            return None
        bands = analyse_menu_rows(image)
        entries = [row for row in bands if row.kind == "entry"]
        for index, row in enumerate(entries):
            if row.highlighted:
                return index
        return None

    def find(self, label: str) -> int:
        """Index (among the entries) of the entry whose text reads exactly label."""
        texts = [normalise_text(row.text) for row in self.entries()]
        wanted = normalise_text(label)
        if wanted not in texts:
            raise HarnessError(f"no entry {label!r} in menu {texts}")
        return texts.index(wanted)

    def choose(self, label: str, timeout: float = 5.0) -> None:
        """Moves the highlight to the entry with Down presses, checks it, presses Return."""
        target = self.find(label)
        count = len(self.entries())
        current = self.highlighted_entry()
        for _ in range(2 * count + 2):
            if current == target:
                break
            before = current
            self.session.xdotool("key", "Down")
            # Each press moves the highlight, so a changed picture is the fresh one.
            current = wait_until(lambda: self._highlight_moved(before), 2.0, 0.05,
                                 "the menu highlight to move")[0]
        if current != target:
            raise HarnessError(f"could not move the highlight to {label!r}")
        self.session.xdotool("key", "Return")
        self.wait_closed(timeout)

    def _highlight_moved(self, before: int | None):
        index = self.highlighted_entry()
        return (index,) if index is not None and (index != before or before is None) else None

    def close(self, timeout: float = 5.0) -> None:
        self.session.xdotool("key", "Escape")
        self.wait_closed(timeout)

    def is_open(self) -> bool:
        return self.session.window_viewable(self.window.id)

    def wait_closed(self, timeout: float = 5.0) -> None:
        wait_until(lambda: not self.is_open(), timeout, what="the menu to close")


class SystemTray:
    """Wine's tray window ("Wine System Tray") and the icons in it."""

    def __init__(self, session: "Session"):
        self.session = session

    def window(self) -> XWindow | None:
        """The shown tray window, None when there is none."""
        for window in self.session.top_windows():
            if window.name == TRAY_TITLE and window.viewable:
                return window
        return None

    def wait_visible(self, timeout: float = 30.0) -> XWindow:
        return wait_until(self.window, timeout, what="the tray window")

    def wait_gone(self, timeout: float = 30.0) -> None:
        wait_until(lambda: self.window() is None, timeout, what="the tray window to go")

    def icon_slots(self) -> list[bool]:
        """For each icon place in the tray window (squares as high as the window, from the left),
        whether an icon is drawn there."""
        window = self.window()
        if window is None:
            return []
        size = window.height
        image = self.session.capture(window.id)
        if image is None:
            return []  # the window went while we looked
        background = image.pixel(image.width - 1, image.height - 1)
        slots = []
        for left in range(0, image.width - size + 1, size):
            ink = sum(1 for y in range(image.height) for p in image.row(y, left, left + size)
                      if p != background)
            slots.append(ink >= 8)
        return slots

    def icon_count(self) -> int:
        """Icons drawn from the left of the tray window. Wine 8 does not redraw the icons that
        move left when an icon before them is removed, so count after additions, or after the
        last icon went."""
        count = 0
        for drawn in self.icon_slots():
            if not drawn:
                break
            count += 1
        return count

    def wait_icon_count(self, count: int, timeout: float = 30.0) -> None:
        seen = []

        def reached():
            seen.append(self.icon_count())
            return seen[-1] == count

        try:
            wait_until(reached, timeout, what=f"{count} tray icon(s)")
        except HarnessError as error:
            raise HarnessError(f"{error}; last saw {seen[-1] if seen else None}") from None

    def icon_centre(self, index: int = 0) -> tuple[int, int]:
        window = self.wait_visible(5.0)
        size = window.height
        return window.x + index * size + size // 2, window.y + size // 2

    def click(self, index: int = 0, button: int = 1, repeat: int = 1) -> None:
        x, y = self.icon_centre(index)
        self.session.move_pointer(x, y)
        args = ["click"]
        if repeat > 1:
            args += ["--repeat", str(repeat), "--delay", "120"]
        self.session.xdotool(*args, str(button))

    def left_click(self, index: int = 0) -> None:
        self.click(index, 1)

    def right_click(self, index: int = 0) -> None:
        self.click(index, 3)

    def double_click(self, index: int = 0) -> None:
        self.click(index, 1, repeat=2)

    def tooltip(self, index: int = 0) -> str:
        """Rests the pointer on an icon and reads the tooltip the shell shows for it, exactly
        (the tooltip window's text, through the UI driver); a picture of it is kept."""
        session = self.session
        [tray] = session.uidriver_records("windows", "--title", TRAY_TITLE)
        tips = ["--pid", str(tray["pid"]), "--class", "tooltips_class32"]
        session.move_pointer(640, 700)  # off the icon first, so resting on it shows the tip
        session.uidriver("wait", *tips, "--visible", "--gone")
        session.move_pointer(*self.icon_centre(index))
        [tip] = session.uidriver_records("wait", *tips, "--visible")
        text = json.loads(session.uidriver("text", "--hwnd", tip["hwnd"], "--json").stdout)
        session.screenshot("tooltip")
        session.move_pointer(640, 700)
        session.uidriver("wait", "--hwnd", tip["hwnd"], "--visible", "--gone")
        return text

    def open_menu(self, index: int = 0, owner: Process | None = None,
                  timeout: float = 10.0, name: str = "menu") -> PopupMenu:
        """Right-clicks the icon and waits for the popup menu's window to show and settle."""
        # Wine may map a window it made earlier again, so "new" means newly viewable.
        shown = {w.id for w in self.session.top_windows() if self.session.window_viewable(w.id)}
        self.right_click(index)

        def new_menu():
            for window in self.session.top_windows():
                if window.id in shown or window.width < 8 or window.height < 8:
                    continue
                if owner and self.session.window_pid(window.id) != owner.pid:
                    continue
                if not owner and (window.wm_class or "").lower() == "explorer.exe":
                    continue  # the tray's own tooltips
                if self.session.window_viewable(window.id, override_redirect=True):
                    return window
            return None

        window = wait_until(new_menu, timeout, what="the popup menu")
        menu = PopupMenu(self.session, window, name)
        self.session.wait_window_settled(window.id, timeout)
        return menu
