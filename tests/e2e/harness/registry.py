"""The registry of a test's prefix, read back exactly: regedit's UTF-16 export parsed into
values, and reg add / reg delete."""

from __future__ import annotations

import re
import tempfile
from dataclasses import dataclass
from pathlib import Path

from harness.common import HarnessError


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


class Registry:
    """The registry part of a session (mixed into Session; needs run_wine and temp)."""

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
