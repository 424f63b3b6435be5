#!/usr/bin/env python3
"""Real TrueType fonts of chosen names and versions, made with fontTools
(Debian's python3-fonttools): one glyph, every table Windows and fontconfig
want, so both install them.

  make_font.py OUT.ttf FAMILY [--version 1.002] [--postscript NAME] [--style Regular]
"""
import argparse
import os
import sys

DEBIAN_PACKAGES = "/usr/lib/python3/dist-packages"


def font_tools():
    try:
        import fontTools  # noqa: F401
    except ImportError:
        # Debian's package, when this Python is another than Debian's own.
        sys.path.append(DEBIAN_PACKAGES)
    from fontTools.fontBuilder import FontBuilder
    from fontTools.pens.ttGlyphPen import TTGlyphPen
    return FontBuilder, TTGlyphPen


def make_font(path, family, version="1.000", postscript=None, style="Regular", padding=0):
    """`version` goes into name ID 5 as "Version <version>" and into head.fontRevision."""
    FontBuilder, TTGlyphPen = font_tools()
    builder = FontBuilder(1000, isTTF=True)
    builder.setupGlyphOrder([".notdef", "A"])
    builder.setupCharacterMap({ord("A"): "A"})
    glyphs = {}
    for name in (".notdef", "A"):
        pen = TTGlyphPen(None)
        pen.moveTo((100, 0))
        pen.lineTo((500, 700))
        pen.lineTo((900, 0))
        pen.closePath()
        glyphs[name] = pen.glyph()
    builder.setupGlyf(glyphs)
    builder.setupHorizontalMetrics({name: (1000, 100) for name in glyphs})
    builder.setupHorizontalHeader(ascent=800, descent=-200)
    full = family if style == "Regular" else f"{family} {style}"
    builder.setupNameTable({
        "familyName": family,
        "styleName": style,
        "uniqueFontIdentifier": f"{full};{version}",
        "fullName": full,
        "version": f"Version {version}",
        "psName": postscript or full.replace(" ", ""),
    })
    builder.setupOS2()
    builder.setupPost()
    builder.updateHead(fontRevision=float(version.split(";")[0]) if version[0].isdigit() else 1.0)
    builder.save(path)
    if padding:
        with open(path, "ab") as f:
            f.write(b"\0" * padding)


def make_collection(path, families, version="1.000"):
    """A .ttc of one face for each of `families`, all of `version`."""
    import tempfile
    font_tools()
    from fontTools.ttLib import TTCollection, TTFont
    collection = TTCollection()
    with tempfile.TemporaryDirectory() as scratch:
        for index, family in enumerate(families):
            face = os.path.join(scratch, f"{index}.ttf")
            make_font(face, family, version)
            collection.fonts.append(TTFont(face))
        collection.save(path)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("out")
    parser.add_argument("family")
    parser.add_argument("--version", default="1.000")
    parser.add_argument("--postscript")
    parser.add_argument("--style", default="Regular")
    args = parser.parse_args()
    make_font(args.out, args.family, args.version, args.postscript, args.style)


if __name__ == "__main__":
    main()
