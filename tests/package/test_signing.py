"""Signed Windows packages: with a code-signing certificate and key in
cpack's environment, photomap.exe (in the zip and in the MSI) and the MSI
carry an Authenticode signature that osslsigncode verifies against the CA
that issued the certificate, and a copy with one changed byte fails; with
no key, or half of one, the packages say so or are not made.

Makes a throwaway CA and certificate with openssl and builds into folders
of its own with the windows-x86 build that the package stage made before.
"""

import os
import re
import struct
import subprocess
import tempfile
import unittest
import zipfile

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SIGNER = "photomap test signer"


def run(command, **options):
    return subprocess.run(command, capture_output=True, text=True, **options)


def openssl(*arguments):
    result = run(["openssl", *arguments])
    assert result.returncode == 0, result.stderr
    return result


def make_ca(folder, name):
    """A CA certificate and key; returns their paths."""
    certificate, key = os.path.join(folder, name + ".pem"), os.path.join(folder, name + ".key")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
            "-subj", "/CN=" + name, "-keyout", key, "-out", certificate,
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    return certificate, key


def make_signer(folder, ca):
    """A code-signing certificate issued by CA; returns its and its key's paths."""
    key, request = os.path.join(folder, "signer.key"), os.path.join(folder, "signer.csr")
    certificate, extensions = os.path.join(folder, "signer.pem"), os.path.join(folder, "signer.ext")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + SIGNER,
            "-keyout", key, "-out", request)
    with open(extensions, "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                "extendedKeyUsage=codeSigning\n")
    openssl("x509", "-req", "-in", request, "-CA", ca[0], "-CAkey", ca[1], "-set_serial", "2",
            "-days", "2", "-extfile", extensions, "-out", certificate)
    return certificate, key


def cpack(preset, out, **environment):
    """cpack --preset PRESET into OUT, with only the given PHOTOMAP_SIGN_* set."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("PHOTOMAP_SIGN_")}
    env.update(environment)
    return run(["cpack", "--preset", preset, "-B", out], cwd=SOURCE, env=env, timeout=600)


def verify(path, ca):
    return run(["osslsigncode", "verify", "-CAfile", ca, "-in", path])


def tampered(path, folder, marker):
    """A copy of PATH with one byte of MARKER (found in it once at least) changed."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    where = data.find(marker)
    assert where >= 0, f"{marker!r} not in {path}"
    data[where] ^= 0x20
    copy = os.path.join(folder, "tampered-" + os.path.basename(path))
    with open(copy, "wb") as f:
        f.write(data)
    return copy


def program_bytes(path):
    """The bytes of the PE file PATH without its header checksum (which
    covers the signature too) and the zeros at its end (osslsigncode pads
    the file to 8 bytes before the signature)."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    checksum = struct.unpack_from("<I", data, 0x3C)[0] + 24 + 64
    data[checksum:checksum + 4] = bytes(4)
    return bytes(data).rstrip(b"\0")


class SignedPackages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="photomap-signing-")
        folder = cls.scratch.name
        ca = make_ca(folder, "photomap test CA")
        cls.ca = ca[0]
        cls.other_ca = make_ca(folder, "another CA")[0]
        cls.signer = certificate, key = make_signer(folder, ca)
        cls.out = os.path.join(folder, "signed")
        cls.outputs = {}
        for preset in ("windows-zip", "windows-msi"):
            result = cpack(preset, cls.out, PHOTOMAP_SIGN_CERT=certificate, PHOTOMAP_SIGN_KEY=key)
            assert result.returncode == 0, result.stdout + result.stderr
            cls.outputs[preset] = result.stdout
        unsigned_out = os.path.join(folder, "unsigned")
        result = cpack("windows-zip", unsigned_out)
        assert result.returncode == 0, result.stdout + result.stderr
        cls.msi = os.path.join(cls.out, "photomap-1.0.0-x86.msi")
        cls.modes = {}
        for kind, out in [("signed", cls.out), ("unsigned", unsigned_out)]:
            with zipfile.ZipFile(os.path.join(out, "photomap-1.0.0-windows-x86.zip")) as archive:
                exe = archive.extract("photomap.exe", os.path.join(folder, "from-zip", kind))
                cls.modes[kind] = archive.getinfo("photomap.exe").external_attr >> 16
            if kind == "signed":
                cls.zip_exe = exe
            else:
                cls.unsigned_exe = exe
        unpacked = os.path.join(folder, "from-msi")
        result = run(["msiextract", "-C", unpacked, cls.msi])
        assert result.returncode == 0, result.stderr
        cls.msi_exe = os.path.join(unpacked, "Program Files", "photomap", "photomap.exe")

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def test_signatures_verify_against_the_issuing_ca_only(self):
        # (what, file, CA, verifies)
        cases = [("zip's photomap.exe", self.zip_exe, self.ca, True),
                 ("MSI's photomap.exe", self.msi_exe, self.ca, True),
                 ("MSI", self.msi, self.ca, True),
                 ("zip's photomap.exe", self.zip_exe, self.other_ca, False),
                 ("MSI", self.msi, self.other_ca, False)]
        for what, path, ca, verifies in cases:
            with self.subTest(what=what, ca=os.path.basename(ca)):
                result = verify(path, ca)
                self.assertEqual(result.returncode == 0, verifies, result.stdout + result.stderr)
                self.assertIn(SIGNER, result.stdout)

    def test_a_changed_byte_breaks_the_signature(self):
        # Bytes that the signature covers: a string of the program's code
        # and version resource, a value in the installer's string pool.
        cases = [("photomap.exe", self.zip_exe, "Please supply".encode("utf-16-le")),
                 ("MSI", self.msi, b"Show on map")]
        for what, path, marker in cases:
            with self.subTest(what=what):
                copy = tampered(path, self.scratch.name, marker)
                result = verify(copy, self.ca)
                self.assertNotEqual(result.returncode, 0, result.stdout)

    def test_signing_adds_a_signature_and_changes_nothing_else(self):
        # Each cpack run signs its own copy, at its own signing time; with
        # the signature taken off again, each is the unsigned program.
        unsigned = program_bytes(self.unsigned_exe)
        for what, path in [("zip", self.zip_exe), ("MSI", self.msi_exe)]:
            with self.subTest(package=what):
                removed = os.path.join(self.scratch.name, what + "-removed.exe")
                result = run(["osslsigncode", "remove-signature", "-in", path, "-out", removed])
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                self.assertEqual(program_bytes(removed), unsigned)
        self.assertEqual(self.modes, {"signed": 0o100755, "unsigned": 0o100755},
                         "the zip's photomap.exe keeps its mode when signed")

    def test_a_key_with_a_password_signs_with_the_password_file(self):
        folder = self.scratch.name
        key, password = os.path.join(folder, "locked.key"), os.path.join(folder, "password")
        with open(password, "w") as f:
            f.write("correct horse\n")
        openssl("pkey", "-in", self.signer[1], "-aes256", "-passout", "file:" + password,
                "-out", key)
        out = os.path.join(folder, "with-password")
        result = cpack("windows-zip", out, PHOTOMAP_SIGN_CERT=self.signer[0],
                       PHOTOMAP_SIGN_KEY=key, PHOTOMAP_SIGN_PASS_FILE=password)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        with zipfile.ZipFile(os.path.join(out, "photomap-1.0.0-windows-x86.zip")) as archive:
            exe = archive.extract("photomap.exe", os.path.join(folder, "from-password-zip"))
        result = verify(exe, self.ca)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_cpack_says_what_it_signed(self):
        self.assertRegex(self.outputs["windows-zip"], r"signed .*photomap\.exe")
        self.assertRegex(self.outputs["windows-msi"], r"signed .*photomap-1\.0\.0-x86\.msi")
        for output in self.outputs.values():
            self.assertNotIn("Not signed", output)


class UnsignedPackages(unittest.TestCase):
    def test_without_a_key_one_line_says_so_and_nothing_is_signed(self):
        with tempfile.TemporaryDirectory(prefix="photomap-no-key-") as out:
            # (preset, what the line names)
            for preset, named in [("windows-zip", "photomap.exe"),
                                  ("windows-msi", "photomap.exe and the MSI")]:
                with self.subTest(preset=preset):
                    result = cpack(preset, out)
                    self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                    lines = [line for line in result.stdout.splitlines()
                             if re.search(r"(?i)\bsigned\b", line)]
                    self.assertEqual(len(lines), 1, result.stdout)
                    self.assertIn("Not signed: " + named, lines[0])
            msi = os.path.join(out, "photomap-1.0.0-x86.msi")
            result = run(["osslsigncode", "verify", "-in", msi])
            self.assertNotEqual(result.returncode, 0, result.stdout)

    def test_half_a_key_makes_no_package(self):
        with tempfile.TemporaryDirectory(prefix="photomap-half-key-") as out:
            for variable in ("PHOTOMAP_SIGN_CERT", "PHOTOMAP_SIGN_KEY"):
                with self.subTest(given=variable):
                    result = cpack("windows-zip", out, **{variable: os.path.join(SOURCE, "LICENSE")})
                    self.assertNotEqual(result.returncode, 0, result.stdout)
                    self.assertIn("needs both PHOTOMAP_SIGN_CERT and PHOTOMAP_SIGN_KEY",
                                  result.stdout + result.stderr)
                    self.assertEqual([n for n in os.listdir(out) if n.endswith(".zip")], [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
