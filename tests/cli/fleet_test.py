#!/usr/bin/env python3
"""quorvane-sync for fleets that keep a desired state: --check asks "is this
machine in step?" and writes nothing; --prune removes what the tool installed
and the collection no longer holds, and nothing when it cannot be sure. Run as
tool_test.py is, natively or the .exe under Wine:

  fleet_test.py --tool build/linux/bin/quorvane-sync [CASE...]
  fleet_test.py --tool build/win64/bin/quorvane-sync.exe --runner 'cmake/wine-run.sh|--prefix|P|--arch|win64'
                --driver build/win64/bin/tool_driver.exe [CASE...]
"""
import hashlib
import json
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tool_test  # noqa: E402
from make_font import make_collection, make_font  # noqa: E402
from tool_test import NOBODY, ToolCase, json_lines, temporaries, write  # noqa: E402


def backend():
    return tool_test.BACKEND


class FleetCase(ToolCase):
    def fonts(self, *names, folder=None):
        os.makedirs(folder or self.src, exist_ok=True)
        for name in names:
            make_font(os.path.join(folder or self.src, name), "Quorvane " + os.path.splitext(name)[0])

    def json(self, *options, code, **kw):
        result = self.sync(*options, "--json", "--lang", "en", **kw)
        self.assertEqual(result.returncode, code, result.stderr)
        rows, summary = json_lines(result.stdout)
        return {os.path.basename(r["target"].replace("\\", "/")): r["status"] for r in rows}, summary, \
            result.stderr.decode()

    def listing(self):
        return sorted(os.listdir(self.dst))


class Check(FleetCase):
    """--check: only what is out of step, nothing written, exit 0 in step and 1 not."""

    def test_check_then_run_then_check_is_in_step(self):
        self.fonts("a.ttf", "b.ttf", "c.otf")
        stale = os.path.join(self.dst, ".quorvane-0123456789abcdef.tmp")
        write(stale, b"a dead run's temporary")
        # Root keeps its records in the system's folder whatever the environment says.
        def files():
            return {os.path.join(root, name) for folder in (self.state, "/var/lib/quorvane")
                    for root, _, names in os.walk(folder) for name in names}
        before = files()
        rows, summary, _ = self.json("--check", "--update", "--prune", code=1)
        made = files() - before
        self.assertEqual(rows, {"a.ttf": "would-copy", "b.ttf": "would-copy", "c.otf": "would-copy"})
        self.assertEqual((summary["would-copy"], summary["check"], summary["dry_run"]), (3, True, True))
        self.assertEqual(self.listing(), [os.path.basename(stale)], "no font, no clean-up of stale temporaries")

        rows, summary, _ = self.json("--update", code=0)
        self.assertEqual(set(rows.values()), {"copied"})
        if not backend().wine:
            record = summary["record"]["location"]
            self.assertTrue(os.path.isfile(record))
            self.assertNotIn(record, made, "the check wrote no record")
        self.assertEqual(self.json("--check", "--update", code=0)[0], {}, "in step: no row at all")
        tsv = self.sync("--check", "--update", "--lang", "en")
        self.assertEqual(tsv.returncode, 0)
        self.assertEqual(len(tsv.stdout.splitlines()), 1, "only the summary line")

    def test_a_same_name_font_is_judged_as_update_judges_it(self):
        self.fonts("a.ttf")
        write(os.path.join(self.dst, "a.ttf"), b"another a")
        self.assertEqual(self.json("--check", code=0)[0], {}, "under plain --ignore a same-name font is in step")
        self.assertEqual(self.json("--check", "--replace", code=1)[0], {"a.ttf": "would-replace"})
        self.assertEqual(self.json("--check", "--update", code=1)[0], {"a.ttf": "would-replace"})
        self.assertEqual(self.json("--update", code=0)[0], {"a.ttf": "replaced"})
        self.assertEqual(self.json("--check", "--replace", code=0)[0], {}, "the same size and time are in step")

    def test_a_face_conflict_is_out_of_step(self):
        make_font(os.path.join(self.dst, "Face-1.ttf"), "Quorvane Face", "1.000")
        make_font(os.path.join(self.src, "Face-2.ttf"), "Quorvane Face", "2.000")
        self.assertEqual(self.json("--check", "--update", code=1)[0], {"Face-2.ttf": "conflict"})
        self.assertEqual(self.json("--check", "--newer", code=1)[0], {"Face-2.ttf": "would-replace"})
        self.assertEqual(self.json("--newer", code=0)[0], {"Face-2.ttf": "replaced"})
        self.assertEqual(self.json("--check", "--newer", code=0)[0], {})

    def test_a_check_makes_no_folder(self):
        self.native_only("the Windows font folder always exists")
        self.fonts("a.ttf")
        home = os.path.join(self.dir, "home")
        os.makedirs(home)
        env = backend().env(HOME=home, LC_ALL="C")
        for name in ("XDG_DATA_HOME", "XDG_STATE_HOME"):
            env.pop(name, None)
        result = backend().run("--check", "--prune", self.src, env=env)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(os.listdir(home), [], "neither the default target nor a records folder")

    def test_refused_input_is_two_for_a_check_too(self):
        self.assertEqual(self.sync("--check", source=os.path.join(self.dir, "no-such-share")).returncode, 2)


class Prune(FleetCase):
    """--prune removes what the tool installed and no source lists; nothing more, and nothing when unsure."""

    def test_what_the_share_dropped_goes_and_nothing_else(self):
        self.fonts("keep.ttf", "drop.ttf", "theirs.ttf")
        write(os.path.join(self.dst, "theirs.ttf"), b"there before quorvane-sync")
        write(os.path.join(self.dst, "stranger.ttf"), b"never quorvane-sync's")
        self.assertEqual(self.json("--replace", code=0)[0], {"keep.ttf": "copied", "drop.ttf": "copied",
                                                              "theirs.ttf": "replaced"})
        for name in ("drop.ttf", "theirs.ttf"):
            os.unlink(os.path.join(self.src, name))

        rows, summary, _ = self.json("--check", "--update", "--prune", code=1)
        self.assertEqual(rows, {"drop.ttf": "would-remove"})
        self.assertIn("drop.ttf", self.listing())
        rows, summary, _ = self.json("--update", "--prune", code=0)
        self.assertEqual(rows, {"keep.ttf": "up-to-date", "drop.ttf": "removed"})
        self.assertEqual(summary["removed"], 1)
        self.assertEqual(self.listing(), ["keep.ttf", "stranger.ttf", "theirs.ttf"],
                         "a font there before the tool first wrote its name stays, replaced or not")
        self.assertEqual(self.json("--check", "--update", "--prune", code=0)[0], {})

    def test_a_link_planted_for_an_installed_font_is_removed_and_its_target_kept(self):
        self.native_only("a symbolic link")
        self.fonts("keep.ttf", "drop.ttf")
        self.json(code=0)
        os.unlink(os.path.join(self.src, "drop.ttf"))
        # Elsewhere, with the installed font's bytes and time, so that the link passes for it.
        installed, elsewhere = os.path.join(self.dst, "drop.ttf"), os.path.join(self.dir, "elsewhere.ttf")
        shutil.copy2(installed, elsewhere)
        os.unlink(installed)
        os.symlink(elsewhere, installed)
        self.assertEqual(self.json("--prune", code=0)[0].get("drop.ttf"), "removed")
        self.assertFalse(os.path.lexists(installed))
        self.assertTrue(os.path.isfile(elsewhere), "the link goes, not the file it points at")

    def test_more_than_max_delete_removes_nothing(self):
        self.fonts("a.ttf", "b.ttf", "c.ttf")
        self.json(code=0)
        for name in ("a.ttf", "b.ttf"):
            os.unlink(os.path.join(self.src, name))
        rows, summary, err = self.json("--update", "--prune", "--max-delete", "1", code=1)
        self.assertEqual(rows, {"c.ttf": "up-to-date"})
        self.assertEqual((summary["record"]["prune_refused"], summary["record"]["would_remove"]), ("max-delete", 2))
        self.assertIn("removed nothing: 2 fonts would go, more than --max-delete 1", err)
        self.assertEqual(self.listing(), ["a.ttf", "b.ttf", "c.ttf"])
        self.assertEqual(self.json("--update", "--prune", "--max-delete", "2", code=0)[0],
                         {"c.ttf": "up-to-date", "a.ttf": "removed", "b.ttf": "removed"})

    def test_a_source_that_cannot_be_read_whole_removes_nothing(self):
        self.native_only("Wine runs as an administrator, who reads every folder")
        self.root_only()
        self.fonts("a.ttf", "gone.ttf")
        self.fonts("inner.ttf", folder=os.path.join(self.src, "locked"))
        os.chown(self.dst, NOBODY, NOBODY)
        self.json(code=0, user=NOBODY)
        os.unlink(os.path.join(self.src, "gone.ttf"))
        os.chmod(os.path.join(self.src, "locked"), 0)
        rows, summary, err = self.json("--update", "--prune", code=1, user=NOBODY)
        self.assertEqual(summary["record"]["prune_refused"], "sources-incomplete")
        self.assertIn("removed nothing: a source folder could not be read completely", err)
        self.assertEqual(self.listing(), ["a.ttf", "gone.ttf", "inner.ttf"])

    def test_a_damaged_record_removes_nothing_and_is_not_written_over(self):
        self.native_only("the record is a file here; under Wine a registry value")
        self.fonts("a.ttf", "gone.ttf")
        record = self.json(code=0)[1]["record"]["location"]
        with open(record, "r+b") as f:
            f.seek(40)
            f.write(b"#")
        with open(record, "rb") as f:
            damaged = f.read()
        os.unlink(os.path.join(self.src, "gone.ttf"))
        rows, summary, err = self.json("--update", "--prune", code=1)
        self.assertEqual(summary["record"]["prune_refused"], "record-damaged")
        self.assertIn("removed nothing: the record of what quorvane-sync installed is damaged", err)
        self.assertIn("gone.ttf", self.listing())
        with open(record, "rb") as f:
            self.assertEqual(f.read(), damaged, "never rewritten, least of all as empty")

    # What a share, a user or another job can do to the target, and --prune still takes nothing it must not.
    def test_a_face_the_share_still_provides_stays(self):
        make_font(os.path.join(self.src, "a.ttf"), "Quorvane Renamed")
        self.json("--update", code=0)
        # Renamed on the share: the row is installed as the old name, which is what the share provides.
        os.rename(os.path.join(self.src, "a.ttf"), os.path.join(self.src, "b.ttf"))
        self.assertEqual(self.json("--check", "--update", "--prune", code=0)[0], {})
        self.assertEqual(self.json("--update", "--prune", code=0)[0], {"b.ttf": "installed-as"})
        self.assertEqual(self.listing(), ["a.ttf"])
        # A new version under another name: it conflicts under --update, takes the place under --newer.
        os.unlink(os.path.join(self.src, "b.ttf"))
        make_font(os.path.join(self.src, "c.ttf"), "Quorvane Renamed", "2.000")
        self.assertEqual(self.json("--update", "--prune", code=1)[0], {"c.ttf": "conflict"})
        self.assertEqual(self.listing(), ["a.ttf"])
        self.assertEqual(self.json("--check", "--newer", "--prune", code=1)[0], {"c.ttf": "would-replace"},
                         "what the run then does, and nothing more")
        self.assertEqual(self.json("--newer", "--prune", code=0)[0], {"c.ttf": "replaced"})
        self.assertEqual(self.listing(), ["c.ttf"])
        self.assertEqual(self.json("--check", "--newer", "--prune", code=0)[0], {})

    def test_a_font_there_before_stays_after_a_newer_version_took_its_place(self):
        make_font(os.path.join(self.dst, "corp-sans-old.ttf"), "Quorvane Corp Sans", "1.000")
        make_font(os.path.join(self.src, "CorpSans.ttf"), "Quorvane Corp Sans", "2.000")
        self.assertEqual(self.json("--newer", "--prune", code=0)[0], {"CorpSans.ttf": "replaced"})
        os.unlink(os.path.join(self.src, "CorpSans.ttf"))
        self.assertEqual(self.json("--check", "--newer", "--prune", code=0)[0], {})
        self.assertEqual(self.json("--newer", "--prune", code=0)[0], {})
        self.assertEqual(self.listing(), ["CorpSans.ttf"], "the face the machine had before the tool")

    def test_fonts_removed_by_hand_are_forgotten_once_and_never_counted(self):
        self.fonts("a.ttf", "b.ttf", "c.ttf")
        self.json(code=0)
        for name in ("a.ttf", "b.ttf"):
            os.unlink(os.path.join(self.src, name))
            os.unlink(os.path.join(self.dst, name))
        self.assertEqual(self.json("--check", "--update", "--prune", "--max-delete", "1", code=0)[0], {})
        rows, summary, err = self.json("--update", "--prune", "--max-delete", "1", code=0)
        self.assertEqual((rows, summary["record"].get("gone_since")), ({"c.ttf": "up-to-date"}, 2))
        self.assertIn("2 fonts that quorvane-sync installed were removed since by another", err)
        self.assertNotIn("removed since", self.json("--update", "--prune", "--max-delete", "1", code=0)[2], "said once")

    def test_two_jobs_on_one_target_keep_each_others_fonts(self):
        corp, dept = self.src, os.path.join(self.dir, "dept")
        self.fonts("corp.ttf")
        self.fonts("dept.ttf", folder=dept)
        for source in (corp, dept, corp):
            self.assertNotIn("removed", self.json("--update", "--prune", code=0, source=source)[0].values())
        self.assertEqual(self.listing(), ["corp.ttf", "dept.ttf"])
        os.unlink(os.path.join(dept, "dept.ttf"))
        self.assertEqual(self.json("--update", "--prune", code=0, source=corp)[0], {"corp.ttf": "up-to-date"})
        self.assertEqual(self.json("--update", "--prune", code=0, source=dept)[0], {"dept.ttf": "removed"})

    def test_a_folder_link_or_an_entry_that_cannot_be_told_removes_nothing(self):
        self.native_only("links as Linux makes them")
        self.fonts("a.ttf", "gone.ttf")
        self.fonts("inner.ttf", folder=os.path.join(self.src, "sub"))
        self.json(code=0)
        os.unlink(os.path.join(self.src, "gone.ttf"))
        moved, sub = os.path.join(self.dir, "moved"), os.path.join(self.src, "sub")
        os.rename(sub, moved)
        os.symlink(moved, sub)
        _, summary, err = self.json("--update", "--prune", code=1)
        self.assertEqual(summary["record"]["prune_refused"], "sources-incomplete")
        self.assertIn("warning: a link to a folder is not followed: " + sub, err)
        os.unlink(sub)
        os.rename(moved, sub)
        dangling = os.path.join(self.src, "dangling.ttf")
        os.symlink(os.path.join(self.dir, "nowhere"), dangling)
        _, summary, err = self.json("--update", "--prune", code=1)
        self.assertEqual(summary["record"]["prune_refused"], "sources-incomplete")
        self.assertIn("warning: cannot tell what this is: " + dangling, err)
        self.assertEqual(self.listing(), ["a.ttf", "gone.ttf", "inner.ttf"])

    def test_unicode_line_breaks_stay_inside_their_row(self):
        names = ["a\u2028b.ttf", "c\u2029d.ttf", "e\u0085f.ttf"]
        self.fonts(*names)
        result = self.sync("--json", "--lang", "en")
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stdout.decode().splitlines()
        self.assertEqual(len(lines), 4, "three rows and the summary, whatever splits them")
        self.assertEqual(sorted(json.loads(line)["target"].replace("\\", "/").rsplit("/", 1)[1]
                                for line in lines[:3]), sorted(names))
        ansible = shutil.which("ansible")
        if backend().wine or not ansible:
            return
        with open(ansible) as f:
            python = f.readline()[2:].strip()  # the interpreter Ansible's modules are run with
        # The module splits on line feeds only: a tool that writes such a character raw is read whole too.
        fake = os.path.join(self.dir, "fake-tool")
        with open(fake, "w", encoding="utf-8") as f:
            f.write("#!/bin/sh\nprintf '%s\\n' '{\"target\": \"/f/x\u2028y.ttf\", \"status\": \"copied\"}' "
                    "'{\"summary\": {}}'\n")
        os.chmod(fake, 0o755)
        module = os.path.join(tool_test.ROOT, "docs", "deploy", "library", "quorvane_fonts.py")
        for tool in (backend().tool, fake):
            args = os.path.join(self.dir, "args.json")
            with open(args, "w") as f:
                json.dump({"ANSIBLE_MODULE_ARGS": {"sources": [self.src], "target": self.dst, "tool": tool}}, f)
            ran = subprocess.run([python, module, args], capture_output=True)
            out = json.loads(ran.stdout)
            self.assertFalse(out.get("failed"), out)
            self.assertEqual(len(out["rows"]), 3 if tool != fake else 1, out)


class RecordsFolder(FleetCase):
    """Root's records where root keeps them; anyone else's only in a folder of their own no one else may write."""

    def setUp(self):
        super().setUp()
        self.native_only("under Wine the record is a registry value")
        self.root_only()
        self.fonts("a.ttf", "gone.ttf")
        os.chown(self.dst, NOBODY, NOBODY)

    def test_root_ignores_its_environment_and_others_need_a_private_folder(self):
        theirs = os.path.join(self.dir, "theirs")
        os.makedirs(theirs)
        os.chown(theirs, NOBODY, NOBODY)
        summary = self.json(code=0, env=backend().env(XDG_STATE_HOME=theirs))[1]
        self.assertTrue(summary["record"]["location"].startswith("/var/lib/quorvane/records/"))
        self.assertEqual(os.listdir(theirs), [], "nothing of root's where another account could reach it")

        # A records folder others may write in: not read, not written, nothing pruned by it.
        shutil.rmtree(self.dst)
        os.makedirs(self.dst)
        os.chown(self.dst, NOBODY, NOBODY)
        self.json(code=0, user=NOBODY)
        planted = os.path.join(self.state, "quorvane")
        os.chmod(planted, 0o777)
        records = os.path.join(planted, "records")
        kept = {n: os.stat(os.path.join(records, n)).st_mtime_ns for n in os.listdir(records)}
        os.unlink(os.path.join(self.src, "gone.ttf"))
        self.fonts("new.ttf")
        rows, summary, err = self.json("--prune", code=1, user=NOBODY)
        self.assertEqual((summary["record"]["prune_refused"], summary["record"]["untrusted"]),
                         ("record-untrusted", planted))
        self.assertIn(f"removed nothing: the folder of quorvane-sync's records is not this account's own, "
                      f"or others may write in it ({planted})", err)
        self.assertEqual(self.listing(), ["a.ttf", "gone.ttf", "new.ttf"], "copied, and nothing pruned")
        self.assertEqual({n: os.stat(os.path.join(records, n)).st_mtime_ns for n in os.listdir(records)}, kept)
        chinese = self.sync("--prune", "--lang", "zh", user=NOBODY)
        self.assertIn("未移除任何字体：quorvane-sync 的记录文件夹不属于本账户", chinese.stderr.decode())

    def test_without_home_nothing_is_pruned_and_the_copy_is_done(self):
        env = {k: v for k, v in backend().env().items() if k not in ("HOME", "XDG_STATE_HOME")}
        rows, summary, err = self.json("--prune", code=1, user=NOBODY, env=env)
        self.assertEqual(set(rows.values()), {"copied"})
        self.assertEqual(summary["record"]["prune_refused"], "record-unreadable")
        self.assertIn("removed nothing: no folder for the record of what quorvane-sync installed: "
                      "neither HOME nor XDG_STATE_HOME is set", err)


class InheritedReadOnly(FleetCase):
    """Under Wine: a read-only bit that an earlier version's copy took from the share is cleared to replace it, and said."""

    def test_a_read_only_bit_an_earlier_copy_took_is_cleared_and_said(self):
        if not backend().wine:
            self.skipTest("no read-only attribute on POSIX: copies there are 0644 less the umask")
        self.fonts("a.ttf")
        self.json("--update", code=0)
        installed = os.path.join(self.dst, "a.ttf")
        os.chmod(installed, 0o444)  # what Wine shows as FILE_ATTRIBUTE_READONLY
        make_font(os.path.join(self.src, "a.ttf"), "Quorvane a", "2.000")
        log = os.path.join(self.dir, "sync.log")
        rows, _, err = self.json("--update", "--log", backend().path(log), code=0)
        self.assertEqual(rows, {"a.ttf": "replaced"})
        said = "cleared the read-only attribute that an earlier version's copy took from the share, to replace it"
        self.assertIn(said, err)
        with open(log, encoding="utf-8") as f:
            self.assertIn(said, f.read())


class Manifest(FleetCase):
    """--publish writes the collection's manifest; --manifest takes exactly those files with exactly those bytes."""

    def publish(self):
        result = backend().run("--publish", "--lang", "en", backend().path(self.src))
        self.assertEqual(result.returncode, 0, result.stderr)
        path = os.path.join(self.dir, "fonts.manifest")
        write(path, result.stdout)
        return path

    def rows(self, *options, manifest, code):
        result = self.sync(*options, "--manifest", backend().path(manifest), "--json", "--lang", "en")
        self.assertEqual(result.returncode, code, result.stderr)
        return {os.path.basename(r["target"].replace("\\", "/")): r for r in json_lines(result.stdout)[0]}

    def bytes_of(self, *path):
        with open(os.path.join(*path), "rb") as f:
            return f.read()

    def test_a_share_file_changed_after_publishing_is_never_installed(self):
        nested = os.path.join(self.src, "子 文件夹", "more")
        self.fonts("a.ttf", "b.ttf")
        self.fonts("宋 体;1.ttf", folder=nested)
        manifest = self.publish()
        rows = self.rows("--update", manifest=manifest, code=0)
        self.assertEqual({name: row["status"] for name, row in rows.items()},
                         {"a.ttf": "copied", "b.ttf": "copied", "宋 体;1.ttf": "copied"})
        self.assertEqual(self.bytes_of(self.dst, "宋 体;1.ttf"), self.bytes_of(nested, "宋 体;1.ttf"))

        # Same size, one byte changed, a later time: only the bytes tell, and the copy reads them.
        published = self.bytes_of(self.src, "b.ttf")
        changed = bytearray(published)
        changed[len(changed) // 2] ^= 0xFF
        write(os.path.join(self.src, "b.ttf"), bytes(changed), font=False)
        os.utime(os.path.join(self.src, "b.ttf"), (2_000_000_000, 2_000_000_000))
        self.fonts("new.ttf")
        for options in (("--check", "--update"), ("--update",)):
            rows = self.rows(*options, manifest=manifest, code=1)
            self.assertEqual({name: row["status"] for name, row in rows.items() if row["status"] != "up-to-date"},
                             {"b.ttf": "not-published", "new.ttf": "not-published"}, options)
            self.assertEqual((rows["b.ttf"]["expected_sha256"], rows["b.ttf"]["found_sha256"]),
                             (hashlib.sha256(published).hexdigest(), hashlib.sha256(changed).hexdigest()))
            self.assertNotIn("expected_sha256", rows["new.ttf"])
            self.assertEqual(rows["new.ttf"]["found_sha256"],
                             hashlib.sha256(self.bytes_of(self.src, "new.ttf")).hexdigest())
            self.assertEqual(self.bytes_of(self.dst, "b.ttf"), published, "the published version stays")
            self.assertEqual(self.listing(), ["a.ttf", "b.ttf", "宋 体;1.ttf"], "and nothing else, no temporary")

    def test_a_repair_takes_only_the_published_bytes(self):
        self.fonts("a.ttf")
        manifest = self.publish()
        self.assertEqual(self.rows(manifest=manifest, code=0)["a.ttf"]["status"], "copied")
        published = self.bytes_of(self.src, "a.ttf")
        # The installed copy changed in place (size and time kept), and the share's file after publishing.
        target = os.path.join(self.dst, "a.ttf")
        stamp = os.stat(target)
        in_place = bytearray(published)
        in_place[len(in_place) // 2] ^= 0x20
        write(target, bytes(in_place), font=False)
        os.utime(target, ns=(stamp.st_atime_ns, stamp.st_mtime_ns))
        unpublished = bytearray(published)
        unpublished[len(unpublished) // 2] ^= 0xFF
        write(os.path.join(self.src, "a.ttf"), bytes(unpublished), font=False)
        for options in (("--check", "--verify"), ("--verify",)):
            row = self.rows(*options, manifest=manifest, code=1)["a.ttf"]
            self.assertEqual((row["status"], row["found_sha256"]),
                             ("not-published", hashlib.sha256(unpublished).hexdigest()), options)
            self.assertEqual(self.bytes_of(target), bytes(in_place), "never repaired from an unpublished file")
        write(os.path.join(self.src, "a.ttf"), published, font=False)
        self.assertEqual(self.rows("--verify", manifest=manifest, code=0)["a.ttf"]["status"], "repaired")
        self.assertEqual(self.bytes_of(target), published)

    def test_a_damaged_manifest_is_refused_before_anything_is_written(self):
        self.fonts("a.ttf", "b.ttf")
        manifest = self.publish()
        text = self.bytes_of(manifest)
        lines = text.split(b"\n")
        edited = lines[:]
        edited[1] = edited[1].replace(b"\t", b"\tx", 1)
        checksum = lines[:]
        checksum[-2] = checksum[-2][:-1] + (b"0" if checksum[-2][-1:] != b"0" else b"1")
        cases = {"edited": b"\n".join(edited), "cut short": text[:len(text) // 2],
                 "checksum": b"\n".join(checksum), "absent": None}
        for case, content in cases.items():
            path = os.path.join(self.dir, case)
            if content is not None:
                write(path, content)
            result = self.sync("--update", "--prune", "--manifest", backend().path(path), "--lang", "en")
            self.assertEqual(result.returncode, 2, case)
            self.assertEqual(result.stdout, b"", case)
            self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
            self.assertIn(b"the manifest is refused", result.stderr)
            self.assertEqual(self.listing(), [], case)
            if not backend().wine:
                self.assertEqual(os.listdir(self.state), [], "no record either")

    def test_missing_and_under_prune_exactly_the_manifests_fonts_stay(self):
        self.fonts("a.ttf", "b.ttf", "gone.ttf")
        manifest = self.publish()
        self.rows("--update", manifest=manifest, code=0)
        os.unlink(os.path.join(self.src, "gone.ttf"))
        self.fonts("late.ttf")
        self.json("--update", code=0)  # a run without the manifest installs the unpublished font
        self.assertEqual(self.listing(), ["a.ttf", "b.ttf", "gone.ttf", "late.ttf"])
        result = self.sync("--update", "--prune", "--manifest", backend().path(manifest), "--json")
        self.assertEqual(result.returncode, 1, result.stderr)
        rows = [(os.path.basename(r["target"].replace("\\", "/")), r["status"]) for r in json_lines(result.stdout)[0]]
        self.assertEqual([row for row in rows if row[1] != "up-to-date"],
                         [("late.ttf", "not-published"), ("gone.ttf", "missing"), ("late.ttf", "removed")])
        self.assertEqual(self.listing(), ["a.ttf", "b.ttf", "gone.ttf"])


class Damaged(FleetCase):
    """A font that is not whole, or no font at all, never reaches the target."""

    WINE_FONTS = "/usr/share/wine/fonts"

    @staticmethod
    def table(data, tag):
        """Where a table of a single font lies: its offset and length."""
        for i in range(int.from_bytes(data[4:6], "big")):
            entry = data[12 + 16 * i:28 + 16 * i]
            if entry[:4] == tag:
                return int.from_bytes(entry[8:12], "big"), int.from_bytes(entry[12:16], "big")
        raise AssertionError(f"no {tag} table")

    def damage(self, name, change):
        """A good font of `name` in the source, changed by `change`, and an older good one in the target."""
        source, target = os.path.join(self.src, name), os.path.join(self.dst, name)
        if name.endswith(".ttc"):
            make_collection(source, ["Quorvane One", "Quorvane Two"])
        elif name.endswith(".fon"):
            shutil.copyfile(os.path.join(self.WINE_FONTS, "sserife.fon"), source)
        else:
            make_font(source, "Quorvane " + name[:-4], "2.000")
        with open(source, "rb") as f:
            data = bytearray(f.read())
        with open(source, "wb") as f:
            f.write(change(data))
        make_font(target, "Quorvane " + name[:-4], "1.000")
        with open(target, "rb") as f:
            return f.read()

    def flip(self, data):
        """A bit of the glyph table flipped: the directory's checksum no longer holds."""
        offset, length = self.table(data, b"glyf")
        data[offset + length // 2] ^= 0x10
        return data

    def test_a_damaged_font_is_refused_and_the_older_one_stays(self):
        if not os.path.isfile(os.path.join(self.WINE_FONTS, "sserife.fon")):
            self.skipTest(f"no Wine .fon files in {self.WINE_FONTS}")
        flip = self.flip

        def far_face(data):
            data[12:16] = (len(data) + 4096).to_bytes(4, "big")  # face 0 starts past the end
            return data

        old = {"cut.ttf": self.damage("cut.ttf", lambda data: data[:-7]),
               "flipped.ttf": self.damage("flipped.ttf", flip),
               "offset.ttc": self.damage("offset.ttc", far_face),
               "cut.fon": self.damage("cut.fon", lambda data: data[:len(data) // 2])}
        random_bytes = os.path.join(self.src, "random.ttf")
        write(random_bytes, os.urandom(4000), font=False)
        make_font(os.path.join(self.src, "whole.ttf"), "Quorvane Whole")

        result = self.sync("--replace", "--json", "--lang", "en")
        self.assertEqual(result.returncode, 1, result.stderr)
        rows, summary = json_lines(result.stdout)
        found = {os.path.basename(r["target"].replace("\\", "/")): r for r in rows}
        self.assertEqual({name: row["status"] for name, row in found.items()},
                         {"cut.ttf": "damaged", "flipped.ttf": "damaged", "offset.ttc": "damaged",
                          "cut.fon": "damaged", "random.ttf": "damaged", "whole.ttf": "copied"})
        self.assertRegex(found["flipped.ttf"]["reason"], r"^table 'glyf': checksum 0x[0-9A-F]{8}, the directory gives ")
        self.assertRegex(found["cut.ttf"]["reason"], r"^table '....' runs past the end of the file$")
        self.assertTrue(found["offset.ttc"]["reason"].startswith("face 0: "), found["offset.ttc"])
        self.assertTrue(found["cut.fon"]["reason"].startswith("font resource "), found["cut.fon"])
        self.assertEqual(found["random.ttf"]["reason"], "unknown signature")
        self.assertEqual((summary["damaged"], summary["copied"], summary["exit"]), (5, 1, 1))
        for name, data in old.items():
            with open(os.path.join(self.dst, name), "rb") as f:
                self.assertEqual(f.read(), data, f"{name}: the older font is kept byte for byte")
        self.assertNotIn("random.ttf", os.listdir(self.dst))
        self.assertEqual(temporaries(self.dst), [])
        self.assertIn(f"damaged {tool_test.BACKEND.path(random_bytes)}: unknown signature\n", result.stderr.decode())

        chinese = self.sync("--replace", "--lang", "zh")
        self.assertEqual(chinese.returncode, 1, chinese.stderr)
        self.assertEqual(chinese.stdout.decode().count("\t字体已损坏\t"), 5, chinese.stdout.decode())
        self.assertIn("字体已损坏5个", chinese.stdout.decode())

    def test_a_damaged_font_that_was_published_is_still_refused(self):
        old = self.damage("flipped.ttf", self.flip)
        published = backend().run("--publish", backend().path(self.src))
        self.assertEqual(published.returncode, 0, published.stderr)
        manifest = os.path.join(self.dir, "fonts.manifest")
        write(manifest, published.stdout)
        result = self.sync("--replace", "--manifest", backend().path(manifest), "--json", "--lang", "en")
        self.assertEqual(result.returncode, 1, result.stderr)
        [row] = json_lines(result.stdout)[0]
        self.assertEqual(row["status"], "damaged", row)
        self.assertRegex(row["reason"], r"^table 'glyf': checksum ")
        with open(os.path.join(self.dst, "flipped.ttf"), "rb") as f:
            self.assertEqual(f.read(), old, "the older font stays")
        self.assertEqual(temporaries(self.dst), [])

    def test_every_real_font_on_the_machine_is_taken(self):
        fonts = [os.path.join(root, name) for folder in ("/usr/share/fonts", self.WINE_FONTS)
                 for root, _, names in os.walk(folder) for name in names if name.lower().endswith(tool_test.FONT_EXTENSIONS)]
        if not fonts:
            self.skipTest("no fonts in /usr/share/fonts nor Wine's .fon files")
        backend = tool_test.BACKEND
        if backend.wine:
            # Faces Wine registers itself are installed-as in every round; the check is the same code natively.
            self.skipTest("natively only: under Wine the faces its prefix registers are never copied again")
        # A face that an earlier file put in the target is not copied again (installed-as): such
        # files go to a fresh target in the next round, until every one was copied, and so checked.
        pending, copied, rounds = fonts, [], 0
        while pending:
            rounds += 1
            source, target = os.path.join(self.dir, f"round{rounds}"), os.path.join(self.dir, f"target{rounds}")
            os.makedirs(target)
            os.makedirs(source)
            by_name = {}
            for i, path in enumerate(pending):
                name = f"{i:03d}-{os.path.basename(path)}"
                os.symlink(path, os.path.join(source, name))
                by_name[name] = path
            result = backend.run("--json", "--lang", "en", "--target", backend.path(target), backend.path(source))
            rows, _ = json_lines(result.stdout)
            statuses = {os.path.basename(r["target"].replace("\\", "/")): r for r in rows}
            self.assertEqual([r for r in rows if r["status"] not in ("copied", "installed-as")], [])
            taken = [by_name[name] for name, row in statuses.items() if row["status"] == "copied"]
            self.assertTrue(taken, f"round {rounds} copied none of {len(pending)}")
            copied += taken
            pending = [by_name[name] for name, row in statuses.items() if row["status"] == "installed-as"]
        print(f"\n{len(copied)} real fonts taken whole in {rounds} runs", file=sys.stderr)
        self.assertEqual(sorted(copied), sorted(fonts))
        if os.path.isdir(self.WINE_FONTS):
            self.assertGreater(sum(path.endswith(".fon") for path in copied), 20)


class Verify(FleetCase):
    """--verify: a font the tool installed, changed in place since, is found and repaired from its source."""

    def test_a_font_changed_in_place_is_found_and_repaired(self):
        self.fonts("a.ttf", "b.ttf")
        self.assertEqual(set(self.json(code=0)[0].values()), {"copied"})
        changed, kept = os.path.join(self.dst, "a.ttf"), os.path.join(self.dst, "b.ttf")
        before = os.stat(changed)
        with open(changed, "r+b") as f:
            f.seek(before.st_size // 2)
            byte = f.read(1)
            f.seek(before.st_size // 2)
            f.write(bytes([byte[0] ^ 0x20]))
        os.utime(changed, ns=(before.st_atime_ns, before.st_mtime_ns))
        kept_before = os.stat(kept)

        self.assertEqual(self.json("--check", code=0)[0], {}, "size and time as copied: in step without --verify")
        rows, summary, _ = self.json("--check", "--verify", code=1)
        self.assertEqual(rows, {"a.ttf": "would-repair"})
        self.assertEqual(summary["would-repair"], 1)
        chinese = self.sync("--check", "--verify", "--lang", "zh")
        self.assertEqual(chinese.returncode, 1, chinese.stderr)
        self.assertIn("\t将修复\t", chinese.stdout.decode())

        rows, summary, _ = self.json("--verify", code=0)
        self.assertEqual(rows, {"a.ttf": "repaired", "b.ttf": "ignored"})
        self.assertEqual(summary["repaired"], 1)
        for name in ("a.ttf", "b.ttf"):
            with open(os.path.join(self.src, name), "rb") as source, open(os.path.join(self.dst, name), "rb") as target:
                self.assertEqual(target.read(), source.read(), name)
        after = os.stat(kept)
        self.assertEqual((after.st_ino, after.st_mtime_ns), (kept_before.st_ino, kept_before.st_mtime_ns),
                         "an unchanged font is not touched")
        self.assertEqual(self.json("--check", "--verify", code=0)[0], {}, "in step again")


class RegistryFleet(tool_test.WineFontsKey):
    """Under Wine: --check --register finds a font no value names; --prune takes its value away first."""

    FONTS = "C:\\windows\\Fonts"

    def run_json(self, *options, code):
        result = backend().run(*options, "--json", "--lang", "en", backend().path(self.src))
        self.assertEqual(result.returncode, code, result.stderr)
        rows, summary = json_lines(result.stdout)
        return {r["target"].replace("/", "\\").rsplit("\\", 1)[1]: r for r in rows}, summary

    def test_not_registered_is_out_of_step_and_the_run_registers_it(self):
        self.wine_only()
        value = "Quorvane Unregistered (TrueType)"
        self.take_over("HKLM", self.FONTS, ["QUnregistered.ttf"], [value])
        make_font(os.path.join(self.src, "QUnregistered.ttf"), "Quorvane Unregistered")
        # A check with --register and --prune writes nothing: no font, no Fonts value, no record (a
        # binary value under HKLM, one for each target folder: the other cases' runs are forgotten).
        records = "SOFTWARE\\Quorvane\\Records"
        for name in self.values("HKLM", records):
            self.values("HKLM", records, "delete", name)

        def written():
            return self.fonts_values(), sorted(os.listdir(self.drive_c(self.FONTS))), self.values("HKLM", records)
        before = written()
        self.assertEqual(before[2], {})
        rows, _ = self.run_json("--check", "--update", "--register", "--prune", code=1)
        self.assertEqual(rows["QUnregistered.ttf"]["status"], "would-copy")
        self.assertEqual(written(), before)
        self.run_json("--update", code=0)
        self.assertNotIn(value, self.fonts_values())
        rows, _ = self.run_json("--check", "--update", "--register", code=1)
        self.assertEqual(rows["QUnregistered.ttf"]["status"], "not-registered")
        rows, _ = self.run_json("--update", "--register", code=0)
        self.assertEqual((rows["QUnregistered.ttf"]["status"], rows["QUnregistered.ttf"]["registration"]["status"]),
                         ("up-to-date", "registered"))
        self.assertEqual(self.fonts_values().get(value), "QUnregistered.ttf")
        self.assertEqual(self.run_json("--check", "--update", "--register", code=0)[0], {})

    def test_a_value_naming_the_file_in_another_case_registers_it(self):
        self.wine_only()
        value = "Quorvane Übung (TrueType)"
        self.take_over("HKLM", self.FONTS, ["QÜbung.ttf", "Qübung.ttf"], [value])
        make_font(os.path.join(self.src, "QÜbung.ttf"), "Quorvane Übung")
        self.run_json("--update", "--register", code=0)
        self.assertEqual(self.fonts_values().get(value), "QÜbung.ttf")
        # To NTFS the same file, whose value names it: in step, as the run finds it.
        os.rename(os.path.join(self.src, "QÜbung.ttf"), os.path.join(self.src, "Qübung.ttf"))
        self.assertEqual(self.run_json("--check", "--update", "--register", code=0)[0], {})

    def test_a_pruned_font_loses_its_value_and_its_file(self):
        self.wine_only()
        value = "Quorvane Pruned (TrueType)"
        self.take_over("HKLM", self.FONTS, ["QPruned.ttf", "QKept.ttf"], [value, "Quorvane Kept (TrueType)"])
        make_font(os.path.join(self.src, "QPruned.ttf"), "Quorvane Pruned")
        make_font(os.path.join(self.src, "QKept.ttf"), "Quorvane Kept")
        self.run_json("--update", "--register", code=0)
        self.assertEqual(self.fonts_values().get(value), "QPruned.ttf")
        os.unlink(os.path.join(self.src, "QPruned.ttf"))
        # The folder spelt otherwise than the run that installed it: the value goes with the file all the same.
        rows, summary = self.run_json("--update", "--register", "--prune", "--target", "c:/windows/fonts", code=0)
        self.assertEqual(rows["QPruned.ttf"]["status"], "removed")
        self.assertNotIn(value, self.fonts_values())
        self.assertEqual(self.fonts_values().get("Quorvane Kept (TrueType)"), "QKept.ttf")
        self.assertNotIn("QPruned.ttf", os.listdir(self.drive_c(self.FONTS)))
        self.assertEqual(summary["registration"]["refresh"], "font-change-sent")
        self.assertFalse(self.family_found("Quorvane Pruned"))


if __name__ == "__main__":
    tool_test.main()
