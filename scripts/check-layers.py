#!/usr/bin/env python3
"""Checks that #include lines follow the layers, one way only:
app -> ui -> {frame, sync} -> base;  skin -> base;  cli -> sync -> base;
and within sync: run -> install -> fonts -> files -> base. A folder that may
include sync may include each of its sub-folders. A test folder may include
what its source folder may, and the test support of those folders. Also: no Windows header in sync/ or base/ outside their *win32*
files. Prints every wrong-way include and exits 1 when there is any.

  check-layers.py [--root DIR]
"""
import argparse
import os
import re
import sys

# What each folder may include, itself included.
MAY_INCLUDE = {
    "base": {"base"},
    "sync": {"sync", "base"},
    "sync/files": {"sync/files", "base"},
    "sync/fonts": {"sync/fonts", "sync/files", "base"},
    "sync/install": {"sync/install", "sync/fonts", "sync/files", "base"},
    "sync/run": {"sync/run", "sync/install", "sync/fonts", "sync/files", "base"},
    "cli": {"cli", "sync", "base"},
    "frame": {"frame", "base"},
    "ui": {"ui", "frame", "sync", "base"},
    "skin": {"skin", "base"},
    "app": {"app", "ui", "frame", "sync", "skin", "base"},
    "bench": {"bench", "ui", "frame", "sync", "cli", "skin", "base"},
    # The fuzz targets drive the command line's parser and the core.
    "tests/fuzz": {"cli", "sync", "base"},
}
WINDOWS_HEADERS = {"windows.h", "shlobj.h", "shellapi.h", "commctrl.h", "winbase.h", "winuser.h", "wingdi.h"}
PORTABLE = ("sync", "base")  # and their sub-folders
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".in")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def has_sub_folders(folder):
    return any(layer.startswith(folder + "/") for layer in MAY_INCLUDE if not layer.startswith("tests/"))


def layer_of(relative):
    """The layer of a file: its folder, or its sub-folder in a layer that has
    rows for them (a sub-folder without a row then has no place)."""
    parts = relative.split("/")
    if parts[0] == "tests" and len(parts) > 2:
        return "tests/" + parts[1]
    if len(parts) > 2 and has_sub_folders(parts[0]):
        return "/".join(parts[:2])
    return parts[0] if len(parts) > 1 else None


def included_layer(target):
    parts = target.split("/")
    if parts[0] == "tests":
        return "tests/" + parts[1]
    if len(parts) > 2 and has_sub_folders(parts[0]):
        return "/".join(parts[:2])
    return parts[0]


def may_include(allowed, included):
    """A folder's row names a layer, or the whole of a layer with sub-folders."""
    return included in allowed or included.split("/")[0] in allowed


def allowed_for(layer):
    if layer in MAY_INCLUDE and not layer.startswith("tests/"):
        return MAY_INCLUDE[layer]
    if layer.startswith("tests/"):
        source = layer[len("tests/"):]
        base = MAY_INCLUDE.get(layer) or MAY_INCLUDE.get(source)
        if base is None:
            return None
        return base | {"tests/" + folder for folder in base} | {layer}
    return None


def check(root):
    problems = []
    for folder, _, files in os.walk(root):
        relative_folder = os.path.relpath(folder, root).replace(os.sep, "/")
        if relative_folder.startswith(("build", ".git")) or "/corpus" in relative_folder:
            continue
        for name in files:
            if not name.endswith(SOURCE_SUFFIXES):
                continue
            relative = (relative_folder + "/" + name).lstrip("./") if relative_folder != "." else name
            layer = layer_of(relative)
            if layer is None:
                continue
            allowed = allowed_for(layer)
            if allowed is None:
                problems.append(f"{relative}: folder {layer} has no place in the layers")
                continue
            with open(os.path.join(folder, name), encoding="utf-8", errors="replace") as source:
                for number, line in enumerate(source, 1):
                    match = INCLUDE.match(line)
                    if not match:
                        continue
                    kind, target = match.groups()
                    if kind == "<":
                        portable = layer.split("/")[0] in PORTABLE
                        if portable and target.lower() in WINDOWS_HEADERS and "win32" not in name:
                            problems.append(f"{relative}:{number}: <{target}> in the portable {layer}/ "
                                            "outside a *_win32 file")
                        continue
                    if target.startswith("."):
                        target = os.path.normpath(os.path.join(relative_folder, target)).replace(os.sep, "/")
                    elif "/" not in target:
                        continue  # beside the including file
                    included = included_layer(target)
                    if not may_include(allowed, included):
                        problems.append(f"{relative}:{number}: {layer} includes \"{target}\" "
                                        f"({included} is not below {layer})")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(__file__), ".."))
    arguments = parser.parse_args()
    problems = check(os.path.abspath(arguments.root))
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} wrong-way includes")
        return 1
    print("includes follow the layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
