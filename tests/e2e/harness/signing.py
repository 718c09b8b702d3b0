"""Throwaway code-signing certificates made with openssl, and copies of programs signed with
them by osslsigncode: for the signed updates and for the release tools' checks."""

from __future__ import annotations

import subprocess
from pathlib import Path

from harness.common import HarnessError

CODE_SIGNING = ("keyUsage=critical,digitalSignature", "extendedKeyUsage=codeSigning")


def _run(*args) -> None:
    result = subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=300)
    if result.returncode != 0:
        raise HarnessError(f"{args[0]} failed ({result.returncode}):\n{result.stdout}"
                           f"{result.stderr}")


def make_certificate(folder: Path, name: str, subject: str,
                     issuer: tuple[Path, Path] | None = None,
                     extensions: tuple[str, ...] = CODE_SIGNING) -> tuple[Path, Path]:
    """A throwaway code-signing certificate (or other, by its extensions) and its key (PEM),
    valid two days: self-signed, or issued by `issuer` (certificate, key)."""
    cert, key = folder / f"{name}.pem", folder / f"{name}-key.pem"
    added = [part for extension in extensions for part in ("-addext", extension)]
    issued = ["-CA", issuer[0], "-CAkey", issuer[1]] if issuer else []
    _run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-utf8",
         "-subj", subject, "-keyout", key, "-out", cert, *issued, *added)
    return cert, key


def signed_copy(program: Path, signer: tuple[Path, Path], target: Path) -> Path:
    """A copy of the program signed with the certificate (and its key) by osslsigncode."""
    _run("osslsigncode", "sign", "-certs", signer[0], "-key", signer[1], "-h", "sha256", "-in",
         program, "-out", target)
    return target
