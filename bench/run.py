#!/usr/bin/env python3
"""Runs Quorvane's benchmark comparisons and prints one table.

Every round runs every case of every comparison once, in a fresh shuffled
order, so a noisy neighbour slows candidate and reference alike; only the
ratios of one run are meant to be compared. Each case's setup (emptying a
target folder, flushing the page cache's dirty data) is outside its timing.

  bench/run.py [--rounds N] [--only 1,4] [--results bench/RESULTS.md] [--before PATH] [--window-before EXE]
"""
import argparse
import os
import platform
import random
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FONT_PATTERNS = ["*.ttf", "*.otf", "*.fon", "*.ttc"]
# What one round's copies take on disk: six of the 620 MB corpus, two of the
# small fonts, the CJK fonts once and the 1 GB font once.
ROUND_BYTES = 6 << 30


class Case:
    """One command of a comparison. Each run adds the wall time of `argv` in
    seconds, or the figure `measure` returns (a probe measures itself)."""

    def __init__(self, name, argv=None, setup=None, measure=None, own_cpu=True):
        self.name, self.argv, self.setup, self.measure = name, argv, setup, measure
        # Under Wine the work is done by processes other than the child: its CPU time says nothing.
        self.own_cpu = own_cpu
        self.times = []
        self.cpu = []  # user + system seconds of the command, when it is timed from here

    def run(self):
        if self.setup:
            self.setup()
        os.sync()
        if self.measure:
            self.times.append(self.measure())
            return
        start = time.perf_counter()
        argv = self.argv() if callable(self.argv) else self.argv
        with open(os.devnull, "wb") as null, subprocess.Popen(argv, stdout=null, stderr=subprocess.PIPE) as child:
            # wait4 gives the child's own CPU time, which other users of the machine barely move.
            _, status, usage = os.wait4(child.pid, 0)
            elapsed = time.perf_counter() - start
            child.returncode = os.waitstatus_to_exitcode(status)
            errors = child.stderr.read().decode(errors="replace")
        if child.returncode != 0:
            raise RuntimeError(f"{self.name}: exit {child.returncode}: {errors}")
        self.times.append(elapsed)
        if self.own_cpu:
            self.cpu.append(usage.ru_utime + usage.ru_stime)


class Comparison:
    """Candidates measured against one reference; `target` is the highest
    acceptable ratio, or an absolute limit in milliseconds when `limit_ms`."""

    def __init__(self, number, title, reference, candidates, target=None, limit_ms=None, skipped=None):
        self.number, self.title = number, title
        self.reference, self.candidates = reference, candidates
        self.target, self.limit_ms, self.skipped = target, limit_ms, skipped

    def cases(self):
        return ([self.reference] if self.reference else []) + self.candidates


def fresh_folder(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)


def warm(folder):
    """Reads every file of a source once, so a copy never pays for disk reads
    that the command before it caused by pushing the source out of the cache."""
    for root, _, names in os.walk(folder):
        for name in names:
            with open(os.path.join(root, name), "rb") as source:
                while source.read(1 << 20):
                    pass


def warm_names(folder):
    """Looks up every entry once, for the commands that read only names."""
    def setup():
        for root, _, names in os.walk(folder):
            for name in names:
                os.lstat(os.path.join(root, name))
    return setup


class FreshTarget:
    """A new empty folder for every run of a case, as a case's setup. Earlier
    ones stay until the run ends: on ext4 without a journal, inodes freed in
    the last minute are stepped over one by one when files are created, so
    deleting the last copy just before the next one would slow that copy."""

    def __init__(self, base, source):
        self.base, self.source, self.count, self.path = base, source, 0, None

    def __call__(self):
        self.count += 1
        self.path = f"{self.base}-{self.count}"
        os.makedirs(self.path)
        warm(self.source)


def fill_installed(path, installed):
    """A folder holding the 1,000 installed fonts, linked: they are only read."""
    fresh_folder(path)
    for name in os.listdir(installed):
        os.link(os.path.join(installed, name), os.path.join(path, name))


class InstalledTarget(FreshTarget):
    """A fresh target that already holds the 1,000 installed fonts."""

    def __init__(self, base, installed, source):
        super().__init__(base, source)
        self.installed = installed

    def __call__(self):
        super().__call__()
        os.rmdir(self.path)
        fill_installed(self.path, self.installed)


def make_one_font(folder, installed, taken=False):
    """A source folder of one font: named as an installed one, or new and of a face of its own."""
    fresh_folder(folder)
    first = sorted(os.listdir(installed))[0]
    if taken:
        shutil.copy(os.path.join(installed, first), os.path.join(folder, first))
    else:
        sys.path.insert(0, os.path.join(ROOT, "bench"))
        from make_corpus import sfnt_header
        with open(os.path.join(folder, "bench-new.ttf"), "wb") as font:
            font.write(sfnt_header("Bench New", "1.000", 64 << 10).ljust(64 << 10, b"\0"))
    return folder


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Wine:
    """Runs programs of one Windows build tree in its own prefix, through the
    project's wine-run.sh, keeping the Wine server up between runs."""

    def __init__(self, build):
        self.build = build
        self.prefix = os.path.join(build, "wineprefix")
        self.runner = os.path.join(ROOT, "cmake", "wine-run.sh")

    def argv(self, program, *args):
        program = os.path.join(self.build, "bin", program)
        return [self.runner, "--prefix", self.prefix, "--arch", "win64", program, *args]

    def start(self):
        # A first run creates the prefix; a persistent server keeps start-up out of every later one.
        subprocess.run(self.argv("quorvane-sync.exe", "--help"), stdout=subprocess.DEVNULL, check=True)
        env = dict(os.environ, WINEPREFIX=self.prefix)
        self.server = subprocess.Popen(["wineserver", "-p"], env=env)
        self.server.wait()

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=self.prefix))

    def probe(self, *args):
        """Runs window_probe.exe and returns, in seconds, the figures it printed."""
        result = subprocess.run(self.argv("window_probe.exe", *args), capture_output=True, text=True)
        if result.returncode != 0:
            raise RuntimeError(f"window_probe {' '.join(args)}: exit {result.returncode}: "
                               f"{result.stderr}{result.stdout}")
        # "N [N...] ms: what they are"
        figures = result.stdout.split(" ms")[0].split()
        return [float(figure) / 1000 for figure in figures]


def make_corpus(corpus, seed):
    if all(os.path.isdir(os.path.join(corpus, name)) for name in ("fonts", "small", "many", "installed")):
        return
    subprocess.run([sys.executable, os.path.join(ROOT, "bench", "make_corpus.py"), corpus, "--seed", str(seed)],
                   check=True)


def build_comparisons(args):
    corpus, work = args.corpus, args.work
    sync = os.path.join(args.linux, "bin", "quorvane-sync")
    fonts, small, many = (os.path.join(corpus, name) for name in ("fonts", "small", "many"))
    target = lambda name: os.path.join(work, name)  # noqa: E731
    comparisons = []

    t1cp, t1q = FreshTarget(target("1-cp"), fonts), FreshTarget(target("1-q"), fonts)
    t1u = FreshTarget(target("1-u"), fonts)
    t2cp, t2q = FreshTarget(target("2-cp"), small), FreshTarget(target("2-q"), small)
    first_copy = Case("quorvane-sync", lambda: [sync, "--target", t1q.path, fonts], t1q)
    first_update = Case("quorvane-sync --update", lambda: [sync, "--update", "--target", t1u.path, fonts], t1u)
    comparisons.append(Comparison(
        1, "first copy, 800 fonts (620 MB)",
        Case("cp -r", lambda: ["cp", "-r", fonts + "/.", t1cp.path], t1cp),
        [first_copy, first_update],
        target=1.05))

    comparisons.append(Comparison(
        2, "first copy, 730 small fonts",
        Case("cp -r", lambda: ["cp", "-r", small + "/.", t2cp.path], t2cp),
        [Case("quorvane-sync", lambda: [sync, "--target", t2q.path, small], t2q)],
        target=1.05))

    # Filled once: neither command writes to a target where everything exists.
    for name, argv in (("3-cp", ["cp", "-r", fonts + "/."]), ("3-q", [sync, "--target"])):
        fresh_folder(target(name))
        argv = argv + [target(name)] if name == "3-cp" else argv + [target(name), fonts]
        subprocess.run(argv, stdout=subprocess.DEVNULL, check=True)
    comparisons.append(Comparison(
        3, "second run, everything exists",
        Case("cp -rn", ["cp", "-rn", fonts + "/.", target("3-cp")], warm_names(fonts)),
        [Case("quorvane-sync --ignore", [sync, "--ignore", "--target", target("3-q"), fonts], warm_names(fonts))],
        target=0.8))

    fresh_folder(target("4-empty"))
    find = ["find", many, "-type", "f", "("]
    for i, pattern in enumerate(FONT_PATTERNS):
        find += (["-o"] if i else []) + ["-iname", pattern]
    tsv_dry_run = Case("quorvane-sync --dry-run", [sync, "--dry-run", "--target", target("4-empty"), many],
                       warm_names(many))
    # The same dry run by the build this one started from, when it is there:
    # what the command-line work itself costs the listing.
    base_dry_run = [Case("main's quorvane-sync --dry-run", [args.base, "--dry-run", "--target", target("4-empty"),
                                                            many], warm_names(many))] if os.path.isfile(args.base) else []
    comparisons.append(Comparison(
        4, "listing 50,000 files",
        Case("find -iname x4", find + [")"], warm_names(many)),
        [tsv_dry_run] + base_dry_run,
        target=0.5))

    # Filled once, each by its own command, which keeps the sources' times.
    for name, argv in (("8-rsync", ["rsync", "-a", fonts + "/"]), ("8-q", [sync, "--quiet", "--target"])):
        fresh_folder(target(name))
        argv = argv + [target(name) + "/"] if name == "8-rsync" else argv + [target(name), fonts]
        subprocess.run(argv, stdout=subprocess.DEVNULL, check=True)
    comparisons.append(Comparison(
        8, "unchanged collection, 800 fonts",
        Case("rsync -a", ["rsync", "-a", fonts + "/", target("8-rsync") + "/"], warm_names(fonts)),
        [Case("quorvane-sync --update --replace",
              [sync, "--update", "--replace", "--target", target("8-q"), fonts], warm_names(fonts)),
         Case("quorvane-sync --newer --replace",
              [sync, "--newer", "--replace", "--target", target("8-q"), fonts], warm_names(fonts))],
        target=0.5))

    # A fleet's daily detection and its daily run with removals, on a machine in step.
    comparisons.append(Comparison(
        14, "is the machine in step? 800 unchanged fonts",
        Case("rsync -an", ["rsync", "-an", fonts + "/", target("8-rsync") + "/"], warm_names(fonts)),
        [Case("quorvane-sync --check --update", [sync, "--check", "--update", "--target", target("8-q"), fonts],
              warm_names(fonts))],
        target=0.5))
    comparisons.append(Comparison(
        15, "unchanged collection, 800 fonts: --prune vs without",
        Case("quorvane-sync --update --replace", [sync, "--update", "--replace", "--target", target("8-q"), fonts],
             warm_names(fonts)),
        [Case("quorvane-sync --update --replace --prune",
              [sync, "--update", "--replace", "--prune", "--target", target("8-q"), fonts], warm_names(fonts))],
        target=1.1))

    comparisons.append(Comparison(
        9, "50,000-file dry run: --json vs the TSV lines",
        tsv_dry_run,
        [Case("quorvane-sync --dry-run --json", [sync, "--dry-run", "--json", "--target", target("4-empty"), many],
              warm_names(many))],
        target=1.1))

    # The durable replace flushes every new file before its rename; the build
    # before it did not. Both replace all 800 fonts of a full target each time.
    before = args.before
    if os.path.isfile(before):
        for name, program in (("10-before", before), ("10-after", sync)):
            fresh_folder(target(name))
            subprocess.run([program, "--target", target(name), fonts], stdout=subprocess.DEVNULL, check=True)
        comparisons.append(Comparison(
            10, "replace run over 800 fonts: the durable replace",
            Case("before (9931c5f) --replace", [before, "--replace", "--target", target("10-before"), fonts],
                 lambda: warm(fonts)),
            [Case("after --replace", [sync, "--replace", "--target", target("10-after"), fonts], lambda: warm(fonts))]))
    else:
        comparisons.append(Comparison(10, "replace run over 800 fonts: the durable replace", None, [],
                                      skipped=f"not measured: no {before} (git worktree add /tmp/before 9931c5f, "
                                              "then build its linux preset)"))

    comparisons.append(Comparison(
        11, "first copy, 800 fonts: --update vs without", first_copy, [first_update], target=1.05))

    # The face check reads every new font's names and, once, the 1,000 fonts
    # already in the target; the build before it copied by name alone.
    installed = os.path.join(corpus, "installed")
    faces_before = args.faces_before
    if os.path.isfile(faces_before):
        t12b, t12a = (InstalledTarget(target(name), installed, fonts) for name in ("12-before", "12-after"))
        comparisons.append(Comparison(
            12, "first copy, 800 fonts into 1,000 installed: the face check",
            Case("before (dce0d33)", lambda: [faces_before, "--target", t12b.path, fonts], t12b),
            [Case("with the face check", lambda: [sync, "--target", t12a.path, fonts], t12a)], target=1.1))
    else:
        comparisons.append(Comparison(12, "first copy, 800 fonts into 1,000 installed: the face check", None, [],
                                      skipped=f"not measured: no {faces_before} (git worktree add /tmp/faces-before "
                                              "dce0d33, then build its linux preset)"))
    # One font into the 1,000: by a name the target has (no face is read) and by
    # a new one (the target's 1,000 fonts are read): the difference is the reading.
    one_taken, one_new = make_one_font(target("13-taken"), installed, taken=True), make_one_font(target("13-new"), installed)
    t13 = target("13-installed")
    fill_installed(t13, installed)
    index_cases = lambda run, where: (  # noqa: E731
        Case(f"{where}: a name the target has", run("--dry-run", "--target", t13, one_taken), warm_names(t13)),
        Case(f"{where}: a new name, 1,000 faces read", run("--dry-run", "--target", t13, one_new), warm_names(t13)))
    native_taken, native_new = index_cases(lambda *a: [sync, *a], "native")
    comparisons.append(Comparison(13, "the installed fonts' faces, 1,000 of them", native_taken, [native_new]))

    win_build = args.win64
    wine = Wine(win_build) if os.path.isfile(os.path.join(win_build, "bin", "quorvane-sync.exe")) else None
    t5native = FreshTarget(target("5-native"), fonts)
    native_ref = Case("native quorvane-sync", lambda: [sync, "--target", t5native.path, fonts], t5native)
    if wine is None:
        why = f"not measured: {win_build}/bin/quorvane-sync.exe is not built (cmake --build --preset win64)"
        comparisons.append(Comparison(5, "Windows build under Wine", None, [], skipped=why))
        comparisons.append(Comparison(6, "the window: 20,000 rows, longest gap", None, [], skipped=why))
        comparisons.append(Comparison(7, "start-up to window shown", None, [], skipped=why))
        return comparisons, None

    t5exe = FreshTarget(target("5-exe"), fonts)
    exe_case = Case("quorvane-sync.exe", lambda: wine.argv("quorvane-sync.exe", "--target", wine_path(t5exe.path),
                                                           wine_path(fonts)), t5exe, own_cpu=False)
    comparisons.append(Comparison(5, "first copy under Wine: .exe vs native", native_ref, [exe_case]))

    rows = os.path.join(corpus, "rows20k")
    if not os.path.isdir(rows):
        make_rows(rows, 20_000)
    window = args.window or os.path.join(win_build, "bin", "quorvane.exe")
    if os.path.isfile(window):
        # Both timed inside Wine from the process's start, so Wine's own start-up is left out of neither.
        t5exew, t5window = FreshTarget(target("5-exe-w"), fonts), FreshTarget(target("5-window"), fonts)
        exe_in_wine = Case("quorvane-sync.exe", setup=t5exew, measure=lambda: wine.probe(
            "run", wine_path(os.path.join(win_build, "bin", "quorvane-sync.exe")), "--target",
            wine_path(t5exew.path), wine_path(fonts))[0])
        gap = Case("longest message gap during that job")
        window_job = Case("the window: drop, 执行, summary", setup=t5window,
                          measure=lambda: job_and_gap(wine, window, fonts, t5window.path, gap))
        comparisons.append(Comparison(5, "first copy under Wine: the window vs .exe", exe_in_wine, [window_job],
                                      target=1.10))
        list_cases = [Case("drop a folder of 20,000 fonts", measure=lambda: wine.probe(
            "window-list", wine_path(window), wine_path(rows), "20000")[0])]
        if args.window_before:
            list_cases.append(Case("the same, --window-before", measure=lambda: wine.probe(
                "window-list", wine_path(args.window_before), wine_path(rows), "20000")[0]))
        comparisons.append(Comparison(6, "the tool window: 20,000 rows listed", None, list_cases, limit_ms=150))
        comparisons.append(Comparison(6, "the tool window: run over the 800 fonts", None, [gap], limit_ms=100))
        # One file long enough that only events processed during its copy keep the window answering.
        big = os.path.join(corpus, "big")
        if not os.path.isdir(big):
            make_big(big)
        t6big = FreshTarget(target("6-big"), big)
        big_gap = Case("longest message gap during that job")
        big_job = Case("the window: drop, 执行, summary", setup=t6big,
                       measure=lambda: job_and_gap(wine, window, big, t6big.path, big_gap))
        comparisons.append(Comparison(6, "the tool window: a 1 GB font and three small ones", None, [big_job]))
        comparisons.append(Comparison(6, "the tool window: run over the 1 GB font", None, [big_gap], limit_ms=100))
    else:
        why = f"not measured: {window} is not built"
        comparisons.append(Comparison(5, "first copy under Wine: the window vs .exe", None, [], skipped=why))
        comparisons.append(Comparison(6, "the tool window: 20,000 rows, longest gap", None, [], skipped=why))

    # A stand-in window lists and runs through the real core into a real list
    # view: the core's share of the window's figures, and what each way of
    # filling the list costs.
    for mode in ("memory", "virtual", "redraw-off"):
        title = "the core alone" if mode == "memory" else f"stand-in list window ({mode})"
        comparisons.append(Comparison(
            6, f"{title}: 20,000 rows listed", None,
            [Case("list 20,000 rows", measure=lambda m=mode: wine.probe("list", m, wine_path(rows))[0])],
            limit_ms=150))
    big = os.path.join(corpus, "fonts", "CJK")
    t6gap = FreshTarget(target("6-gap"), big)
    comparisons.append(Comparison(
        6, "stand-in list window: run over the CJK fonts", None,
        [Case("longest message gap", setup=t6gap,
              measure=lambda: wine.probe("gap", wine_path(big), wine_path(t6gap.path))[0])],
        limit_ms=100))

    wine_taken, wine_new = index_cases(lambda *a: wine.argv("quorvane-sync.exe", *(wine_path(w) if os.path.isabs(w)
                                                                               else w for w in a)), "Wine")
    wine_taken.own_cpu = wine_new.own_cpu = False
    comparisons.append(Comparison(13, "the installed fonts' faces, 1,000 of them, under Wine", wine_taken, [wine_new]))

    bare = Case("bare window", measure=lambda: wine.probe("start", wine_path(os.path.join(win_build, "bin",
                                                                                        "bare_window.exe")))[0])
    if os.path.isfile(window):
        start_cases = [Case("quorvane.exe", measure=lambda: wine.probe("start", wine_path(window))[0])]
        if args.window_before:
            start_cases.append(Case("quorvane.exe, --window-before", measure=lambda: wine.probe(
                "start", wine_path(args.window_before))[0]))
        comparisons.append(Comparison(7, "start-up to window shown", bare, start_cases, target=1.3))
    else:
        comparisons.append(Comparison(7, "start-up to window shown", bare, [],
                                      skipped=f"quorvane.exe not measured: {window} is not built"))
    return comparisons, wine


def job_and_gap(wine, window, source, target, gap):
    """The window's whole job; the longest message gap of it goes to `gap`."""
    job, longest = wine.probe("window-job", wine_path(window), wine_path(source), wine_path(target))
    gap.times.append(longest)
    return job


def make_big(folder):
    """A sparse 1 GB font (written at once; its copy still reads and writes
    every byte) and three small ones."""
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "big.ttf"), "wb") as big:
        big.truncate(1 << 30)
    for i in range(3):
        with open(os.path.join(folder, f"small{i}.ttf"), "wb") as small:
            small.write(os.urandom(64 << 10))


def make_rows(folder, count):
    """A flat folder of `count` empty font files for the list figures."""
    os.makedirs(folder, exist_ok=True)
    for i in range(count):
        open(os.path.join(folder, f"row{i:05d}.ttf"), "wb").close()


def spread(times):
    return min(times), max(times)


def ms(seconds):
    return f"{seconds * 1000:.0f} ms" if seconds < 10 else f"{seconds:.2f} s"


def report(comparisons, rounds):
    lines = ["| # | comparison | command | median | min – max | ratio | target | met | CPU median (ratio) |",
             "|---|---|---|---|---|---|---|---|---|"]
    for c in comparisons:
        if c.skipped and not c.cases():
            lines.append(f"| {c.number} | {c.title} | | | | | | {c.skipped} | |")
            continue
        ref = statistics.median(c.reference.times) if c.reference else None
        for case in c.cases():
            if not case.times:
                # A figure that another comparison's run produces, when that one was left out.
                lines.append(f"| {c.number} | {c.title} | {case.name} | | | | | not measured in this run | |")
                continue
            med = statistics.median(case.times)
            low, high = spread(case.times)
            ratio, target, met = "", "", ""
            if case is c.reference:
                ratio = "1.00 (reference)"
            elif ref:
                # Paired by round as well: both ran within seconds of each other.
                paired = statistics.median(t / r for t, r in zip(case.times, c.reference.times))
                ratio = f"{med / ref:.2f} (paired {paired:.2f})"
                if c.target:
                    target, met = f"≤ {c.target}", "yes" if med / ref <= c.target else "no"
            if c.limit_ms:
                target, met = f"≤ {c.limit_ms} ms", "yes" if med * 1000 <= c.limit_ms else "no"
            cpu = ""
            if case.cpu:
                cpu = ms(statistics.median(case.cpu))
                if c.reference and c.reference.cpu and case is not c.reference:
                    cpu += f" ({statistics.median(case.cpu) / statistics.median(c.reference.cpu):.2f})"
            lines.append(f"| {c.number} | {c.title} | {case.name} | {ms(med)} | {ms(low)} – {ms(high)} "
                         f"| {ratio} | {target} | {met} | {cpu} |")
        if c.skipped:
            lines.append(f"| {c.number} | | | | | | | {c.skipped} | |")
    return "\n".join(lines)


def machine():
    cpu = ""
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    fs = subprocess.run(["df", "--output=fstype", ROOT], capture_output=True, text=True).stdout.split()[-1]
    loader = "/usr/lib/wine/wine64" if os.access("/usr/lib/wine/wine64", os.X_OK) else "wine"
    wine = subprocess.run([loader, "--version"], capture_output=True, text=True).stdout.strip()
    return (f"{os.cpu_count()} cores ({cpu}), {os.sysconf('SC_PAGE_SIZE') * os.sysconf('SC_PHYS_PAGES') >> 30} GiB, "
            f"{fs} file system, Linux {platform.release()}, {wine}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--only", help="comma-separated comparison numbers")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--corpus", default=os.path.join(ROOT, "bench", "out", "corpus"))
    parser.add_argument("--work", default=os.path.join(ROOT, "bench", "out", "work"))
    parser.add_argument("--linux", default=os.path.join(ROOT, "build", "linux"))
    parser.add_argument("--win64", default=os.path.join(ROOT, "build", "win64"))
    parser.add_argument("--window", help="the tool window's quorvane.exe (default: the win64 build's)")
    parser.add_argument("--window-before", help="another quorvane.exe measured beside it in comparisons 6 and 7")
    parser.add_argument("--base", default="/tmp/base/build/linux/bin/quorvane-sync",
                        help="quorvane-sync built from main, for comparison 4")
    parser.add_argument("--before", default="/tmp/before/build/linux/bin/quorvane-sync",
                        help="quorvane-sync built at 9931c5f, before the durable replace")
    parser.add_argument("--faces-before", default="/tmp/faces-before/build/linux/bin/quorvane-sync",
                        help="quorvane-sync built at dce0d33, before the face check, for comparison 12")
    parser.add_argument("--results", help="also write the table to this Markdown file")
    args = parser.parse_args()
    # Paths as typed, relative ones too: Wine takes only an absolute prefix, and
    # the free space is asked of the work folder's parent.
    for option in ("corpus", "work", "linux", "win64", "window", "base", "before", "results"):
        if getattr(args, option):
            setattr(args, option, os.path.abspath(getattr(args, option)))

    make_corpus(args.corpus, args.seed)
    # The records of what the tool installed in the work folders go with them.
    os.environ["XDG_STATE_HOME"] = os.path.join(args.work, "state")
    if os.path.isdir(args.work):
        # Inodes freed now would be stepped over by the first rounds' copies.
        shutil.rmtree(args.work)
        os.sync()
        print("waiting a minute for the removed work folder's inodes to age", file=sys.stderr)
        time.sleep(61)
    need = args.rounds * ROUND_BYTES
    if shutil.disk_usage(os.path.dirname(args.work)).free < need + (5 << 30):
        sys.exit(f"{args.rounds} rounds keep about {need >> 30} GiB of copies until the end; "
                 "free some space or give fewer --rounds")
    comparisons, wine = build_comparisons(args)
    if args.only:
        wanted = {int(n) for n in args.only.split(",")}
        comparisons = [c for c in comparisons if c.number in wanted]
    if wine and any(c.number in (5, 6, 7, 13) and c.cases() for c in comparisons):
        wine.start()
    try:
        # A case with neither command nor probe is filled in by another one's probe.
        # A case shared by two comparisons runs once a round.
        cases = list({id(case): case for c in comparisons for case in c.cases() if case.argv or case.measure}.values())
        shuffler = random.Random(args.seed)
        for round_number in range(1, args.rounds + 1):
            shuffler.shuffle(cases)
            for case in cases:
                case.run()
            print(f"round {round_number}/{args.rounds} done", file=sys.stderr)
    finally:
        if wine:
            wine.stop()
        shutil.rmtree(args.work, ignore_errors=True)
        os.sync()  # written inode tables let the freed inodes age in one minute rather than five

    table = report(comparisons, args.rounds)
    command = "bench/run.py " + " ".join(sys.argv[1:])
    print(table)
    if args.results:
        with open(args.results, "w") as out:
            out.write("# Benchmark results\n\n")
            out.write(f"{time.strftime('%Y-%m-%d %H:%M %Z')}, {args.rounds} rounds, every round in a fresh "
                      "shuffled order; ratio = candidate median / reference median, paired = median of "
                      "the per-round ratios.\n\n")
            out.write(f"Machine: {machine()}.\n\nCommand: `{command.strip()}`\n\n{table}\n")


if __name__ == "__main__":
    sys.exit(main())
