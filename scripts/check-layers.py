#!/usr/bin/env python3
"""Checks that #include lines follow the layers, one way only:
app -> ui -> {frame, sync} -> base;  skin -> base;  cli -> sync -> base.
A test folder may include what its source folder may, and the test support of
those folders. Also: no Windows header in sync/ or base/ outside their *win32*
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
PORTABLE = ("sync", "base")
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".in")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def layer_of(relative):
    parts = relative.split("/")
    if parts[0] == "tests" and len(parts) > 2:
        return "tests/" + parts[1]
    return parts[0] if len(parts) > 1 else None


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
                        if (layer in PORTABLE and target.lower() in WINDOWS_HEADERS and "win32" not in name):
                            problems.append(f"{relative}:{number}: <{target}> in the portable {layer}/ "
                                            "outside a *_win32 file")
                        continue
                    if target.startswith("."):
                        target = os.path.normpath(os.path.join(relative_folder, target)).replace(os.sep, "/")
                    elif "/" not in target:
                        continue  # beside the including file
                    parts = target.split("/")
                    included = "tests/" + parts[1] if parts[0] == "tests" else parts[0]
                    if included not in allowed:
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
