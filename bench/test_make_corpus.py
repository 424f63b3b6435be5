#!/usr/bin/env python3
"""Checks that make_corpus.py makes the corpora the benchmarks are meant to run
on: a generator that drifts would make every ratio measure something else.
Takes ~10 s and ~1 GB of temporary disk.  python3 bench/test_make_corpus.py"""
import fnmatch
import os
import statistics
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
FONT_PATTERNS = ["*.ttf", "*.otf", "*.fon", "*.ttc"]
KB, MB = 1 << 10, 1 << 20


def is_font(name):
    return any(fnmatch.fnmatch(name.lower(), pattern) for pattern in FONT_PATTERNS)


def files_under(root):
    """{relative path: (size, inode)} of every file below root."""
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            st = os.stat(path)
            found[os.path.relpath(path, root)] = (st.st_size, st.st_ino)
    return found


def make(out, seed, only):
    subprocess.run([sys.executable, os.path.join(HERE, "make_corpus.py"), out, "--seed", str(seed), "--only", only],
                   check=True, stdout=subprocess.DEVNULL)


class FontCorpusTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.temp = tempfile.TemporaryDirectory()
        make(cls.temp.name, 7, "fonts")
        cls.fonts = files_under(os.path.join(cls.temp.name, "fonts"))
        cls.small = files_under(os.path.join(cls.temp.name, "small"))

    @classmethod
    def tearDownClass(cls):
        cls.temp.cleanup()

    def test_sizes_follow_a_shared_font_collection(self):
        fonts = {path: size for path, (size, _) in self.fonts.items() if is_font(path)}
        self.assertEqual(len(fonts), 800)
        self.assertAlmostEqual(sum(fonts.values()) / MB, 620, delta=15)
        large = [size for size in fonts.values() if size >= 2 * MB]
        self.assertEqual(len(large), 70)
        self.assertTrue(all(size <= 20 * MB for size in large))
        small = [size for path, size in fonts.items() if size < 2 * MB and not path.lower().endswith(".fon")]
        self.assertTrue(all(20 * KB <= size <= 500 * KB for size in small))
        self.assertAlmostEqual(statistics.median(small) / KB, 110, delta=20)
        bitmaps = [size for path, size in fonts.items() if path.lower().endswith(".fon")]
        self.assertTrue(bitmaps and all(size < 80 * KB for size in bitmaps))

    def test_names_mix_case_and_kinds_and_stay_distinct_in_one_folder(self):
        names = [os.path.basename(path) for path in self.fonts]
        extensions = {os.path.splitext(name)[1] for name in names}
        self.assertTrue({".ttc", ".TTF", ".ttf", ".otf"} <= extensions, extensions)
        self.assertGreaterEqual(sum(not is_font(name) for name in names), 5, "a few non-font files")
        fonts = [name.lower() for name in names if is_font(name)]
        self.assertEqual(len(fonts), len(set(fonts)), "every font must land in the target folder")
        self.assertGreaterEqual(len({os.path.dirname(path) for path in self.fonts}), 5)

    def test_small_corpus_is_the_small_fonts_linked_in_place(self):
        expected = {path: entry for path, entry in self.fonts.items() if is_font(path) and entry[0] < 2 * MB}
        self.assertEqual(len(self.small), 730)
        self.assertEqual(self.small, expected)


def family_of(path):
    """Name ID 1 of a font the generator made, read as the tool reads it."""
    import struct
    with open(path, "rb") as f:
        data = f.read(4096)
    if data[:4] != b"\x00\x01\x00\x00":
        return None
    for i in range(struct.unpack(">H", data[4:6])[0]):
        tag, _, offset, _ = struct.unpack(">4sIII", data[12 + 16 * i:28 + 16 * i])
        if tag == b"name":
            _, count, storage = struct.unpack(">HHH", data[offset:offset + 6])
            for r in range(count):
                *_, name_id, length, at = struct.unpack(">HHHHHH", data[offset + 6 + 12 * r:offset + 18 + 12 * r])
                if name_id == 1:
                    start = offset + storage + at
                    return data[start:start + length].decode("utf-16-be")
    return None


class FacesTest(unittest.TestCase):
    """The face check reads real font headers in the corpora, each a face of its own."""

    def test_outline_fonts_name_faces_of_their_own_and_installed_ones_others(self):
        with tempfile.TemporaryDirectory() as out:
            make(out, 5, "fonts")
            make(out, 5, "installed")
            fonts = [os.path.join(out, "fonts", p) for p in files_under(os.path.join(out, "fonts"))
                     if is_font(p) and not p.lower().endswith(".fon")]
            installed = [os.path.join(out, "installed", p) for p in files_under(os.path.join(out, "installed"))]
            self.assertEqual(len(installed), 1000)
            families = [family_of(p) for p in fonts]
            self.assertNotIn(None, families)
            self.assertEqual(len(set(families)), len(fonts), "no two source fonts share a face")
            others = {family_of(p) for p in installed}
            self.assertEqual(len(others), 1000)
            self.assertFalse(others & set(families), "nothing of the collection is installed yet")


class ManyFilesCorpusTest(unittest.TestCase):
    def test_fifty_thousand_files_in_nested_folders_made_the_same_from_a_seed(self):
        with tempfile.TemporaryDirectory() as first, tempfile.TemporaryDirectory() as second:
            make(first, 3, "many")
            make(second, 3, "many")
            files = files_under(os.path.join(first, "many"))
            self.assertEqual(len(files), 50_000)
            folders = {os.path.dirname(path) for path in files}
            self.assertEqual(len(folders), 250)
            self.assertGreater(max(path.count(os.sep) for path in files), 2, "folders nest")
            self.assertAlmostEqual(sum(map(is_font, files)) / len(files), 0.6, delta=0.02)
            self.assertTrue(all(size < 4 * KB for size, _ in files.values()))
            again = files_under(os.path.join(second, "many"))
            self.assertEqual({path: size for path, (size, _) in files.items()},
                             {path: size for path, (size, _) in again.items()})


if __name__ == "__main__":
    unittest.main()
