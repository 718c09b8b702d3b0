#!/usr/bin/env python3
"""Publishes a release into the support server's VarnekITApp folder.

    publish.py --folder DIR [--program VarnekIT.exe] [--client CLIENT.exe [--client-date D/M/YYYY]]
    publish.py --show-version VarnekIT.exe

--program writes VersionVarnekIT.txt ("major.minor.revision", read from the executable's own
version resource) and New_VarnekIT.zip (the bare executable). --client writes
Varnek_TeamViewer.zip (the bare executable) and VersionTeamViewer.txt (its release date,
d/m/yyyy, today unless given). Every check is made before anything is written, and each file
is written to a temporary name in the folder and renamed into place, so a refused or broken
publish leaves the folder as it was.

Refused (exit 1): a file that is not a Windows program (no MZ/PE header), a program without a
version resource or whose version is not newer than the folder's, a date that is not a real
d/m/yyyy date.
"""

from __future__ import annotations

import argparse
import datetime
import os
import re
import struct
import sys
import tempfile
from pathlib import Path

PROGRAM_VERSION_FILE = "VersionVarnekIT.txt"
PROGRAM_PACKAGE = "New_VarnekIT.zip"
CLIENT_VERSION_FILE = "VersionTeamViewer.txt"
CLIENT_PACKAGE = "Varnek_TeamViewer.zip"

RT_VERSION = 16
FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD


class PublishError(Exception):
    """The release cannot be published; the message says why."""


# ---------------------------------------------------------------------------------------------
# Portable executable


class PeFile:
    """The parts of a PE image needed to find its resources."""

    def __init__(self, data: bytes, name: str):
        self.data = data
        self.name = name
        if len(data) < 0x40 or data[:2] != b"MZ":
            raise PublishError(f"{name} is not a Windows program (no MZ header)")
        (pe_offset,) = struct.unpack_from("<I", data, 0x3C)
        if pe_offset + 24 > len(data) or data[pe_offset:pe_offset + 4] != b"PE\0\0":
            raise PublishError(f"{name} is not a Windows program (no PE header)")
        coff = pe_offset + 4
        sections, optional_size = struct.unpack_from("<H12xH", data, coff + 2)
        optional = coff + 20
        (magic,) = self._unpack("<H", optional)
        if magic == 0x10B:
            directories = optional + 96
        elif magic == 0x20B:
            directories = optional + 112
        else:
            raise PublishError(f"{name} has an unknown optional header ({magic:#x})")
        (directory_count,) = self._unpack("<I", directories - 4)
        self.resource_rva = 0
        if directory_count > 2:
            self.resource_rva, _ = self._unpack("<II", directories + 2 * 8)
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            virtual_size, virtual_address, raw_size, raw_offset = self._unpack(
                "<IIII", table + i * 40 + 8)
            self.sections.append((virtual_address, max(virtual_size, raw_size), raw_offset,
                                  raw_size))

    def _unpack(self, layout: str, offset: int) -> tuple:
        if offset < 0 or offset + struct.calcsize(layout) > len(self.data):
            raise PublishError(f"{self.name} is cut short or damaged")
        return struct.unpack_from(layout, self.data, offset)

    def offset_of(self, rva: int) -> int:
        for virtual_address, size, raw_offset, raw_size in self.sections:
            if virtual_address <= rva < virtual_address + size and rva - virtual_address < raw_size:
                return raw_offset + rva - virtual_address
        raise PublishError(f"{self.name}: address {rva:#x} lies in no section")

    def resource(self, type_id: int) -> bytes | None:
        """The first resource of a type (any name, any language), or None."""
        if not self.resource_rva:
            return None
        root = self.offset_of(self.resource_rva)
        entry = self._find_entry(root, root, type_id)
        # Below the type: the first name, then the first language.
        for _ in range(2):
            if entry is None or not entry & 0x80000000:
                return None
            entry = self._first_entry(root, root + (entry & 0x7FFFFFFF))
        if entry is None or entry & 0x80000000:
            return None
        data_rva, size = self._unpack("<II", root + entry)
        start = self.offset_of(data_rva)
        if start + size > len(self.data):
            raise PublishError(f"{self.name}: its version resource is cut short")
        return self.data[start:start + size]

    def _entries(self, root: int, directory: int):
        named, numbered = self._unpack("<HH", directory + 12)
        for i in range(named + numbered):
            yield self._unpack("<II", directory + 16 + i * 8)

    def _find_entry(self, root: int, directory: int, ident: int) -> int | None:
        for name, target in self._entries(root, directory):
            if name == ident:
                return target
        return None

    def _first_entry(self, root: int, directory: int) -> int | None:
        for _, target in self._entries(root, directory):
            return target
        return None


def program_version(path: Path) -> tuple[int, int, int]:
    """(major, minor, revision) of the file version in the program's VS_FIXEDFILEINFO."""
    pe = PeFile(read_file(path), str(path))
    block = pe.resource(RT_VERSION)
    if block is None:
        raise PublishError(f"{path} has no version resource")
    # VS_VERSIONINFO: wLength, wValueLength, wType, L"VS_VERSION_INFO\0", padding to 4 bytes,
    # then the VS_FIXEDFILEINFO.
    key = "VS_VERSION_INFO\0".encode("utf-16-le")
    if len(block) < 6 + len(key) or block[6:6 + len(key)] != key:
        raise PublishError(f"{path}: its version resource does not start with VS_VERSION_INFO")
    fixed = (6 + len(key) + 3) & ~3
    if fixed + 52 > len(block):
        raise PublishError(f"{path}: its version resource is cut short")
    signature, _, version_ms, version_ls = struct.unpack_from("<IIII", block, fixed)
    if signature != FIXED_FILE_INFO_SIGNATURE:
        raise PublishError(f"{path}: its version resource has no fixed file information")
    return version_ms >> 16, version_ms & 0xFFFF, version_ls >> 16


def check_windows_program(path: Path) -> None:
    PeFile(read_file(path), str(path))


# ---------------------------------------------------------------------------------------------
# Versions and dates


def parse_version(text: str, where: str) -> tuple[int, int, int]:
    match = re.fullmatch(r"(\d+)\.(\d+)\.(\d+)", text.strip())
    if not match:
        raise PublishError(f"{where} holds {text!r}, not a major.minor.revision version")
    return tuple(int(part) for part in match.groups())


def format_version(version: tuple[int, int, int]) -> str:
    return ".".join(str(part) for part in version)


def parse_date(text: str) -> datetime.date:
    match = re.fullmatch(r"(\d{1,2})/(\d{1,2})/(\d{4})", text)
    if not match:
        raise PublishError(f"the client's date {text!r} is not a d/m/yyyy date")
    day, month, year = (int(part) for part in match.groups())
    try:
        return datetime.date(year, month, day)
    except ValueError:
        raise PublishError(f"the client's date {text!r} is not a real date") from None


def format_date(date: datetime.date) -> str:
    return f"{date.day}/{date.month}/{date.year}"


# ---------------------------------------------------------------------------------------------
# Files


def read_file(path: Path) -> bytes:
    try:
        return Path(path).read_bytes()
    except OSError as error:
        raise PublishError(f"cannot read {path}: {error.strerror}") from None


def write_atomically(folder: Path, name: str, data: bytes) -> None:
    handle, temporary = tempfile.mkstemp(dir=folder, prefix=f".{name}.", suffix=".tmp")
    try:
        with os.fdopen(handle, "wb") as file:
            file.write(data)
            file.flush()
            os.fsync(file.fileno())
        os.chmod(temporary, 0o644)
        os.replace(temporary, folder / name)
    except BaseException:
        if os.path.exists(temporary):
            os.unlink(temporary)
        raise


def publish(folder: Path, program: Path | None = None, client: Path | None = None,
            client_date: str | None = None) -> list[str]:
    """Checks everything, then writes; returns a line per published part."""
    if program is None and client is None:
        raise PublishError("nothing to publish: give --program and/or --client")
    if client is None and client_date is not None:
        raise PublishError("--client-date needs --client")
    folder = Path(folder)
    if folder.exists() and not folder.is_dir():
        raise PublishError(f"{folder} is not a folder")
    writes: list[tuple[str, bytes]] = []
    report = []
    if program is not None:
        version = program_version(program)
        current_file = folder / PROGRAM_VERSION_FILE
        if current_file.exists():
            current_text = read_file(current_file).decode("ascii", "replace")
            current = parse_version(current_text, str(current_file))
            if version <= current:
                raise PublishError(f"{program} is version {format_version(version)}, not newer "
                                   f"than the published {format_version(current)}")
        writes.append((PROGRAM_PACKAGE, read_file(program)))
        writes.append((PROGRAM_VERSION_FILE, format_version(version).encode("ascii")))
        report.append(f"VarnekIT {format_version(version)}")
    if client is not None:
        check_windows_program(client)
        date = parse_date(client_date) if client_date is not None else datetime.date.today()
        writes.append((CLIENT_PACKAGE, read_file(client)))
        writes.append((CLIENT_VERSION_FILE, format_date(date).encode("ascii")))
        report.append(f"client of {format_date(date)}")
    folder.mkdir(parents=True, exist_ok=True)
    # The package before its version file: a client that sees the new version finds the new
    # package.
    for name, data in writes:
        write_atomically(folder, name, data)
    return report


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--folder", type=Path, help="the support server's VarnekITApp folder")
    parser.add_argument("--program", type=Path, help="the built VarnekIT.exe")
    parser.add_argument("--client", type=Path, help="the remote-control client's executable")
    parser.add_argument("--client-date", help="the client's release date, d/m/yyyy (today)")
    parser.add_argument("--show-version", type=Path, metavar="EXE",
                        help="print the version of a program and publish nothing")
    args = parser.parse_args(argv)
    try:
        if args.show_version:
            print(format_version(program_version(args.show_version)))
            return 0
        if args.folder is None:
            parser.error("--folder is required")
        for line in publish(args.folder, args.program, args.client, args.client_date):
            print(f"published {line} in {args.folder}")
        return 0
    except PublishError as error:
        print(f"publish: {error}; nothing was changed", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
