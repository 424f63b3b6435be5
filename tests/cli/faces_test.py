#!/usr/bin/env python3
"""quorvane-sync decides by what a font file holds, not by its name: versions
(--newer) and faces installed under another file name, with fonts made here
(tests/cli/make_font.py) and the real ones Debian and Wine ship. Run as
tool_test.py is, natively or the .exe under Wine:

  faces_test.py --tool build/linux/bin/quorvane-sync [CASE...]
  faces_test.py --tool build/win64/bin/quorvane-sync.exe --runner 'cmake/wine-run.sh|--prefix|P|--arch|win64'
                --driver build/win64/bin/tool_driver.exe [CASE...]
"""
import json
import os
import shutil
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tool_test  # noqa: E402
from make_font import make_collection, make_font  # noqa: E402
from tool_test import ToolCase, json_lines, write  # noqa: E402

IPAG = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf"
IPAG_ALIAS = "/usr/share/fonts/truetype/fonts-japanese-gothic.ttf"
WINE_FONTS = "/usr/share/wine/fonts"


def backend():
    return tool_test.BACKEND


def age(path, seconds):
    """An older last-write time, so that size and time tell the file apart."""
    then = time.time() - seconds
    os.utime(path, (then, then))


class Versions(ToolCase):
    """--newer: a same-name font is replaced only by a newer version."""

    def pair(self, name, family, source, target):
        make_font(os.path.join(self.src, name), family, source)
        make_font(os.path.join(self.dst, name), family, target, padding=7)
        age(os.path.join(self.dst, name), 3600)

    # Which version wins is the core's (FontChecksTest.UnderNewerTheVersionsDecideASameNameFont); here, how it is told.
    def test_versions_decide_and_are_reported(self):
        self.pair("older.ttf", "Quorvane Older", "1.000", "1.100")
        self.pair("same.ttf", "Quorvane Same", "1.000", "1.000")
        write(os.path.join(self.src, "notes.ttf"), b"no font")
        write(os.path.join(self.dst, "notes.ttf"), b"no font either")
        log = os.path.join(self.dir, "sync.log")
        result = self.sync("--newer", "--json", "--lang", "en", "--log", backend().path(log))
        self.assertEqual(result.returncode, 0, result.stderr)
        rows, summary = json_lines(result.stdout)
        by_name = {r["source"].rsplit("\\" if backend().wine else "/", 1)[1]: r for r in rows}
        self.assertEqual({n: r["status"] for n, r in by_name.items()},
                         {"older.ttf": "target-newer", "same.ttf": "same-version", "notes.ttf": "replaced"})
        self.assertEqual((by_name["older.ttf"]["source_version"], by_name["older.ttf"]["target_version"]),
                         ("Version 1.000", "Version 1.100"))
        self.assertNotIn("source_version", by_name["notes.ttf"], "unknown versions: --update's rule, no versions")
        self.assertEqual((summary["target-newer"], summary["same-version"], summary["exit"]), (1, 1, 0))
        with open(os.path.join(self.dst, "older.ttf"), "rb") as f:
            self.assertTrue(f.read().endswith(b"\0" * 7), "the newer target stays")
        with open(log, encoding="utf-8") as f:
            logged = [json.loads(line) for line in f if line.strip()]
        self.assertIn("target_version", next(r for r in logged if r.get("status") == "target-newer"))

        # The TSV lines keep their three fields; the log's carry the versions after them.
        self.pair("older.ttf", "Quorvane Older", "1.000", "1.100")
        tsv_log = os.path.join(self.dir, "tsv.log")
        tsv = self.sync("--newer", "--lang", "en", "--log", backend().path(tsv_log))
        self.assertEqual(tsv.returncode, 0, tsv.stderr)
        lines = [line.split("\t") for line in tsv.stdout.decode("utf-8").splitlines()[:-1]]
        self.assertTrue(lines and all(len(fields) == 3 for fields in lines), lines)
        with open(tsv_log, encoding="utf-8") as f:
            logged = [line.rstrip("\n").split("\t") for line in f if not line.startswith("#")]
        older = next(fields for fields in logged if fields[1] == "target-newer")
        self.assertEqual(older[3:], ["Version 1.000", "Version 1.100"])


class Faces(ToolCase):
    """A face installed under another file name is one font, not two."""

    def installed(self, name, family, version):
        make_font(os.path.join(self.dst, name), family, version)

    def offered(self, name, family, version):
        make_font(os.path.join(self.src, name), family, version)

    def rows(self, *options, code):
        result = self.sync(*options, "--json", "--lang", "en")
        self.assertEqual(result.returncode, code, result.stderr)
        rows, summary = json_lines(result.stdout)
        return {os.path.basename(r["source"].replace("\\", "/")): r for r in rows}, summary, result.stderr.decode()

    def test_the_same_face_is_installed_as_the_other_file_and_another_version_conflicts(self):
        self.installed("QSame.ttf", "Quorvane Same", "1.000")
        self.installed("QOther-1.ttf", "Quorvane Other", "1.000")
        self.offered("QSame-copy.ttf", "Quorvane Same", "1.000")
        self.offered("QOther-2.ttf", "Quorvane Other", "2.000")
        rows, summary, err = self.rows(code=1)
        same, other = rows["QSame-copy.ttf"], rows["QOther-2.ttf"]
        self.assertEqual((same["status"], same["other"]), ("installed-as", backend().path(f"{self.dst}/QSame.ttf")))
        self.assertEqual((other["status"], other["other"]), ("conflict", backend().path(f"{self.dst}/QOther-1.ttf")))
        self.assertEqual((other["source_version"], other["target_version"]), ("Version 2.000", "Version 1.000"))
        self.assertEqual(sorted(os.listdir(self.dst)), ["QOther-1.ttf", "QSame.ttf"], "nothing copied beside them")
        self.assertEqual((summary["installed-as"], summary["conflict"], summary["exit"]), (1, 1, 1))
        self.assertIn("already installed", err)
        self.assertRegex(err, r"font conflict .*QOther-2\.ttf: .*QOther-1\.ttf holds the same face in another version "
                              r"\(source Version 2\.000, installed Version 1\.000\)")

        # Alone, the face installed as another file is in step: exit 0.
        os.unlink(os.path.join(self.src, "QOther-2.ttf"))
        self.assertEqual(self.rows(code=0)[0]["QSame-copy.ttf"]["status"], "installed-as")

    def test_replace_or_a_newer_version_takes_the_installed_ones_place(self):
        self.installed("QFace-1.ttf", "Quorvane Face", "1.000")
        self.offered("QFace-2.ttf", "Quorvane Face", "2.000")
        rows, _, err = self.rows("--newer", code=0)
        self.assertEqual((rows["QFace-2.ttf"]["status"], rows["QFace-2.ttf"]["other"]),
                         ("replaced", backend().path(f"{self.dst}/QFace-1.ttf")))
        self.assertRegex(err, r"took the place of .*QFace-1\.ttf")
        self.assertEqual(os.listdir(self.dst), ["QFace-2.ttf"], "the old file goes once the new one is in place")

        # An older version under --newer conflicts; --replace puts it in whatever its version.
        shutil.rmtree(self.src)
        os.makedirs(self.src)
        self.offered("QFace-0.ttf", "Quorvane Face", "0.900")
        self.assertEqual(self.rows("--newer", code=1)[0]["QFace-0.ttf"]["status"], "conflict")
        self.assertEqual(os.listdir(self.dst), ["QFace-2.ttf"], "the newer installed one stays")
        self.assertEqual(self.rows("--replace", code=0)[0]["QFace-0.ttf"]["status"], "replaced")
        self.assertEqual(os.listdir(self.dst), ["QFace-0.ttf"])

    def test_what_a_font_says_reaches_the_console_and_the_log_escaped_and_names_no_value(self):
        self.installed("QOther-1.ttf", "Quorvane Other", "1.000")
        self.offered("QOther-2.ttf", "Quorvane Other", "\x1b]0;owned\x07\x1b[2J")
        self.offered("QEvil.ttf", "Quorvane\x1b[8m Evil", "1.000")
        log = os.path.join(self.dir, "sync.log")
        result = self.sync("--register", "--lang", "en", "--log", backend().path(log))
        self.assertEqual(result.returncode, 1, result.stderr)
        with open(log, "rb") as f:
            logged = f.read()
        evil = backend().path(os.path.join(self.src, "QEvil.ttf")).encode()
        for said in (result.stderr, logged):
            self.assertNotIn(b"\x1b", said)
            self.assertNotIn(b"\x07", said)
            self.assertIn(b"(source Version \\x1b]0;owned\\x07\\x1b[2J, installed Version 1.000)", said)
            self.assertIn(b"registration failed " + evil + b": read: the font's name holds a control character\n", said)

    def test_debians_two_names_for_ipa_gothic_are_copied_once(self):
        if not os.path.isfile(IPAG):
            self.skipTest("no fonts-ipafont-gothic (scripts/install-deps.sh installs it)")
        shutil.copy(IPAG, os.path.join(self.src, "ipag.ttf"))
        shutil.copy(IPAG, os.path.join(self.src, "fonts-japanese-gothic.ttf"))
        rows, summary, _ = self.rows(code=0)
        others = {r.get("other") for r in rows.values()} - {None}
        if backend().wine and not any(o.startswith(backend().path(self.dst)) for o in others):
            # Wine installs the host's fonts under the Fonts key: IPAGothic is on this machine already.
            self.assertEqual([r["status"] for r in rows.values()], ["installed-as", "installed-as"])
            self.assertEqual(len(others), 1, others)
            self.assertEqual(os.listdir(self.dst), [])
            return
        self.assertEqual(sorted(r["status"] for r in rows.values()), ["copied", "installed-as"])
        self.assertEqual(len(os.listdir(self.dst)), 1)
        # And again: the one copied is up to date, the other still installed as it.
        again, _, _ = self.rows("--update", code=0)
        self.assertEqual(sorted(r["status"] for r in again.values()), ["installed-as", "up-to-date"])

    def test_wines_code_page_variants_of_one_bitmap_font_are_one_font(self):
        if not backend().wine:
            self.skipTest("Wine's own .fon files, under Wine")
        for name in ("coure.fon", "coue1255.fon"):
            shutil.copy(os.path.join(WINE_FONTS, name), self.src)
        rows, _, _ = self.rows(code=0)
        self.assertEqual(sorted(r["status"] for r in rows.values()), ["copied", "installed-as"])


class RegistryFaces(tool_test.WineFontsKey):
    """Under Wine: the Fonts key never gets a silent second file for one value name."""

    FONTS = "C:\\windows\\Fonts"

    def run_json(self, *options, code):
        result = backend().run(*options, "--json", "--lang", "en", backend().path(self.src))
        self.assertEqual(result.returncode, code, result.stderr)
        return json_lines(result.stdout)

    def test_a_value_naming_another_file_is_kept_and_a_stale_one_replaced(self):
        self.wine_only()
        value = "Quorvane Reg (TrueType)"
        self.take_over("HKLM", self.FONTS, ["QuorvaneReg.ttf", "decoy.ttf"], [value])
        write(os.path.join(self.drive_c(self.FONTS), "decoy.ttf"), b"a file of another kind, in use by its value")
        self.values("HKLM", self.FONTS_KEY, "set", value, "decoy.ttf")
        make_font(os.path.join(self.src, "QuorvaneReg.ttf"), "Quorvane Reg")

        rows, summary = self.run_json("--register", code=1)
        self.assertEqual(rows[0]["status"], "copied")
        self.assertEqual(rows[0]["registration"], {"status": "conflict", "name": value,
                                                   "other": self.FONTS + "\\decoy.ttf"})
        self.assertEqual(summary["registration"]["conflict"], 1)
        self.assertEqual(self.fonts_values().get(value), "decoy.ttf", "the value stays as it was")

        # Its file gone, the value is stale: replaced, and the row says what it named.
        os.unlink(os.path.join(self.drive_c(self.FONTS), "decoy.ttf"))
        rows, _ = self.run_json("--register", "--replace", code=0)
        self.assertEqual(rows[0]["registration"], {"status": "registered", "name": value, "replaced": "decoy.ttf"})
        self.assertEqual(self.fonts_values().get(value), "QuorvaneReg.ttf")

    def test_a_newer_version_under_another_name_takes_the_value_and_the_old_file_goes(self):
        self.wine_only()
        value = "Quorvane Face (TrueType)"
        self.take_over("HKLM", self.FONTS, ["QFace-1.ttf", "QFace-2.ttf"], [value])
        make_font(os.path.join(self.src, "QFace-1.ttf"), "Quorvane Face", "1.000")
        self.run_json("--register", code=0)
        self.assertEqual(self.fonts_values().get(value), "QFace-1.ttf")

        os.unlink(os.path.join(self.src, "QFace-1.ttf"))
        make_font(os.path.join(self.src, "QFace-2.ttf"), "Quorvane Face", "2.000")
        rows, summary = self.run_json("--newer", "--register", code=0)
        self.assertEqual((rows[0]["status"], rows[0]["other"]), ("replaced", self.FONTS + "\\QFace-1.ttf"))
        self.assertEqual(rows[0]["registration"]["status"], "registered")
        values = self.fonts_values()
        self.assertEqual(values.get(value), "QFace-2.ttf")
        self.assertEqual([d for d in values.values() if d.startswith("QFace")], ["QFace-2.ttf"], "one value")
        local = os.listdir(self.drive_c(self.FONTS))
        self.assertIn("QFace-2.ttf", local)
        self.assertNotIn("QFace-1.ttf", local)
        self.assertTrue(self.family_found("Quorvane Face"))


    def test_a_share_font_borrowing_an_installed_ones_postscript_name_takes_nothing_over(self):
        self.wine_only()
        corp, other = "Corp Sans (TrueType)", "Totally Other (TrueType)"
        self.take_over("HKLM", self.FONTS, ["corp.ttf", "zz.ttf"], [corp, other])
        make_font(os.path.join(self.src, "corp.ttf"), "Corp Sans", "1.000", postscript="CorpSans")
        self.run_json("--register", code=0)
        self.assertEqual(self.fonts_values().get(corp), "corp.ttf")

        os.unlink(os.path.join(self.src, "corp.ttf"))
        make_font(os.path.join(self.src, "zz.ttf"), "Totally Other", "1.001", postscript="CorpSans")
        rows, _ = self.run_json("--newer", "--register", code=0)
        self.assertEqual((rows[0]["status"], rows[0].get("other")), ("copied", None))
        values = self.fonts_values()
        self.assertEqual((values.get(corp), values.get(other)), ("corp.ttf", "zz.ttf"))
        local = os.listdir(self.drive_c(self.FONTS))
        self.assertIn("corp.ttf", local)
        self.assertIn("zz.ttf", local)

    def test_a_newer_face_leaves_a_collection_it_does_not_hold_whole_and_its_value(self):
        self.wine_only()
        family, alpha = "Qv Alpha & Qv Beta & Qv Gamma (TrueType)", "Qv Alpha (TrueType)"
        self.take_over("HKLM", self.FONTS, ["qvfamily.ttc", "qvalpha2.ttf"], [family, alpha])
        make_collection(os.path.join(self.src, "qvfamily.ttc"), ["Qv Alpha", "Qv Beta", "Qv Gamma"])
        self.run_json("--register", code=0)
        self.assertEqual(self.fonts_values().get(family), "qvfamily.ttc")

        os.unlink(os.path.join(self.src, "qvfamily.ttc"))
        make_font(os.path.join(self.src, "qvalpha2.ttf"), "Qv Alpha", "2.000")
        rows, summary = self.run_json("--newer", "--register", code=1)
        self.assertEqual((rows[0]["status"], rows[0]["other"]), ("conflict", self.FONTS + "\\qvfamily.ttc"))
        values = self.fonts_values()
        self.assertEqual((values.get(family), values.get(alpha)), ("qvfamily.ttc", None))
        local = os.listdir(self.drive_c(self.FONTS))
        self.assertIn("qvfamily.ttc", local)
        self.assertNotIn("qvalpha2.ttf", local)


def main():
    tool_test.main()


if __name__ == "__main__":
    main()
