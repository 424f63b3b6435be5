// The names inside a font file, for registering it with Windows: TrueType and
// OpenType fonts, collections (.ttc) and Windows bitmap fonts (.fon).
//
// Only the headers, the table directory, the `name` table and the revision in
// `head` are read (for a
// .fon, its NE headers, resource table and font headers), each read checked
// against the file's size first, so a broken or hostile file costs a few reads
// and gives a reason instead of a name.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "sync/files/file_error.h"

namespace quorvane {

// Patterns that mark a file as a font file, searched in this order within a folder.
// ".ttc" joins the classic three: SimSun and YaHei ship as TrueType collections.
inline constexpr std::array<std::string_view, 4> FontFilePatterns = {"*.ttf", "*.otf", "*.fon", "*.ttc"};

// Index into FontFilePatterns of the pattern that `name` matches (case-insensitive,
// on the long name only), or -1 for a file that is not a font file.
int FontPatternIndex(std::string_view name);

enum class FontFormat {
  TrueType,       // sfnt 0x00010000 or 'true'
  OpenType,       // 'OTTO': CFF outlines
  Collection,     // 'ttcf': every face, TrueType or CFF
  WindowsBitmap,  // .fon: an NE module of FONT resources
};

struct FontFace {
  // Windows' names (name IDs 1, 2 and 4; for a .fon its face name, and the
  // style its weight and italic flag make). The full name is what the Fonts
  // registry key lists.
  std::string family, style, fullName;
  // A .fon's sizes of this face in points, ascending; empty for outline fonts.
  std::vector<int> pointSizes;
  // The version text and the PostScript name (name IDs 5 and 6, chosen as the
  // names above); empty where the face has none, as a .fon never has.
  std::string versionText, postScriptName;
  // head.fontRevision, a 16.16 fixed-point number; none without a head table.
  std::optional<std::uint32_t> fontRevision;
};

struct FontFileInfo {
  FontFormat format = FontFormat::TrueType;
  std::vector<FontFace> faces;  // never empty
  // A .fon's module description ("FONTRES 100,96,96 : MS Sans Serif 8,10,12"),
  // which the Fonts folder shows; empty for the others.
  std::string description;
};

// The file was read, and is not a font Windows could install.
struct NotAFont {
  std::string why;  // short: "no name table", "truncated table directory"
};

// A font, a file that is none, or a file that could not be opened or read
// (nothing is known about its content then).
using FontReadResult = std::variant<FontFileInfo, NotAFont, FileError>;

// Reads ranges of some bytes; the reader never asks for a range past Size().
class FontByteSource {
 public:
  virtual ~FontByteSource() = default;
  virtual std::uint64_t Size() const = 0;
  // Fills `out` from `offset`, or says why not.
  virtual FileResult Read(std::uint64_t offset, std::span<std::byte> out) = 0;
};

FontReadResult ReadFont(FontByteSource& source);
// A file named by its UTF-8 path.
FontReadResult ReadFontFile(std::string_view utf8Path);
// The same rules for bytes in memory, for tests and fuzzing.
FontReadResult ParseFontBytes(std::span<const std::byte> bytes);

std::string NotAFontText(const NotAFont& notAFont);  // "not a font: <why>"

}  // namespace quorvane
