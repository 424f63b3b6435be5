#!/usr/bin/env python3
"""Reads the program's texts back out of its screenshots with OCR.

    legibility.py [--least 0.9] [--floor 0.5] [--keep DIR] SHOT.png...

Beside each SHOT.png lies SHOT.texts, written by text_regions while the
windows were open: the texts as the program's sources have them, and where on
the screen each one stands. Every region is cut out, scaled up and read with
tesseract (chi_sim). A text's figure is the share of its characters that an
order-keeping alignment (longest common subsequence) with what was read
matches; the lines of one label are aligned together, so no character read
counts for two lines. Spaces and symbols (the help text's bullets) are left
out on both sides: they are no text to read.

A window passes when --least of all its texts' characters are read back, and
of every text (line) of at least 10 characters too. Shorter captions need only
--floor: one character that the OCR model takes for another, as it does with
clean glyphs too (来 for 夹, 蔡 for 替), costs them a quarter or half of their
figure. Broken glyphs lose far more. Fails too when a text the layout shows is
not on the screen.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import unicodedata
from concurrent.futures import ThreadPoolExecutor

SHORT = 10

# Glyphs for which tesseract answers with a look-alike of another code point;
# the rendering cannot tell them apart either.
LOOK_ALIKES = str.maketrans({"“": '"', "”": '"', "‘": "'", "’": "'"})


def normalise(text):
    text = unicodedata.normalize("NFKC", text).translate(LOOK_ALIKES)
    return "".join(c for c in text if not c.isspace() and unicodedata.category(c) != "So")


def matched_per_line(lines, read):
    """How many characters of each line an LCS of all lines with `read` uses."""
    expected = "".join(lines)
    owner = [i for i, line in enumerate(lines) for _ in line]
    n, m = len(expected), len(read)
    table = [[0] * (m + 1) for _ in range(n + 1)]
    for i in range(n - 1, -1, -1):
        row, below = table[i], table[i + 1]
        for j in range(m - 1, -1, -1):
            row[j] = below[j + 1] + 1 if expected[i] == read[j] else max(below[j], row[j + 1])
    counts = [0] * len(lines)
    i = j = 0
    while i < n and j < m:
        if expected[i] == read[j]:
            counts[owner[i]] += 1
            i += 1
            j += 1
        elif table[i + 1][j] >= table[i][j + 1]:
            i += 1
        else:
            j += 1
    return counts


def region(record, line_height):
    """The part of the screen where the record's text is drawn, and tesseract's page layout for it."""
    left, top, right, bottom = record["rect"]
    if record["kind"] == "label":
        return (left, top, right, bottom), 6
    if record["kind"] == "group":
        # The caption sits on the frame's top edge, a little in from its corner.
        return (left, top - 2, min(right, left + record["textWidth"] + 2 * line_height), top + line_height + 2), 7
    # A push button centres its caption, a radio button puts it right of its
    # circle; the frame and the circle stay out, as their curves read as strokes.
    width = record["textWidth"] + line_height // 2
    middle = (top + bottom) // 2
    if record["kind"] == "radio":
        return (right - width - line_height // 2, middle - line_height // 2 - 2, right, middle + line_height // 2 + 2), 7
    centre = (left + right) // 2
    return (centre - width // 2, middle - line_height // 2 - 2, centre + width // 2, middle + line_height // 2 + 2), 7


def ocr(shot, box, psm, scale, crop):
    left, top, right, bottom = box
    subprocess.run(["convert", shot, "-crop", "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage",
                    "-colorspace", "Gray", "-resize", "%d%%" % (scale * 100),
                    "-bordercolor", "white", "-border", "20", crop], check=True)
    done = subprocess.run(["tesseract", crop, "stdout", "-l", "chi_sim", "--psm", str(psm)],
                          capture_output=True, text=True, check=True)
    return done.stdout


def read_texts(path):
    with open(path, encoding="utf-8") as f:
        screen, *records = [json.loads(line) for line in f if line.strip()]
    return screen, records


def check(shot, least, floor, keep):
    name = os.path.splitext(os.path.basename(shot))[0]
    try:
        screen, records = read_texts(os.path.splitext(shot)[0] + ".texts")
    except (OSError, ValueError) as error:
        print("%s: no texts to read: %s" % (name, error))
        return False
    line_height = screen["lineHeight"]
    # About 40 pixels a line, where tesseract reads best.
    scale = max(1, round(40 / line_height))
    print("%s.png: %d dpi, GUI font %s (%s), %d-pixel lines, read at %d x" % (
        name, screen["dpi"], screen["font"], screen.get("family", "?"), line_height, scale))
    good = True
    jobs = []
    for record in records:
        if not record["shown"]:
            continue
        if record["rect"] is None:
            print("  %-14s not on the screen: %s" % (record["name"], record["text"][:24]))
            good = False
        else:
            jobs.append(record)
    with tempfile.TemporaryDirectory(prefix="legibility-") as scratch:
        work = keep or scratch
        os.makedirs(work, exist_ok=True)
        crops = [os.path.join(work, "%s-%02d.png" % (name, i)) for i in range(len(jobs))]
        with ThreadPoolExecutor(max_workers=2) as pool:
            reads = list(pool.map(lambda job, crop: ocr(shot, *region(job, line_height), scale, crop), jobs, crops))

    totals = {}
    for record, read in zip(jobs, reads):
        lines = [normalise(line) for line in record["text"].split("\r\n")]
        counts = matched_per_line(lines, normalise(read))
        total = totals.setdefault(record["group"], [0, 0])
        low = False
        for number, (line, count) in enumerate(zip(lines, counts), 1):
            if not line:
                continue
            total[0] += count
            total[1] += len(line)
            share = count / len(line)
            needed = least if len(line) >= SHORT else floor
            label = record["name"] if len(lines) == 1 else "%s:%d" % (record["name"], number)
            verdict = "   below %d %%" % round(100 * needed) if share < needed else ""
            print("  %-14s %3d/%-3d %5.1f %%  %s%s" % (label, count, len(line), 100 * share, line[:24], verdict))
            low = low or share < needed
        if low or sum(counts) < least * sum(map(len, lines)):
            print("    read: %s" % " ".join(read.split()))
        good = good and not low
    for group, (count, length) in totals.items():
        share = count / length if length else 0
        verdict = "" if share >= least else "   below %d %%" % round(100 * least)
        print("  all of %-7s %4d/%-4d %5.1f %%%s" % (group, count, length, 100 * share, verdict))
        good = good and share >= least
    return good


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--least", type=float, default=0.9,
                        help="least share of a window's characters read back, and of a text's of %d or more" % SHORT)
    parser.add_argument("--floor", type=float, default=0.5, help="least share of a shorter text's characters")
    parser.add_argument("--keep", help="folder that keeps the scaled crops that were read")
    parser.add_argument("shots", nargs="+")
    args = parser.parse_args()
    results = [check(shot, args.least, args.floor, args.keep) for shot in args.shots]
    print("legibility: %s" % ("passed" if all(results) else "failed"))
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
