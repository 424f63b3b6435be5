// What a font file is, beyond its name: which faces it holds and which
// version of them, so that a run can tell the same font under another name,
// and an older version from a newer one.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sync/fonts/font_file.h"

namespace quorvane {

// The numbers of a version text, in order: "Version 1.002;PS 1.2" gives
// {1, 2}, the first run of digits and dots; empty when it has none.
std::vector<std::uint32_t> VersionNumbers(std::string_view text);

// How the version of `a` stands to that of `b`: by head.fontRevision first,
// then by the numbers of the version text; nothing when either cannot say.
std::optional<std::strong_ordering> CompareVersions(const FontFace& a, const FontFace& b);

// The same face: the same full name as Windows names it (ASCII case ignored)
// and the same PostScript name. One name alone proves nothing: font editors
// leave default PostScript names behind, and anyone can borrow a name.
bool SameFace(const FontFace& a, const FontFace& b);

// How two font files' versions stand, face by face where they share faces:
// a bitmap font has none, and the same description is the same font. Nothing
// for files that share no face.
std::optional<std::strong_ordering> CompareFileVersions(const FontFileInfo& a, const FontFileInfo& b);

// A face of `a` that `b` holds too, or nothing.
bool ShareAFace(const FontFileInfo& a, const FontFileInfo& b);

// Every face of `part` is in `whole`: a bitmap font by its description.
bool HoldsEveryFace(const FontFileInfo& whole, const FontFileInfo& part);

// The version text a report shows for a file: its first face's; empty for a
// bitmap font.
std::string_view VersionTextOf(const FontFileInfo& info);

}  // namespace quorvane
