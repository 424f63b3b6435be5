#!/usr/bin/env python3
"""--prune, --check and the install record against a model: seeded random
sequences of changes to the share (add, remove, rename, a new version under the
same name or another, a rename in case only, a move into a sub-folder), changes
by the user in the target (own fonts added, the tool's fonts deleted or edited)
and runs (--update or --newer with --prune, sometimes --max-delete, each
predicted first by --check and --dry-run). After every run:

  - every face the share lists is in the target (of two share files of one
    name, the first listed: the other is a conflict);
  - no file the user put there, or changed, leaves with its face (under --newer
    a newer version of the face may take its place; that file then keeps the face);
  - the run exits 0 or 1, and after 0, --check with the same options exits 0;
  - what --check and --dry-run said would-remove is what the run removes;
  - --check and --dry-run write nothing; no temporary, no file of unknown bytes.

Run as tool_test.py is, natively or the .exe under Wine:

  model_test.py --tool build/linux/bin/quorvane-sync [--sequences N] [--first-seed 1] Model
  model_test.py --tool build/linux/bin/quorvane-sync --seed 17 Model     # one sequence, step by step
  model_test.py ... --faces-cases Model    # also faces that share a PostScript name, and a collection
"""
import argparse
import collections
import hashlib
import json
import os
import random
import shlex
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tool_test  # noqa: E402
from make_font import font_tools, make_font  # noqa: E402

OPTIONS = argparse.Namespace(sequences=None, first_seed=1, seed=None, faces_cases=False)
# Each run of the .exe under Wine costs about as much as a whole sequence natively.
SEQUENCES = {"native": 100, "wine": 10}
VERSIONS = ("1.000", "2.000", "3.000")
FIRST_TIME = 1_600_000_000
# Whole seconds a minute apart: same-size files never fall within the 2 s that FAT times are allowed.

Face = collections.namedtuple("Face", "family postscript")


def face_label(face):
    return face.family if face.postscript is None else f"{face.family} ({face.postscript})"


# What a share or a user may hold, by the slug its file names start with: the faces it has.
PRODUCTS = {
    "alpha": (Face("Quorvane Alpha", None),),
    "beta": (Face("Quorvane Beta", None),),
    "gamma": (Face("Quorvane Gamma", None),),
    "ölig": (Face("Quorvane Ölig", None),),  # a name whose case is not ASCII's
}
USER_ONLY = {"own": (Face("Quorvane Own", None),)}
# Faces that fonts in the wild have: default PostScript names, and one face in two files.
FACES_CASES = {
    "untitled-a": (Face("Alpha Sans", "Untitled1"),),
    "untitled-b": (Face("Beta Serif", "Untitled1"),),
    "qvfamily": (Face("Qv One", None), Face("Qv Two", None), Face("Qv Three", None)),
    "qvone": (Face("Qv One", None),),
}


def products():
    return dict(PRODUCTS, **FACES_CASES) if OPTIONS.faces_cases else dict(PRODUCTS)


def extension(product):
    return ".ttc" if len(products().get(product) or USER_ONLY[product]) > 1 else ".ttf"


class Pool:
    """Font bytes, made once per process and keyed by what they hold; each sequence only copies them."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="quorvane-model-pool-")
        self.made = {}  # (product, version) -> bytes
        self.faces_of = {}  # digest -> faces

    def font(self, product, version):
        key = (product, version)
        if key not in self.made:
            faces = products().get(product) or USER_ONLY[product]
            paths = []
            for i, face in enumerate(faces):
                path = os.path.join(self.folder, f"{product}-{version}-{i}.ttf")
                make_font(path, face.family, version, face.postscript)
                paths.append(path)
            if len(paths) > 1:
                font_tools()
                from fontTools.ttLib import TTCollection, TTFont
                collection = TTCollection()
                collection.fonts = [TTFont(p) for p in paths]
                paths = [os.path.join(self.folder, f"{product}-{version}.ttc")]
                collection.save(paths[0])
            with open(paths[0], "rb") as f:
                self.made[key] = f.read()
            self.know(self.made[key], faces)
        return self.made[key]

    def know(self, data, faces):
        self.faces_of[hashlib.sha256(data).hexdigest()] = faces

    def close(self):
        shutil.rmtree(self.folder, ignore_errors=True)


POOL = None


def twin(path):
    """The same path with its file name's first letter in the other case."""
    folder, name = os.path.split(path)
    return os.path.join(folder, (name[0].lower() if name[0].isupper() else name[0].upper()) + name[1:])


class Violation(Exception):
    pass


class Sequence:
    """One seeded sequence: the share, the target, what the user did there, and what must hold."""

    def __init__(self, seed, root, say):
        self.seed = seed
        self.random = random.Random(seed)
        self.say = say
        self.steps = []
        self.src, self.dst, self.state = (os.path.join(root, n) for n in ("src", "dst", "state"))
        for folder in (self.src, self.dst, self.state):
            os.makedirs(folder)
        self.share = {}  # relative path -> (product, version)
        self.serial = collections.Counter()
        self.clock = FIRST_TIME
        self.user_files = {}  # target name -> digest: fonts the user put there
        self.edited = {}  # target name -> digest: the tool's fonts the user changed
        self.damaged = {}  # target name -> digest: the tool's fonts changed in place, size and time kept
        self.inherited = {}  # face -> the user's file a newer version took the place of: must stay

    # --- the file system ---------------------------------------------------------------------
    def put(self, path, data):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        self.clock += 60
        os.utime(path, (self.clock, self.clock))

    def same_name(self, a, b):
        # The target's file system compares names: exactly here, ignoring case under Windows.
        return a.casefold() == b.casefold() if tool_test.BACKEND.wine else a == b

    def target(self):
        files = {}
        for name in os.listdir(self.dst):
            with open(os.path.join(self.dst, name), "rb") as f:
                files[name] = hashlib.sha256(f.read()).hexdigest()
        return files

    def written(self):
        """The target and, natively, the records folder: what a check or a dry run must leave alone."""
        state = {}
        for root, _, names in os.walk(self.state):
            for name in names:
                with open(os.path.join(root, name), "rb") as f:
                    state[os.path.relpath(os.path.join(root, name), self.state)] = hashlib.sha256(f.read()).digest()
        return self.target(), state

    def new_name(self, product, prefix=""):
        self.serial[product] += 1
        return f"{prefix}{product}-{self.serial[product]}{extension(product)}"

    # --- changes to the share ----------------------------------------------------------------
    def share_add(self):
        free = [p for p in products() if p not in {v[0] for v in self.share.values()}]
        if not free:
            return self.share_remove()
        product, version = self.random.choice(free), self.random.choice(VERSIONS)
        name = self.new_name(product)
        if self.random.random() < 0.2:
            name = "sub/" + name
        if self.share and not tool_test.BACKEND.wine and self.random.random() < 0.2:
            # Another font under a name the share has in another case: two names here, one to Windows.
            name = twin(self.random.choice(sorted(self.share)))
            if name in self.share:
                return self.share_remove()
        self.put(os.path.join(self.src, name), POOL.font(product, version))
        self.share[name] = (product, version)
        return f"share: add {name} ({product} {version})"

    def pick_shared(self):
        return self.random.choice(sorted(self.share)) if self.share else None

    def share_remove(self):
        name = self.pick_shared()
        if name is None:
            return self.share_add()
        os.unlink(os.path.join(self.src, name))
        del self.share[name]
        return f"share: remove {name}"

    def share_move(self, name, new):
        os.makedirs(os.path.dirname(os.path.join(self.src, new)), exist_ok=True)
        os.rename(os.path.join(self.src, name), os.path.join(self.src, new))
        self.share[new] = self.share.pop(name)

    def share_rename(self):
        name = self.pick_shared()
        if name is None:
            return self.share_add()
        new = os.path.join(os.path.dirname(name), self.new_name(self.share[name][0]))
        self.share_move(name, new)
        return f"share: rename {name} -> {new} (same bytes and time)"

    def share_case_rename(self):
        name = self.pick_shared()
        if name is None:
            return self.share_add()
        new = twin(name)
        if new in self.share:
            return self.share_remove()
        self.share_move(name, new)
        return f"share: rename {name} -> {new} (case only)"

    def share_subfolder(self):
        name = self.pick_shared()
        if name is None:
            return self.share_add()
        new = os.path.basename(name) if name.startswith("sub/") else "sub/" + name
        self.share_move(name, new)
        return f"share: move {name} -> {new}"

    def share_new_version(self):
        name = self.pick_shared()
        if name is None:
            return self.share_add()
        product, old = self.share[name]
        version = self.random.choice([v for v in VERSIONS if v != old])
        if self.random.random() < 0.5:
            self.put(os.path.join(self.src, name), POOL.font(product, version))
            self.share[name] = (product, version)
            return f"share: {name} becomes {product} {version} (was {old}), same name"
        os.unlink(os.path.join(self.src, name))
        del self.share[name]
        new = os.path.join(os.path.dirname(name), self.new_name(product))
        self.put(os.path.join(self.src, new), POOL.font(product, version))
        self.share[new] = (product, version)
        return f"share: {name} ({old}) replaced by {new} ({product} {version})"

    # --- changes by the user in the target -----------------------------------------------------
    def tools_files(self):
        return sorted(n for n in os.listdir(self.dst) if n not in self.user_files)

    def user_damage(self):
        """A bit flipped in one of the tool's fonts, its size and time kept: only --verify sees it."""
        names = [n for n in self.tools_files() if n not in self.edited and n not in self.damaged]
        if not names:
            return self.user_add()
        name = self.random.choice(names)
        path = os.path.join(self.dst, name)
        stamp = os.stat(path)
        with open(path, "rb") as f:
            data = bytearray(f.read())
        faces = POOL.faces_of.get(hashlib.sha256(data).hexdigest())
        data[self.random.randrange(len(data) // 2, len(data))] ^= 1 << self.random.randrange(8)
        POOL.know(bytes(data), faces)
        with open(path, "r+b") as f:
            f.write(data)
        os.utime(path, ns=(stamp.st_atime_ns, stamp.st_mtime_ns))
        self.damaged[name] = hashlib.sha256(data).hexdigest()
        return f"user: flips a bit of the tool's {name}, size and time kept"

    def user_add(self):
        product = self.random.choice(sorted(products()) + ["own"])
        version = self.random.choice(VERSIONS)
        name = self.new_name(product, "user-")
        shared = [os.path.basename(n) for n in sorted(self.share)]
        if shared and self.random.random() < 0.3:
            # A name the share has, in another case: another file here, the same one to Windows.
            # Not a name the share has, as the file system compares names: --update replaces that file by design.
            other = twin(self.random.choice(shared))
            if not any(self.same_name(n, other) for n in shared + os.listdir(self.dst)):
                name = other
        data = POOL.font(product, version)
        self.put(os.path.join(self.dst, name), data)
        self.user_files[name] = hashlib.sha256(data).hexdigest()
        return f"user: puts own {name} ({product} {version}) into the target"

    def user_delete(self):
        names = self.tools_files()
        if not names:
            return self.user_add()
        name = self.random.choice(names)
        os.unlink(os.path.join(self.dst, name))
        self.edited.pop(name, None)
        left = self.faces_present(self.target())
        # A face the user took out themselves is theirs to lose.
        self.inherited = {f: why for f, why in self.inherited.items() if f in left}
        return f"user: deletes the tool's {name}"

    def user_edit(self):
        names = [n for n in self.tools_files() if n not in self.edited]
        if not names:
            return self.user_add()
        name = self.random.choice(names)
        path = os.path.join(self.dst, name)
        with open(path, "rb") as f:
            data = f.read()
        faces = POOL.faces_of.get(hashlib.sha256(data).hexdigest())
        data += b"\0" * self.random.randint(1, 64)  # after the tables: still the same faces
        POOL.know(data, faces)
        self.put(path, data)
        self.edited[name] = hashlib.sha256(data).hexdigest()
        return f"user: edits the tool's {name}"

    # --- runs --------------------------------------------------------------------------------
    def tool(self, *options):
        backend = tool_test.BACKEND
        result = backend.run(*options, "--json", "--lang", "en", "--target", backend.path(self.dst), "--",
                             backend.path(self.src), env=backend.env(XDG_STATE_HOME=self.state))
        words = " ".join(options)
        if result.returncode not in (0, 1):
            raise Violation(f"{words} exited {result.returncode}: {result.stderr.decode(errors='replace')}")
        try:
            # Rows end at "\n" only: a name may hold U+2028, which splitlines() would cut at.
            lines = [json.loads(line) for line in result.stdout.decode("utf-8").split("\n") if line]
            summary = lines[-1]["summary"]
        except (ValueError, IndexError, KeyError) as e:
            raise Violation(f"{words}: no JSON lines and summary ({e}): {result.stdout[-300:]!r}")
        rows = [(os.path.basename(r["target"].replace("\\", "/")), r["status"], r.get("other")) for r in lines[:-1]]
        return result.returncode, rows, summary, result.stderr.decode(errors="replace").strip()

    @staticmethod
    def removals(rows, statuses):
        return sorted(name for name, status, _ in rows if status in statuses)

    def run(self):
        options = [self.random.choice(["--update", "--newer"]), "--prune"]
        if self.random.random() < 0.4:
            options.append("--verify")
        limit = None
        if self.random.random() < 0.25:
            limit = self.random.randint(0, 2)
            options += ["--max-delete", str(limit)]
        before = self.written()
        predictions = {}
        for kind in ("--check", "--dry-run") if self.random.random() < 0.5 else ("--check",):
            _, rows, _, _ = self.tool(kind, *options)
            predictions[kind] = self.removals(rows, {"would-remove"}), self.removals(rows, {"would-repair"})
            if self.written() != before:
                raise Violation(f"{kind} {' '.join(options)} wrote into the target or the records")
        code, rows, summary, stderr = self.tool(*options)
        removed = self.removals(rows, {"removed", "remove-at-reboot", "remove-failed"})
        repaired = self.removals(rows, {"repaired"})
        shown = ", ".join(f"{n} {s}" + (f" (other {os.path.basename(o.replace(chr(92), '/'))})" if o else "")
                          for n, s, o in rows if s != "up-to-date")
        self.steps.append(f"run {' '.join(options)}: exit {code}; {shown or 'every row up-to-date'}"
                          + (f"; stderr: {stderr}" if stderr else ""))
        self.say(self.steps[-1])
        for kind, predicted in predictions.items():
            if predicted != (removed, repaired):
                raise Violation(f"{kind} said would-remove and would-repair {predicted}, "
                                f"the run removed {removed} and repaired {repaired}")
        shadowed = {os.path.basename(n) for n in self.shadowed()}
        conflicts = {name for name, status, _ in rows if status == "conflict"}
        if not shadowed <= conflicts:
            raise Violation(f"names listed twice {sorted(shadowed)}, but the conflicts are {sorted(conflicts)}")
        self.check_target(options[0], rows)
        self.check_damaged("--verify" in options)
        self.check_limit(summary, limit, removed)
        if code == 0:
            again, rows, _, _ = self.tool("--check", *options)
            if again != 0:
                raise Violation(f"--check {' '.join(options)} after a run that exited 0 exits {again}: {rows}")

    # --- what must hold ------------------------------------------------------------------------
    def shadowed(self):
        """Share files whose name an earlier listed one has (a folder's files before its sub-folder's):
        the first is the one copied, the others are conflicts."""
        return {name for name in self.share if name.startswith("sub/")
                and any(self.same_name(other, os.path.basename(name)) for other in self.share if "/" not in other)}

    @staticmethod
    def faces_present(files):
        return {face for digest in files.values() for face in POOL.faces_of.get(digest, ())}

    def check_target(self, mode, rows):
        files = self.target()
        strangers = [n for n, d in files.items() if d not in POOL.faces_of]
        if strangers:
            raise Violation(f"files of bytes no one wrote in the target (a temporary, a half copy): {strangers}")
        present = self.faces_present(files)
        shadowed = self.shadowed()
        # A collection in conflict with a file of the target over one face leaves its others to a person:
        # the run says so (exit 1), and that file must be there, holding the face.
        conflicts = {name: os.path.basename(other.replace("\\", "/")) for name, status, other in rows
                     if status == "conflict" and other}
        for name, (product, _) in sorted(self.share.items()):
            if name in shadowed:
                continue
            other = conflicts.get(os.path.basename(name))
            if other in files and set(products()[product]) & set(POOL.faces_of[files[other]]):
                continue
            for face in products()[product]:
                if face not in present:
                    raise Violation(f"the share lists {face_label(face)} ({name}) but no file in the target holds it")
        for name, digest in sorted(self.user_files.items()):
            if files.get(name) == digest:
                continue
            faces = POOL.faces_of[digest]
            if name in files and any(self.same_name(os.path.basename(s), name) for s in self.share):
                self.user_files[name] = files[name]  # replaced by the share's file of that name: still theirs
                continue
            if name not in files and mode == "--newer" and all(f in present for f in faces):
                del self.user_files[name]  # a newer version took its place, and keeps its faces
                self.inherited.update((f, name) for f in faces)
                continue
            raise Violation(f"the user's own {name} " + ("was overwritten" if name in files else "left the target"))
        for name, digest in sorted(self.edited.items()):
            if files.get(name) == digest:
                continue
            listed = any(self.same_name(os.path.basename(s), name) for s in self.share)
            faces = POOL.faces_of[digest]
            if (name in files and listed) or (name not in files and mode == "--newer"
                                              and all(f in present for f in faces)):
                del self.edited[name]  # the share's version of that name took its place
                continue
            raise Violation(f"{name}, changed by the user, " + ("was overwritten" if name in files else "was removed"))
        for face, origin in sorted(self.inherited.items()):
            if face not in present:
                raise Violation(f"{face_label(face)}, from the user's own {origin}, is gone from the target")

    def check_damaged(self, verified):
        """After --verify no font of the share's is left as the user damaged it; without, it stays."""
        files = self.target()
        shadowed = self.shadowed()
        for name, digest in sorted(self.damaged.items()):
            sources = [s for s in self.share if s not in shadowed and self.same_name(os.path.basename(s), name)]
            if files.get(name) != digest:
                del self.damaged[name]  # repaired, updated from a changed share file, or pruned
            elif verified and len(sources) == 1:
                raise Violation(f"--verify left {name} as the user damaged it, though the share has {sources[0]}")

    def check_limit(self, summary, limit, removed):
        if limit is None:
            return
        record = summary.get("record", {})
        if len(removed) > limit:
            raise Violation(f"removed {len(removed)} fonts past --max-delete {limit}")
        if record.get("prune_refused") == "max-delete":
            files = self.target()
            removable = [n for n in files if n not in self.user_files and n not in self.edited
                         and not any(self.same_name(os.path.basename(s), n) for s in self.share)]
            if record["would_remove"] > len(removable):
                raise Violation(f"max-delete refused for {record['would_remove']} fonts, "
                                f"but only {len(removable)} in the target could go: {sorted(removable)}")

    # --- the sequence ------------------------------------------------------------------------
    def play(self, length):
        for _ in range(self.random.randint(2, 3)):
            self.steps.append(self.share_add())
        if self.random.random() < 0.4:
            self.steps.append(self.user_add())
        for step in self.steps:
            self.say(step)
        share_changes = [self.share_add, self.share_remove, self.share_rename, self.share_case_rename,
                         self.share_subfolder, self.share_new_version]
        user_changes = [self.user_add, self.user_delete, self.user_edit, self.user_damage]
        self.run()
        for _ in range(length):
            roll = self.random.random()
            if roll < 0.45:
                change = self.random.choice(share_changes)
            elif roll < 0.6:
                change = self.random.choice(user_changes)
            else:
                self.run()
                continue
            self.steps.append(change())
            self.say(self.steps[-1])
        self.run()


def replay_command(seed):
    backend = tool_test.BACKEND
    words = ["python3", os.path.abspath(__file__), "--tool", backend.tool]
    if backend.runner:
        words += ["--runner", "|".join(backend.runner)]
    if OPTIONS.faces_cases:
        words.append("--faces-cases")
    return shlex.join(words + ["--seed", str(seed), "Model"])


class Model(unittest.TestCase):
    """The sequences; a failure names its seed, its steps and the command that replays it."""

    LENGTH = 10

    def test_sequences_keep_every_promise(self):
        global POOL
        POOL = Pool()
        self.addCleanup(POOL.close)
        seeds = [OPTIONS.seed] if OPTIONS.seed is not None else \
            range(OPTIONS.first_seed, OPTIONS.first_seed + OPTIONS.sequences)
        verbose = OPTIONS.seed is not None
        base = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
        failures = []
        for seed in seeds:
            root = tempfile.mkdtemp(prefix=f"quorvane-model-{seed}-", dir=base)
            sequence = Sequence(seed, root, print if verbose else lambda _: None)
            try:
                sequence.play(self.LENGTH)
            except Violation as violation:
                failures.append((seed, str(violation), sequence.steps))
                if verbose:
                    print(f"VIOLATION: {violation}")
            finally:
                shutil.rmtree(root, ignore_errors=True)
        if failures:
            seed, violation, steps = min(failures, key=lambda f: len(f[2]))
            report = [f"{len(failures)} of {len(seeds)} sequences broke a promise:"]
            report += [f"  seed {s}: {v}" for s, v, _ in failures]
            report += [f"the shortest, seed {seed}:"] + [f"  {step}" for step in steps]
            report += [f"  -> {violation}", f"replay: {replay_command(seed)}"]
            self.fail("\n".join(report))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--runner", default="", help="the Wine runner's words, joined by |")
    parser.add_argument("--driver", help="tool_driver.exe (unused here; taken as the other scripts take it)")
    parser.add_argument("--sequences", type=int, help="how many seeds (100 natively, 10 under Wine)")
    parser.add_argument("--first-seed", type=int, default=OPTIONS.first_seed)
    parser.add_argument("--seed", type=int, help="replay this one sequence, printing its steps")
    parser.add_argument("--faces-cases", action="store_true",
                        help="also fonts whose faces share a default PostScript name, and a collection")
    args, rest = parser.parse_known_args()
    OPTIONS.sequences, OPTIONS.first_seed, OPTIONS.seed, OPTIONS.faces_cases = \
        args.sequences, args.first_seed, args.seed, args.faces_cases
    tool_test.BACKEND = tool_test.Backend(args.tool, [w for w in args.runner.split("|") if w], args.driver)
    if OPTIONS.sequences is None:
        OPTIONS.sequences = SEQUENCES["wine" if tool_test.BACKEND.wine else "native"]
    unittest.main(argv=[sys.argv[0], "-v", *rest])


if __name__ == "__main__":
    main()
