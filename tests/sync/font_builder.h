// Small font files made byte by byte: the cases real fonts do not show, and the
// small forms of real fonts (only what the reader reads) for the fuzz seeds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quorvane::testing {

using Bytes = std::vector<std::byte>;

constexpr std::uint32_t FourCc(const char (&text)[5]) {
  return std::uint32_t{static_cast<unsigned char>(text[0])} << 24 |
         std::uint32_t{static_cast<unsigned char>(text[1])} << 16 |
         std::uint32_t{static_cast<unsigned char>(text[2])} << 8 | std::uint32_t{static_cast<unsigned char>(text[3])};
}

void PutU16Be(Bytes& bytes, std::size_t at, std::uint16_t value);
void PutU32Be(Bytes& bytes, std::size_t at, std::uint32_t value);
void PutU16Le(Bytes& bytes, std::size_t at, std::uint16_t value);
void PutU32Le(Bytes& bytes, std::size_t at, std::uint32_t value);
std::uint16_t GetU16Be(std::span<const std::byte> bytes, std::size_t at);
std::uint32_t GetU32Be(std::span<const std::byte> bytes, std::size_t at);

struct NameRecord {
  std::uint16_t nameId = 1;
  std::u16string text;
  std::uint16_t language = 0x0409;
  std::uint16_t platform = 3;
  std::uint16_t encoding = 1;
};

// A format 0 name table; every text is stored as UTF-16BE (platform 1's as one
// byte a character).
Bytes NameTable(const std::vector<NameRecord>& records);

struct Table {
  std::uint32_t tag = 0;
  Bytes data;
};

struct Face {
  std::uint32_t version = 0x00010000;
  std::vector<Table> tables;
};

// A font file holding `face`; the last table ends the file, unpadded, so every
// shorter copy is missing part of it.
Bytes Sfnt(const Face& face);
Bytes Collection(const std::vector<Face>& faces);

// Family, style, full name: the usual three Windows records in US English.
Face FaceNamed(const std::u16string& family, const std::u16string& style, const std::u16string& fullName);

// A head table of 54 bytes holding `revision` (16.16 fixed point).
Bytes HeadTable(std::uint32_t revision);

// A face as a font maker ships it: family, style, full name, version text and
// PostScript name in US English, and a head table with its revision.
Face FaceVersioned(const std::u16string& fullName, const std::u16string& version, std::uint32_t revision,
                   const std::u16string& postScriptName = u"");

struct BitmapFont {
  std::string face;
  int points = 10;
  int weight = 400;
  bool italic = false;
};

// A .fon: an MZ stub, an NE header, a FONTDIR and one FONT resource per entry
// (header and face name, no glyphs), the description as the module's.
Bytes Fon(const std::string& description, const std::vector<BitmapFont>& fonts);

// The same names in a few KB: for an sfnt or a collection, each face's header,
// table directory (every table but `name` and `head` emptied), name table and
// head table; for a .fon,
// one rebuilt from what the reader found in it. Empty when `font` is not one.
Bytes SmallFormOf(std::span<const std::byte> font);

}  // namespace quorvane::testing
