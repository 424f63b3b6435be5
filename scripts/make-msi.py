#!/usr/bin/env python3
"""Makes one Windows Installer package of a staged folder with Debian's wixl.

    make-msi.py --arch x64|x86 --version X.Y.Z --epoch SECONDS STAGE OUT.msi

STAGE holds the files as they are installed under Program Files\\Quorvane
(quorvane.exe, quorvane-sync.exe and the documents, in folders). The package
installs them per machine, one component each, with a Start-menu shortcut to
quorvane.exe and the folder on the system PATH; a newer version replaces an
older one (major upgrade), an older one refuses to install over a newer.

The same inputs give the same bytes. Every code is derived from the upgrade
code: the product code from the version and architecture (a new version is a
new product), each component's from its path (it stays across versions), the
package code from what the package holds. wixl writes the clock's time and a
random package code into the summary information, and the cabinet takes each
file's time from the file system: the files are dated SOURCE_DATE_EPOCH, wixl
runs in UTC, and the summary information is rewritten afterwards, in place."""
import argparse
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import uuid
from xml.sax.saxutils import quoteattr

# Never changes: Windows Installer finds the installed Quorvane, of either
# architecture, by it.
UPGRADE_CODE = uuid.UUID("0C7C9349-E208-448A-A453-C7392CDCC365")
DOWNGRADE_MESSAGE = "A newer version of Quorvane is already installed. Uninstall it first to install this one."


def code(*words):
    return "{%s}" % str(uuid.uuid5(UPGRADE_CODE, " ".join(words))).upper()


def ident(kind, path):
    """A table key for a path: readable, and unique by the path's hash."""
    readable = "".join(c if c.isalnum() else "_" for c in path)[-40:]
    return f"{kind}_{readable}_{hashlib.sha256(path.encode()).hexdigest()[:8]}"


def staged_files(stage):
    files = []
    for root, dirs, names in os.walk(stage):
        dirs.sort()
        files += [os.path.relpath(os.path.join(root, name), stage).replace(os.sep, "/") for name in sorted(names)]
    return files


def package_code(stage, files, version, arch):
    digest = hashlib.sha256()
    for path in files:
        with open(os.path.join(stage, path), "rb") as f:
            digest.update(b"%s\0%s\0" % (path.encode(), hashlib.sha256(f.read()).hexdigest().encode()))
    return code("package", version, arch, digest.hexdigest())


def source(stage, arch, version, files, base):
    """The WiX source; its File sources relative to BASE, where it is written (wixl takes no absolute one)."""
    win64 = ' Win64="yes"' if arch == "x64" else ""
    program_files = "ProgramFiles64Folder" if arch == "x64" else "ProgramFilesFolder"

    def folder(prefix, depth):
        """The Directory elements of the folder PREFIX, its files' components in it."""
        lines, pad = [], "  " * depth
        inside = [f for f in files if not prefix or f.startswith(prefix + "/")]
        here = [f for f in inside if os.path.dirname(f) == prefix]
        below = sorted({f[len(prefix):].lstrip("/").split("/")[0] for f in inside if f not in here})
        for path in here:
            name = os.path.basename(path)
            lines.append(f'{pad}<Component Id="{ident("c", path)}" Guid="{code("component", arch, path)}"{win64}>')
            lines.append(f'{pad}  <File Id="{ident("f", path)}" Name={quoteattr(name)} '
                         f'Source={quoteattr(os.path.relpath(os.path.join(stage, path), base))} KeyPath="yes"/>')
            if path == "quorvane.exe":
                # Per machine, so in the Start menu of every user.
                lines.append(f'{pad}  <Shortcut Id="StartMenuShortcut" Directory="ProgramMenuFolder" Name="Quorvane" '
                             'Target="[INSTALLDIR]quorvane.exe" WorkingDirectory="INSTALLDIR"/>')
            lines.append(f"{pad}</Component>")
        for name in below:
            sub = f"{prefix}/{name}" if prefix else name
            lines.append(f'{pad}<Directory Id="{ident("d", sub)}" Name={quoteattr(name)}>')
            lines += folder(sub, depth + 1)
            lines.append(f"{pad}</Directory>")
        return lines

    refs = "\n".join(f'      <ComponentRef Id="{ident("c", path)}"/>' for path in files)
    tree = "\n".join(folder("", 5))
    return f"""<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="{code("product", version, arch)}" UpgradeCode="{{{str(UPGRADE_CODE).upper()}}}"
           Name="Quorvane" Manufacturer="Quorvane" Version="{version}" Language="1033" Codepage="1252">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine"
             Description="Quorvane {version}" Manufacturer="Quorvane"/>
    <!-- wixl 0.101 ignores AllowSameVersionUpgrades: the other architecture of
         the same version installs beside this one, not over it. -->
    <MajorUpgrade DowngradeErrorMessage={quoteattr(DOWNGRADE_MESSAGE)}/>
    <Media Id="1" Cabinet="quorvane.cab" EmbedCab="yes"/>
    <Property Id="ARPNOMODIFY" Value="1"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramMenuFolder"/>
      <Directory Id="{program_files}">
        <Directory Id="INSTALLDIR" Name="Quorvane">
{tree}
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Quorvane" Level="1">
{refs}
    </Feature>
  </Product>
</Wix>
"""


def add_to_path(msi, component):
    """Puts the install folder at the end of the system PATH while COMPONENT is
    installed, so scripts call quorvane-sync by name. wixl 0.101 has no
    Environment element: the table and its two standard actions go in after."""
    run = subprocess.run(["msibuild", msi,
                          "-q", "CREATE TABLE `Environment` (`Environment` CHAR(72) NOT NULL, "
                                "`Name` CHAR(255) NOT NULL LOCALIZABLE, `Value` CHAR(255) LOCALIZABLE, "
                                "`Component_` CHAR(72) NOT NULL PRIMARY KEY `Environment`)",
                          # = set on install, - taken out again on removal, * the system's;
                          # [~]; appends to what is there.
                          "-q", "INSERT INTO `Environment` (`Environment`, `Name`, `Value`, `Component_`) "
                                f"VALUES ('SystemPath', '=-*PATH', '[~];[INSTALLDIR]', '{component}')",
                          # Where WiX puts them: after the files go, before they come.
                          "-q", "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) "
                                "VALUES ('RemoveEnvironmentStrings', 3300)",
                          "-q", "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) "
                                "VALUES ('WriteEnvironmentStrings', 5200)"],
                         capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(f"make-msi.py: msibuild failed:\n{run.stdout}{run.stderr}")


# The compound file the package is (MS-CFB), read far enough to find one
# stream's bytes in the file, and the property set in it (MS-OLEPS).

def stream_spans(data, name):
    """Where the bytes of the stream NAME lie in the file, as (offset, length) spans."""
    if data[:8] != bytes.fromhex("D0CF11E0A1B11AE1"):
        raise ValueError("not a compound file")
    sector = 1 << struct.unpack_from("<H", data, 0x1E)[0]
    mini = 1 << struct.unpack_from("<H", data, 0x20)[0]
    directory_start, cutoff, minifat_start = struct.unpack_from("<I4xII", data, 0x30)
    difat_start, difat_count = struct.unpack_from("<II", data, 0x44)

    def at(n):
        return (n + 1) * sector

    fat_sectors = [n for n in struct.unpack_from("<109I", data, 0x4C) if n < 0xFFFFFFFA]
    n = difat_start
    for _ in range(difat_count):
        entries = struct.unpack_from(f"<{sector // 4}I", data, at(n))
        fat_sectors += [e for e in entries[:-1] if e < 0xFFFFFFFA]
        n = entries[-1]
    fat = [e for s in fat_sectors for e in struct.unpack_from(f"<{sector // 4}I", data, at(s))]

    def chain(n):
        while n < 0xFFFFFFFA:
            yield n
            n = fat[n]

    directory = b"".join(data[at(s):at(s) + sector] for s in chain(directory_start))
    entries = [directory[i:i + 128] for i in range(0, len(directory), 128)]
    wanted = name.encode("utf-16-le")
    for entry in entries:
        length = struct.unpack_from("<H", entry, 64)[0]
        if entry[66] == 2 and length >= 2 and entry[:length - 2] == wanted:
            break
    else:
        raise ValueError(f"no stream {name!r}")
    start, size = struct.unpack_from("<IQ", entry, 116)
    if size >= cutoff:
        sectors = [(at(s), sector) for s in chain(start)]
    else:
        root_start = struct.unpack_from("<I", entries[0], 116)[0]
        mini_stream = [at(s) for s in chain(root_start)]
        minifat = [e for s in chain(minifat_start) for e in struct.unpack_from(f"<{sector // 4}I", data, at(s))]
        sectors, n = [], start
        while n < 0xFFFFFFFA:
            place = n * mini
            sectors.append((mini_stream[place // sector] + place % sector, mini))
            n = minifat[n]
    spans, left = [], size
    for offset, length in sectors:
        spans.append((offset, min(length, left)))
        left -= spans[-1][1]
    return spans


PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM = 9, 12, 13
VT_LPSTR, VT_FILETIME = 30, 64


def set_summary(path, revision, epoch):
    """Puts REVISION (the package code) and EPOCH as the times of creation and
    last save into the package's summary information, in place: the values
    have fixed lengths, so nothing else moves."""
    with open(path, "r+b") as f:
        data = f.read()
        spans = stream_spans(data, "\x05SummaryInformation")
        stream = bytearray(b"".join(data[o:o + n] for o, n in spans))
        section = struct.unpack_from("<I", stream, 44)[0]
        count = struct.unpack_from("<I", stream, section + 4)[0]
        found = set()
        for i in range(count):
            pid, offset = struct.unpack_from("<II", stream, section + 8 + 8 * i)
            value = section + offset
            kind = struct.unpack_from("<I", stream, value)[0]
            if pid == PID_REVNUMBER and kind == VT_LPSTR:
                text = revision.encode("ascii") + b"\0"
                if struct.unpack_from("<I", stream, value + 4)[0] != len(text):
                    raise ValueError("the package code wixl wrote is not a braced GUID")
                stream[value + 8:value + 8 + len(text)] = text
            elif pid in (PID_CREATE_DTM, PID_LASTSAVE_DTM) and kind == VT_FILETIME:
                # FILETIME counts 100 ns from 1601, in UTC.
                struct.pack_into("<Q", stream, value + 4, (epoch + 11644473600) * 10_000_000)
            else:
                continue
            found.add(pid)
        if found != {PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM}:
            raise ValueError("the summary information lacks the package code or a time")
        at = 0
        for offset, length in spans:
            f.seek(offset)
            f.write(stream[at:at + length])
            at += length


def main():
    parser = argparse.ArgumentParser(description="Makes one Windows Installer package of a staged folder.")
    parser.add_argument("--arch", choices=("x64", "x86"), required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--epoch", type=int, required=True)
    parser.add_argument("stage")
    parser.add_argument("out")
    args = parser.parse_args()
    stage = os.path.abspath(args.stage)
    files = staged_files(stage)
    for path in files:
        os.utime(os.path.join(stage, path), (args.epoch, args.epoch))
    with tempfile.TemporaryDirectory(prefix="quorvane-msi.") as work:
        wxs = os.path.join(work, "quorvane.wxs")
        with open(wxs, "w", encoding="utf-8") as f:
            f.write(source(stage, args.arch, args.version, files, work))
        msi = os.path.join(work, "quorvane.msi")
        run = subprocess.run(["wixl", "--arch", args.arch, "-o", msi, wxs], capture_output=True, text=True,
                             env=dict(os.environ, TZ="UTC", LC_ALL="C"))
        if run.returncode != 0:
            sys.exit(f"make-msi.py: wixl failed:\n{run.stdout}{run.stderr}")
        add_to_path(msi, ident("c", "quorvane-sync.exe"))
        try:
            set_summary(msi, package_code(stage, files, args.version, args.arch), args.epoch)
        except ValueError as error:
            sys.exit(f"make-msi.py: the package wixl wrote: {error}")
        shutil.move(msi, args.out)


if __name__ == "__main__":
    main()
