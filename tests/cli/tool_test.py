#!/usr/bin/env python3
"""The real quorvane-sync, run as a script or an administrator runs it:
natively, or the Windows .exe under Wine through cmake/wine-run.sh.

  tool_test.py --tool build/linux/bin/quorvane-sync [CASE...]
  tool_test.py --tool build/win64/bin/quorvane-sync.exe --runner 'cmake/wine-run.sh|--prefix|P|--arch|win64'
               --driver build/win64/bin/tool_driver.exe [CASE...]

CASE is a class or Class.test_name, as unittest takes them. A case that cannot
run on this backend or machine is skipped and says why.
"""
import argparse
import fcntl
import json
import os
import pty
import re
import select
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import threading
import time
import unittest

BACKEND = None
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
NOBODY = 65534
CHINESE_SUMMARY = re.compile(r"本次任务共处理文件(\d+)个：复制成功(\d+)个；复制失败(\d+)个；替换成功(\d+)个；替换失败(\d+)个；同名忽略(\d+)个")


class Backend:
    def __init__(self, tool, runner, driver):
        self.tool = os.path.abspath(tool)
        self.runner = runner
        self.driver = os.path.abspath(driver) if driver else None
        self.wine = bool(runner)

    def path(self, path):
        """A path as the tool is given it and writes it back."""
        if isinstance(path, bytes):
            path = os.fsdecode(path)
        return "Z:" + os.path.abspath(path).replace("/", "\\") if self.wine else path

    def argv(self, *args):
        return self.runner + [self.tool, *args]

    def env(self, **changes):
        # The native tool takes its language from these; Wine's runner sets its own.
        env = {k: v for k, v in os.environ.items() if k not in ("LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE")}
        env.update(changes)
        return env

    def run(self, *args, env=None, cwd=None, timeout=300, user=None):
        argv = self.argv(*args)
        if user is not None:
            argv = [shutil.which("setpriv") or "setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups", *argv]
        return subprocess.run(argv, capture_output=True, env=env or self.env(), cwd=cwd, timeout=timeout)


def traced_env():
    """LeakSanitizer cannot run under ptrace: a sanitized build is traced without it."""
    return BACKEND.env(ASAN_OPTIONS="detect_leaks=0")


def json_lines(stdout):
    """Every line through a real JSON parser; the last one must be the summary."""
    objects = [json.loads(line) for line in stdout.decode("utf-8").splitlines()]
    assert objects and "summary" in objects[-1], stdout[-300:]
    return objects[:-1], objects[-1]["summary"]


def tsv_field(text):
    """The reading side of the TSV escapes."""
    out, i = bytearray(), 0
    raw = text.encode("utf-8")
    while i < len(raw):
        c = raw[i]
        if c != 0x5C:
            out.append(c)
            i += 1
            continue
        escape = chr(raw[i + 1])
        if escape == "x":
            out.append(int(raw[i + 2:i + 4], 16))
            i += 4
            continue
        out += {"t": b"\t", "n": b"\n", "r": b"\r", "\\": b"\\"}[escape]
        i += 2
    return bytes(out)


FONT_EXTENSIONS = (".ttf", ".otf", ".ttc", ".fon")


def font_bytes(payload=b"x"):
    """The smallest font the tool's structure check takes whole: a header and
    one table holding `payload`, its checksum as the directory gives it. No
    name table: the system does not install it as a font."""
    padded = payload + b"\0" * (-len(payload) % 4)
    checksum = sum(int.from_bytes(padded[i:i + 4], "big") for i in range(0, len(padded), 4)) & 0xFFFFFFFF
    header = (0x00010000).to_bytes(4, "big") + (1).to_bytes(2, "big") + (16).to_bytes(2, "big") + bytes(4)
    entry = b"qdat" + checksum.to_bytes(4, "big") + (28).to_bytes(4, "big") + len(payload).to_bytes(4, "big")
    return header + entry + payload


def write(path, data=b"x", mode=None, font=None):
    """A file named as a font holds `data` inside font_bytes, unless `font` is False."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if font is None:
        font = os.fsdecode(path).lower().endswith(FONT_EXTENSIONS)
    with open(path, "wb") as f:
        f.write(font_bytes(data) if font else data)
    if mode is not None:
        os.chmod(path, mode)


def temporaries(folder):
    return [n for n in os.listdir(folder) if n.startswith(".quorvane-") and n.endswith(".tmp")]


def sparse(path, size):
    """A font of `size` bytes, all but its header a hole (zeros, whose checksum is 0)."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(font_bytes()[:12] + b"qdat" + bytes(4) + (28).to_bytes(4, "big") + (size - 28).to_bytes(4, "big"))
        f.truncate(size)


def wait_for_temporary(folder, process, timeout=60, at_least=0):
    """Until a copy's temporary holding `at_least` bytes is in `folder`."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            if any(os.path.getsize(os.path.join(folder, name)) >= at_least for name in temporaries(folder)):
                return True
        except FileNotFoundError:
            pass  # renamed or removed between listing and asking
        if process.poll() is not None:
            return False
        time.sleep(0.001)
    return False


class ToolCase(unittest.TestCase):
    def setUp(self):
        # Big copies go to memory, not to the shared disk.
        base = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
        self.dir = tempfile.mkdtemp(prefix="quorvane-tool-", dir=base)
        os.chmod(self.dir, 0o755)
        self.src = os.path.join(self.dir, "src")
        self.dst = os.path.join(self.dir, "dst")
        os.makedirs(self.src)
        os.makedirs(self.dst)
        # The records of what the tool installed stay with the test, writable by the users it runs as.
        self.state = os.path.join(self.dir, "state")
        os.makedirs(self.state)
        os.chmod(self.state, 0o777)
        saved = os.environ.get("XDG_STATE_HOME")
        os.environ["XDG_STATE_HOME"] = self.state
        self.addCleanup(lambda: os.environ.pop("XDG_STATE_HOME") if saved is None
                        else os.environ.__setitem__("XDG_STATE_HOME", saved))

    def tearDown(self):
        if not BACKEND.wine and os.geteuid() == 0:
            # Root keeps its records in the system's folder whatever the environment: this test's go with them,
            # its target's by name and any other whose folder line lies inside the test's folder.
            records = "/var/lib/quorvane/records"
            named = 0xcbf29ce484222325
            for byte in os.fsencode(os.path.realpath(self.dst)):
                named = ((named ^ byte) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
            stems = {f"{named:016x}"}
            inside = ("folder\t" + os.path.realpath(self.dir) + "/").encode()
            for name in os.listdir(records) if os.path.isdir(records) else []:
                try:
                    with open(os.path.join(records, name), "rb") as f:
                        if name.endswith(".record") and inside in f.read(4096):
                            stems.add(name[:-len(".record")])
                except OSError:
                    pass
            for stem in stems:
                for suffix in (".record", ".record.new", ".lock"):
                    try:
                        os.unlink(os.path.join(records, stem + suffix))
                    except FileNotFoundError:
                        pass
        for root, dirs, _ in os.walk(self.dir):
            for d in dirs:
                try:
                    os.chmod(os.path.join(root, d), 0o755)
                except OSError:
                    pass
        shutil.rmtree(self.dir, ignore_errors=True)

    def sync(self, *options, source=None, target=None, **kw):
        return BACKEND.run(*options, "--target", BACKEND.path(target or self.dst), BACKEND.path(source or self.src), **kw)

    def native_only(self, why):
        if BACKEND.wine:
            self.skipTest(f"native only: {why}")

    def root_only(self):
        if os.geteuid() != 0 or not shutil.which("setpriv"):
            self.skipTest("needs root and setpriv to run as nobody")


class Reports(ToolCase):
    """What a script reads: JSON Lines, TSV lines, labels and languages."""

    def names(self):
        names = ["宋体 常规.ttf", "emoji 😀.otf", "semi;colon #1.ttc", "Ünïcode.fon"]
        if not BACKEND.wine:  # no Windows name can hold these
            names += ["tab\there.ttf", "line\nfeed.ttf", "back\\slash.ttf", 'quote".ttf', b"bad\xff\xfe.ttf"]
        return names

    def fill(self):
        paths = []
        for i, name in enumerate(self.names()):
            raw = name if isinstance(name, bytes) else name.encode("utf-8")
            path = os.path.join(os.fsencode(self.src), b"sub", raw)
            write(path, b"font %d" % i)
            paths.append(path)
        return paths

    def test_json_lines_parse_and_every_name_comes_back(self):
        paths = self.fill()
        started = time.monotonic()
        result = self.sync("--json")
        took_ms = (time.monotonic() - started) * 1000
        self.assertEqual(result.returncode, 0, result.stderr)
        rows, summary = json_lines(result.stdout)
        self.assertEqual([r["n"] for r in rows], list(range(1, len(paths) + 1)))
        for row in rows:
            self.assertEqual(row["status"], "copied")
            self.assertNotIn("reason", row)
            source = row["source"] if BACKEND.wine else os.fsencode(row["source"])
            self.assertIn(source, [BACKEND.path(p) for p in paths] if BACKEND.wine else paths)
            target = os.path.join(os.fsencode(self.dst), os.path.basename(os.fsencode(row["source"]))) \
                if not BACKEND.wine else None
            if target:
                self.assertEqual(os.fsencode(row["target"]), target)
                with open(target, "rb") as copied, open(source, "rb") as original:
                    self.assertEqual(copied.read(), original.read())
                    self.assertEqual(row["bytes"], os.path.getsize(target))
        self.assertEqual(summary["total"], len(paths))
        self.assertEqual(summary["copied"], len(paths))
        self.assertEqual((summary["exit"], summary["dry_run"], summary["interrupted"]), (0, False, False))
        # The run's own time, within the process's lifetime as seen from here.
        self.assertIsInstance(summary["elapsed_ms"], int)
        self.assertLessEqual(summary["elapsed_ms"], took_ms + 1)
        self.assertEqual(summary["stale_temporaries"], {"count": 0, "bytes": 0})
        for code in ("copy-failed", "replaced", "replace-failed", "ignored", "up-to-date", "would-copy",
                     "would-replace", "would-ignore", "replace-at-reboot"):
            self.assertEqual(summary[code], 0, code)

    def test_tsv_lines_escape_and_round_trip(self):
        paths = self.fill()
        result = self.sync("--lang", "zh")
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stdout.decode("utf-8").split("\n")
        self.assertEqual(lines[-1], "")
        rows, summary = lines[:-2], lines[-2]
        self.assertEqual(len(rows), len(paths), "one line per file, whatever its name")
        for number, line in enumerate(rows, 1):
            fields = line.split("\t")
            self.assertEqual(fields[:2], [str(number), "复制成功"], line)
            self.assertEqual(len(fields), 3, line)
            back = fields[2] if BACKEND.wine else tsv_field(fields[2])
            self.assertIn(back, [BACKEND.path(p) for p in paths] if BACKEND.wine else paths)
        self.assertRegex(summary, CHINESE_SUMMARY)

    # The messages' language: CommandLineTest.MessagesFollowTheLanguageOfTheRows.
    def test_english_follows_lang_and_the_environment(self):
        write(os.path.join(self.src, "a.ttf"))
        self.assertIn(b"\tcopied\t", self.sync("--lang", "en").stdout)
        if BACKEND.wine:
            return  # the runner sets a Chinese locale for every Windows program
        for variable, value in (("LC_ALL", "C"), ("LANG", "en_US.UTF-8"), ("LC_MESSAGES", "POSIX")):
            out = self.sync(env=BACKEND.env(**{variable: value})).stdout.decode("utf-8")
            self.assertIn("Handled 1 files: 0 copied; 0 copy failed; 0 replaced; 0 replace failed; 1 ignored.", out)
        chinese = self.sync(env=BACKEND.env(LC_ALL="zh_CN.UTF-8", LANG="C")).stdout.decode("utf-8")
        self.assertIn("\t同名忽略\t", chinese)

    def test_quiet_json_has_only_failures_and_the_summary(self):
        for name in ("a.ttf", "b.ttf", "c.ttf"):
            write(os.path.join(self.src, name), b"new")
        write(os.path.join(self.dst, "b.ttf"), b"old", mode=0o444)
        result = self.sync("--quiet", "--json", "--replace", "--lang", "en")
        self.assertEqual(result.returncode, 1)
        rows, summary = json_lines(result.stdout)
        self.assertEqual([r["status"] for r in rows], ["replace-failed"])
        self.assertEqual(rows[0]["step"], "open")
        self.assertIsInstance(rows[0]["code"], int)
        self.assertTrue(rows[0]["reason"])
        self.assertEqual((summary["copied"], summary["replace-failed"], summary["exit"]), (2, 1, 1))
        err = result.stderr.decode("utf-8")
        self.assertRegex(err, r"^quorvane-sync: replace failed .*b\.ttf: open: .+\n$")


class DoubtfulInput(ToolCase):
    """Input that looks fine and is not: each refused or warned about in one line."""

    def test_source_and_target_the_same_folder_by_a_link_or_another_spelling(self):
        write(os.path.join(self.dst, "a.ttf"), b"a")
        link = os.path.join(self.dir, "link")
        os.symlink(self.dst, link)
        cases = [("--replace", "--target", BACKEND.path(self.dst), BACKEND.path(link)),
                 ("--replace", "--target", "./dst/", "dst")]
        for args in cases:
            result = BACKEND.run(*args, cwd=self.dir)
            self.assertEqual(result.returncode, 2, (args, result.stderr))
            self.assertEqual(result.stdout, b"")
            self.assertTrue(result.stderr.startswith(b"quorvane-sync: "), result.stderr)
            self.assertEqual(result.stderr.count(b"\n"), 1, result.stderr)
        self.assertEqual(sorted(os.listdir(self.dst)), ["a.ttf"], "nothing done, no temporary")
        with open(os.path.join(self.dst, "a.ttf"), "rb") as f:
            self.assertEqual(f.read(), font_bytes(b"a"))

    def test_replace_with_ignore_is_a_usage_error(self):
        write(os.path.join(self.src, "a.ttf"))
        result = self.sync("--replace", "--ignore", "--lang", "en")
        self.assertEqual(result.returncode, 2)
        self.assertIn(b"--replace and --ignore contradict each other", result.stderr)
        self.assertEqual(os.listdir(self.dst), [])

    def test_an_unreadable_sub_folder_is_named_with_its_reason_and_the_run_goes_on(self):
        self.native_only("Wine runs as the calling user, root, who reads everything")
        self.root_only()
        write(os.path.join(self.src, "a.ttf"))
        write(os.path.join(self.src, "locked", "hidden.ttf"))
        write(os.path.join(self.src, "open", "b.ttf"))
        os.chmod(os.path.join(self.src, "locked"), 0)
        os.chown(self.dst, NOBODY, NOBODY)
        result = self.sync("--lang", "en", user=NOBODY)
        self.assertEqual(result.returncode, 1, result.stderr)
        err = result.stderr.decode("utf-8")
        self.assertEqual(err, f"quorvane-sync: warning: cannot read folder {self.src}/locked: Permission denied; "
                              "its fonts are not listed\n")
        self.assertIn("Handled 2 files: 2 copied", result.stdout.decode("utf-8"))
        self.assertEqual(sorted(os.listdir(self.dst)), ["a.ttf", "b.ttf"])


    def test_as_root_a_log_another_account_could_have_placed_is_refused(self):
        self.native_only("the Windows checks are SYSTEM's, and Wine does not run as SYSTEM")
        self.root_only()
        write(os.path.join(self.src, "a.ttf"))
        precious = os.path.join(self.dir, "precious.conf")
        write(precious, b"root's own\n", mode=0o600)
        theirs, mine, open_to_all = (os.path.join(self.dir, n) for n in ("theirs", "mine", "open"))
        for folder in (theirs, mine, open_to_all):
            os.makedirs(folder)
        os.chown(theirs, NOBODY, NOBODY)
        os.chmod(open_to_all, 0o1777)
        subprocess.run(["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups",
                        "ln", "-s", precious, os.path.join(theirs, "fonts.log")], check=True)
        planted = os.path.join(mine, "planted.log")
        write(planted, b"")
        os.chown(planted, NOBODY, NOBODY)
        write(os.path.join(mine, "shared.log"), b"", mode=0o664)
        write(os.path.join(mine, "two-names.log"), b"")
        os.link(os.path.join(mine, "two-names.log"), os.path.join(mine, "second-name"))
        os.symlink(precious, os.path.join(mine, "link.log"))
        link = "it is a link, and the log never follows one"
        others = "it or its folder is owned by, or writable by, another account, which a run as root or SYSTEM never logs to"
        cases = [(os.path.join(theirs, "fonts.log"), others), (os.path.join(mine, "link.log"), link),
                 (os.path.join(theirs, "new.log"), others),
                 (os.path.join(open_to_all, "new.log"), others), (planted, others),
                 (os.path.join(mine, "shared.log"), others), (os.path.join(mine, "two-names.log"), others)]
        for log, why in cases:
            result = self.sync("--lang", "en", "--log", log)
            self.assertEqual(result.returncode, 2, (log, result.stderr))
            self.assertEqual(result.stderr.decode(), f"quorvane-sync: cannot open the log file {log}: {why}\n")
            self.assertEqual(result.stdout, b"")
        self.assertEqual(os.listdir(self.dst), [], "nothing done")
        with open(precious, "rb") as f:
            self.assertEqual(f.read(), b"root's own\n")
        self.assertFalse(os.path.exists(os.path.join(theirs, "new.log")))
        self.assertFalse(os.path.exists(os.path.join(open_to_all, "new.log")))
        self.assertEqual(os.path.getsize(planted), 0)
        # Root's own folder is root's to log in; nobody's is nobody's.
        result = self.sync("--lang", "en", "--log", os.path.join(mine, "fonts.log"))
        self.assertEqual(result.returncode, 0, result.stderr)
        os.chown(self.dst, NOBODY, NOBODY)
        result = self.sync("--lang", "en", "--replace", "--log", os.path.join(theirs, "new.log"), user=NOBODY)
        self.assertEqual(result.returncode, 0, result.stderr)
        for log, row in ((os.path.join(mine, "fonts.log"), b"\tcopied\t"), (os.path.join(theirs, "new.log"), b"\treplaced\t")):
            with open(log, "rb") as f:
                self.assertIn(row, f.read())


class Targets(ToolCase):
    """Where the fonts go and what they become there."""

    def test_the_default_target_is_made_and_an_explicit_one_is_not(self):
        self.native_only("the Windows font folder always exists")
        write(os.path.join(self.src, "a.ttf"))
        home = os.path.join(self.dir, "home")
        os.makedirs(home)
        env = BACKEND.env(HOME=home, LC_ALL="C")
        env.pop("XDG_DATA_HOME", None)
        missing = BACKEND.run("--target", os.path.join(home, "fonts"), self.src, env=env)
        self.assertEqual(missing.returncode, 2)
        self.assertIn(b"target folder does not exist", missing.stderr)
        result = subprocess.run(["sh", "-c", 'umask 022 && exec "$@"', "sh", BACKEND.tool, self.src],
                                capture_output=True, env=env)
        self.assertEqual(result.returncode, 0, result.stderr)
        fonts = os.path.join(home, ".local", "share", "fonts")
        for folder in (os.path.join(home, ".local"), os.path.join(home, ".local", "share"), fonts):
            self.assertEqual(stat.S_IMODE(os.stat(folder).st_mode), 0o755, folder)
        self.assertTrue(os.path.isfile(os.path.join(fonts, "a.ttf")))

    def test_copies_get_0644_less_the_umask_whatever_the_source_mode(self):
        self.native_only("Windows gives the target folder's inherited permissions")
        write(os.path.join(self.src, "private.ttf"), mode=0o600)
        write(os.path.join(self.src, "open.ttf"), mode=0o777)
        for umask, expected in (("022", 0o644), ("027", 0o640)):
            target = os.path.join(self.dir, "t" + umask)
            os.makedirs(target)
            result = subprocess.run(["sh", "-c", f'umask {umask} && exec "$@"', "sh", BACKEND.tool, "--target",
                                     target, self.src], capture_output=True)
            self.assertEqual(result.returncode, 0, result.stderr)
            for name in ("private.ttf", "open.ttf"):
                self.assertEqual(stat.S_IMODE(os.stat(os.path.join(target, name)).st_mode), expected, (umask, name))


class Update(ToolCase):
    """--update leaves an unchanged collection alone without opening its files."""

    def fill(self, count=40):
        for i in range(count):
            write(os.path.join(self.src, f"dir{i % 4}", f"font{i:03d}.ttf"), os.urandom(1000 + i))

    def test_an_unchanged_collection_opens_no_font_file(self):
        self.native_only("strace follows native programs; under Wine see test_held_sources_under_wine")
        if not shutil.which("strace"):
            self.skipTest("no strace")
        self.fill()
        self.assertEqual(self.sync("--quiet").returncode, 0)
        manifest = os.path.join(self.dir, "fonts.manifest")
        write(manifest, BACKEND.run("--publish", self.src).stdout)
        trace = os.path.join(self.dir, "trace")
        # A run, and a check that weighs a prune too, with the collection's manifest
        # or without (its sizes are the files'): names and times only, the record aside.
        for options in (("--update", "--replace"), ("--check", "--update", "--prune"),
                        ("--check", "--update", "--prune", "--manifest", manifest)):
            result = subprocess.run(["strace", "-f", "-qq", "-e", "trace=open,openat,openat2", "-o", trace,
                                     *BACKEND.argv(*options, "--json", "--target", self.dst, self.src)],
                                    capture_output=True, env=traced_env())
            self.assertEqual(result.returncode, 0, (options, result.stderr))
            rows, summary = json_lines(result.stdout)
            self.assertEqual(summary["up-to-date"], 40, options)
            self.assertEqual({r["status"] for r in rows}, {"up-to-date"} if "--check" not in options else set())
            with open(trace) as f:
                opened = f.readlines()
            self.assertTrue(any(self.src in line and "O_DIRECTORY" in line for line in opened), "the listing")
            self.assertEqual([line for line in opened if ".ttf" in line], [], options)

    def test_unreadable_sources_are_still_up_to_date_for_an_ordinary_user(self):
        self.native_only("Wine runs as root")
        self.root_only()
        self.fill(8)
        os.chown(self.dst, NOBODY, NOBODY)
        self.assertEqual(self.sync("--quiet", user=NOBODY).returncode, 0)
        for root, _, names in os.walk(self.src):
            for name in names:
                os.chmod(os.path.join(root, name), 0)
        result = self.sync("--update", "--replace", "--json", user=NOBODY)
        rows, summary = json_lines(result.stdout)
        self.assertEqual((result.returncode, summary["up-to-date"]), (0, 8), result.stderr)
        # The same sources do fail once a row has to read them: the check can fail.
        write(os.path.join(self.dst, "font000.ttf"), b"changed")
        changed = self.sync("--update", "--json", user=NOBODY)
        self.assertEqual(changed.returncode, 1)
        self.assertEqual([r["status"] for r in json_lines(changed.stdout)[0] if r["status"] != "up-to-date"],
                         ["replace-failed"])

    def test_held_sources_under_wine(self):
        if not BACKEND.wine:
            self.skipTest("Windows sharing modes")
        self.fill(6)
        self.assertEqual(self.sync("--quiet").returncode, 0)
        held = [BACKEND.path(os.path.join(root, n)) for root, _, names in os.walk(self.src) for n in names]
        def held_run(*options):
            argv = BACKEND.runner + [BACKEND.driver, "hold", *held, "--", BACKEND.path(BACKEND.tool), *options,
                                     "--json", "--target", BACKEND.path(self.dst), BACKEND.path(self.src)]
            return subprocess.run(argv, capture_output=True, timeout=300)
        result = held_run("--update", "--replace")
        rows, summary = json_lines(result.stdout)
        self.assertEqual((result.returncode, summary["up-to-date"]), (0, 6), result.stderr)
        # Held that way, a source cannot be read: a plain replace shows the hold works.
        control = held_run("--replace")
        self.assertEqual((control.returncode, json_lines(control.stdout)[1]["replace-failed"]), (1, 6))


class Interrupts(ToolCase):
    """Signals in the middle of a 2 GB copy: stop cleanly, report, exit 130."""

    def start(self, *options):
        self.native_only("POSIX signals; under Wine see ConsoleEvents")
        write(os.path.join(self.src, "a.ttf"), b"a")
        for name in ("big1.ttf", "big2.ttf", "big3.ttf"):
            sparse(os.path.join(self.src, name), 2 << 30)
        write(os.path.join(self.dst, "big2.ttf"), b"old big2")
        process = subprocess.Popen(BACKEND.argv("--replace", "--json", *options, "--target", self.dst, self.src),
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=BACKEND.env())
        # In the middle of one of the big files, not between two copies.
        self.assertTrue(wait_for_temporary(self.dst, process, at_least=16 << 20), "no big copy began")
        return process

    def check_untouched(self):
        self.assertEqual(temporaries(self.dst), [])
        with open(os.path.join(self.dst, "big2.ttf"), "rb") as f:
            self.assertEqual(f.read(), font_bytes(b"old big2"))
        for name in ("big1.ttf", "big2.ttf", "big3.ttf"):
            self.assertEqual(os.path.getsize(os.path.join(self.src, name)), 2 << 30)

    def test_sigint_sigterm_and_sighup_stop_after_the_copy_is_abandoned(self):
        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=number.name):
                for name in os.listdir(self.dst):
                    os.unlink(os.path.join(self.dst, name))
                process = self.start()
                process.send_signal(number)
                out, err = process.communicate(timeout=60)
                self.assertEqual(process.returncode, 130, err)
                rows, summary = json_lines(out)
                self.assertTrue(summary["interrupted"])
                self.assertEqual(summary["exit"], 130)
                self.assertEqual(summary["total"] + summary["unhandled"], 4)
                self.assertGreater(summary["unhandled"], 0)
                self.assertEqual(len(rows), summary["total"], "a line for each handled row, none for the rest")
                self.assertRegex(err.decode(), r"quorvane-sync: 已中断：\d+个文件未处理\n")
                self.check_untouched()

    def test_a_second_interrupt_ends_at_once_and_still_removes_the_temporary(self):
        process = self.start()
        # Two kinds, so the second is not merged into the first while pending.
        process.send_signal(signal.SIGINT)
        process.send_signal(signal.SIGTERM)
        out, err = process.communicate(timeout=60)
        self.assertEqual(process.returncode, 130, err)
        self.assertIn("再次中断：立即结束", err.decode())
        self.assertNotIn(b'"summary"', out)
        self.check_untouched()

    def test_sigkill_leaves_a_temporary_that_the_next_run_removes_and_reports(self):
        process = self.start()
        process.kill()
        process.communicate(timeout=60)
        left = temporaries(self.dst)
        self.assertEqual(len(left), 1, "the killed copy's temporary")
        size = os.path.getsize(os.path.join(self.dst, left[0]))
        with open(os.path.join(self.dst, "big2.ttf"), "rb") as f:
            self.assertEqual(f.read(), font_bytes(b"old big2"))
        small = os.path.join(self.dir, "small")
        write(os.path.join(small, "z.ttf"))
        again = self.sync("--json", "--lang", "en", source=small)
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertEqual(json_lines(again.stdout)[1]["stale_temporaries"], {"count": 1, "bytes": size})
        self.assertRegex(again.stderr.decode(), r"quorvane-sync: removed 1 temporary files \([\d.]+ [KMG]?B\) ")
        self.assertEqual(temporaries(self.dst), [])


class ConsoleEvents(ToolCase):
    """Ctrl+C through GenerateConsoleCtrlEvent to the real .exe under Wine."""

    def drive(self, event):
        if not BACKEND.wine:
            self.skipTest("Windows console events; natively see Interrupts")
        write(os.path.join(self.src, "a.ttf"), b"a")
        for name in ("big1.ttf", "big2.ttf", "big3.ttf"):
            sparse(os.path.join(self.src, name), 2 << 30)
        write(os.path.join(self.dst, "big2.ttf"), b"old big2")
        argv = BACKEND.runner + [BACKEND.driver, event, BACKEND.path(self.dst), BACKEND.path(BACKEND.tool),
                                 "--replace", "--json", "--target", BACKEND.path(self.dst), BACKEND.path(self.src)]
        return subprocess.run(argv, capture_output=True, timeout=300)

    def test_ctrl_c_stops_after_the_copy_is_abandoned(self):
        result = self.drive("ctrl-c")
        self.assertEqual(result.returncode, 130, result.stderr)
        rows, summary = json_lines(result.stdout)
        self.assertEqual((summary["interrupted"], summary["exit"]), (True, 130))
        self.assertGreater(summary["unhandled"], 0)
        self.assertEqual(summary["total"] + summary["unhandled"], 4)
        self.assertEqual(temporaries(self.dst), [])
        with open(os.path.join(self.dst, "big2.ttf"), "rb") as f:
            self.assertEqual(f.read(), font_bytes(b"old big2"))

    def test_ctrl_break_stops_likewise(self):
        result = self.drive("ctrl-break")
        if result.returncode == 4:
            self.skipTest("this Wine cannot send Ctrl+Break: " + result.stderr.decode(errors="replace").strip())
        self.assertEqual(result.returncode, 130, result.stderr)
        self.assertEqual(temporaries(self.dst), [])


class Race(ToolCase):
    """Two runs from two sources with the same 300 names into one empty target."""

    def test_two_runs_never_report_more_copies_than_names(self):
        rounds = 5 if BACKEND.wine else 30
        sources = {}
        for run in ("A", "B"):
            sources[run] = os.path.join(self.dir, run)
            for i in range(300):
                write(os.path.join(sources[run], f"f{i:03d}.ttf"), (run * 20000 + str(i)).encode())
        races = overlapping = 0
        for round_number in range(rounds):
            shutil.rmtree(self.dst)
            os.makedirs(self.dst)
            runs = {run: subprocess.Popen(BACKEND.argv("--json", "--lang", "en", "--target", BACKEND.path(self.dst),
                                                       BACKEND.path(path)),
                                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=BACKEND.env())
                    for run, path in sources.items()}
            copied = {}
            for run, process in runs.items():
                out, err = process.communicate(timeout=300)
                self.assertEqual(process.returncode, 0, err)
                rows, _ = json_lines(out)
                self.assertEqual(len(rows), 300)
                copied[run] = {os.path.basename(r["target"].replace("\\", "/")) for r in rows
                               if r["status"] == "copied"}
                ignored = {os.path.basename(r["target"].replace("\\", "/")) for r in rows if r["status"] == "ignored"}
                self.assertEqual(len(copied[run]) + len(ignored), 300)
                races += err.decode().count("appeared in the target during the copy")
                other = "B" if run == "A" else "A"
                for name in copied[run]:
                    with open(os.path.join(self.dst, name), "rb") as f:
                        self.assertEqual(f.read(), font_bytes((run * 20000 + str(int(name[1:4]))).encode()),
                                         f"round {round_number}: {name} reported copied by {run} holds {other}'s bytes")
            self.assertEqual(len(copied["A"]) + len(copied["B"]), 300, f"round {round_number}")
            self.assertEqual(copied["A"] & copied["B"], set())
            overlapping += bool(copied["A"]) and bool(copied["B"])
            self.assertEqual(temporaries(self.dst), [])
        print(f"\n{rounds} rounds: {overlapping} with both runs copying, {races} rows where the name appeared "
              "during the copy (the race, caught)", file=sys.stderr)
        self.assertGreater(races, 0, "the race never happened: the test showed nothing")


class Streaming(ToolCase):
    """Lines come out as rows are handled, not at the end."""

    def test_a_row_is_on_standard_output_before_the_next_copy_starts(self):
        write(os.path.join(self.src, "a.ttf"), b"small")  # *.ttf rows come before *.otf rows
        for name in ("big1.otf", "big2.otf", "big3.otf"):
            sparse(os.path.join(self.src, name), 2 << 30)
        process = subprocess.Popen(BACKEND.argv("--lang", "en", "--target", BACKEND.path(self.dst),
                                                BACKEND.path(self.src)),
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=BACKEND.env())
        fcntl.fcntl(process.stdout, fcntl.F_SETFL, os.O_NONBLOCK)
        # Row 1 is done and row 2's copy runs: its temporary is there, a.ttf too.
        deadline = time.monotonic() + 60
        while not (os.path.exists(os.path.join(self.dst, "a.ttf")) and temporaries(self.dst)):
            self.assertIsNone(process.poll(), "the run ended before the big copy was seen")
            self.assertLess(time.monotonic(), deadline)
            time.sleep(0.001)
        seen = process.stdout.read() or b""
        copying = bool(temporaries(self.dst)) and process.poll() is None
        process.communicate(timeout=120)
        self.assertTrue(copying, "the copy ended before the output was read: the test proved nothing")
        self.assertTrue(seen.startswith(b"1\tcopied\t"), seen)
        self.assertEqual(seen.count(b"\n"), 1, seen)

    def test_a_fast_run_is_written_in_batches(self):
        self.native_only("strace")
        if not shutil.which("strace"):
            self.skipTest("no strace")
        for i in range(20000):
            open(os.path.join(self.src, f"f{i:05d}.ttf"), "wb").close()
        trace = os.path.join(self.dir, "trace")
        out = os.path.join(self.dir, "out")
        with open(out, "wb") as stdout:
            result = subprocess.run(["strace", "-qq", "-e", "trace=write", "-o", trace,
                                     *BACKEND.argv("--dry-run", "--json", "--target", self.dst, self.src)],
                                    stdout=stdout, stderr=subprocess.PIPE, env=traced_env())
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(out, "rb") as f:
            written = f.read()
        _, summary = json_lines(written)
        with open(trace) as f:
            writes = [line for line in f if line.startswith("write(1,")]
        self.assertEqual(summary["would-copy"], 20000)
        # A write per 100 ms of run or per 256 KB held, not one per line.
        self.assertLessEqual(len(writes), 2 + summary["elapsed_ms"] // 100 * 2 + len(written) // (256 << 10), summary)


class Progress(ToolCase):
    """The progress line on a terminal: bytes and files, rate, time left, erased."""

    def run_on_terminal(self, term, *args):
        self.native_only("a pseudo-terminal for standard error")
        master, slave = pty.openpty()
        env = BACKEND.env(TERM=term, LC_ALL="C")
        process = subprocess.Popen(BACKEND.argv(*args), stdout=subprocess.PIPE, stderr=slave, env=env)
        os.close(slave)
        chunks = []
        while True:
            ready, _, _ = select.select([master], [], [], 0.5)
            if ready:
                try:
                    data = os.read(master, 65536)
                except OSError:
                    break
                if not data:
                    break
                chunks.append((time.monotonic(), data))
            elif process.poll() is not None:
                break
        os.close(master)
        out = process.communicate(timeout=60)[0]
        return process.returncode, out, chunks

    def test_moves_during_one_big_file_and_is_erased_at_the_end(self):
        sparse(os.path.join(self.src, "big.ttf"), 2 << 30)
        status, out, chunks = self.run_on_terminal("xterm", "--target", self.dst, self.src)
        self.assertEqual(status, 0)
        text = b"".join(data for _, data in chunks).decode()
        draws = [(t, d.decode()) for t, d in chunks if b"MB" in d or b"GB" in d]
        self.assertGreaterEqual(len(draws), 3, text[:500])
        # The rate and the time left need half a second of history: a copy of 2 GB
        # from memory to memory can be over sooner, and then never shows them.
        if draws[-1][0] - draws[0][0] >= 0.7:
            self.assertIn("/s", text)
            self.assertIn(" left", text)
        done = [float(m.group(1)) for m in re.finditer(r"\]  0/1  ([\d.]+) [KMG]?B/", text)]
        self.assertGreater(len(set(done)), 2, "the bytes moved within the one file")
        # Redrawn about every 100 ms, never for each piece copied: a loaded machine
        # draws fewer times, never more.
        span = draws[-1][0] - draws[0][0]
        self.assertLessEqual(len(draws), 2 * span / 0.1 + 3, f"{len(draws)} draws in {span:.2f} s")
        self.assertTrue(text.endswith("\r\x1b[K"), repr(text[-80:]))
        self.assertIn(b"Handled 1 files: 1 copied", out)

    def test_without_escapes_it_is_erased_with_spaces(self):
        write(os.path.join(self.src, "a.ttf"), b"a" * 100000)
        status, _, chunks = self.run_on_terminal("dumb", "--target", self.dst, self.src)
        text = b"".join(data for _, data in chunks).decode()
        self.assertEqual(status, 0)
        self.assertNotIn("\x1b", text)
        self.assertRegex(text, r"\r +\r$")

    def test_never_on_a_redirected_standard_error(self):
        sparse(os.path.join(self.src, "big.ttf"), 256 << 20)
        result = self.sync("--lang", "en")
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stderr, b"")


class ConsoleProgress(ToolCase):
    """The progress line on a Windows console, as its screen shows it."""

    def test_the_line_moves_and_leaves_nothing_behind(self):
        if not BACKEND.wine:
            self.skipTest("a Windows console; natively see Progress")
        sparse(os.path.join(self.src, "big.ttf"), 2 << 30)
        argv = BACKEND.runner + [BACKEND.driver, "console", BACKEND.path(BACKEND.tool), "--lang", "en",
                                 "--target", BACKEND.path(self.dst), BACKEND.path(self.src)]
        result = subprocess.run(argv, capture_output=True, timeout=300)
        self.assertEqual(result.returncode, 0, result.stderr)
        report = result.stdout.decode("utf-8")
        seen = int(re.search(r"progress seen (\d+) times", report).group(1))
        self.assertGreaterEqual(seen, 2, report)
        # Where the console prints escape sequences as text, the line is erased with spaces.
        self.assertIn("escape seen: no", report)
        screen = [line[len("screen: "):] for line in report.splitlines() if line.startswith("screen: ")]
        self.assertRegex(screen[0], r"^1\s+copied\s+Z:\\.*\\big\.ttf$")
        self.assertIn("Handled 1 files: 1 copied", "".join(screen))
        for line in screen:
            self.assertNotRegex(line, r"\]  |/s|left", "a remnant of the progress line")


class WineFontsKey(ToolCase):
    """Under Wine: the prefix's own font folder and registry, kept apart from each test's changes."""

    # The host's fonts that a test also installs: Wine's values for them step aside while it runs.
    HOST_FONTS = ()

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # A session that another group of cases left running shows a new program host fonts that the
        # take-over has moved out of the key: each group ends the one it finds and starts its own, which
        # lasts until the group ends (the runner's --session). The prefix is these tests' alone.
        if BACKEND.wine:
            started = subprocess.run(BACKEND.runner + ["--session", "start"], capture_output=True)
            if started.returncode != 0:
                raise RuntimeError(f"no Wine session: {started.stderr.decode('utf-8', 'replace')}")

    @classmethod
    def tearDownClass(cls):
        if BACKEND.wine:
            subprocess.run(BACKEND.runner + ["--session", "end"], capture_output=True)
        super().tearDownClass()

    @staticmethod
    def prefix():
        return BACKEND.runner[BACKEND.runner.index("--prefix") + 1]

    def wine_only(self):
        if not BACKEND.wine:
            self.skipTest("Windows' Fonts key; natively see the fontconfig cases")

    def driver(self, *args, env=None):
        return subprocess.run(BACKEND.runner + [BACKEND.driver, *args], capture_output=True, timeout=120,
                              env=env or BACKEND.env())

    def drive_c(self, windows_path=""):
        self.assertTrue(windows_path == "" or windows_path[:3].upper() == "C:\\", windows_path)
        return os.path.join(self.prefix(), "drive_c", *windows_path[3:].split("\\"))

    FONTS_KEY = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"
    # Where Wine keeps the host's fonts it lists under the Fonts key.
    WINE_EXTERNAL_KEY = "Software\\Wine\\Fonts\\External Fonts"

    def values(self, root, key, *changes):
        done = self.driver("values", root, key, *changes)
        self.assertEqual(done.returncode, 0, done.stderr)
        return dict(line.split("\t", 1) for line in done.stdout.decode("utf-8").splitlines())

    def fonts_values(self, root="HKLM"):
        return self.values(root, self.FONTS_KEY)

    def family_found(self, *names):
        """Asked of a program started now, with the host's own fonts out of its sight."""
        conf = os.path.join(self.dir, "no-fonts.conf")
        write(conf, b'<?xml version="1.0"?>\n<fontconfig></fontconfig>\n')
        found = self.driver("family", *names, env=BACKEND.env(FONTCONFIG_FILE=conf))
        self.assertIn(found.returncode, (0, 1), found.stderr)
        return found.returncode == 0

    def keep_session(self):
        """Wine lists the host's fonts under the Fonts key again, and drops a value of the same name, each
        time its session starts: one program that lives through the test keeps the session going."""
        keeper = subprocess.Popen(BACKEND.runner + [BACKEND.driver, "wait"], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=BACKEND.env())
        self.assertEqual(keeper.stdout.readline().strip(), b"waiting", "the session keeper did not start")
        # The session's services inherit the pipe and write to it: a full pipe would stop them.
        drain = threading.Thread(target=keeper.stdout.read, daemon=True)
        drain.start()
        def release():
            keeper.stdin.close()
            keeper.wait(timeout=60)
            keeper.stdout.close()
        self.addCleanup(release)

    def take_over(self, root, folder, files, names):
        """Out of the way until the test ends: what this test makes (also what a run that died left), and
        Wine's own values for the host's copies of the same fonts, which every Wine program loads."""
        self.keep_session()
        host = {"Z:" + path.replace("/", "\\") for path in self.HOST_FONTS}
        def ours(name, data):
            where, _, file = data.rpartition("\\")
            return file in files and where.lower() in ("", folder.lower())
        def theirs(name, data):
            return data in host or (name in names and not ours(name, data))
        keys = [(root, self.FONTS_KEY)] + ([("HKCU", self.WINE_EXTERNAL_KEY)] if root == "HKLM" else [])
        saved = {key: {n: d for n, d in self.values(*key).items() if theirs(n, d)} for key in keys}
        paths = [folder + "\\" + name for name in files]

        def restore():
            self.driver("unload", *paths)
            local = self.drive_c(folder)
            waiting = [n for n in os.listdir(local) if n.startswith(".quorvane-") and n.endswith(".pending")] \
                if os.path.isdir(local) else []
            if waiting:
                self.driver("renames", "forget", *[folder + "\\" + n for n in waiting])
            for name in waiting + files:
                if os.path.exists(os.path.join(local, name)):
                    os.unlink(os.path.join(local, name))
            for key in keys:
                stale = [w for n, d in self.values(*key).items() if ours(n, d) or n in names for w in ("delete", n)]
                back = [w for n, d in saved[key].items() for w in ("set", n, d)]
                self.values(*key, *stale, *back)
        restore()
        for key in keys:
            self.values(*key, *[w for name in saved[key] for w in ("delete", name)])
        self.addCleanup(restore)



class Register(WineFontsKey):
    """--register: the fonts work after the copy (Windows' Fonts key, fontconfig's cache)."""

    DEJAVU = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
    MICROHEI = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"
    DEJAVU_VALUE = "DejaVu Sans (TrueType)"
    MICROHEI_VALUE = "WenQuanYi Micro Hei & WenQuanYi Micro Hei Mono (TrueType)"
    HOST_FONTS = (DEJAVU, MICROHEI)

    def setUp(self):
        super().setUp()
        for font in (self.DEJAVU, self.MICROHEI):
            if not os.path.isfile(font):
                self.skipTest(f"no {font} (scripts/install-deps.sh installs fonts-dejavu-core, fonts-wqy-microhei)")

    # Natively: fontconfig with only the XDG font folder and cache, so root's
    # runs leave nothing in /var/cache/fontconfig and fc-list sees only the test's fonts.
    def fontconfig_env(self, **changes):
        conf = os.path.join(self.dir, "fonts.conf")
        write(conf, b'<?xml version="1.0"?>\n<fontconfig>\n  <dir prefix="xdg">fonts</dir>\n'
                    b'  <cachedir prefix="xdg">fontconfig</cachedir>\n</fontconfig>\n')
        self.data, self.cache = os.path.join(self.dir, "data"), os.path.join(self.dir, "cache")
        return BACKEND.env(XDG_DATA_HOME=self.data, XDG_CACHE_HOME=self.cache, FONTCONFIG_FILE=conf,
                           HOME=os.path.join(self.dir, "home"), **changes)

    def caches(self):
        folder = os.path.join(self.cache, "fontconfig")
        return [n for n in os.listdir(folder) if ".cache-" in n] if os.path.isdir(folder) else []

    def test_fc_list_finds_the_copied_face_once_the_cache_is_refreshed(self):
        self.native_only("fontconfig")
        if not shutil.which("fc-cache") or not shutil.which("fc-list"):
            self.skipTest("no fontconfig tools (scripts/install-deps.sh installs fontconfig)")
        shutil.copy(self.DEJAVU, self.src)
        env, user = self.fontconfig_env(), None
        if os.geteuid() == 0:
            # Root's fc-cache reads the system's configuration alone: an ordinary user's reads this one.
            self.root_only()
            user = NOBODY
            for folder in (self.data, self.cache, os.path.join(self.dir, "nobody-state")):
                os.makedirs(folder, mode=0o700)
                os.chown(folder, NOBODY, NOBODY)
            env["XDG_STATE_HOME"] = os.path.join(self.dir, "nobody-state")
        plain = BACKEND.run("--lang", "en", self.src, env=env, user=user)
        self.assertEqual(plain.returncode, 0, plain.stderr)
        self.assertEqual(self.caches(), [], "a copy alone writes no cache: the check below can fail")
        result = BACKEND.run("--register", "--replace", "--lang", "en", self.src, env=env, user=user)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, b"")
        self.assertIn(b"Registration: 1 registered, 0 not a font, 0 failed; font cache refreshed.\n", result.stdout)
        self.assertNotEqual(self.caches(), [], "fc-cache wrote the folder's cache")
        listed = subprocess.run(["fc-list", ":", "family", "file"], capture_output=True, env=env, timeout=60)
        target = os.path.join(self.data, "fonts", "DejaVuSans.ttf")
        self.assertIn(f"{target}: DejaVu Sans".encode(), listed.stdout.splitlines(), listed.stdout[:500])

    def test_root_takes_fc_cache_from_the_system_folders_not_an_inherited_path(self):
        self.native_only("fontconfig")
        self.root_only()
        if not shutil.which("fc-cache"):
            self.skipTest("no fontconfig tools (scripts/install-deps.sh installs fontconfig)")
        planted, ran = os.path.join(self.dir, "planted"), os.path.join(self.dir, "ran")
        os.makedirs(planted)
        write(os.path.join(planted, "fc-cache"), f"#!/bin/sh\ntouch {ran}\n".encode())
        os.chmod(os.path.join(planted, "fc-cache"), 0o755)
        shutil.copy(self.DEJAVU, self.src)
        # fontconfig's own variables are the environment's too: its file would put the cache here,
        # and FC_DEBUG would have fc-cache write into the tool's JSON lines.
        env = self.fontconfig_env(PATH=planted + os.pathsep + os.environ.get("PATH", ""), FC_DEBUG="16")
        result = BACKEND.run("--register", "--json", "--lang", "en", self.src, env=env)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertFalse(os.path.exists(ran), "root ran the fc-cache that an inherited PATH put first")
        _, summary = json_lines(result.stdout)
        self.assertEqual(summary["registration"]["refresh"], "cache-refreshed", "the system's fc-cache ran instead")
        self.assertEqual(self.caches(), [], "an inherited FONTCONFIG_FILE told root's fc-cache where to write")

    def test_without_fc_cache_on_path_the_run_warns_and_succeeds(self):
        self.native_only("fontconfig")
        shutil.copy(self.DEJAVU, self.src)
        empty = os.path.join(self.dir, "empty")
        os.makedirs(empty)
        env, user = self.fontconfig_env(PATH=empty), None
        if os.geteuid() == 0:
            # Root never looks on PATH: an ordinary user's run shows the warning.
            self.root_only()
            user = NOBODY
            for folder in (self.data, os.path.join(self.dir, "nobody-state")):
                os.makedirs(folder, mode=0o700)
                os.chown(folder, NOBODY, NOBODY)
            env["XDG_STATE_HOME"] = os.path.join(self.dir, "nobody-state")
        result = BACKEND.run("--register", "--json", "--lang", "en", self.src, env=env, user=user)
        self.assertEqual(result.returncode, 0, result.stderr)
        rows, summary = json_lines(result.stdout)
        self.assertEqual(rows[0]["registration"], {"status": "registered", "name": self.DEJAVU_VALUE})
        self.assertEqual(summary["registration"], {"registered": 1, "not_a_font": 0, "failed": 0, "conflict": 0,
                                                   "refresh": "fc-cache-missing"})
        self.assertEqual(result.stderr.decode(), "quorvane-sync: warning: font cache not refreshed: no fc-cache on "
                         "PATH; programs started later find the new fonts by scanning the folder themselves\n")
        self.assertTrue(filecmp_equal(self.DEJAVU, os.path.join(self.data, "fonts", "DejaVuSans.ttf")))
        self.assertEqual(self.caches(), [])

    def test_a_font_that_cannot_be_registered_fails_the_run(self):
        self.native_only("Wine runs as an administrator")
        self.root_only()
        shutil.copy(self.DEJAVU, self.src)
        os.chown(self.dst, NOBODY, NOBODY)
        # Copies made under umask 777 are unreadable, even to their owner.
        result = subprocess.run(["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups", "sh", "-c",
                                 'umask 777 && exec "$@"', "sh", BACKEND.tool, "--register", "--json", "--lang", "en",
                                 "--target", self.dst, self.src], capture_output=True, env=self.fontconfig_env())
        self.assertEqual(result.returncode, 1, result.stderr)
        rows, summary = json_lines(result.stdout)
        self.assertEqual(rows[0]["status"], "copied")
        self.assertEqual({k: rows[0]["registration"][k] for k in ("status", "step")}, {"status": "failed", "step": "read"})
        self.assertEqual((summary["exit"], summary["registration"]["failed"]), (1, 1))
        self.assertEqual(result.stderr.decode(), f"quorvane-sync: registration failed {self.src}/DejaVuSans.ttf: "
                                                 "read: Permission denied\n")

    def test_fonts_in_the_system_folder_are_registered_by_file_name_once(self):
        self.wine_only()
        fonts = "C:\\windows\\Fonts"
        self.take_over("HKLM", fonts, ["DejaVuSans.ttf", "wqy-microhei.ttc"], [self.DEJAVU_VALUE, self.MICROHEI_VALUE])
        for font in (self.DEJAVU, self.MICROHEI):
            shutil.copy(font, self.src)
        self.assertFalse(self.family_found("DejaVu Sans", "DejaVu Sans"), "the check below can fail")
        self.assertFalse(self.family_found("WenQuanYi Micro Hei"))

        result = BACKEND.run("--register", "--json", "--lang", "en", BACKEND.path(self.src))
        self.assertEqual(result.returncode, 0, result.stderr)
        rows, summary = json_lines(result.stdout)
        self.assertEqual([(r["status"], r["target"], r["registration"]) for r in rows],
                         [("copied", fonts + "\\DejaVuSans.ttf", {"status": "registered", "name": self.DEJAVU_VALUE}),
                          ("copied", fonts + "\\wqy-microhei.ttc",
                           {"status": "registered", "name": self.MICROHEI_VALUE})])
        self.assertEqual(summary["registration"], {"registered": 2, "not_a_font": 0, "failed": 0, "conflict": 0,
                                                   "refresh": "font-change-sent"})
        values = self.fonts_values()
        self.assertEqual(values.get(self.DEJAVU_VALUE), "DejaVuSans.ttf")
        self.assertEqual(values.get(self.MICROHEI_VALUE), "wqy-microhei.ttc")
        self.assertTrue(self.family_found("DejaVu Sans", "DejaVu Sans"))
        self.assertTrue(self.family_found("WenQuanYi Micro Hei"))
        self.assertTrue(self.family_found("WenQuanYi Micro Hei Mono"), "the collection's second face")

        again = BACKEND.run("--register", "--replace", "--json", "--lang", "en", BACKEND.path(self.src))
        self.assertEqual(again.returncode, 0, again.stderr)
        rows, summary = json_lines(again.stdout)
        self.assertEqual([r["status"] for r in rows], ["replaced", "replaced"])
        self.assertEqual(summary["registration"]["registered"], 2)
        data = list(self.fonts_values().values())
        self.assertEqual((data.count("DejaVuSans.ttf"), data.count("wqy-microhei.ttc")), (1, 1),
                         "one value per font after two runs")

    def test_a_font_in_use_is_replaced_at_the_next_start_with_3010(self):
        self.wine_only()
        fonts = "C:\\windows\\Fonts"
        self.take_over("HKLM", fonts, ["DejaVuSans.ttf"], [self.DEJAVU_VALUE])
        shutil.copy(self.DEJAVU, self.src)
        first = BACKEND.run("--register", "--quiet", BACKEND.path(self.src))
        self.assertEqual(first.returncode, 0, first.stderr)
        target = fonts + "\\DejaVuSans.ttf"
        held = self.driver("hold", target, "--", BACKEND.path(BACKEND.tool), "--register", "--replace", "--json",
                           "--lang", "en", BACKEND.path(self.src))
        self.assertIn(b"tool_driver: exit status 3010\r\n", held.stderr, "as Windows gives it to the caller")
        rows, summary = json_lines(held.stdout)
        self.assertEqual((rows[0]["status"], rows[0]["registration"]),
                         ("replace-at-reboot", {"status": "registered", "name": self.DEJAVU_VALUE}))
        self.assertEqual((summary["replace-at-reboot"], summary["total"], summary["exit"]), (1, 1, 3010))
        waiting = [n for n in os.listdir(self.drive_c(fonts)) if n.startswith(".quorvane-") and n.endswith(".pending")]
        self.assertEqual(len(waiting), 1, os.listdir(self.drive_c(fonts)))
        self.assertTrue(filecmp_equal(self.DEJAVU, os.path.join(self.drive_c(fonts), waiting[0])))
        renames = [line.split("\t") for line in self.driver("renames").stdout.decode("utf-8").splitlines()]
        pair = [to for source, to in renames if source.lower().endswith((fonts + "\\" + waiting[0]).lower())]
        self.assertEqual(len(pair), 1, renames)
        self.assertTrue(pair[0].startswith("!") and pair[0].lower().endswith(target.lower()), pair)
        self.assertEqual(self.fonts_values().get(self.DEJAVU_VALUE), "DejaVuSans.ttf")

    def test_user_fonts_go_to_the_users_folder_and_hkcu_by_full_path(self):
        self.wine_only()
        shutil.copy(self.DEJAVU, self.src)
        probe = BACKEND.run("--user", "--dry-run", "--json", BACKEND.path(self.src))
        self.assertEqual(probe.returncode, 0, probe.stderr)
        folder = json_lines(probe.stdout)[0][0]["target"].rsplit("\\", 1)[0]
        self.assertTrue(folder.lower().endswith("\\appdata\\local\\microsoft\\windows\\fonts"), folder)
        missing = not os.path.exists(self.drive_c(folder))
        if missing:  # after the file in it is gone: clean-ups run last first
            self.addCleanup(lambda: os.path.isdir(self.drive_c(folder)) and os.rmdir(self.drive_c(folder)))
        self.take_over("HKCU", folder, ["DejaVuSans.ttf"], [self.DEJAVU_VALUE])
        result = BACKEND.run("--user", "--register", "--json", "--lang", "en", BACKEND.path(self.src))
        self.assertEqual(result.returncode, 0, result.stderr)
        rows, summary = json_lines(result.stdout)
        self.assertEqual((rows[0]["status"], rows[0]["registration"]["status"]), ("copied", "registered"))
        self.assertTrue(filecmp_equal(self.DEJAVU, os.path.join(self.drive_c(folder), "DejaVuSans.ttf")),
                        "the folder was made when missing" if missing else "")
        self.assertEqual(self.fonts_values("HKCU").get(self.DEJAVU_VALUE), folder + "\\DejaVuSans.ttf")
        self.assertNotEqual(self.fonts_values("HKLM").get(self.DEJAVU_VALUE), "DejaVuSans.ttf", "not every user's")
        clash = BACKEND.run("--user", "--target", BACKEND.path(self.dst), BACKEND.path(self.src))
        self.assertEqual(clash.returncode, 2)


def filecmp_equal(a, b):
    with open(a, "rb") as first, open(b, "rb") as second:
        return first.read() == second.read()


class Ansible(ToolCase):
    """The playbook of docs/deploy.md and its module, against this machine."""

    def test_the_playbook_changes_once_checks_without_writing_and_prunes(self):
        self.native_only("the playbook is for Linux workstations")
        playbook_tool = shutil.which("ansible-playbook")
        if not playbook_tool:
            self.skipTest("no ansible-playbook (scripts/install-deps.sh installs ansible-core)")
        # A share named like an option, with a space: the module passes no shell and puts "--" before it.
        # Tasks run in the playbook's folder, where the relative name is found.
        share = "-shared fonts"
        os.rename(self.src, os.path.join(self.dir, share))
        self.src = os.path.join(self.dir, share)
        for i in range(5):
            write(os.path.join(self.src, f"font{i}.ttf"), os.urandom(2000))
        playbook = shutil.copy(os.path.join(ROOT, "docs", "deploy", "quorvane-fonts.yml"), self.dir)
        home = os.path.join(self.dir, "home")
        os.makedirs(home)
        env = dict(os.environ, ANSIBLE_LOCALHOST_WARNING="false", ANSIBLE_INVENTORY_UNPARSED_WARNING="false",
                   ANSIBLE_NOCOLOR="1", ANSIBLE_HOME=os.path.join(self.dir, "ansible"), HOME=home,
                   ANSIBLE_LIBRARY=os.path.join(ROOT, "docs", "deploy", "library"))
        def play(*extra, failed=False):
            result = subprocess.run([playbook_tool, "-i", "localhost,", "-c", "local", playbook,
                                     "-e", f"quorvane_sync={os.path.abspath(BACKEND.tool)}",
                                     "-e", json.dumps({"font_share": share}),
                                     "-e", f"font_target={self.dst}", *extra],
                                    capture_output=True, env=env, timeout=300)
            if failed:
                self.assertNotEqual(result.returncode, 0, result.stdout.decode()[-2000:])
                return None, result.stdout.decode()
            self.assertEqual(result.returncode, 0, result.stdout.decode()[-2000:])
            recap = re.search(rb"localhost\s*: ok=(\d+)\s+changed=(\d+)\s+unreachable=0\s+failed=0", result.stdout)
            self.assertIsNotNone(recap, result.stdout[-1000:])
            return int(recap.group(2)), result.stdout.decode()
        def target():
            return sorted(os.listdir(self.dst))

        changed, _ = play()
        self.assertGreater(changed, 0, "the first run copies")
        self.assertEqual(target(), [f"font{i}.ttf" for i in range(5)])
        self.assertEqual(play()[0], 0, "the second finds everything in step")

        # A new version on the share: check mode reports the change and writes nothing.
        write(os.path.join(self.src, "font0.ttf"), os.urandom(3000))
        before = {n: os.stat(os.path.join(self.dst, n)).st_mtime_ns for n in target()}
        changed, out = play("--check", "--diff")
        self.assertGreater(changed, 0, "check mode sees the change")
        self.assertIn("~ replaced font0.ttf", out)
        self.assertEqual({n: os.stat(os.path.join(self.dst, n)).st_mtime_ns for n in target()}, before,
                         "and writes nothing")
        self.assertGreater(play()[0], 0, "then the run makes it")

        # A font gone from the share goes from the machine, and the diff says so.
        os.unlink(os.path.join(self.src, "font4.ttf"))
        changed, out = play("--diff")
        self.assertGreater(changed, 0)
        self.assertIn("- removed font4.ttf", out)
        self.assertEqual(target(), [f"font{i}.ttf" for i in range(4)])
        self.assertEqual(play("--check")[0], 0, "in step again")

        # The collection's manifest, copied from the controller first: a share file it does not name fails the
        # host and is not installed.
        manifest, on_host = os.path.join(self.dir, "fonts.manifest"), os.path.join(home, "fonts.manifest")
        write(manifest, BACKEND.run("--publish", self.src).stdout)
        given = ("-e", f"font_manifest={manifest}", "-e", f"font_manifest_on_host={on_host}")
        self.assertEqual(play(*given)[0], 1, "only the manifest's copy changes")
        self.assertTrue(os.path.isfile(on_host))
        write(os.path.join(self.src, "late.ttf"), os.urandom(100))
        self.assertIn("not published", play(*given, failed=True)[1])
        self.assertEqual(target(), [f"font{i}.ttf" for i in range(4)])


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--runner", default="", help="the Wine runner's words, joined by |")
    parser.add_argument("--driver", help="tool_driver.exe, for the Windows cases")
    args, rest = parser.parse_known_args()
    global BACKEND
    BACKEND = Backend(args.tool, [w for w in args.runner.split("|") if w], args.driver)
    unittest.main(argv=[sys.argv[0], "-v", *rest])


if __name__ == "__main__":
    main()
