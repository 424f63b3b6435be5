#!/usr/bin/env python3
"""The release packages scripts/package.sh makes, from the build trees the test
command already built (only build/linux-static is new): what the archives and
installer packages hold and how, that they are the same bytes twice, the
checksums, the static Linux tool, the Authenticode signature made with a
throw-away certificate, and the installers' install, upgrade and removal under
Wine (the x86 one only where Wine runs 32-bit programs)."""
import array
import hashlib
import os
import pwd
import re
import shutil
import stat
import struct
import subprocess
import sys
import tarfile
import tempfile
import time
import unittest
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
PACKAGE = os.path.join(ROOT, "scripts", "package.sh")
WINE_RUN = os.path.join(ROOT, "cmake", "wine-run.sh")
MAKE_MSI = os.path.join(ROOT, "scripts", "make-msi.py")
sys.path.insert(0, os.path.join(ROOT, "tests", "cli"))
from make_font import make_font  # noqa: E402


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


def tree_files(folder):
    """The files under FOLDER, by their paths relative to it with slashes."""
    return sorted(os.path.relpath(os.path.join(root, name), folder).replace(os.sep, "/")
                  for root, _, names in os.walk(folder) for name in names)


def msi_table(msi, table):
    """The rows of one table of an installer package, each a dict by column name."""
    export = subprocess.run(["msiinfo", "export", msi, table], capture_output=True, text=True, check=True).stdout
    lines = export.replace("\r\n", "\n").rstrip("\n").split("\n")
    columns = lines[0].split("\t")
    # Then the column types and the table's name and keys.
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:]]


def product_code(msi):
    return {row["Property"]: row["Value"] for row in msi_table(msi, "Property")}["ProductCode"]


def windows_path(path):
    """Wine's Z: drive is the root of the Linux file system."""
    return "Z:" + path.replace("/", "\\")


def exit_status(code):
    """What a Linux parent sees of a Windows exit code: its low 8 bits."""
    return code & 0xFF


class Wine:
    """One Wine prefix of its own for the installer tests, in a session for
    their run. A run that stopped half-way may have left Quorvane installed:
    the prefix then starts afresh."""

    def __init__(self, prefix, arch, work):
        self.prefix, self.arch, self.work = prefix, arch, work
        if self.installed_folders() or self.shortcuts():
            shutil.rmtree(prefix)
        self.call("--session", "start", check=True)

    def call(self, *args, check=False):
        return subprocess.run([WINE_RUN, "--prefix", self.prefix, "--arch", self.arch, *args],
                              capture_output=True, timeout=600, check=check)

    def end(self):
        self.call("--session", "end")

    def msiexec(self, action, msi):
        """msiexec's exit status, with its log in the work folder."""
        log = os.path.join(self.work, f"msiexec-{self.arch}-{os.path.basename(msi)}{action[1]}.log")
        return self.call("msiexec", action, windows_path(msi), "/qn", "/l*v", windows_path(log)).returncode

    def installed_folders(self):
        drive = os.path.join(self.prefix, "drive_c")
        return [os.path.join(drive, folder, "Quorvane") for folder in ("Program Files", "Program Files (x86)")
                if os.path.isdir(os.path.join(drive, folder, "Quorvane"))]

    def shortcuts(self):
        """Every Quorvane.lnk of the prefix: Wine puts a per-machine package's
        in the user's Start menu, Windows in the one all users share."""
        return [os.path.join(root, "Quorvane.lnk") for root, _, names in os.walk(os.path.join(self.prefix, "drive_c"))
                if "Quorvane.lnk" in names]

    def registry(self, key, name):
        """The value's data as reg prints it, or None when there is none."""
        query = self.call("reg", "query", key, "/v", name)
        if query.returncode != 0:
            return None
        for line in query.stdout.decode("utf-8", "replace").splitlines():
            fields = line.strip().split("    ")
            if len(fields) == 3 and fields[0].lower() == name.lower():
                return fields[2]
        return None


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
                "x64": f"quorvane-{v}-x64.msi", "x86": f"quorvane-{v}-x86.msi",
                "linux": f"quorvane-sync-{v}-linux-x86_64.tar.gz"}

    def expected_files(self, arch):
        programs = ["quorvane-sync"] if arch == "linux" else ["quorvane.exe", "quorvane-sync.exe"]
        documents = committed_documents()
        return programs, documents, folders_of(documents)

    def dist_digests(self, dist):
        return {name: hashlib.sha256(read(os.path.join(dist, name))).hexdigest() for name in sorted(os.listdir(dist))}

    # What the folder and the archives hold

    def test_dist_holds_the_packages_named_by_the_project_version_and_their_sums(self):
        for dist in (self.unsigned, self.signed):
            self.assertEqual(sorted(os.listdir(dist)), sorted(list(self.names().values()) + ["SHA256SUMS"]))
            lines = read(os.path.join(dist, "SHA256SUMS")).decode().splitlines()
            self.assertEqual([line.split("  ", 1)[1] for line in lines], sorted(self.names().values()))
            check = subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=dist, capture_output=True, text=True)
            self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
            self.assertEqual(check.stdout.count(": OK\n"), len(self.names()), check.stdout)

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
        for package in ("win64", "x64", "x86"):
            self.assertNotEqual(self.dist_digests(self.unsigned)[self.names()[package]],
                                self.dist_digests(self.signed)[self.names()[package]], package)
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

    def test_signed_executables_and_installers_verify_against_the_certificate_with_the_commit_time(self):
        signing_time = "Signing time: " + time.strftime("%b %e %H:%M:%S %Y GMT", time.gmtime(self.epoch))
        pairs = [(os.path.join(self.unpack(self.signed, arch), program),
                  os.path.join(self.unpack(self.unsigned, arch), program))
                 for arch in ("win64", "win32") for program in ("quorvane.exe", "quorvane-sync.exe")]
        pairs += [(os.path.join(self.signed, self.names()[arch]), os.path.join(self.unsigned, self.names()[arch]))
                  for arch in ("x64", "x86")]
        for signed, unsigned in pairs:
            verify = subprocess.run(["osslsigncode", "verify", "-CAfile", self.cert, "-in", signed],
                                    capture_output=True, text=True)
            self.assertEqual(verify.returncode, 0, signed + "\n" + verify.stdout + verify.stderr)
            self.assertIn("Signature verification: ok", verify.stdout)
            self.assertIn("Quorvane throw-away test signer", verify.stdout)
            self.assertIn(signing_time, verify.stdout)
            verify = subprocess.run(["osslsigncode", "verify", "-CAfile", self.cert, "-in", unsigned],
                                    capture_output=True, text=True)
            self.assertNotEqual(verify.returncode, 0, unsigned + ": an unsigned package holds no signature")

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

    # The installer packages

    def test_installers_hold_the_zip_files_for_program_files_as_the_project_version_and_upgrade(self):
        codes = {}
        for dist in (self.unsigned, self.signed):
            for arch, zip_arch in (("x64", "win64"), ("x86", "win32")):
                what = f"{os.path.basename(dist)} {arch}"
                msi = os.path.join(dist, self.names()[arch])
                extracted = os.path.join(self.work, f"extracted-{os.path.basename(dist)}-{arch}")
                os.makedirs(extracted)
                subprocess.run(["msiextract", "-C", extracted, msi], capture_output=True, check=True)
                # msiextract names the 64-bit Program Files folder not.
                folder = os.path.join(extracted, *(["Quorvane"] if arch == "x64" else ["Program Files", "Quorvane"]))
                staged = self.unpack(dist, zip_arch)
                self.assertEqual(tree_files(folder), tree_files(staged), what)
                for path in tree_files(staged):
                    self.assertEqual(read(os.path.join(folder, path)), read(os.path.join(staged, path)), what + path)

                properties = {row["Property"]: row["Value"] for row in msi_table(msi, "Property")}
                self.assertEqual(properties["ProductVersion"], self.version, what)
                self.assertEqual(properties["ALLUSERS"], "1", what + ": per machine")
                codes.setdefault(arch, set()).add(properties["ProductCode"])
                codes.setdefault("upgrade", set()).add(properties["UpgradeCode"])
                directories = {row["Directory"]: row for row in msi_table(msi, "Directory")}
                self.assertEqual(directories["INSTALLDIR"]["Directory_Parent"],
                                 "ProgramFiles64Folder" if arch == "x64" else "ProgramFilesFolder", what)
                for component in msi_table(msi, "Component"):
                    self.assertEqual(int(component["Attributes"]) & 256 != 0, arch == "x64", what + ": 64-bit")
                summary = subprocess.run(["msiinfo", "suminfo", msi], capture_output=True, text=True, check=True,
                                         env=dict(os.environ, TZ="UTC", LC_ALL="C")).stdout
                self.assertIn(f"Template: {'x64' if arch == 'x64' else 'Intel'};1033\n", summary, what)
                stamp = time.strftime("%a %b %e %H:%M:%S %Y", time.gmtime(self.epoch))
                self.assertIn(f"Created: {stamp}\n", summary, what)
                self.assertIn(f"Last saved: {stamp}\n", summary, what)
                shortcut, = msi_table(msi, "Shortcut")
                self.assertEqual((shortcut["Directory_"], shortcut["Target"]),
                                 ("ProgramMenuFolder", "[INSTALLDIR]quorvane.exe"), what)

                # An older version goes; a newer one stops the install with a message.
                rows = msi_table(msi, "Upgrade")
                self.assertEqual({row["UpgradeCode"] for row in rows}, {properties["UpgradeCode"]}, what)
                replaced, = [row for row in rows if not int(row["Attributes"]) & 2]
                detected, = [row for row in rows if int(row["Attributes"]) & 2]
                self.assertEqual((replaced["VersionMin"], replaced["VersionMax"]), ("", self.version), what)
                self.assertEqual((detected["VersionMin"], detected["VersionMax"]), (self.version, ""), what)
                condition, = msi_table(msi, "LaunchCondition")
                self.assertEqual(condition["Condition"], f"NOT {detected['ActionProperty']}", what)
                self.assertIn("A newer version of Quorvane is already installed", condition["Description"], what)
        self.assertEqual(len(codes["upgrade"]), 1, "one upgrade code, whatever the architecture")
        self.assertEqual(len(codes["x64"]), 1, "signing keeps the product code")
        self.assertNotEqual(codes["x64"], codes["x86"])

    def test_x64_installer_installs_upgrades_refuses_a_downgrade_and_uninstalls_under_wine(self):
        self.check_installer_under_wine("x64", "win64")

    def test_x86_installer_installs_upgrades_refuses_a_downgrade_and_uninstalls_under_wine(self):
        self.check_installer_under_wine("x86", "win32")

    def check_installer_under_wine(self, arch, wine_arch):
        can_run = subprocess.run([WINE_RUN, "--arch", wine_arch, "--can-run"], capture_output=True, text=True)
        if can_run.returncode != 0:
            self.skipTest(f"the {arch} installer is checked with msiinfo and msiextract only: {can_run.stdout.strip()}")
        wine = Wine(os.path.join(ROOT, "build", "package", f"wineprefix-{wine_arch}"), wine_arch, self.work)
        self.addCleanup(wine.end)
        older = os.path.join(self.signed, self.names()[arch])
        newer_version = re.sub(r"\d+$", lambda m: str(int(m.group()) + 1), self.version)
        newer_stage = os.path.join(self.work, f"newer-{arch}")
        shutil.copytree(self.unpack(self.unsigned, {"x64": "win64", "x86": "win32"}[arch]), newer_stage)
        with open(os.path.join(newer_stage, "README.md"), "ab") as f:
            f.write(b"\nThe newer package's README.\n")
        newer = os.path.join(self.work, f"quorvane-{newer_version}-{arch}.msi")
        subprocess.run([MAKE_MSI, "--arch", arch, "--version", newer_version, "--epoch", str(self.epoch),
                        newer_stage, newer], check=True, capture_output=True)

        self.assertEqual(wine.msiexec("/i", older), 0)
        installed, = wine.installed_folders()
        staged = self.unpack(self.signed, {"x64": "win64", "x86": "win32"}[arch])
        self.assertEqual(tree_files(installed), tree_files(staged))
        self.assertEqual(read(os.path.join(installed, "quorvane-sync.exe")),
                         read(os.path.join(staged, "quorvane-sync.exe")))
        self.assertEqual(len(wine.shortcuts()), 1, "the Start-menu shortcut")
        # By name, as a script calls it: the install folder is on the system PATH.
        self.assertEqual(wine.call("quorvane-sync", "--version").stdout.replace(b"\r\n", b"\n"),
                         f"quorvane-sync {self.version}\n".encode())

        # Fonts the installed tool synchronised, and its install record, are the tool's, not the package's.
        source, target = os.path.join(self.work, f"fonts-{arch}"), os.path.join(self.work, f"synced-{arch}")
        os.makedirs(source)
        os.makedirs(target)
        make_font(os.path.join(source, "QuorvaneMsiTest.ttf"), "Quorvane Msi Test")
        sync = wine.call("quorvane-sync", "--lang", "en", "--target", windows_path(target), windows_path(source))
        self.assertEqual(sync.returncode, 0, sync.stdout + sync.stderr)
        font = read(os.path.join(target, "QuorvaneMsiTest.ttf"))
        record = wine.registry(r"HKLM\SOFTWARE\Quorvane\Records", windows_path(target).lower())
        self.assertIsNotNone(record)

        older_code = product_code(older)
        newer_code = product_code(newer)
        uninstall = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
        self.assertEqual(wine.msiexec("/i", newer), 0)
        self.assertEqual(wine.registry(f"{uninstall}\\{newer_code}", "DisplayVersion"), newer_version)
        self.assertIsNone(wine.registry(f"{uninstall}\\{older_code}", "DisplayVersion"), "replaced, not beside")
        self.assertEqual(read(os.path.join(installed, "README.md")), read(os.path.join(newer_stage, "README.md")))

        self.assertEqual(wine.msiexec("/i", older), exit_status(1603), "no downgrade")
        self.assertEqual(wine.registry(f"{uninstall}\\{newer_code}", "DisplayVersion"), newer_version)
        self.assertEqual(read(os.path.join(installed, "README.md")), read(os.path.join(newer_stage, "README.md")))

        self.assertEqual(wine.msiexec("/x", newer), 0)
        self.assertEqual(wine.installed_folders(), [], "the install folder goes, and all in it")
        self.assertEqual(wine.shortcuts(), [])
        self.assertIsNone(wine.registry(f"{uninstall}\\{newer_code}", "DisplayVersion"))
        path = wine.registry(r"HKLM\System\CurrentControlSet\Control\Session Manager\Environment", "PATH")
        self.assertNotIn("quorvane", path.lower())
        self.assertNotEqual(wine.call("quorvane-sync", "--version").returncode, 0)
        self.assertEqual(read(os.path.join(target, "QuorvaneMsiTest.ttf")), font)
        self.assertEqual(wine.registry(r"HKLM\SOFTWARE\Quorvane\Records", windows_path(target).lower()), record)

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
