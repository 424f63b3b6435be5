#!/usr/bin/env python3
"""The cost of the structure check and the hash that every copy of
quorvane-sync now makes, and of --verify, in interleaved rounds as run.py
measures (its Case, Comparison and table):

  16  first copy of the fonts: the build before the check and the hash vs now
  17  --check --verify over the unchanged fonts vs sha256sum of the same files,
      warm cache

The fonts are real TrueType fonts made with fontTools (tests/cli/make_font.py),
each of a face of its own, padded after their tables to sizes of 20 KB to
4 MB (lognormal, median ~250 KB), so the face check copies every one.

  bench/integrity.py --before /tmp/i28b-before/build/linux/bin/quorvane-sync [--previous BUILD/bin/quorvane-sync]
                     [--fonts 400] [--rounds 7]
"""
import argparse
import math
import os
import random
import shutil
import statistics  # noqa: F401  (run.report uses it)
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "cli"))
import run  # noqa: E402
from make_font import make_font  # noqa: E402


def make_fonts(folder, count, seed):
    if os.path.isdir(folder) and len(os.listdir(folder)) == count:
        return
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    rng = random.Random(seed)
    for i in range(count):
        size = int(min(max(rng.lognormvariate(math.log(250 << 10), 1.0), 20 << 10), 4 << 20))
        make_font(os.path.join(folder, f"bench{i:04d}.ttf"), f"Quorvane Bench {i:04d}", padding=size)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--fonts", type=int, default=400)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--work", default=os.path.join(run.ROOT, "bench", "out", "integrity"))
    parser.add_argument("--linux", default=os.path.join(run.ROOT, "build", "linux"))
    parser.add_argument("--before", required=True, help="quorvane-sync built before the check and the hash")
    parser.add_argument("--previous", help="quorvane-sync that hashed on the copy's own thread, a third case of 16")
    parser.add_argument("--results", help="also append the table to this Markdown file")
    args = parser.parse_args()
    sync = os.path.join(os.path.abspath(args.linux), "bin", "quorvane-sync")
    work = os.path.abspath(args.work)
    fonts = os.path.join(work, "fonts")
    make_fonts(fonts, args.fonts, args.seed)
    os.environ["XDG_STATE_HOME"] = os.path.join(work, "state")
    for name in ("copies", "state"):
        shutil.rmtree(os.path.join(work, name), ignore_errors=True)
    copies = lambda name: os.path.join(work, "copies", name)  # noqa: E731

    before, now = run.FreshTarget(copies("before"), fonts), run.FreshTarget(copies("now"), fonts)
    previous = run.FreshTarget(copies("previous"), fonts)
    first = run.Comparison(
        16, f"first copy, {args.fonts} fonts: the structure check and the hash",
        run.Case("before (55ccbf6)", lambda: [args.before, "--target", before.path, fonts], before),
        ([run.Case("hashing on the copy's thread (4493c50)", lambda: [args.previous, "--target", previous.path, fonts],
                   previous)] if args.previous else [])
        + [run.Case("with the check and the hash", lambda: [sync, "--target", now.path, fonts], now)],
        target=1.1)

    verified = copies("verified")
    os.makedirs(verified)
    subprocess.run([sync, "--quiet", "--target", verified, fonts], stdout=subprocess.DEVNULL, check=True)
    installed = sorted(os.path.join(verified, name) for name in os.listdir(verified))
    verify = run.Comparison(
        17, f"--verify over {args.fonts} unchanged fonts, warm cache",
        run.Case("sha256sum", ["sha256sum", *installed], lambda: run.warm(verified)),
        [run.Case("quorvane-sync --check --verify", [sync, "--check", "--verify", "--target", verified, fonts],
                  lambda: run.warm(verified))],
        target=1.2)

    comparisons = [first, verify]
    cases = [case for c in comparisons for case in c.cases()]
    shuffler = random.Random(args.seed)
    try:
        for round_number in range(1, args.rounds + 1):
            shuffler.shuffle(cases)
            for case in cases:
                case.run()
            print(f"round {round_number}/{args.rounds} done", file=sys.stderr)
    finally:
        shutil.rmtree(os.path.join(work, "copies"), ignore_errors=True)
    table = run.report(comparisons, args.rounds)
    print(table)
    if args.results:
        size = sum(os.path.getsize(os.path.join(fonts, n)) for n in os.listdir(fonts)) >> 20
        with open(args.results, "a") as out:
            out.write(f"\n## The structure check, the hash and --verify: comparisons 16 and 17\n\n"
                      f"{time.strftime('%Y-%m-%d %H:%M %Z')}, {args.rounds} rounds, every round in a fresh "
                      f"shuffled order, {args.fonts} fonts ({size} MB). Machine: {run.machine()}.\n\n"
                      f"Command: `bench/integrity.py {' '.join(sys.argv[1:])}`\n\n{table}\n")


if __name__ == "__main__":
    sys.exit(main())
