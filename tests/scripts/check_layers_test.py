#!/usr/bin/env python3
"""The layer check itself: a tree that keeps the layers passes, and each kind of
wrong-way include planted in it is caught."""
import os
import subprocess
import sys
import tempfile
import unittest

CHECKER = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "check-layers.py")

GOOD_TREE = {
    "base/text.h": "#pragma once\n#include <string>\n",
    "base/win32_handles.h": "#include <windows.h>\n",
    "sync/run.cpp": '#include "sync/run.h"\n#include "base/text.h"\n',
    "sync/run.h": "#pragma once\n",
    "sync/file_ops_win32.cpp": "#include <windows.h>\n",
    "frame/frame.h": '#include "base/win32_handles.h"\n',
    "ui/window.cpp": '#include "frame/frame.h"\n#include "sync/run.h"\n',
    "app/main.cpp": '#include "ui/window.h"\n#include "skin/attach.h"\n',
    "skin/attach.cpp": '#include "base/win32_handles.h"\n',
    "cli/main.cpp": '#include "sync/run.h"\n',
    "tests/ui/window_test.cpp": '#include "tests/frame/support.h"\n#include "tests/sync/support.h"\n'
                                '#include "beside.h"\n#include "../sync/support.h"\n',
}

PLANTS = {
    "frame/layout.h": '#include "ui/window.h"\n',            # the frame above the windows
    "sync/paths.cpp": "#include <windows.h>\n",               # Windows in the portable core
    "base/text.cpp": '#include "sync/run.h"\n',               # base on something of ours
    "cli/arguments.cpp": '#include "frame/frame.h"\n',        # the command line on the window frame
    "skin/paint.cpp": '#include "ui/window.h"\n',
    "tests/sync/run_test.cpp": '#include "tests/ui/support.h"\n',
    "tests/sync/other_test.cpp": '#include "../ui/support.h"\n',
    "extra/thing.cpp": '#include "base/text.h"\n',            # a folder outside the layers
}


def make_tree(root, files):
    for path, text in files.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", encoding="utf-8") as out:
            out.write(text)


def run_checker(root):
    return subprocess.run([sys.executable, CHECKER, "--root", root], capture_output=True, text=True)


class CheckLayersTest(unittest.TestCase):
    def test_a_tree_that_keeps_the_layers_passes(self):
        with tempfile.TemporaryDirectory() as root:
            make_tree(root, GOOD_TREE)
            result = run_checker(root)
            self.assertEqual(result.returncode, 0, result.stdout)

    def test_every_planted_wrong_way_include_is_caught(self):
        for path, text in PLANTS.items():
            with self.subTest(plant=path), tempfile.TemporaryDirectory() as root:
                make_tree(root, GOOD_TREE)
                make_tree(root, {path: text})
                result = run_checker(root)
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertIn(path, result.stdout)
                self.assertIn("1 wrong-way includes", result.stdout)

    def test_the_project_itself_keeps_the_layers(self):
        result = run_checker(os.path.join(os.path.dirname(__file__), "..", ".."))
        self.assertEqual(result.returncode, 0, result.stdout)


if __name__ == "__main__":
    unittest.main()
