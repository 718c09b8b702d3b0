"""What a release build is made with: Authenticode signing through cmake/Signing.cmake (a
throwaway self-signed code-signing certificate made here with openssl, a copy of the built
program signed with it, PEM pair and PKCS#12 with its password from a file or the environment,
and osslsigncode's verification trusting only that certificate); the configure rule that
closes every company build; and the DLLs the program imports."""

import hashlib
import os
import re
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

from deploy_common import SOURCE, require_signing_tools, required_path
from harness.signing import make_certificate

SIGNING = SOURCE / "cmake" / "Signing.cmake"
CMAKE = os.environ.get("VARNEK_CMAKE", "cmake")
PASSWORD = "throwaway pass"


def run(*args, check=True, environment: dict | None = None,
        binary=False) -> subprocess.CompletedProcess:
    env = dict(os.environ)
    env.pop("VARNEK_SIGN_PASSWORD", None)
    env.update(environment or {})
    result = subprocess.run([str(a) for a in args], capture_output=True, text=not binary,
                            timeout=300, env=env)
    if check and result.returncode != 0:
        raise AssertionError(f"{args[0]} failed ({result.returncode}):\n{result.stdout}"
                             f"{result.stderr}")
    return result


class SigningTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        require_signing_tools()
        cls.exe = required_path("VARNEK_EXE")
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

    def sign(self, target: Path, *credentials: str, check=True,
             environment: dict | None = None) -> subprocess.CompletedProcess:
        return run(CMAKE, f"-DVARNEK_SIGN_FILE={target}", *credentials, "-P", SIGNING,
                   check=check, environment=environment)

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

    def test_pfx_signature_verifies_with_the_password_from_a_file_or_the_environment(self):
        password_file = self.work / "password.txt"
        password_file.write_text(PASSWORD + "\n")
        signed = self.copy("pfx-file.exe")
        self.sign(signed, f"-DVARNEK_SIGN_PFX={self.pfx}",
                  f"-DVARNEK_SIGN_PASSWORD_FILE={password_file}")
        self.assert_verified(signed)
        signed = self.copy("pfx-environment.exe")
        self.sign(signed, f"-DVARNEK_SIGN_PFX={self.pfx}",
                  environment={"VARNEK_SIGN_PASSWORD": PASSWORD})
        self.assert_verified(signed)
        # Given to CMake, where it would be kept, it is refused.
        target = self.copy("password-given.exe")
        result = self.sign(target, f"-DVARNEK_SIGN_PFX={self.pfx}",
                           f"-DVARNEK_SIGN_PASSWORD={PASSWORD}", check=False)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("VARNEK_SIGN_PASSWORD must not be given to CMake", result.stderr)
        self.assertEqual(target.read_bytes(), self.exe.read_bytes())

    def test_another_certificate_is_not_trusted(self):
        other_cert, other_key = make_certificate(self.work, "other", "/CN=Someone else")
        signed = self.copy("other.exe")
        self.sign(signed, f"-DVARNEK_SIGN_CERT={other_cert}", f"-DVARNEK_SIGN_KEY={other_key}")
        self.assert_rejected(signed)

    def test_failed_signing_leaves_the_file_alone(self):
        target = self.copy("wrong-password.exe")
        result = self.sign(target, f"-DVARNEK_SIGN_PFX={self.pfx}", check=False,
                           environment={"VARNEK_SIGN_PASSWORD": "not the password"})
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("signing", result.stderr)
        self.assertEqual(target.read_bytes(), self.exe.read_bytes())
        self.assertFalse(Path(str(target) + ".signed").exists())



RELEASE_CHECKS = SOURCE / "cmake" / "ReleaseChecks.cmake"
SIGNING_PIECES = "VARNEK_SIGN_CERT and VARNEK_SIGN_KEY, or VARNEK_SIGN_PFX"
HTTPS = "an https:// SupportServerUrl"


def one_line(text: str) -> str:
    return " ".join(text.split())


class ReleaseConfigureTest(unittest.TestCase):
    """Every build for a support server other than this machine is a company build, whatever
    its preset: configured without a signature, a time stamp, the client's signer or https://,
    it stops and names each missing piece, unless told to build it open."""

    def checks(self, url: str, *definitions: str) -> subprocess.CompletedProcess:
        return run(CMAKE, f"-DSupportServerUrl={url}", *definitions, "-P", RELEASE_CHECKS,
                   check=False)

    def assert_refused(self, result: subprocess.CompletedProcess, missing: list[str]) -> str:
        self.assertNotEqual(result.returncode, 0, result.stderr)
        message = one_line(result.stderr)
        self.assertIn("this is a company build", message)
        self.assertIn("missing: " + "; ".join(missing) + ".", message)
        return message

    def test_the_addresses_decide_and_each_missing_piece_is_named(self):
        secure = "https://support.example.dk"
        publisher = "-DVARNEK_CLIENT_PUBLISHER=C=DK, O=Varnek IT ApS, CN=Varnek IT"
        stamp = "-DVARNEK_SIGN_TIMESTAMP_URL=http://timestamp.example.dk"
        pfx = "-DVARNEK_SIGN_PFX=cert.pfx"
        for url, definitions, missing in [
                (secure, (), [SIGNING_PIECES, "VARNEK_SIGN_TIMESTAMP_URL",
                              "VARNEK_CLIENT_PUBLISHER"]),
                (secure, (publisher, stamp, "-DVARNEK_SIGN_CERT=cert.pem"), ["VARNEK_SIGN_KEY"]),
                (secure, (publisher, pfx), ["VARNEK_SIGN_TIMESTAMP_URL"]),
                ("http://support.example.dk", (pfx, stamp), ["VARNEK_CLIENT_PUBLISHER", HTTPS]),
                # Addresses that only look like this machine's.
                ("http://127.0.0.1.example.dk", (publisher, pfx, stamp), [HTTPS]),
                ("http://127.0.0.1@support.example.dk", (publisher, pfx, stamp), [HTTPS]),
                ("http://localhost.example.dk:18080", (publisher, pfx, stamp), [HTTPS]),
                ("http://127.0.0.256", (publisher, pfx, stamp), [HTTPS]),
                ("http://[::2]:18080", (publisher, pfx, stamp), [HTTPS]),
                # The release preset makes a company build even on this machine.
                ("http://127.0.0.1:18080", ("-DVARNEK_RELEASE=ON",),
                 [SIGNING_PIECES, "VARNEK_SIGN_TIMESTAMP_URL", "VARNEK_CLIENT_PUBLISHER",
                  HTTPS])]:
            with self.subTest(url=url, definitions=definitions):
                message = self.assert_refused(self.checks(url, *definitions), missing)
                self.assertEqual("-DVARNEK_UNSIGNED_RELEASE=ON" in message, missing != [HTTPS])
                self.assertEqual("-DVARNEK_ALLOW_HTTP=ON" in message, HTTPS in missing)
        result = self.checks(secure, publisher, pfx, stamp)
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        # Test builds: this machine, in each way of writing it.
        for url in ("http://127.0.0.1:18080", "http://127.8.9.10", "http://LocalHost:8080/x",
                    "https://[::1]:18080"):
            with self.subTest(url=url):
                result = self.checks(url)
                self.assertEqual((result.returncode, result.stderr), (0, ""))

    def test_open_on_purpose_says_what_that_means(self):
        result = self.checks("https://support.example.dk", "-DVARNEK_UNSIGNED_RELEASE=ON")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("every customer's program will install any newer program",
                      one_line(result.stderr).lower())
        # Signed without a time stamp: the day the certificate expires.
        result = self.checks("https://support.example.dk", "-DVARNEK_UNSIGNED_RELEASE=ON",
                             "-DVARNEK_SIGN_PFX=cert.pfx",
                             "-DVARNEK_CLIENT_PUBLISHER=C=DK, O=Varnek IT ApS, CN=Varnek IT")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("from the day the certificate expires", one_line(result.stderr))
        # http:// needs its own permission.
        self.assert_refused(self.checks("http://support.example.dk",
                                        "-DVARNEK_UNSIGNED_RELEASE=ON"), [HTTPS])
        result = self.checks("http://support.example.dk", "-DVARNEK_UNSIGNED_RELEASE=ON",
                             "-DVARNEK_ALLOW_HTTP=ON")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("travel in clear text", one_line(result.stderr))

    def test_real_configures_of_the_project(self):
        """The doors a preset cannot close: the release preset switched off, and a bare
        configure with the toolchain file; a password given to CMake; and a complete company
        build, which prints its root's hash and keeps its password out of every file."""
        require_signing_tools()
        with tempfile.TemporaryDirectory(prefix="varnek-release-") as temp:
            temp = Path(temp)
            result = run(CMAKE, "--preset", "i686-release", "-S", SOURCE, "-B", temp / "preset",
                         "-DVARNEK_RELEASE=OFF", "-DSupportServerUrl=https://support.example.dk",
                         check=False)
            self.assert_refused(result, [SIGNING_PIECES, "VARNEK_SIGN_TIMESTAMP_URL",
                                         "VARNEK_CLIENT_PUBLISHER"])

            build = temp / "bare"
            toolchain = f"-DCMAKE_TOOLCHAIN_FILE={SOURCE}/cmake/mingw-i686.cmake"
            result = run(CMAKE, "-S", SOURCE, "-B", build, "-G", "Ninja", toolchain,
                         "-DVARNEK_TESTS=OFF", check=False)
            self.assert_refused(result, [SIGNING_PIECES, "VARNEK_SIGN_TIMESTAMP_URL",
                                         "VARNEK_CLIENT_PUBLISHER", HTTPS])

            secret = "not-in-any-file 7f3a"
            result = run(CMAKE, "-S", SOURCE, "-B", build, f"-DVARNEK_SIGN_PASSWORD={secret}",
                         check=False)
            self.assertNotEqual(result.returncode, 0)
            self.assertIn("VARNEK_SIGN_PASSWORD must not be given to CMake",
                          one_line(result.stderr))
            self.assertNotIn(secret, (build / "CMakeCache.txt").read_text())

            # Complete: issued by a root of its own, the chain in a PKCS#12 file whose password
            # comes from the environment.
            root, root_key = make_certificate(temp, "root", "/CN=Varnek throwaway root",
                                              extensions=("basicConstraints=critical,CA:TRUE",
                                                          "keyUsage=critical,keyCertSign"))
            cert, key = make_certificate(temp, "company", "/C=DK/O=Varnek IT ApS/CN=Varnek IT",
                                         issuer=(root, root_key))
            chain = temp / "chain.pem"
            chain.write_bytes(cert.read_bytes() + root.read_bytes())
            pfx = temp / "company.pfx"
            run("openssl", "pkcs12", "-export", "-in", chain, "-inkey", key, "-out", pfx,
                "-passout", f"pass:{secret}")
            result = run(CMAKE, "-S", SOURCE, "-B", build,
                         "-DSupportServerUrl=https://support.example.dk",
                         f"-DVARNEK_SIGN_PFX={pfx}",
                         "-DVARNEK_SIGN_TIMESTAMP_URL=http://timestamp.example.dk",
                         "-DVARNEK_CLIENT_PUBLISHER=C=DK, O=Varnek IT ApS, CN=Varnek IT",
                         environment={"VARNEK_SIGN_PASSWORD": secret}, check=False)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            der = run("openssl", "x509", "-in", root, "-outform", "DER", binary=True).stdout
            self.assertIn(f"root SHA-256: {hashlib.sha256(der).hexdigest()} (CN=Varnek "
                          f"throwaway root)", result.stdout)
            for name in ("CMakeCache.txt", "build.ninja"):
                self.assertNotIn(secret, (build / name).read_text(), name)


class ProgramImportsTest(unittest.TestCase):
    """Every DLL the program imports is one Windows loads from its own folder, whatever lies
    beside the program: a KnownDLL of every Windows from 7 to 11, or comctl32.dll, which the
    manifest takes from the side-by-side store. Any other is sought in the program's folder
    first, which every user can write to, before SetDefaultDllDirectories can run."""

    KNOWN_DLLS = {
        "advapi32.dll", "clbcatq.dll", "comdlg32.dll", "difxapi.dll", "gdi32.dll",
        "imagehlp.dll", "imm32.dll", "kernel32.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll",
        "nsi.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll",
        "setupapi.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "wldap32.dll", "ws2_32.dll"}

    def test_the_program_imports_only_dlls_windows_loads_from_its_own_folder(self):
        exe, objdump = os.environ.get("VARNEK_EXE"), os.environ.get("VARNEK_OBJDUMP")
        if not exe or not Path(exe).is_file() or not objdump:
            self.skipTest("VARNEK_EXE and VARNEK_OBJDUMP do not name the program and objdump")
        # Every import table: the loader's own, and the delayed one (loaded by name on first
        # call, the same search).
        listing = run(objdump, "-p", exe).stdout
        imported = {name.lower() for name in re.findall(r"DLL Name: (\S+)", listing)}
        self.assertIn("kernel32.dll", imported, listing)
        self.assertEqual(sorted(imported - self.KNOWN_DLLS - {"comctl32.dll"}), [])


if __name__ == "__main__":
    unittest.main()
