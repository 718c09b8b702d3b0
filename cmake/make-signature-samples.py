#!/usr/bin/env python3
"""Makes the signed programs the Win32 signature tests check, in a folder of their own:

    make-signature-samples.py PROGRAM FOLDER

Throwaway self-signed code-signing certificates are made with openssl and copies of PROGRAM
signed with them by osslsigncode. For each NAME.exe the folder holds NAME.subject (the
signer's subject as the system should write it, UTF-8, no line break) and NAME.show-signer
(what tools/publish.py --show-signer printed for it, or its message when it refused).
The certificates and keys are left in FOLDER/keys.
"""

import shutil
import struct
import subprocess
import sys
from pathlib import Path

PUBLISH = Path(__file__).resolve().parents[1] / "tools" / "publish.py"
sys.path.insert(0, str(PUBLISH.parent))
import publish  # noqa: E402  (its reading of the signature's certificates)

# name: (openssl -subj, the subject as Windows writes it, fresh key of its own)
COMPANY = "/C=DK/O=Varnek IT ApS/CN=Varnek IT"
SIGNERS = {
    "company": (COMPANY, "C=DK, O=Varnek IT ApS, CN=Varnek IT"),
    # The same subject with a new key: a renewed certificate.
    "renewed": (COMPANY, "C=DK, O=Varnek IT ApS, CN=Varnek IT"),
    # The same common name, another organisation.
    "impostor": ("/C=DK/O=Varnek IT Holding/CN=Varnek IT",
                 "C=DK, O=Varnek IT Holding, CN=Varnek IT"),
    # Values the short form must quote, letters outside ASCII, every short name, and two
    # attributes in one RDN (written in their encoded order, which DER sorts). (An
    # attribute type without one is left out: Wine 8 writes its bare number, where Windows
    # writes "OID." before it.)
    "quoting": ("/C=DK/ST=Region Hovedstaden/L=K\u00f8benhavn/street= N\u00f8rregade 1"
                "/O=Varnek IT, \"Drift\" ApS/OU=Support\\+Salg/OU=a=b;c<d>#e"
                "/CN=\u00c6bler & \u00d8l/emailAddress=drift@varnek.example"
                "/DC=example/serialNumber=12345678/title=Tekniker+GN=Ole/initials=OV"
                "/SN=Hansen",
                "C=DK, S=Region Hovedstaden, L=K\u00f8benhavn, STREET=\" N\u00f8rregade 1\", "
                "O=\"Varnek IT, \"\"Drift\"\" ApS\", OU=\"Support+Salg\", OU=\"a=b;c<d>#e\", "
                "CN=\u00c6bler & \u00d8l, E=drift@varnek.example, DC=example, "
                "SERIALNUMBER=12345678, G=Ole + T=Tekniker, I=OV, SN=Hansen"),
}


def run(*args: object) -> str:
    result = subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        sys.exit(f"{args[0]} failed ({result.returncode}):\n{result.stdout}{result.stderr}")
    return result.stdout


# openssl's settings: values encoded as certificate authorities encode them, PrintableString where the value allows
# it and UTF8String otherwise (string_mask 0x2002). Wine 8 quotes some UTF8String values with
# a blank inside them (its test for a trailing blank looks at the wrong character); Windows
# does not.
OPENSSL_CONFIG = """[req]
distinguished_name = dn
string_mask = MASK:0x2002
[dn]
"""


def make_certificate(keys: Path, name: str, subject: str) -> tuple[Path, Path]:
    cert, key, config = keys / f"{name}.pem", keys / f"{name}-key.pem", keys / "openssl.cnf"
    config.write_text(OPENSSL_CONFIG)
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-utf8",
        "-config", config, "-multivalue-rdn", "-subj", subject, "-keyout", key, "-out", cert,
        "-addext", "keyUsage=critical,digitalSignature", "-addext", "extendedKeyUsage=codeSigning")
    return cert, key


def sign(source: Path, target: Path, cert: Path, key: Path) -> None:
    target.unlink(missing_ok=True)
    run("osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256", "-n", "VarnekIT",
        "-in", source, "-out", target)


def code_offset(program: bytes) -> int:
    """The file offset of the program's entry point, in its code."""
    pe = publish.PeFile(program, "the program")
    (pe_offset,) = struct.unpack_from("<I", program, 0x3C)
    (entry,) = struct.unpack_from("<I", program, pe_offset + 24 + 16)
    return pe.offset_of(entry)


def put_certificate_first(program: Path, subject: str) -> None:
    """Moves the certificate of `subject` to the front of the signature's certificates. They
    are not part of what is signed, so the signature stays valid; only a reader that takes
    the file's first certificate for the signer's is misled."""
    data = bytearray(program.read_bytes())
    pe = publish.PeFile(bytes(data), str(program))
    offset, size = pe.certificates
    content_info = publish.Der(pe.data, offset + 8, offset + size, str(program))
    signed_data = content_info.children()[1].children()[0]
    certificates = next(field for field in signed_data.children() if field.tag == 0xA0)
    entries = certificates.children()

    def subject_of(entry):
        items = entry.children()[0].children()
        return publish.name_text(items[5] if items[0].tag == 0xA0 else items[4])

    first = [entry for entry in entries if subject_of(entry) == subject]
    rest = [entry for entry in entries if subject_of(entry) != subject]
    if len(first) != 1 or not rest:
        sys.exit(f"{program}: no certificate of {subject} to put before the signer's")
    data[certificates.start:certificates.end] = b"".join(e.encoded for e in first + rest)
    program.write_bytes(bytes(data))


def show_signer(program: Path) -> str:
    result = subprocess.run([sys.executable, PUBLISH, "--show-signer", program],
                            capture_output=True, text=True, encoding="utf-8", timeout=60)
    return (result.stdout if result.returncode == 0 else result.stderr).rstrip("\n")


def main() -> None:
    program, folder = Path(sys.argv[1]), Path(sys.argv[2])
    for tool in ("openssl", "osslsigncode"):
        if not shutil.which(tool):
            sys.exit(f"{tool} is not installed (tools/scripts/setup.sh installs it)")
    shutil.rmtree(folder, ignore_errors=True)
    keys = folder / "keys"
    keys.mkdir(parents=True)

    shutil.copyfile(program, folder / "unsigned.exe")
    for name, (subj, windows_subject) in SIGNERS.items():
        cert, key = make_certificate(keys, name, subj)
        sign(program, folder / f"{name}.exe", cert, key)
        (folder / f"{name}.subject").write_text(windows_subject, encoding="utf-8")

    # Signed by the company, with another subject's certificate first among the signature's
    # certificates.
    both = keys / "impostor-and-company.pem"
    both.write_bytes((keys / "impostor.pem").read_bytes() + (keys / "company.pem").read_bytes())
    sign(program, folder / "decoy.exe", both, keys / "company-key.pem")
    put_certificate_first(folder / "decoy.exe", SIGNERS["impostor"][1])
    shutil.copyfile(folder / "company.subject", folder / "decoy.subject")

    # Signed, then one byte of its code changed.
    data = bytearray((folder / "company.exe").read_bytes())
    data[code_offset(bytes(data))] ^= 0xFF
    (folder / "altered.exe").write_bytes(bytes(data))

    for exe in sorted(folder.glob("*.exe")):
        exe.with_suffix(".show-signer").write_text(show_signer(exe), encoding="utf-8")


if __name__ == "__main__":
    main()
