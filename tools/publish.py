#!/usr/bin/env python3
"""Publishes a release into the support server's VarnekITApp folder.

    publish.py --folder DIR [--program VarnekIT.exe [--new-root]] [--rollout N]
               [--client CLIENT.exe [--client-date D/M/YYYY]] [--root-certificate ROOT.pem ...]
    publish.py --show-version VarnekIT.exe
    publish.py --show-signer VarnekIT.exe [--root-certificate ROOT.pem ...]
    publish.py --show-root CHAIN.pem
    publish.py --fleet ACCESS_LOG [ACCESS_LOG...]

--program writes VersionVarnekIT.txt ("major.minor.revision", read from the executable's own
version resource) and New_VarnekIT.zip (the bare executable), and RolloutVarnekIT.txt: the
share of machines, in percent, that the automatic check offers the program to, --rollout N or
else 100, so an old share never holds a new release back by surprise. --rollout N alone changes
the share of the program already in the folder. A program's files are written package first,
then the share, then the version, so every program that sees the new version finds its package
and its share. --client writes
Varnek_TeamViewer.zip (the bare executable) and VersionTeamViewer.txt (its release date,
d/m/yyyy, today unless given). Every check is made before anything is written, and each file
is written to a temporary name in the folder and renamed into place, so a refused or broken
publish leaves the folder as it was.

--show-signer prints the subject of the certificate that signed a program, every part of it in
the certificate's order, as Windows writes it ("C=DK, O=Varnek IT ApS, CN=Varnek IT"), and on
a second line the SHA-256 of the root certificate its chain leads to ("root SHA-256: <hex>
(<the root's subject>)"). A signature often leaves its root out (Windows has it): then
--root-certificate names the root's certificate. --show-root prints the same for a chain of
certificates, such as a certificate authority's announced next root, whose hash a build names
in VARNEK_UPDATE_ROOTS or VARNEK_CLIENT_ROOTS.

An installed program takes an update only when it is signed by this same subject and chains to
its own root, or to one its build names in VARNEK_UPDATE_ROOTS. So a program is refused when
the folder's program is signed and the new one is not, is signed by another subject, or chains
to another root (unless --new-root says that the programs in use name that root): no customer
would install it.

Refused (exit 1): a file that is not a Windows program (no MZ/PE header), a program without a
version resource or whose version is not newer than the folder's, a program whose signer or
root does not match the folder's program's, a program made for another machine type than the
folder's (one folder serves one kind: 32-bit or 64-bit), a date that is not a real d/m/yyyy
date or lies after tomorrow, a share that is not a whole number from 0 to 100.

--fleet reads web server access logs, in the combined format (nginx, Apache) or IIS's W3C
format (gzip-compressed ones too), and prints, per program version, how many distinct client
addresses asked with that version's user agent in the last day and in the last week.
"""

from __future__ import annotations

import argparse
import base64
import datetime
import gzip
import hashlib
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
ROLLOUT_FILE = "RolloutVarnekIT.txt"

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
        self.machine, sections, optional_size = struct.unpack_from("<HH12xH", data, coff)
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
        # The certificate table: a file offset (not an address) and a size; 0 when unsigned.
        self.certificates = (0, 0)
        if directory_count > 4:
            self.certificates = self._unpack("<II", directories + 4 * 8)
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


MACHINE_NAMES = {0x14C: "32-bit x86", 0x8664: "64-bit x64", 0xAA64: "ARM64"}


def machine_name(machine: int) -> str:
    return f"{MACHINE_NAMES.get(machine, 'unknown')} ({machine:#06x})"


def check_machine(program: Path, current_package: Path) -> None:
    """Refuses a program of another machine type than the folder's program: every installed
    program refuses a package that is not of its own kind."""
    if not current_package.exists():
        return
    current = PeFile(read_file(current_package), str(current_package)).machine
    new = PeFile(read_file(program), str(program)).machine
    if new != current:
        raise PublishError(f"{program} is a {machine_name(new)} program, but the published "
                           f"program is {machine_name(current)}; every customer's program "
                           f"would refuse it")


# ---------------------------------------------------------------------------------------------
# Authenticode signer

WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0002
OID_SIGNED_DATA = "1.2.840.113549.1.7.2"
OID_SUBJECT_KEY_ID = "2.5.29.14"
OID_AUTHORITY_KEY_ID = "2.5.29.35"

# The short names Windows gives attribute types when it writes a name (CERT_X500_NAME_STR);
# any other type is written as OID.<dotted number>.
SHORT_NAMES = {
    "2.5.4.3": "CN",
    "2.5.4.4": "SN",
    "2.5.4.5": "SERIALNUMBER",
    "2.5.4.6": "C",
    "2.5.4.7": "L",
    "2.5.4.8": "S",
    "2.5.4.9": "STREET",
    "2.5.4.10": "O",
    "2.5.4.11": "OU",
    "2.5.4.12": "T",
    "2.5.4.42": "G",
    "2.5.4.43": "I",
    "1.2.840.113549.1.9.1": "E",
    "0.9.2342.19200300.100.1.25": "DC",
}
# A value holding one of these, or starting or ending with a blank, is written in quotes.
QUOTED_CHARACTERS = set(',+="\r\n<>#;')


class Der:
    """One DER element: its tag, its content, and the whole encoding."""

    def __init__(self, data: bytes, offset: int, end: int, where: str):
        if offset + 2 > end:
            raise PublishError(f"{where}: its signature is cut short")
        self.tag = data[offset]
        if self.tag & 0x1F == 0x1F:
            raise PublishError(f"{where}: its signature uses a tag form it should not")
        length = data[offset + 1]
        start = offset + 2
        if length & 0x80:
            count = length & 0x7F
            if count == 0 or count > 4 or start + count > end:
                raise PublishError(f"{where}: its signature is not DER")
            length = int.from_bytes(data[start:start + count], "big")
            start += count
        if start + length > end:
            raise PublishError(f"{where}: its signature is cut short")
        self.data, self.where = data, where
        self.start, self.end, self.encoded = start, start + length, data[offset:start + length]

    @property
    def content(self) -> bytes:
        return self.data[self.start:self.end]

    def children(self) -> list["Der"]:
        items, at = [], self.start
        while at < self.end:
            item = Der(self.data, at, self.end, self.where)
            items.append(item)
            at = item.end
        return items

    def expect(self, tag: int, what: str) -> "Der":
        if self.tag != tag:
            raise PublishError(f"{self.where}: its signature has no {what} where it should")
        return self


def oid_text(content: bytes) -> str:
    if not content:
        return ""
    parts, value = [], 0
    for byte in content[1:]:
        value = (value << 7) | (byte & 0x7F)
        if not byte & 0x80:
            parts.append(value)
            value = 0
    first = content[0]
    head = [min(first // 40, 2), first - 40 * min(first // 40, 2)]
    return ".".join(str(part) for part in head + parts)


def attribute_value(value: Der) -> str:
    content = value.content
    if value.tag == 0x0C:  # UTF8String
        return content.decode("utf-8", "replace")
    if value.tag == 0x1E:  # BMPString
        return content.decode("utf-16-be", "replace")
    if value.tag == 0x1C:  # UniversalString
        return content.decode("utf-32-be", "replace")
    if value.tag == 0x14:  # T61String: Windows reads it as UTF-8 when it can
        try:
            return content.decode("utf-8")
        except UnicodeDecodeError:
            return content.decode("latin-1")
    if value.tag in (0x12, 0x13, 0x16, 0x1A, 0x1B):  # Numeric, Printable, IA5, Visible, General
        return content.decode("latin-1")
    # Not a string: its encoding in hexadecimal.
    return "#" + value.encoded.hex().upper()


def quote_value(text: str) -> str:
    if (text == "" or text[0] in " \t" or text[-1] in " \t"
            or any(c in QUOTED_CHARACTERS for c in text)):
        return '"' + text.replace('"', '""') + '"'
    return text


def name_text(name: Der) -> str:
    """A Name written as Windows writes it: RDNs in the certificate's order, ", " between them,
    " + " between the attributes of one RDN, KEY=value."""
    rdns = []
    for rdn in name.expect(0x30, "name").children():
        attributes = []
        for attribute in rdn.expect(0x31, "name part").children():
            parts = attribute.expect(0x30, "name attribute").children()
            if len(parts) != 2:
                raise PublishError(f"{name.where}: a name attribute of its signer is damaged")
            oid = oid_text(parts[0].expect(0x06, "attribute type").content)
            key = SHORT_NAMES.get(oid, f"OID.{oid}")
            attributes.append(f"{key}={quote_value(attribute_value(parts[1]))}")
        rdns.append(" + ".join(attributes))
    return ", ".join(rdns)


class Certificate:
    """The parts of an X.509 certificate the signer checks read."""

    def __init__(self, element: Der):
        self.encoded = element.encoded
        items = element.expect(0x30, "certificate").children()[0].expect(0x30, "certificate")\
            .children()
        if items and items[0].tag == 0xA0:  # the version
            items = items[1:]
        if len(items) < 6:
            raise PublishError(f"{element.where}: a certificate is damaged")
        self.serial, self.issuer, self.subject = items[0].content, items[2], items[4]
        self.key_id = self.authority_key_id = None
        for extensions in (item for item in items[6:] if item.tag == 0xA3):
            for extension in extensions.children()[0].expect(0x30, "extensions").children():
                parts = extension.children()
                oid, value = oid_text(parts[0].content), parts[-1].content
                if oid == OID_SUBJECT_KEY_ID:
                    self.key_id = Der(value, 0, len(value), element.where).content
                elif oid == OID_AUTHORITY_KEY_ID:
                    self.authority_key_id = next(
                        (part.content for part in Der(value, 0, len(value), element.where)
                         .children() if part.tag == 0x80), None)

    @property
    def self_issued(self) -> bool:
        return self.issuer.encoded == self.subject.encoded

    @property
    def sha256(self) -> str:
        return hashlib.sha256(self.encoded).hexdigest()


def certificates_in(data: bytes, where: str) -> list[Certificate]:
    """The certificates of a file: PEM blocks, or DER certificates one after another."""
    text = data.decode("latin-1")
    blocks = re.findall(r"-----BEGIN CERTIFICATE-----(.*?)-----END CERTIFICATE-----", text,
                        re.S)
    try:
        if blocks:
            encoded = [base64.b64decode("".join(block.split()), validate=True)
                       for block in blocks]
        else:
            encoded, at = [], 0
            while at < len(data):
                element = Der(data, at, len(data), where)
                encoded.append(element.encoded)
                at = element.end
    except (ValueError, PublishError):
        raise PublishError(f"{where} holds no certificates in PEM or DER form") from None
    try:
        return [Certificate(Der(item, 0, len(item), where)) for item in encoded]
    except (IndexError, ValueError):
        raise PublishError(f"{where}: a certificate in it is damaged") from None


class Root:
    """The root a signer's chain leads to: its certificate when known, else the name of the
    certificate authority the chain stops at."""

    def __init__(self, certificate: Certificate | None, issuer: str):
        self.certificate, self.issuer = certificate, issuer

    @property
    def sha256(self) -> str | None:
        return self.certificate.sha256 if self.certificate else None

    def __str__(self) -> str:
        if self.certificate:
            return f"{self.certificate.sha256} ({name_text(self.certificate.subject)})"
        return (f"unknown: the chain leads to {self.issuer}, whose certificate is not given "
                f"(--root-certificate FILE names it)")


def chain_root(leaf: Certificate, certificates: list[Certificate]) -> Root:
    """Follows the issuers from the leaf up to a self-issued certificate, among the given
    certificates. Of several with the issuer's name, the one with the issuer's key (authority key
    identifier) is taken, and a self-issued one before others. Signatures are not verified:
    this is the chain as the certificates describe it, which Windows builds alike where one
    certificate authority has one certificate per name and key."""
    current, visited = leaf, {leaf.encoded}
    while not current.self_issued:
        candidates = [c for c in certificates
                      if c.subject.encoded == current.issuer.encoded and c.encoded not in visited]
        if current.authority_key_id is not None:
            candidates = [c for c in candidates
                          if c.key_id in (None, current.authority_key_id)]
        if not candidates:
            return Root(None, name_text(current.issuer))
        current = sorted(candidates, key=lambda c: not c.self_issued)[0]
        visited.add(current.encoded)
    return Root(current, name_text(current.subject))


class Signer:
    """The signer of a program: its certificate and the certificates its signature carries."""

    def __init__(self, certificate: Certificate, carried: list[Certificate]):
        self.certificate, self.carried = certificate, carried

    @property
    def subject(self) -> str:
        return name_text(self.certificate.subject)

    def root(self, extra: list[Certificate] = ()) -> Root:
        return chain_root(self.certificate, self.carried + list(extra))


def program_signer(path: Path) -> Signer | None:
    """The signer of the program (its first signature), or None when it is not signed. The
    signature itself is not verified here."""
    pe = PeFile(read_file(path), str(path))
    try:
        return _program_signer(pe, str(path))
    except (IndexError, ValueError):
        # An element missing where the structure needs one.
        raise PublishError(f"{path}: its signature is damaged") from None


def signer_subject(path: Path) -> str | None:
    """The subject of the certificate that signed the program, or None when it is not signed."""
    signer = program_signer(path)
    return signer.subject if signer else None


def _program_signer(pe: PeFile, where: str) -> Signer | None:
    offset, size = pe.certificates
    if not offset or not size:
        return None
    data = pe.data
    if offset + 8 > len(data) or offset + size > len(data):
        raise PublishError(f"{where}: its certificate table is cut short")
    length, _, kind = struct.unpack_from("<IHH", data, offset)
    if kind != WIN_CERT_TYPE_PKCS_SIGNED_DATA or length < 8 or length > size:
        raise PublishError(f"{where}: its certificate table holds no Authenticode signature")
    content_info = Der(data, offset + 8, offset + length, where).expect(0x30, "content")
    parts = content_info.children()
    if (len(parts) < 2 or oid_text(parts[0].expect(0x06, "content type").content)
            != OID_SIGNED_DATA):
        raise PublishError(f"{where}: its signature is not PKCS#7 signed data")
    signed_data = parts[1].expect(0xA0, "signed data").children()[0].expect(0x30, "signed data")
    fields = signed_data.children()
    certificates = [field for field in fields if field.tag == 0xA0]
    signer_infos = [field for field in fields if field.tag == 0x31]
    if not certificates or not signer_infos or not signer_infos[-1].children():
        raise PublishError(f"{where}: its signature names no signer or holds no certificate")
    signer = signer_infos[-1].children()[0].expect(0x30, "signer")
    sid = signer.children()[1]
    if sid.tag != 0x30:
        raise PublishError(f"{where}: its signer is not named by issuer and serial number")
    issuer, serial = sid.children()[:2]
    carried = []
    for element in certificates[0].children():
        if element.tag != 0x30:
            continue
        try:
            carried.append(Certificate(element))
        except PublishError:
            raise PublishError(f"{where}: a certificate of its signature is damaged") from None
    for certificate in carried:
        if certificate.serial == serial.content and certificate.issuer.encoded == issuer.encoded:
            return Signer(certificate, carried)
    raise PublishError(f"{where}: its signature does not hold the signer's certificate")


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


def check_signer(program: Path, current_package: Path, new_root: bool = False,
                 root_certificates: list[Certificate] = ()) -> None:
    """Refuses a program that the installed programs would refuse: once the folder's program
    is signed, every installed copy takes only updates signed by the same subject, chaining to
    its own root (or to a root its build names in VARNEK_UPDATE_ROOTS: then the technician says
    --new-root)."""
    if not current_package.exists():
        return
    current = program_signer(current_package)
    if current is None:
        return
    new = program_signer(program)
    if new is None:
        raise PublishError(f"{program} is not signed, but the published program is signed by "
                           f"{current.subject}; every customer's program would refuse it. Sign "
                           f"it with the certificate of {current.subject}")
    if new.subject != current.subject:
        raise PublishError(f"{program} is signed by {new.subject}, but the published program is "
                           f"signed by {current.subject}; every customer's program would refuse "
                           f"it. Sign it with a certificate of {current.subject} (a new version "
                           f"signed by another subject reaches customers only through the "
                           f"installer)")
    if new_root:
        return
    current_root, root = current.root(root_certificates), new.root(root_certificates)
    if current_root.sha256 is None or root.sha256 is None:
        which, unknown = ((current_package, current_root) if current_root.sha256 is None
                          else (program, root))
        raise PublishError(f"the root of {which} is {unknown}, so the roots cannot be "
                           f"compared")
    if root.sha256 != current_root.sha256:
        raise PublishError(f"{program} chains to the root {root}, but the published program to "
                           f"{current_root}; every customer's program would refuse it, unless "
                           f"the programs in use name the new root in VARNEK_UPDATE_ROOTS. Once "
                           f"they do, publish it with --new-root (else it reaches customers only "
                           f"through the installer)")


def signer_lines(signer: Signer, root_certificates: list[Certificate] = ()) -> str:
    """The signer's subject on one line, and its root's hash on the next."""
    return f"{signer.subject}\nroot SHA-256: {signer.root(root_certificates)}"


def parse_share(text: str) -> int:
    if not re.fullmatch(r"[0-9]{1,3}", text) or int(text) > 100:
        raise PublishError(f"the share {text!r} is not a whole number from 0 to 100")
    return int(text)


def share_text(share: int) -> str:
    return "offered to all machines" if share == 100 else f"offered to {share} % of machines"


def publish(folder: Path, program: Path | None = None, client: Path | None = None,
            client_date: str | None = None, rollout: str | None = None,
            new_root: bool = False, root_certificates: list[Certificate] = ()) -> list[str]:
    """Checks everything, then writes; returns a line per published part."""
    if program is None and client is None and rollout is None:
        raise PublishError("nothing to publish: give --program, --rollout and/or --client")
    if program is None and new_root:
        raise PublishError("--new-root needs --program")
    if client is None and client_date is not None:
        raise PublishError("--client-date needs --client")
    share = parse_share(rollout) if rollout is not None else 100
    folder = Path(folder)
    if folder.exists() and not folder.is_dir():
        raise PublishError(f"{folder} is not a folder")
    writes: list[tuple[str, bytes]] = []
    report = []
    if program is None and rollout is not None:
        version_file = folder / PROGRAM_VERSION_FILE
        if not version_file.exists():
            raise PublishError(f"no program is published in {folder}: give --program with "
                               "--rollout")
        version = parse_version(read_file(version_file).decode("ascii", "replace"),
                                str(version_file))
        writes.append((ROLLOUT_FILE, str(share).encode("ascii")))
    if program is not None:
        version = program_version(program)
        current_file = folder / PROGRAM_VERSION_FILE
        if current_file.exists():
            current_text = read_file(current_file).decode("ascii", "replace")
            current = parse_version(current_text, str(current_file))
            if version <= current:
                raise PublishError(f"{program} is version {format_version(version)}, not newer "
                                   f"than the published {format_version(current)}")
        check_machine(program, folder / PROGRAM_PACKAGE)
        check_signer(program, folder / PROGRAM_PACKAGE, new_root, root_certificates)
        writes.append((PROGRAM_PACKAGE, read_file(program)))
        writes.append((ROLLOUT_FILE, str(share).encode("ascii")))
        writes.append((PROGRAM_VERSION_FILE, format_version(version).encode("ascii")))
        subject = signer_subject(program)
        signer = f"signed by {subject}" if subject is not None else "not signed"
        report.append(f"VarnekIT {format_version(version)} ({signer})")
    if rollout is not None:
        report.append(f"the share of VarnekIT {format_version(version)}: {share_text(share)}")
    if client is not None:
        check_windows_program(client)
        today = datetime.date.today()
        date = parse_date(client_date) if client_date is not None else today
        # Every program takes a date at most a day ahead (another time zone) for a date.
        if date > today + datetime.timedelta(days=1):
            raise PublishError(f"the client's date {format_date(date)} lies after tomorrow; "
                               "every customer's program would take it for no date")
        writes.append((CLIENT_PACKAGE, read_file(client)))
        writes.append((CLIENT_VERSION_FILE, format_date(date).encode("ascii")))
        report.append(f"client of {format_date(date)}")
    folder.mkdir(parents=True, exist_ok=True)
    # The package and the share before the version file: a program that sees the new version
    # finds the new package and the share that goes with it.
    for name, data in writes:
        write_atomically(folder, name, data)
    return report


# ---------------------------------------------------------------------------------------------
# The fleet, from the web server's access log

# The program's user agent: "VarnekIT/1.0.3 (Windows NT 10.0; x64; i686 build)"; programs
# from before it sent "VarnekIT" alone.
USER_AGENT = re.compile(r"VarnekIT(?:/(\S+))?(?: \(.*\))?")
NO_VERSION = "(no version)"
COMBINED = re.compile(r'(\S+) \S+ \S+ \[([^\]]+)\] "(?:[^"\\]|\\.)*" \S+ \S+ '
                      r'"(?:[^"\\]|\\.)*" "((?:[^"\\]|\\.)*)"')
MONTHS = {name: number for number, name in enumerate(
    "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split(), 1)}


def program_version_of(agent: str) -> str | None:
    """The program version a user agent names, NO_VERSION for the program's old bare name, or
    None for any other client (a browser opening the login page, say)."""
    match = USER_AGENT.fullmatch(agent)
    if not match:
        return None
    return match.group(1) or NO_VERSION


def combined_time(text: str) -> datetime.datetime | None:
    """10/Oct/2026:13:55:36 +0200, with English month names whatever the locale."""
    match = re.fullmatch(r"(\d{1,2})/(\w{3})/(\d{4}):(\d\d):(\d\d):(\d\d) ([+-])(\d\d)(\d\d)",
                         text)
    if not match or match.group(2) not in MONTHS:
        return None
    day, _, year, hour, minute, second, sign, zone_hours, zone_minutes = match.groups()
    offset = datetime.timedelta(hours=int(zone_hours), minutes=int(zone_minutes))
    try:
        return datetime.datetime(int(year), MONTHS[match.group(2)], int(day), int(hour),
                                 int(minute), int(second),
                                 tzinfo=datetime.timezone(offset if sign == "+" else -offset))
    except ValueError:
        return None


def read_access_log(path: Path):
    """(time, client address, user agent) of every request the log holds, and the count of the
    lines that are no request in either format."""
    opener = gzip.open if path.name.endswith(".gz") else open
    requests, skipped, fields = [], 0, None
    try:
        with opener(path, "rt", encoding="utf-8", errors="replace") as log:
            for line in log:
                line = line.rstrip("\r\n")
                if line.startswith("#"):
                    # IIS: the columns of the lines that follow (again after each restart).
                    if line.startswith("#Fields:"):
                        fields = line.split()[1:]
                    continue
                if not line:
                    continue
                request = (w3c_request(line, fields) if fields is not None
                           else combined_request(line))
                if request is None:
                    skipped += 1
                else:
                    requests.append(request)
    except (OSError, EOFError) as error:
        raise PublishError(f"cannot read {path}: {error}") from None
    return requests, skipped


def combined_request(line: str):
    match = COMBINED.match(line)
    when = combined_time(match.group(2)) if match else None
    if when is None:
        return None
    agent = re.sub(r"\\(.)", r"\1", match.group(3))
    return when, match.group(1), agent


def w3c_request(line: str, fields: list[str]):
    values = line.split(" ")
    if len(values) != len(fields):
        return None
    row = dict(zip(fields, values))
    try:
        # IIS writes its times in UTC, and a user agent's blanks as "+".
        when = datetime.datetime.strptime(row["date"] + " " + row["time"], "%Y-%m-%d %H:%M:%S")
        return (when.replace(tzinfo=datetime.timezone.utc), row["c-ip"],
                row["cs(User-Agent)"].replace("+", " "))
    except (KeyError, ValueError):
        return None


def fleet(logs: list[Path], now: datetime.datetime | None = None) -> list[str]:
    """The table of program versions and their distinct client addresses in the last day and
    the last week before `now`."""
    now = now or datetime.datetime.now(datetime.timezone.utc)
    day, week = now - datetime.timedelta(days=1), now - datetime.timedelta(days=7)
    seen: dict[str, tuple[set, set]] = {}
    understood = skipped = 0
    for path in logs:
        requests, not_understood = read_access_log(Path(path))
        understood += len(requests)
        skipped += not_understood
        for when, address, agent in requests:
            version = program_version_of(agent)
            if version is None or not week < when <= now:
                continue
            last_day, last_week = seen.setdefault(version, (set(), set()))
            last_week.add(address)
            if when > day:
                last_day.add(address)
    if understood == 0:
        raise PublishError("no line of " + ", ".join(map(str, logs)) + " is a request in the "
                           "combined format or IIS's W3C format")

    def order(version: str):
        match = re.fullmatch(r"\d+(\.\d+)*", version)
        # Newest first, then what is no version number, the old bare name last.
        return ((0, [-int(part) for part in version.split(".")]) if match
                else (2 if version == NO_VERSION else 1, version))

    lines = [f"{'version':<16} {'last day':>9} {'last week':>10}"]
    for version in sorted(seen, key=order):
        last_day, last_week = seen[version]
        lines.append(f"{version:<16} {len(last_day):>9} {len(last_week):>10}")
    if not seen:
        lines.append("(no request of the program in the last week)")
    if skipped:
        lines.append(f"({skipped} {'line' if skipped == 1 else 'lines'} in neither format left "
                     "out)")
    return lines


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--folder", type=Path, help="the support server's VarnekITApp folder")
    parser.add_argument("--program", type=Path, help="the built VarnekIT.exe")
    parser.add_argument("--client", type=Path, help="the remote-control client's executable")
    parser.add_argument("--client-date", help="the client's release date, d/m/yyyy (today)")
    parser.add_argument("--rollout", metavar="N",
                        help="the share of machines, 0 to 100 %%, the program is offered to "
                        "(with --program: 100 unless given)")
    parser.add_argument("--fleet", type=Path, nargs="+", metavar="ACCESS_LOG",
                        help="print the program versions in web server access logs and publish "
                        "nothing")
    parser.add_argument("--show-version", type=Path, metavar="EXE",
                        help="print the version of a program and publish nothing")
    parser.add_argument("--show-signer", type=Path, metavar="EXE",
                        help="print the subject that signed a program and its root's SHA-256, "
                             "and publish nothing")
    parser.add_argument("--show-root", metavar="CERTS",
                        help="print the SHA-256 of the root of a certificate chain (PEM or DER; "
                             "- for standard input) and publish nothing")
    parser.add_argument("--root-certificate", type=Path, action="append", default=[],
                        metavar="FILE", help="a root certificate (PEM or DER) that a signature "
                                             "leaves out (may be given more than once)")
    parser.add_argument("--new-root", action="store_true",
                        help="publish a program whose root differs from the published one's "
                             "(the programs in use name it in VARNEK_UPDATE_ROOTS)")
    args = parser.parse_args(argv)
    try:
        if args.fleet:
            for line in fleet(args.fleet):
                print(line)
            return 0
        roots = [certificate for path in args.root_certificate
                 for certificate in certificates_in(read_file(path), str(path))]
        if args.show_version:
            print(format_version(program_version(args.show_version)))
            return 0
        if args.show_signer:
            signer = program_signer(args.show_signer)
            if signer is None:
                print(f"publish: {args.show_signer} is not signed", file=sys.stderr)
                return 1
            sys.stdout.reconfigure(encoding="utf-8")
            print(signer_lines(signer, roots))
            return 0
        if args.show_root:
            where = "standard input" if args.show_root == "-" else args.show_root
            data = (sys.stdin.buffer.read() if args.show_root == "-"
                    else read_file(Path(args.show_root)))
            chain = certificates_in(data, where)
            if not chain:
                raise PublishError(f"{where} holds no certificate")
            # The leaf: the certificate that issued none of the others.
            leaf = next((c for c in chain if not any(
                other is not c and other.issuer.encoded == c.subject.encoded
                for other in chain)), chain[0])
            root = chain_root(leaf, chain + roots)
            sys.stdout.reconfigure(encoding="utf-8")
            print(f"root SHA-256: {root}")
            return 0 if root.sha256 else 1
        if args.folder is None:
            parser.error("--folder is required")
        for line in publish(args.folder, args.program, args.client, args.client_date,
                            args.rollout, args.new_root, roots):
            print(f"published {line} in {args.folder}")
        return 0
    except PublishError as error:
        print(f"publish: {error}; nothing was changed", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
