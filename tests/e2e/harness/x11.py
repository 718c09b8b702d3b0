"""X: the private Xvfb display of a test, and the harness's own connection to it (libX11
through ctypes, a short connection per question): windows, their names, places, map state and
_NET_WM_PID, WM_DELETE_WINDOW, and pictures.

Pictures are taken with XGetImage on the root window, cropped to the window's place, while
the connection holds the server: the window is either there for the whole picture or not at
all. A window that went away is a value (None, "no picture"), never an error and never a
wait: ImageMagick's `import -window ID` falls back to letting the user pick a window with the
mouse when ID is gone, and waits for that click with the server grabbed, which freezes the
display (and Wine on it) until it is killed."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import select
import struct
import subprocess
import time
import zlib
from collections import Counter
from dataclasses import dataclass
from pathlib import Path

from harness.common import HarnessError, find_tool, imagemagick


SCREEN = "1280x1024x24"


class Xvfb:
    """A private X display; the server picks a free display number itself (-displayfd)."""

    def __init__(self, screen: str = SCREEN, log_path: Path | None = None):
        self.screen = screen
        self.log_path = log_path
        self.popen: subprocess.Popen | None = None
        self.display = ""
        self.start_seconds = 0.0

    def start(self, timeout: float = 20.0) -> str:
        read_end, write_end = os.pipe()
        log = open(self.log_path, "wb") if self.log_path else subprocess.DEVNULL
        started = time.monotonic()
        try:
            self.popen = subprocess.Popen(
                [find_tool("Xvfb"), "-displayfd", str(write_end), "-screen", "0", self.screen,
                 "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                start_new_session=True)
        finally:
            os.close(write_end)
            if log is not subprocess.DEVNULL:
                log.close()
        number = b""
        deadline = started + timeout
        try:
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                ready, _, _ = select.select([read_end], [], [], max(left, 0))
                if not ready:
                    raise HarnessError("Xvfb did not report its display")
                chunk = os.read(read_end, 16)
                if not chunk:
                    raise HarnessError(f"Xvfb ended before it was ready (see {self.log_path})")
                number += chunk
        except BaseException:
            self.stop()
            raise
        finally:
            os.close(read_end)
        self.display = ":" + number.decode().strip()
        self.start_seconds = time.monotonic() - started
        return self.display

    def stop(self) -> None:
        if self.popen and self.popen.poll() is None:
            self.popen.terminate()
            try:
                self.popen.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.popen.kill()
                self.popen.wait(timeout=5)


@dataclass
class Image:
    """An RGB picture read through ImageMagick (as binary PPM)."""

    width: int
    height: int
    data: bytes

    @classmethod
    def from_ximage(cls, image) -> "Image":
        """The RGB pixels of a ZPixmap XImage of a 24-bit TrueColor screen (Xvfb's)."""
        if (image.bits_per_pixel != 32 or image.byte_order != 0 or image.red_mask != 0xFF0000
                or image.green_mask != 0xFF00 or image.blue_mask != 0xFF):
            raise HarnessError(f"unexpected X picture format ({image.bits_per_pixel} bits, "
                               f"masks {image.red_mask:x} {image.green_mask:x} "
                               f"{image.blue_mask:x})")
        width, height, stride = image.width, image.height, image.bytes_per_line
        raw = ctypes.string_at(image.data, stride * height)
        if stride != width * 4:
            raw = b"".join(raw[y * stride:y * stride + width * 4] for y in range(height))
        rgb = bytearray(width * height * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = raw[2::4], raw[1::4], raw[0::4]  # B G R x in memory
        return cls(width, height, bytes(rgb))

    def save_png(self, path: Path) -> Path:
        """Writes the picture as an 8-bit RGB PNG."""
        line = self.width * 3
        rows = b"".join(b"\0" + self.data[y * line:(y + 1) * line] for y in range(self.height))

        def chunk(kind: bytes, body: bytes) -> bytes:
            return (struct.pack(">I", len(body)) + kind + body
                    + struct.pack(">I", zlib.crc32(kind + body)))

        Path(path).write_bytes(b"\x89PNG\r\n\x1a\n"
                               + chunk(b"IHDR", struct.pack(">IIBBBBB", self.width,
                                                            self.height, 8, 2, 0, 0, 0))
                               + chunk(b"IDAT", zlib.compress(rows, 6)) + chunk(b"IEND", b""))
        return Path(path)

    @classmethod
    def load(cls, path: Path) -> "Image":
        raw = subprocess.run([imagemagick("convert"), str(path), "-depth", "8", "ppm:-"],
                             capture_output=True, check=True).stdout
        fields = raw.split(maxsplit=4)  # magic, width, height, maximum value, pixels
        if len(fields) < 5 or fields[0] != b"P6" or fields[3] != b"255":
            raise HarnessError(f"unexpected picture format from {path}")
        width, height = int(fields[1]), int(fields[2])
        # One whitespace byte ends the header; the pixels follow.
        data = raw[len(raw) - width * height * 3:]
        return cls(width, height, data)

    def pixel(self, x: int, y: int) -> tuple:
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def row(self, y: int, x0: int = 0, x1: int | None = None) -> list:
        x1 = self.width if x1 is None else x1
        start = (y * self.width + x0) * 3
        chunk = self.data[start:start + (x1 - x0) * 3]
        return [tuple(chunk[i:i + 3]) for i in range(0, len(chunk), 3)]

    def most_common(self) -> tuple:
        counts = Counter()
        for y in range(self.height):
            counts.update(self.row(y))
        return counts.most_common(1)[0][0]


@dataclass
class XWindow:
    id: int
    name: str | None
    wm_class: str | None
    width: int
    height: int
    x: int
    y: int
    viewable: bool = True
    override_redirect: bool = False

    def contains(self, x: int, y: int) -> bool:
        return self.x <= x < self.x + self.width and self.y <= y < self.y + self.height


class _XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                ("height", ctypes.c_int), ("border_width", ctypes.c_int),
                ("depth", ctypes.c_int), ("visual", ctypes.c_void_p), ("root", ctypes.c_ulong),
                ("class_", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int),
                ("backing_planes", ctypes.c_ulong), ("backing_pixel", ctypes.c_ulong),
                ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong),
                ("map_installed", ctypes.c_int), ("map_state", ctypes.c_int),
                ("all_event_masks", ctypes.c_long), ("your_event_mask", ctypes.c_long),
                ("do_not_propagate_mask", ctypes.c_long), ("override_redirect", ctypes.c_int),
                ("screen", ctypes.c_void_p)]


class _XImage(ctypes.Structure):  # the leading fields of XImage
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int), ("red_mask", ctypes.c_ulong),
                ("green_mask", ctypes.c_ulong), ("blue_mask", ctypes.c_ulong)]


class _XErrorEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("display", ctypes.c_void_p),
                ("resourceid", ctypes.c_ulong), ("serial", ctypes.c_ulong),
                ("error_code", ctypes.c_ubyte), ("request_code", ctypes.c_ubyte),
                ("minor_code", ctypes.c_ubyte)]


class _XClassHint(ctypes.Structure):
    _fields_ = [("res_name", ctypes.c_void_p), ("res_class", ctypes.c_void_p)]


class _XClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class _XEvent(ctypes.Union):
    _fields_ = [("xclient", _XClientMessage), ("pad", ctypes.c_long * 24)]


_X_ERRORS = [0]  # X errors seen by the harness's handler (a window that went away, mostly)


def _count_x_error(display, event) -> int:
    _X_ERRORS[0] += 1
    return 0  # Xlib goes on; the request that failed answers "nothing"


_X_ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p,
                                    ctypes.POINTER(_XErrorEvent))(_count_x_error)
_X11 = []  # libX11, once loaded


def _x11():
    """libX11 with the prototypes the harness uses and an error handler that counts errors
    instead of ending the process (Xlib's default)."""
    if _X11:
        return _X11[0]
    library = ctypes.util.find_library("X11")
    if not library:
        raise HarnessError("libX11 is missing")
    x = ctypes.cdll.LoadLibrary(library)
    c_void_p, c_ulong, c_int = ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int
    pointer = ctypes.POINTER
    for name, restype, argtypes in [
            ("XOpenDisplay", c_void_p, [ctypes.c_char_p]),
            ("XCloseDisplay", c_int, [c_void_p]),
            ("XDefaultRootWindow", c_ulong, [c_void_p]),
            ("XGrabServer", c_int, [c_void_p]),
            ("XUngrabServer", c_int, [c_void_p]),
            ("XSync", c_int, [c_void_p, c_int]),
            ("XFlush", c_int, [c_void_p]),
            ("XFree", c_int, [c_void_p]),
            ("XInternAtom", c_ulong, [c_void_p, ctypes.c_char_p, c_int]),
            ("XGetWindowAttributes", c_int, [c_void_p, c_ulong, pointer(_XWindowAttributes)]),
            ("XTranslateCoordinates", c_int, [c_void_p, c_ulong, c_ulong, c_int, c_int,
                                              pointer(c_int), pointer(c_int), pointer(c_ulong)]),
            ("XQueryTree", c_int, [c_void_p, c_ulong, pointer(c_ulong), pointer(c_ulong),
                                   pointer(pointer(c_ulong)), pointer(ctypes.c_uint)]),
            ("XGetWindowProperty", c_int, [c_void_p, c_ulong, c_ulong, ctypes.c_long,
                                           ctypes.c_long, c_int, c_ulong, pointer(c_ulong),
                                           pointer(c_int), pointer(c_ulong), pointer(c_ulong),
                                           pointer(c_void_p)]),
            ("XGetClassHint", c_int, [c_void_p, c_ulong, pointer(_XClassHint)]),
            ("XGetImage", pointer(_XImage), [c_void_p, c_ulong, c_int, c_int, ctypes.c_uint,
                                             ctypes.c_uint, c_ulong, c_int]),
            ("XDestroyImage", c_int, [pointer(_XImage)]),
            ("XSendEvent", c_int, [c_void_p, c_ulong, c_int, ctypes.c_long, pointer(_XEvent)]),
            ("XSetErrorHandler", c_void_p, [c_void_p])]:
        function = getattr(x, name)
        function.restype, function.argtypes = restype, argtypes
    x.XSetErrorHandler(ctypes.cast(_X_ERROR_HANDLER, c_void_p))
    _X11.append(x)
    return x


IS_VIEWABLE = 2  # XWindowAttributes.map_state
_Z_PIXMAP = 2
_ALL_PLANES = ctypes.c_ulong(-1).value


class XConnection:
    """A short connection to a display, for a few requests. A request about a window that is
    gone answers None (or False), never raises."""

    def __init__(self, display: str):
        self.x = _x11()
        self.handle = self.x.XOpenDisplay(display.encode())
        if not self.handle:
            raise HarnessError(f"cannot open display {display}")
        self.root = self.x.XDefaultRootWindow(self.handle)

    def close(self) -> None:
        if self.handle:
            self.x.XCloseDisplay(self.handle)
            self.handle = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _call(self, function, *args):
        """Calls a request that has a reply; returns (result, whether it raised an X error)."""
        errors = _X_ERRORS[0]
        result = function(self.handle, *args)
        return result, _X_ERRORS[0] != errors

    def attributes(self, window: int) -> _XWindowAttributes | None:
        attributes = _XWindowAttributes()
        status, failed = self._call(self.x.XGetWindowAttributes, window,
                                    ctypes.byref(attributes))
        return attributes if status and not failed else None

    def atom(self, name: str) -> int:
        return self.x.XInternAtom(self.handle, name.encode(), 0)

    def property(self, window: int, name: str, kind: str) -> tuple[bytes, int] | None:
        """A window property's bytes and format (8, 16 or 32), None if it or the window is
        missing. Format 32 items come as C longs."""
        actual, form = ctypes.c_ulong(), ctypes.c_int()
        count, after, data = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p()
        status, failed = self._call(self.x.XGetWindowProperty, window, self.atom(name), 0,
                                    1 << 16, 0, self.atom(kind), ctypes.byref(actual),
                                    ctypes.byref(form), ctypes.byref(count),
                                    ctypes.byref(after), ctypes.byref(data))
        if status != 0 or failed or not data.value:
            return None
        try:
            if actual.value == 0:
                return None
            size = {8: 1, 16: ctypes.sizeof(ctypes.c_short), 32: ctypes.sizeof(ctypes.c_long)}
            return ctypes.string_at(data.value, count.value * size[form.value]), form.value
        finally:
            self.x.XFree(data)

    def name(self, window: int) -> str | None:
        """The window's title: _NET_WM_NAME (UTF-8), else WM_NAME."""
        for name, kind, encoding in (("_NET_WM_NAME", "UTF8_STRING", "utf-8"),
                                     ("WM_NAME", "STRING", "latin-1")):
            value = self.property(window, name, kind)
            if value is not None:
                return value[0].decode(encoding, "replace")
        return None

    def wm_class(self, window: int) -> str | None:
        """The instance part (res_name) of WM_CLASS."""
        hint = _XClassHint()
        status, failed = self._call(self.x.XGetClassHint, window, ctypes.byref(hint))
        if not status or failed:
            return None
        try:
            return ctypes.string_at(hint.res_name).decode("latin-1") if hint.res_name else None
        finally:
            for part in (hint.res_name, hint.res_class):
                if part:
                    self.x.XFree(part)

    def pid(self, window: int) -> int | None:
        value = self.property(window, "_NET_WM_PID", "CARDINAL")
        if value is None or value[1] != 32 or not value[0]:
            return None
        return ctypes.c_ulong.from_buffer_copy(value[0][:ctypes.sizeof(ctypes.c_ulong)]).value

    def top_windows(self) -> list[XWindow]:
        """The root window's children, bottom to top; those that go meanwhile are left out."""
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        status, failed = self._call(self.x.XQueryTree, self.root, ctypes.byref(root),
                                    ctypes.byref(parent), ctypes.byref(children),
                                    ctypes.byref(count))
        if not status or failed:
            raise HarnessError("cannot list the display's windows")
        ids = [children[i] for i in range(count.value)]
        if children:
            self.x.XFree(children)
        windows = []
        for ident in ids:
            attributes = self.attributes(ident)
            if attributes is None:
                continue
            windows.append(XWindow(ident, self.name(ident), self.wm_class(ident),
                                   attributes.width, attributes.height, attributes.x,
                                   attributes.y, attributes.map_state == IS_VIEWABLE,
                                   bool(attributes.override_redirect)))
        return windows

    def _place(self, window: int) -> tuple[int, int, int, int] | None:
        """A viewable window's rectangle on the screen (inside its border), clipped to it."""
        attributes = self.attributes(window)
        if attributes is None or attributes.map_state != IS_VIEWABLE:
            return None
        x, y, child = ctypes.c_int(), ctypes.c_int(), ctypes.c_ulong()
        status, failed = self._call(self.x.XTranslateCoordinates, window, self.root, 0, 0,
                                    ctypes.byref(x), ctypes.byref(y), ctypes.byref(child))
        screen = self.attributes(self.root)
        if not status or failed or screen is None:
            return None
        left, top = max(x.value, 0), max(y.value, 0)
        right = min(x.value + attributes.width, screen.width)
        bottom = min(y.value + attributes.height, screen.height)
        return (left, top, right - left, bottom - top) if right > left and bottom > top else None

    def picture(self, window: int | None = None) -> "Image | None":
        """What the screen shows of a window (or the whole screen); None when the window is
        gone or not shown."""
        self.x.XGrabServer(self.handle)
        try:
            if window is None:
                screen = self.attributes(self.root)
                place = (0, 0, screen.width, screen.height)
            else:
                place = self._place(window)
            if place is None:
                return None
            image, failed = self._call(self.x.XGetImage, self.root, *place, _ALL_PLANES,
                                       _Z_PIXMAP)
            if failed or not image:
                return None
        finally:
            self.x.XUngrabServer(self.handle)
            self.x.XSync(self.handle, 0)
        try:
            return Image.from_ximage(image.contents)
        finally:
            self.x.XDestroyImage(image)

    def send_delete_window(self, window: int) -> bool:
        """WM_DELETE_WINDOW to a window, as a window manager's close button sends it; False
        when the window is gone."""
        event = _XEvent()
        event.xclient.type = 33  # ClientMessage
        event.xclient.window = window
        event.xclient.message_type = self.atom("WM_PROTOCOLS")
        event.xclient.format = 32
        event.xclient.data[0] = self.atom("WM_DELETE_WINDOW")
        errors = _X_ERRORS[0]
        sent = self.x.XSendEvent(self.handle, window, 0, 0, ctypes.byref(event))
        self.x.XSync(self.handle, 0)  # the error for a missing window arrives here
        return bool(sent) and _X_ERRORS[0] == errors
