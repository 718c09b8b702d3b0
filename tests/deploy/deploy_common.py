"""What the release tools' tests share: the repository, the built files CMake names, and the
signing tools they need (missing ones skip a test, as on a machine without them)."""

import os
import shutil
import unittest
from pathlib import Path

SOURCE = Path(os.environ.get("VARNEK_SOURCE_DIR", Path(__file__).resolve().parents[2]))


def required_path(variable: str) -> Path:
    """The built file the variable names; the test is skipped where there is none."""
    value = os.environ.get(variable)
    if not value or not Path(value).is_file():
        raise unittest.SkipTest(f"{variable} does not name a built file")
    return Path(value)


def require_signing_tools() -> None:
    for tool in ("openssl", "osslsigncode"):
        if not shutil.which(tool):
            raise unittest.SkipTest(f"{tool} is not installed")
