"""Authenticode signing through cmake/Signing.cmake: a throwaway self-signed code-signing
certificate made here with openssl, a copy of the built program signed with it (PEM pair and
PKCS#12), and osslsigncode's verification trusting only that certificate."""

import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

SOURCE = Path(os.environ.get("VARNEK_SOURCE_DIR", Path(__file__).resolve().parents[2]))
SIGNING = SOURCE / "cmake" / "Signing.cmake"
CMAKE = os.environ.get("VARNEK_CMAKE", "cmake")
PASSWORD = "throwaway pass"


def run(*args, check=True) -> subprocess.CompletedProcess:
    result = subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=120)
    if check and result.returncode != 0:
        raise AssertionError(f"{args[0]} failed ({result.returncode}):\n{result.stdout}"
                             f"{result.stderr}")
    return result


def require_signing_tools() -> None:
    for tool in ("openssl", "osslsigncode"):
        if not shutil.which(tool):
            raise unittest.SkipTest(f"{tool} is not installed")


CODE_SIGNING = ("keyUsage=critical,digitalSignature", "extendedKeyUsage=codeSigning")


def make_certificate(folder: Path, name: str, subject: str,
                     issuer: tuple[Path, Path] | None = None,
                     extensions: tuple[str, ...] = CODE_SIGNING) -> tuple[Path, Path]:
    """A throwaway code-signing certificate (or other, by its extensions) and its key (PEM),
    valid two days: self-signed, or issued by `issuer` (certificate, key)."""
    cert, key = folder / f"{name}.pem", folder / f"{name}-key.pem"
    added = [part for extension in extensions for part in ("-addext", extension)]
    if issuer is None:
        run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-utf8",
            "-subj", subject, "-keyout", key, "-out", cert, *added)
    else:
        run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-utf8",
            "-subj", subject, "-keyout", key, "-out", cert, "-CA", issuer[0], "-CAkey", issuer[1],
            *added)
    return cert, key


def signed_copy(program: Path, target: Path, cert: Path, key: Path) -> Path:
    """A copy of the program signed with the certificate by osslsigncode."""
    run("osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256", "-in", program,
        "-out", target)
    return target


class SigningTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        require_signing_tools()
        value = os.environ.get("VARNEK_EXE")
        if not value or not Path(value).is_file():
            raise unittest.SkipTest("VARNEK_EXE does not name the built program")
        cls.exe = Path(value)
        cls.temp = tempfile.TemporaryDirectory(prefix="varnek-signing-")
        cls.work = Path(cls.temp.name)
        cls.cert, cls.key = make_certificate(cls.work, "cert",
                                             "/CN=Varnek IT throwaway test signing")
        cls.pfx = cls.work / "cert.pfx"
        run("openssl", "pkcs12", "-export", "-in", cls.cert, "-inkey", cls.key, "-out", cls.pfx,
            "-passout", f"pass:{PASSWORD}")

    @classmethod
    def tearDownClass(cls):
        cls.temp.cleanup()

    def copy(self, name: str) -> Path:
        target = self.work / name
        shutil.copyfile(self.exe, target)
        return target

    def sign(self, target: Path, *credentials: str, check=True) -> subprocess.CompletedProcess:
        return run(CMAKE, f"-DVARNEK_SIGN_FILE={target}", *credentials, "-P", SIGNING,
                   check=check)

    def verify(self, target: Path) -> subprocess.CompletedProcess:
        return run("osslsigncode", "verify", "-in", target, "-CAfile", self.cert, check=False)

    def assert_verified(self, target: Path) -> None:
        result = self.verify(target)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("Signature verification: ok", result.stdout)

    def assert_rejected(self, target: Path) -> str:
        result = self.verify(target)
        self.assertNotEqual(result.returncode, 0, result.stdout)
        return result.stdout + result.stderr

    def test_pem_signature_verifies_and_tampering_is_caught(self):
        signed = self.copy("pem.exe")
        self.sign(signed, f"-DVARNEK_SIGN_CERT={self.cert}", f"-DVARNEK_SIGN_KEY={self.key}")
        self.assertNotEqual(signed.read_bytes(), self.exe.read_bytes())
        self.assertFalse(Path(str(signed) + ".signed").exists())
        self.assert_verified(signed)

        # One byte of the code changed after signing.
        tampered = self.work / "tampered.exe"
        data = bytearray(signed.read_bytes())
        data[0x1000] ^= 0xFF
        tampered.write_bytes(bytes(data))
        self.assertIn("MISMATCH", self.assert_rejected(tampered))

        # The unsigned program has nothing to verify.
        self.assert_rejected(self.exe)

    def test_pfx_signature_verifies(self):
        signed = self.copy("pfx.exe")
        self.sign(signed, f"-DVARNEK_SIGN_PFX={self.pfx}", f"-DVARNEK_SIGN_PASSWORD={PASSWORD}")
        self.assert_verified(signed)

    def test_another_certificate_is_not_trusted(self):
        other_cert, other_key = make_certificate(self.work, "other", "/CN=Someone else")
        signed = self.copy("other.exe")
        self.sign(signed, f"-DVARNEK_SIGN_CERT={other_cert}", f"-DVARNEK_SIGN_KEY={other_key}")
        self.assert_rejected(signed)

    def test_failed_signing_leaves_the_file_alone(self):
        target = self.copy("wrong-password.exe")
        result = self.sign(target, f"-DVARNEK_SIGN_PFX={self.pfx}",
                           "-DVARNEK_SIGN_PASSWORD=not the password", check=False)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("signing", result.stderr)
        self.assertEqual(target.read_bytes(), self.exe.read_bytes())
        self.assertFalse(Path(str(target) + ".signed").exists())



RELEASE_CHECKS = SOURCE / "cmake" / "ReleaseChecks.cmake"


class ReleaseConfigureTest(unittest.TestCase):
    """A company build is closed by default: configured without signing or without the
    client's signer, it stops and names what is missing, unless told to build open."""

    def checks(self, *definitions: str) -> subprocess.CompletedProcess:
        return run(CMAKE, "-DVARNEK_RELEASE=ON", *definitions, "-P", RELEASE_CHECKS,
                   check=False)

    def test_a_release_needs_a_signature_and_the_clients_signer(self):
        secure = "-DSupportServerUrl=https://support.example.dk"
        publisher = "-DVARNEK_CLIENT_PUBLISHER=C=DK, O=Varnek IT ApS, CN=Varnek IT"
        for definitions, missing in [
                ((secure,), ["VARNEK_SIGN_CERT and VARNEK_SIGN_KEY, or VARNEK_SIGN_PFX",
                             "VARNEK_CLIENT_PUBLISHER"]),
                ((secure, publisher, "-DVARNEK_SIGN_CERT=cert.pem"), ["VARNEK_SIGN_KEY"]),
                ((secure, "-DVARNEK_SIGN_PFX=cert.pfx"), ["VARNEK_CLIENT_PUBLISHER"])]:
            with self.subTest(definitions=definitions):
                result = self.checks(*definitions)
                self.assertNotEqual(result.returncode, 0)
                message = " ".join(result.stderr.split())
                self.assertIn("missing: " + "; ".join(missing), message)
        result = self.checks(secure, publisher, "-DVARNEK_SIGN_PFX=cert.pfx")
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        # Built open on purpose: it says in one sentence what that means; plain http warns.
        result = self.checks("-DSupportServerUrl=http://support.example.dk",
                             "-DVARNEK_UNSIGNED_RELEASE=ON")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("every customer's program will install any newer program",
                      " ".join(result.stderr.split()))
        self.assertIn("travel in clear text", " ".join(result.stderr.split()))

    def test_the_release_preset_is_a_release(self):
        with tempfile.TemporaryDirectory(prefix="varnek-release-") as build:
            result = run(CMAKE, "--preset", "i686-release", "-S", SOURCE, "-B", build,
                         check=False)
        self.assertNotEqual(result.returncode, 0, result.stdout)
        self.assertIn("a release build must be signed", " ".join(result.stderr.split()))


if __name__ == "__main__":
    unittest.main()
