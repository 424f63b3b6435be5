#!/usr/bin/env python3
"""The release packages scripts/package.sh makes, from the build trees the test
command already built (only build/linux-static is new): what the archives hold
and how, that they are the same bytes twice, the checksums, the static Linux
tool, and the Authenticode signature made with a throw-away certificate."""
import array
import hashlib
import os
import pwd
import re
import shutil
import stat
import struct
import subprocess
import tarfile
import tempfile
import time
import unittest
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
PACKAGE = os.path.join(ROOT, "scripts", "package.sh")
WINE_RUN = os.path.join(ROOT, "cmake", "wine-run.sh")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        return re.search(r"^project\(Quorvane VERSION (\d+\.\d+\.\d+)", f.read(), re.M).group(1)


def pe_fields(data):
    """The offsets of a PE file's checksum and of its certificate table's entry."""
    header = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[header:header + 4] == b"PE\0\0"
    optional = header + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + {0x10B: 96, 0x20B: 112}[magic]
    return optional + 64, directories + 4 * 8


def pe_checksum(data, checksum_at):
    """The PE checksum: 16-bit words added with end-around carry, the checksum
    field left out, plus the file's length."""
    words = array.array("H", data + b"\0" * (len(data) % 2))
    total = sum(words) - words[checksum_at // 2] - words[checksum_at // 2 + 1]
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


def committed_documents():
    listed = subprocess.run(["git", "ls-files", "docs/deploy"], cwd=ROOT, capture_output=True, text=True, check=True)
    return ["README.md", "docs/deploy.md"] + listed.stdout.split()


def tree_order(names):
    """Each folder before what it holds, the entries of a folder by name: not
    the order the file system happens to list them in."""
    return sorted(names, key=lambda name: name.rstrip("/").split("/"))


def folders_of(files):
    folders = set()
    for path in files:
        while (path := os.path.dirname(path)):
            folders.add(path)
    return folders


class Packages(unittest.TestCase):
    """Four runs of package.sh: unsigned twice and signed twice, each pair under
    other time zones, umasks and working folders."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="quorvane-package-test.")
        cls.version = project_version()
        cls.epoch = int(subprocess.run(["git", "log", "-1", "--format=%ct"], cwd=ROOT, capture_output=True,
                                       text=True, check=True).stdout)
        cls.password = os.urandom(9).hex()
        cls.make_certificate()
        started = time.monotonic()
        cls.unsigned = cls.package("unsigned", tz="UTC", umask=0o022)
        cls.unsigned_again = cls.package("unsigned-again", tz="Asia/Shanghai", umask=0o077)
        cls.signed = cls.package("signed", "--sign", "signer.pfx", tz="America/New_York", umask=0o022)
        cls.signed_again = cls.package("signed-again", "--sign", cls.pfx, tz="UTC", umask=0o027)
        print(f"\npackage.sh: four runs in {time.monotonic() - started:.0f} s (the first builds build/linux-static)")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    @classmethod
    def make_certificate(cls):
        cls.cert = os.path.join(cls.work, "signer.pem")
        key = os.path.join(cls.work, "signer.key")
        cls.pfx = os.path.join(cls.work, "signer.pfx")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cls.cert,
                        "-days", "2", "-subj", "/CN=Quorvane throw-away test signer",
                        "-addext", "keyUsage=critical,digitalSignature",
                        "-addext", "extendedKeyUsage=codeSigning"], check=True, capture_output=True)
        subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cls.cert, "-out", cls.pfx,
                        "-passout", "env:QUORVANE_SIGN_PASSWORD"],
                       env=dict(os.environ, QUORVANE_SIGN_PASSWORD=cls.password), check=True, capture_output=True)

    @classmethod
    def run_package(cls, *args, password=None, tz="UTC", umask=0o022):
        env = dict(os.environ, TZ=tz, QUORVANE_SIGN_PASSWORD=cls.password if password is None else password)
        env.pop("SOURCE_DATE_EPOCH", None)
        # Relative paths are the caller's: run from the work folder.
        return subprocess.run([PACKAGE, *args], cwd=cls.work, env=env, capture_output=True, text=True,
                              preexec_fn=lambda: os.umask(umask))

    @classmethod
    def package(cls, name, *args, **how):
        result = cls.run_package(*args, "--dist", name, **how)
        if result.returncode != 0:
            raise RuntimeError(f"package.sh {' '.join(args)}: exit {result.returncode}\n{result.stderr}")
        return os.path.join(cls.work, name)

    def names(self):
        v = self.version
        return {"win64": f"quorvane-{v}-win64.zip", "win32": f"quorvane-{v}-win32.zip",
                "linux": f"quorvane-sync-{v}-linux-x86_64.tar.gz"}

    def expected_files(self, arch):
        programs = ["quorvane-sync"] if arch == "linux" else ["quorvane.exe", "quorvane-sync.exe"]
        documents = committed_documents()
        return programs, documents, folders_of(documents)

    def dist_digests(self, dist):
        return {name: hashlib.sha256(read(os.path.join(dist, name))).hexdigest() for name in sorted(os.listdir(dist))}

    # What the folder and the archives hold

    def test_dist_holds_the_three_archives_named_by_the_project_version_and_their_sums(self):
        for dist in (self.unsigned, self.signed):
            self.assertEqual(sorted(os.listdir(dist)), sorted(list(self.names().values()) + ["SHA256SUMS"]))
            lines = read(os.path.join(dist, "SHA256SUMS")).decode().splitlines()
            self.assertEqual([line.split("  ", 1)[1] for line in lines], sorted(self.names().values()))
            check = subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=dist, capture_output=True, text=True)
            self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
            self.assertEqual(check.stdout.count(": OK\n"), 3, check.stdout)

    def test_sha256sum_c_catches_a_changed_archive(self):
        copy = os.path.join(self.work, "tampered")
        shutil.copytree(self.unsigned, copy)
        with open(os.path.join(copy, self.names()["win64"]), "r+b") as f:
            f.seek(100)
            byte = f.read(1)
            f.seek(100)
            f.write(bytes([byte[0] ^ 1]))
        check = subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=copy, capture_output=True, text=True)
        self.assertNotEqual(check.returncode, 0)
        self.assertIn(self.names()["win64"] + ": FAILED", check.stdout)

    def test_zip_archives_hold_one_folder_of_programs_and_documents_with_fixed_times_and_modes(self):
        stamp = time.gmtime(self.epoch)[:6]
        stamp = stamp[:5] + (stamp[5] // 2 * 2,)  # zip keeps even seconds
        for arch in ("win64", "win32"):
            top = f"quorvane-{self.version}-{arch}"
            programs, documents, folders = self.expected_files(arch)
            with zipfile.ZipFile(os.path.join(self.unsigned, self.names()[arch])) as archive:
                infos = archive.infolist()
                self.assertEqual([i.filename for i in infos], tree_order(i.filename for i in infos))
                expected = {top + "/"} | {f"{top}/{d}/" for d in folders} | \
                    {f"{top}/{f}" for f in programs + documents}
                self.assertEqual({i.filename for i in infos}, expected)
                for info in infos:
                    mode = info.external_attr >> 16
                    want = 0o755 if info.filename.endswith(("/", ".exe")) else 0o644
                    self.assertEqual(stat.S_IMODE(mode), want, info.filename)
                    self.assertEqual(stat.S_ISDIR(mode), info.filename.endswith("/"), info.filename)
                    self.assertEqual(info.date_time, stamp, info.filename)
                    self.assertEqual(info.create_system, 3, info.filename)
                self.assertEqual(archive.testzip(), None)
                for program in programs:
                    self.assertEqual(archive.read(f"{top}/{program}"),
                                     read(os.path.join(ROOT, "build", arch, "bin", program)), program)
                for document in documents:
                    self.assertEqual(archive.read(f"{top}/{document}"), read(os.path.join(ROOT, document)), document)

    def test_tar_archive_holds_the_static_tool_and_documents_owned_by_root_with_fixed_times_and_modes(self):
        top = f"quorvane-sync-{self.version}-linux-x86_64"
        programs, documents, folders = self.expected_files("linux")
        path = os.path.join(self.unsigned, self.names()["linux"])
        self.assertEqual(read(path)[4:8], b"\0\0\0\0", "no time in the gzip header")
        with tarfile.open(path) as archive:
            members = archive.getmembers()
            self.assertEqual([m.name for m in members], tree_order(m.name for m in members))
            self.assertEqual({m.name for m in members},
                             {top} | {f"{top}/{d}" for d in folders} | {f"{top}/{f}" for f in programs + documents})
            for member in members:
                want = 0o755 if member.isdir() or member.name.endswith("/quorvane-sync") else 0o644
                self.assertEqual(member.mode, want, member.name)
                self.assertEqual((member.uid, member.gid, member.uname, member.gname), (0, 0, "", ""), member.name)
                self.assertEqual(member.mtime, self.epoch, member.name)
                self.assertTrue(member.isdir() or member.isfile(), member.name)
            self.assertEqual(archive.extractfile(f"{top}/quorvane-sync").read(),
                             read(os.path.join(ROOT, "build", "linux-static", "bin", "quorvane-sync")))
            for document in documents:
                self.assertEqual(archive.extractfile(f"{top}/{document}").read(), read(os.path.join(ROOT, document)))

    def test_the_same_packages_come_out_twice_whatever_the_time_zone_umask_and_folder(self):
        self.assertEqual(self.dist_digests(self.unsigned), self.dist_digests(self.unsigned_again))
        self.assertEqual(self.dist_digests(self.signed), self.dist_digests(self.signed_again),
                         "the signing time is the commit's, not the clock's")
        self.assertNotEqual(self.dist_digests(self.unsigned)[self.names()["win64"]],
                            self.dist_digests(self.signed)[self.names()["win64"]])
        self.assertEqual(self.dist_digests(self.unsigned)[self.names()["linux"]],
                         self.dist_digests(self.signed)[self.names()["linux"]], "nothing to sign on Linux")

    # The static Linux tool

    def test_linux_tool_needs_no_shared_library_and_synchronises_a_font(self):
        top = f"quorvane-sync-{self.version}-linux-x86_64"
        unpacked = os.path.join(self.work, "unpacked-linux")
        tool = os.path.join(unpacked, "quorvane-sync")
        os.makedirs(unpacked)
        with tarfile.open(os.path.join(self.unsigned, self.names()["linux"])) as archive, open(tool, "wb") as out:
            out.write(archive.extractfile(f"{top}/quorvane-sync").read())
        os.chmod(tool, 0o755)
        headers = subprocess.run(["readelf", "-lW", tool], capture_output=True, text=True, check=True).stdout
        self.assertNotIn("INTERP", headers, "no dynamic loader")
        self.assertNotIn("NEEDED", subprocess.run(["readelf", "-dW", tool], capture_output=True, text=True).stdout)
        version = subprocess.run([tool, "--version"], capture_output=True, text=True)
        self.assertEqual(version.stdout, f"quorvane-sync {self.version}\n")

        source, target = os.path.join(self.work, "fonts-in"), os.path.join(self.work, "fonts-out")
        os.makedirs(source)
        os.makedirs(target)
        font = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
        shutil.copy(font, source)
        log = os.path.join(self.work, "sync.log")
        run = subprocess.run([tool, "--json", "--lang", "en", "--log", log, "--target", target, source],
                             capture_output=True, text=True, env=dict(os.environ, LC_ALL="C"))
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn('"status":"copied"', run.stdout)
        self.assertEqual(read(os.path.join(target, "DejaVuSans.ttf")), read(font))
        # The user's name comes through the C library's user database, linked in statically.
        self.assertIn(f'"user":"{pwd.getpwuid(os.geteuid()).pw_name}"', read(log).decode().splitlines()[0])

    # The signature

    def unpack(self, dist, arch):
        folder = os.path.join(self.work, f"unpacked-{os.path.basename(dist)}-{arch}")
        if not os.path.isdir(folder):
            with zipfile.ZipFile(os.path.join(dist, self.names()[arch])) as archive:
                archive.extractall(folder)
        return os.path.join(folder, f"quorvane-{self.version}-{arch}")

    def test_signed_executables_verify_against_the_certificate_with_the_commit_time(self):
        signing_time = "Signing time: " + time.strftime("%b %e %H:%M:%S %Y GMT", time.gmtime(self.epoch))
        for arch in ("win64", "win32"):
            for program in ("quorvane.exe", "quorvane-sync.exe"):
                signed = os.path.join(self.unpack(self.signed, arch), program)
                verify = subprocess.run(["osslsigncode", "verify", "-CAfile", self.cert, "-in", signed],
                                        capture_output=True, text=True)
                self.assertEqual(verify.returncode, 0, verify.stdout + verify.stderr)
                self.assertIn("Signature verification: ok", verify.stdout)
                self.assertIn("Quorvane throw-away test signer", verify.stdout)
                self.assertIn(signing_time, verify.stdout)
                unsigned = os.path.join(self.unpack(self.unsigned, arch), program)
                verify = subprocess.run(["osslsigncode", "verify", "-CAfile", self.cert, "-in", unsigned],
                                        capture_output=True, text=True)
                self.assertNotEqual(verify.returncode, 0, "an unsigned package holds no signature")

    def test_signed_and_unsigned_executables_differ_by_the_signature_alone(self):
        # osslsigncode remove-signature does not give the unsigned bytes back: it
        # keeps the padding to 8 bytes that signing added, and the checksum over
        # it. So the signed file is taken apart: the unsigned bytes with the
        # checksum and the certificate table's entry filled in, zeros up to the
        # table, and the table to the end of the file.
        for arch in ("win64", "win32"):
            for program in ("quorvane.exe", "quorvane-sync.exe"):
                what = f"{arch} {program}"
                signed = read(os.path.join(self.unpack(self.signed, arch), program))
                unsigned = read(os.path.join(self.unpack(self.unsigned, arch), program))
                fields = pe_fields(unsigned)
                self.assertEqual(fields, pe_fields(signed), what)
                checksum, table = fields
                offset, size = struct.unpack_from("<II", signed, table)
                self.assertEqual(struct.unpack_from("<II", unsigned, table), (0, 0), what + ": unsigned")
                self.assertEqual(offset, (len(unsigned) + 7) // 8 * 8, what)
                self.assertEqual(offset + size, len(signed), what)
                self.assertEqual(signed[len(unsigned):offset], bytes(offset - len(unsigned)), what)
                masked = {checksum: 4, table: 8}

                def without_fields(data):
                    data = bytearray(data)
                    for at, length in masked.items():
                        data[at:at + length] = bytes(length)
                    return bytes(data)
                self.assertEqual(without_fields(signed[:len(unsigned)]), without_fields(unsigned), what)
                for data in (signed, unsigned):
                    self.assertEqual(struct.unpack_from("<I", data, checksum)[0], pe_checksum(data, checksum), what)
                revision, kind = struct.unpack_from("<HH", signed, offset + 4)
                self.assertEqual((revision, kind), (0x0200, 0x0002), what + ": a PKCS#7 WIN_CERTIFICATE")

    def test_signed_tool_still_runs(self):
        can_run = subprocess.run([WINE_RUN, "--arch", "win64", "--can-run"], capture_output=True, text=True)
        if can_run.returncode != 0:
            self.skipTest(can_run.stdout.strip())
        tool = os.path.join(self.unpack(self.signed, "win64"), "quorvane-sync.exe")
        run = subprocess.run([WINE_RUN, "--prefix", os.path.join(ROOT, "build", "win64", "wineprefix"),
                              "--arch", "win64", tool, "--version"], capture_output=True, text=True, timeout=300)
        self.assertEqual(run.stdout.replace("\r\n", "\n"), f"quorvane-sync {self.version}\n", run.stderr)

    # Refusals

    def assert_refused(self, args, password, message):
        dist = os.path.join(self.work, "kept")
        if not os.path.isdir(dist):
            shutil.copytree(self.unsigned, dist)
        before = self.dist_digests(dist)
        result = self.run_package(*args, "--dist", "kept", password=password)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn(message, result.stderr)
        self.assertEqual(self.dist_digests(dist), before, "dist is left as it was")

    def test_bad_signing_input_is_refused_and_leaves_dist_as_it_was(self):
        self.assert_refused(["--sign", "missing.pfx"], None, "cannot read the certificate")
        self.assert_refused(["--sign", self.pfx], "not-the-password", "signing build/win64/bin/quorvane.exe")
        self.assert_refused(["--timestamp", "http://timestamp.example"], None, "--timestamp needs --sign")
        self.assert_refused(["--sign"], None, "usage: package.sh")


if __name__ == "__main__":
    unittest.main(verbosity=2)
