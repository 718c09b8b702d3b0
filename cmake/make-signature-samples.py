#!/usr/bin/env python3
"""Makes the signed programs the Win32 signature tests check, in a folder of their own:

    make-signature-samples.py PROGRAM FOLDER

Throwaway code-signing certificates are made with openssl, self-signed or issued by a
throwaway root, and copies of PROGRAM signed with them by osslsigncode. For each NAME.exe the
folder holds NAME.subject (the signer's subject as the system should write it, UTF-8, no line
break), NAME.root (the SHA-256 of the root certificate of its chain, as openssl wrote that
certificate) and NAME.show-signer (what tools/publish.py --show-signer printed for it, or its
message when it refused). The certificates and keys are left in FOLDER/keys.
"""

import hashlib
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
[root]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[signing]
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
authorityKeyIdentifier = keyid
[no-usage]
keyUsage = critical,digitalSignature
authorityKeyIdentifier = keyid
[server-usage]
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth,clientAuth
authorityKeyIdentifier = keyid
"""


def make_certificate(keys: Path, name: str, subject: str,
                     issuer: tuple[Path, Path] | None = None,
                     extensions: str = "signing") -> tuple[Path, Path]:
    """A certificate and its key: self-signed, or issued by `issuer` (certificate, key) with the
    extensions of the configuration's section `extensions`."""
    cert, key, config = keys / f"{name}.pem", keys / f"{name}-key.pem", keys / "openssl.cnf"
    config.write_text(OPENSSL_CONFIG)
    if issuer is None:
        added = (["-extensions", extensions] if extensions != "signing" else
                 ["-addext", "keyUsage=critical,digitalSignature",
                  "-addext", "extendedKeyUsage=codeSigning"])
        run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-utf8",
            "-config", config, "-multivalue-rdn", "-subj", subject, "-keyout", key, "-out", cert,
            *added)
        return cert, key
    request = keys / f"{name}.csr"
    run("openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-utf8", "-config", config,
        "-subj", subject, "-keyout", key, "-out", request)
    run("openssl", "x509", "-req", "-in", request, "-CA", issuer[0], "-CAkey", issuer[1],
        "-set_serial", str(int.from_bytes(name.encode(), "big")), "-days", "2",
        "-extfile", config, "-extensions", extensions, "-out", cert)
    return cert, key


def sha256_of_certificate(cert: Path) -> str:
    """The SHA-256 of the certificate's DER encoding, as openssl writes it."""
    der = subprocess.run(["openssl", "x509", "-in", str(cert), "-outform", "DER"],
                         capture_output=True, check=True, timeout=60).stdout
    return hashlib.sha256(der).hexdigest()


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
        (folder / f"{name}.root").write_text(sha256_of_certificate(cert))

    # Issued by a root of their own, the whole chain in the signature: with the code-signing
    # usage, without any enhanced key usage, and with other usages only.
    root = make_certificate(keys, "root", "/C=DK/O=Varnek Test CA/CN=Varnek Test Root",
                            extensions="root")
    for name, extensions in (("chained", "signing"), ("no-usage", "no-usage"),
                             ("server-usage", "server-usage")):
        cert, key = make_certificate(keys, name, COMPANY, root, extensions)
        chain = keys / f"{name}-chain.pem"
        chain.write_bytes(cert.read_bytes() + root[0].read_bytes())
        sign(program, folder / f"{name}.exe", chain, key)
        shutil.copyfile(folder / "company.subject", folder / f"{name}.subject")
        (folder / f"{name}.root").write_text(sha256_of_certificate(root[0]))

    # Signed by the company, with another subject's certificate first among the signature's
    # certificates.
    both = keys / "impostor-and-company.pem"
    both.write_bytes((keys / "impostor.pem").read_bytes() + (keys / "company.pem").read_bytes())
    sign(program, folder / "decoy.exe", both, keys / "company-key.pem")
    put_certificate_first(folder / "decoy.exe", SIGNERS["impostor"][1])
    shutil.copyfile(folder / "company.subject", folder / "decoy.subject")
    shutil.copyfile(folder / "company.root", folder / "decoy.root")

    # Signed, then one byte of its code changed.
    data = bytearray((folder / "company.exe").read_bytes())
    data[code_offset(bytes(data))] ^= 0xFF
    (folder / "altered.exe").write_bytes(bytes(data))

    for exe in sorted(folder.glob("*.exe")):
        exe.with_suffix(".show-signer").write_text(show_signer(exe), encoding="utf-8")


if __name__ == "__main__":
    main()
