"""End-to-end harness: runs Windows programs under Wine on a private Xvfb display and drives
them from outside the way a user would (real clicks on the tray, keys, screenshots, the UI
driver for what is inside windows).

Each test gets a fresh Wine prefix copied from a template made once per build directory, its
own X display, and a temporary folder that is removed at the end. Everything the harness
starts is remembered by process id and ended by that id; the test's own wineserver is stopped
with `wineserver -k` for its own prefix only.

The modules, by concern:
    common    its error, waiting for a condition, host tools, the build's paths and port
    wine      Wine's environment, the prefix template, processes ended by their ids
    x11       Xvfb, and the harness's own Xlib connection: windows and pictures
    display   a session's windows, pointer, keys and screenshots
    ui        Wine's tray window and the popup menus as the screen shows them (OCR)
    uidriver  the UI driver: texts, controls, message boxes, processes inside Wine
    registry  the prefix's registry, read back exactly
    server    the support server (tools/support_server.py)
    session   a test's prefix, display and processes; E2ETestCase

Tests import this package and use the names below; the command line makes the template:
    python3 -m harness make-template DIR     (from tests/e2e)
"""

from harness.common import (ENV_REFERENCE_TRAY, SUPPORT_BASE, SUPPORT_PORT, HarnessError,
                            program_exe, reference_tray, source_dir, tools_dir, wait_until)
from harness.registry import RegValue, parse_reg_export
from harness.server import SupportServer
from harness.session import E2ETestCase, Session
from harness.ui import SEPARATOR, TRAY_TITLE, PopupMenu, SystemTray
from harness.wine import PROGRAM_FOLDER, TOOLS_FOLDER, Process, make_template
from harness.x11 import Image, XWindow

__all__ = [
    "ENV_REFERENCE_TRAY", "SUPPORT_BASE", "SUPPORT_PORT", "HarnessError", "program_exe",
    "reference_tray", "source_dir", "tools_dir", "wait_until", "RegValue", "parse_reg_export",
    "SupportServer", "E2ETestCase", "Session", "SEPARATOR", "TRAY_TITLE", "PopupMenu",
    "SystemTray", "PROGRAM_FOLDER", "TOOLS_FOLDER", "Process", "make_template", "Image",
    "XWindow"]
