#!/usr/bin/env python3
"""Makes the benchmark corpora from a seed; the same seed gives the same files.

  fonts/   ~800 font files (~620 MB) in a handful of sub-folders, plus a few
           non-font files: 730 small fonts (lognormal, median ~110 KB, 20-500 KB;
           bitmap .fon files under 80 KB) and 70 CJK-sized ones of 2-20 MB.
  small/   the 730 small fonts alone, hard-linked from fonts/ in the same layout.
  many/    50,000 tiny files in 250 nested folders, ~60 % of them fonts.
  installed/  1,000 small fonts of other faces: a workstation's font folder.

The outline fonts of fonts/ and installed/ begin as real fonts do (a head and
a name table naming a face of their own), so the tool reads their faces and
versions; the rest of each file, and every other file, is random.

  make_corpus.py OUT [--seed N] [--only fonts|many|installed]
"""
import argparse
import math
import os
import random
import shutil
import sys

MB = 1 << 20
KB = 1 << 10

FONT_TOTAL = 620 * MB
SMALL_COUNT = 730
FON_COUNT = 60
CJK_COUNT = 70

FOLDERS = ["Latin", "Latin/Serif", "Latin/Sans", "CJK", "CJK/中文", "Symbols", "Bitmap"]
FAMILIES = ["Arial", "Georgia", "Verdana", "Tahoma", "Garamond", "Futura", "Helvetica", "Didot", "Optima",
            "Palatino", "Frutiger", "Univers", "Rockwell", "Baskerville", "Bodoni", "Gill", "Calibri"]
STYLES = ["", "Bold", "Italic", "BoldItalic", "Light", "Medium", "Black", "Condensed", "Narrow"]
CJK_NAMES = ["simsun", "simhei", "msyh", "msyhbd", "simkai", "simfang", "mingliu", "SourceHanSans",
             "NotoSerifCJK", "方正兰亭黑", "华文细黑", "思源宋体", "微软雅黑", "等线"]
SMALL_EXTS = [".ttf"] * 10 + [".TTF"] * 3 + [".Ttf"] + [".otf"] * 4 + [".OTF"] * 2 + [".ttc"]
CJK_EXTS = [".ttc", ".TTC", ".ttf", ".otf"]
OTHER_FILES = ["readme.txt", "LICENSE.txt", "desktop.ini", "Thumbs.db", "fonts.dir", "Helvetica.afm",
               "Helvetica.pfb", "catalogue.pdf", "a.ttfx", "old.ttf.bak"]

INSTALLED_COUNT = 1000

MANY_FILES = 50_000
MANY_FOLDERS = 250
MANY_FONT_SHARE = 0.6
MANY_FONT_EXTS = [".ttf", ".TTF", ".otf", ".OtF", ".fon", ".FON", ".ttc", ".TTC"]
MANY_OTHER_EXTS = [".txt", ".afm", ".pfb", ".pfm", ".ini", ".ttfx", ".fnt", ".xml", ""]


def sfnt_header(family, version, size):
    """The start of a TrueType font of `size` bytes: the table directory, a head
    and a name table (family, style, full name, version, PostScript name) as a
    font maker writes them, and a table that covers the rest of the file, which
    is random. The tool reads its faces and version as it reads a real font's."""
    import struct
    records = [(1, family), (2, "Regular"), (4, family), (5, f"Version {version}"), (6, family.replace(" ", ""))]
    strings, entries = b"", b""
    for name_id, text in records:
        data = text.encode("utf-16-be")
        entries += struct.pack(">HHHHHH", 3, 1, 0x409, name_id, len(data), len(strings))
        strings += data
    name = struct.pack(">HHH", 0, len(records), 6 + len(entries)) + entries + strings
    major, minor = (int(part) for part in version.split("."))
    head = struct.pack(">IIIIHH", 0x00010000, (major << 16) | (minor * 65536 // 1000), 0, 0x5F0F3CF5, 0, 1000)
    head += bytes(54 - len(head))
    tables = [(b"head", head), (b"name", name)]
    offset = 12 + 16 * (len(tables) + 1)
    directory, body = b"", b""
    for tag, data in tables:
        directory += struct.pack(">4sIII", tag, 0, offset + len(body), len(data))
        body += data + bytes(-len(data) % 4)
    rest = offset + len(body)
    directory += struct.pack(">4sIII", b"zzzz", 0, rest, max(size - rest, 0))
    # The sfnt header's search fields are not read by anyone here.
    return struct.pack(">IHHHH", 0x00010000, len(tables) + 1, 0, 0, 0) + directory + body


class Content:
    """Seeded bytes: each file gets a slice of one random pool at a random offset,
    prefixed with its own index so no two files are equal, or with a font's
    header (sfnt_header) that names a face of its own."""

    POOL = 4 * MB

    def __init__(self, rng):
        self.rng = rng
        self.pool = rng.randbytes(self.POOL)

    def write(self, path, size, index, header=None):
        data = bytearray((header or f"QVB{index:08d}".encode())[:size])
        while len(data) < size:
            start = self.rng.randrange(self.POOL)
            data += self.pool[start:start + size - len(data)]
        if header:
            with_checksums(data)
        with open(path, "wb") as out:
            out.write(data)


def with_checksums(font):
    """Writes each table's checksum into the directory, head's as if its
    checkSumAdjustment were zero, as a font maker does: the tool refuses a
    font whose tables do not match their checksums."""
    import struct
    count = struct.unpack_from(">H", font, 4)[0]
    for entry in range(12, 12 + 16 * count, 16):
        tag, _, offset, length = struct.unpack_from(">4sIII", font, entry)
        table = bytes(font[offset:offset + length]) + bytes(-length % 4)
        if tag == b"head":
            table = table[:8] + bytes(4) + table[12:]
        total = sum(struct.unpack(f">{len(table) // 4}I", table)) & 0xFFFFFFFF
        struct.pack_into(">I", font, entry + 4, total)


def unique_name(rng, taken, stem, ext):
    name = stem + ext
    n = 2
    while name.lower() in taken:
        name = f"{stem}{n}{ext}"
        n += 1
    taken.add(name.lower())
    return name


def clamp(value, low, high):
    return max(low, min(high, value))


def make_fonts(out, rng):
    fonts, small = os.path.join(out, "fonts"), os.path.join(out, "small")
    for root in (fonts, small):
        shutil.rmtree(root, ignore_errors=True)
        for folder in FOLDERS:
            os.makedirs(os.path.join(root, folder))
    content = Content(rng)
    # Names are unique across folders, as the fonts all land in one target folder.
    taken = set()

    plan = []  # (folder, name, size, small)
    for i in range(SMALL_COUNT):
        if i < FON_COUNT:
            folder, stem = "Bitmap", f"{rng.choice(['ssf', 'vga', 'serife', 'sserife', 'modern', 'smalle'])}{i}"
            ext, size = rng.choice([".fon", ".FON", ".Fon"]), rng.randint(8 * KB, 79 * KB)
        else:
            folder = rng.choice(["Latin", "Latin/Serif", "Latin/Sans", "Symbols", "CJK"])
            stem = rng.choice(FAMILIES) + rng.choice(STYLES)
            ext = rng.choice(SMALL_EXTS)
            size = int(clamp(rng.lognormvariate(math.log(110 * KB), 0.75), 20 * KB, 500 * KB))
        plan.append((folder, unique_name(rng, taken, stem, ext), size, True))

    # CJK sizes are log-uniform in 2-20 MB, then scaled so the corpus totals ~620 MB.
    small_total = sum(size for *_, size, _ in plan)
    cjk = [math.exp(rng.uniform(math.log(2 * MB), math.log(20 * MB))) for _ in range(CJK_COUNT)]
    scale = (FONT_TOTAL - small_total) / sum(cjk)
    for size in cjk:
        folder = rng.choice(["CJK", "CJK/中文"])
        name = unique_name(rng, taken, rng.choice(CJK_NAMES), rng.choice(CJK_EXTS))
        plan.append((folder, name, int(clamp(size * scale, 2 * MB, 20 * MB)), False))
    rng.shuffle(plan)

    for index, (folder, name, size, is_small) in enumerate(plan):
        path = os.path.join(fonts, folder, name)
        # Outline fonts name a face of their own; the bitmap ones stay bytes the reader turns down.
        header = None if name.lower().endswith(".fon") else sfnt_header(f"Bench {index:04d}", "1.000", size)
        content.write(path, size, index, header)
        if is_small:
            os.link(path, os.path.join(small, folder, name))
    for index, name in enumerate(OTHER_FILES):
        folder = FOLDERS[index % len(FOLDERS)]
        content.write(os.path.join(fonts, folder, name), rng.randint(100, 40 * KB), len(plan) + index)

    total = sum(size for *_, size, _ in plan)
    print(f"fonts: {len(plan)} fonts, {total / MB:.0f} MB, {len(OTHER_FILES)} other files; "
          f"small: {SMALL_COUNT} fonts, {small_total / MB:.0f} MB")


def make_installed(out, rng):
    """1,000 fonts of other faces than fonts/'s, as a workstation's font
    folder holds before the collection comes: the target the face check reads."""
    installed = os.path.join(out, "installed")
    shutil.rmtree(installed, ignore_errors=True)
    os.makedirs(installed)
    content = Content(rng)
    for index in range(INSTALLED_COUNT):
        size = int(clamp(rng.lognormvariate(math.log(110 * KB), 0.75), 20 * KB, 500 * KB))
        content.write(os.path.join(installed, f"installed{index:04d}.ttf"), size, index,
                      sfnt_header(f"Installed {index:04d}", f"2.{index % 1000:03d}", size))
    print(f"installed: {INSTALLED_COUNT} fonts")


def make_many(out, rng):
    many = os.path.join(out, "many")
    shutil.rmtree(many, ignore_errors=True)
    # A random tree: each new folder hangs under an earlier one, at most 6 deep.
    folders, depth = [""], {"": 0}
    while len(folders) < MANY_FOLDERS:
        parent = rng.choice([f for f in folders if depth[f] < 6])
        child = os.path.join(parent, f"d{len(folders):03d}") if parent else f"d{len(folders):03d}"
        folders.append(child)
        depth[child] = depth[parent] + 1
    for folder in folders:
        os.makedirs(os.path.join(many, folder), exist_ok=True)

    fonts = 0
    for i in range(MANY_FILES):
        is_font = rng.random() < MANY_FONT_SHARE
        ext = rng.choice(MANY_FONT_EXTS if is_font else MANY_OTHER_EXTS)
        fonts += is_font
        path = os.path.join(many, folders[i % MANY_FOLDERS], f"f{i:05d}{ext}")
        with open(path, "wb") as out_file:
            out_file.write(rng.randbytes(rng.randint(0, 512)))
    print(f"many: {MANY_FILES} files in {MANY_FOLDERS} folders, {fonts} fonts")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("out")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--only", choices=["fonts", "installed", "many"])
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    if args.only in (None, "fonts"):
        make_fonts(args.out, random.Random(args.seed))
    if args.only in (None, "many"):
        make_many(args.out, random.Random(args.seed + 1))
    if args.only in (None, "installed"):
        make_installed(args.out, random.Random(args.seed + 2))
    # The corpus is read by every round; flush it so its write-back does not land in one.
    os.sync()


if __name__ == "__main__":
    sys.exit(main())
