#include "sync/fonts/font_file.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <utility>

#include "base/text.h"
#include "sync/files/ascii.h"
#include "sync/files/file_ops.h"
#include "sync/fonts/font_bytes.h"

namespace quorvane {

namespace {

// Every font pattern is "*" and a plain tail, which a suffix test answers several
// times faster than the general matcher; listing asks it for every entry.
constexpr bool IsStarAndTail(std::string_view pattern) {
  return pattern.size() > 1 && pattern[0] == '*' && pattern.find_first_of("*?", 1) == std::string_view::npos;
}
static_assert(std::all_of(FontFilePatterns.begin(), FontFilePatterns.end(), IsStarAndTail));

bool EndsWithFolded(std::string_view name, std::string_view tail) {
  if (name.size() < tail.size()) return false;
  const std::string_view end = name.substr(name.size() - tail.size());
  for (size_t i = 0; i < tail.size(); ++i) {
    if (FoldAscii(end[i]) != FoldAscii(tail[i])) return false;
  }
  return true;
}

}  // namespace

int FontPatternIndex(std::string_view name) {
  for (size_t i = 0; i < FontFilePatterns.size(); ++i) {
    if (EndsWithFolded(name, FontFilePatterns[i].substr(1))) return static_cast<int>(i);
  }
  return -1;
}
namespace {

// Far above any real file (the largest collections hold a few dozen faces, a
// .fon a few dozen sizes), low enough that a hostile count costs little.
constexpr std::uint32_t kMaxFaces = 1024;
constexpr int kMaxResourceTypes = 256;
constexpr std::uint32_t kMaxResources = 4096;
constexpr std::uint64_t kMaxFaceNameBytes = 64;  // LF_FACESIZE is 32

using namespace font_bytes;

// Reads checked ranges; the first failure ends the parse and is kept.
class Reader {
 public:
  explicit Reader(FontByteSource& source) : source_(source), size_(source.Size()) {}

  std::uint64_t Size() const { return size_; }
  bool Inside(std::uint64_t offset, std::uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }

  // [offset, offset + length) into `out`, or a failure saying `why`.
  bool Fetch(std::uint64_t offset, std::uint64_t length, std::string_view why, std::vector<std::byte>& out) {
    if (!Inside(offset, length)) return Fail(std::string(why));
    out.resize(static_cast<std::size_t>(length));
    FileResult read = source_.Read(offset, out);
    if (!read) readError_ = *read.error;
    return read.Succeeded();
  }

  bool Fail(std::string why) {
    notAFont_ = NotAFont{std::move(why)};
    return false;
  }

  // The failure, prefixed with where it happened ("face 2: ").
  void Prefix(const std::string& where) {
    if (notAFont_) notAFont_->why.insert(0, where);
  }

  FontReadResult Failure() {
    if (readError_) return std::move(*readError_);
    return std::move(notAFont_).value_or(NotAFont{"unreadable"});
  }

 private:
  FontByteSource& source_;
  std::uint64_t size_;
  std::optional<NotAFont> notAFont_;
  std::optional<FileError> readError_;
};

// ---- sfnt: TrueType, OpenType and collections -------------------------------

constexpr std::uint16_t kWindowsPlatform = 3;
constexpr std::uint16_t kEnglishUs = 0x0409;

// Windows reads names of platform 3 in the symbol (0), Unicode BMP (1) and
// UCS-4 (10) encodings; all of them are UTF-16BE.
bool IsWindowsName(std::uint16_t platform, std::uint16_t encoding) {
  return platform == kWindowsPlatform && (encoding == 0 || encoding == 1 || encoding == 10);
}

struct NameChoice {
  bool found = false;
  bool english = false;
  std::uint16_t length = 0;
  std::uint16_t offset = 0;
};

bool ReadNameString(Reader& reader, std::uint64_t tableOffset, std::uint64_t tableLength,
                    std::uint64_t storage, const NameChoice& choice, std::string& out) {
  const std::uint64_t start = storage + choice.offset;
  if (start > tableLength || choice.length > tableLength - start) {
    return reader.Fail("name string outside the name table");
  }
  std::vector<std::byte> bytes;
  if (!reader.Fetch(tableOffset + start, choice.length, "name string outside the file", bytes)) return false;
  std::u16string text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char16_t unit = static_cast<char16_t>(U16Be(bytes, i));
    // Windows shows a name only up to a NUL.
    if (unit == 0) break;
    text.push_back(unit);
  }
  out = Utf8FromUtf16(text);
  return true;
}

bool ReadNameTable(Reader& reader, std::uint64_t tableOffset, std::uint64_t tableLength, FontFace& face) {
  std::vector<std::byte> header;
  if (tableLength < 6) return reader.Fail("truncated name table");
  if (!reader.Fetch(tableOffset, 6, "name table outside the file", header)) return false;
  const std::uint16_t count = U16Be(header, 2);
  const std::uint64_t storage = U16Be(header, 4);
  const std::uint64_t recordsLength = std::uint64_t{count} * 12;
  if (6 + recordsLength > tableLength) return reader.Fail("truncated name records");
  std::vector<std::byte> records;
  if (!reader.Fetch(tableOffset + 6, recordsLength, "name records outside the file", records)) return false;

  // Name IDs 1, 2, 4, 5 and 6: family, subfamily, full name, version, PostScript name.
  std::array<NameChoice, 5> choices;
  for (std::size_t at = 0; at < records.size(); at += 12) {
    const std::uint16_t platform = U16Be(records, at);
    const std::uint16_t encoding = U16Be(records, at + 2);
    const std::uint16_t language = U16Be(records, at + 4);
    const std::uint16_t nameId = U16Be(records, at + 6);
    if (!IsWindowsName(platform, encoding)) continue;
    const int slot = nameId == 1 ? 0 : nameId == 2 ? 1 : nameId == 4 ? 2 : nameId == 5 ? 3 : nameId == 6 ? 4 : -1;
    if (slot < 0) continue;
    NameChoice& choice = choices[static_cast<std::size_t>(slot)];
    const bool english = language == kEnglishUs;
    if (!choice.found || (english && !choice.english)) {
      choice = NameChoice{true, english, U16Be(records, at + 8), U16Be(records, at + 10)};
    }
  }

  if (!choices[0].found) return reader.Fail("no Windows family name");
  if (!ReadNameString(reader, tableOffset, tableLength, storage, choices[0], face.family)) return false;
  if (face.family.empty()) return reader.Fail("empty family name");
  if (choices[1].found && !ReadNameString(reader, tableOffset, tableLength, storage, choices[1], face.style)) {
    return false;
  }
  if (face.style.empty()) face.style = "Regular";
  if (choices[2].found && !ReadNameString(reader, tableOffset, tableLength, storage, choices[2], face.fullName)) {
    return false;
  }
  if (face.fullName.empty()) face.fullName = face.style == "Regular" ? face.family : face.family + " " + face.style;
  if (choices[3].found && !ReadNameString(reader, tableOffset, tableLength, storage, choices[3], face.versionText)) {
    return false;
  }
  if (choices[4].found && !ReadNameString(reader, tableOffset, tableLength, storage, choices[4], face.postScriptName)) {
    return false;
  }
  return true;
}

// One face's offset table at `offset`: its outline kind and its names.
bool ReadSfntFace(Reader& reader, std::uint64_t offset, FontFormat& format, FontFace& face) {
  std::vector<std::byte> header;
  if (!reader.Fetch(offset, 12, "truncated font header", header)) return false;
  const std::uint32_t version = U32Be(header, 0);
  if (version == 0x00010000 || version == Tag("true")) {
    format = FontFormat::TrueType;
  } else if (version == Tag("OTTO")) {
    format = FontFormat::OpenType;
  } else {
    return reader.Fail("unknown font version '" + TagText(version) + "'");
  }
  const std::uint16_t tableCount = U16Be(header, 4);
  if (tableCount == 0) return reader.Fail("no tables");
  std::vector<std::byte> directory;
  if (!reader.Fetch(offset + 12, std::uint64_t{tableCount} * 16, "truncated table directory", directory)) {
    return false;
  }

  std::optional<std::pair<std::uint64_t, std::uint64_t>> name, head;
  for (std::size_t at = 0; at < directory.size(); at += 16) {
    const std::uint32_t tag = U32Be(directory, at);
    const std::uint64_t tableOffset = U32Be(directory, at + 8);
    const std::uint64_t tableLength = U32Be(directory, at + 12);
    // A cut-off file (an interrupted copy) loses its last tables first.
    if (!reader.Inside(tableOffset, tableLength)) return reader.Fail("table '" + TagText(tag) + "' outside the file");
    if (tag == Tag("name") && !name) name.emplace(tableOffset, tableLength);
    if (tag == Tag("head") && !head) head.emplace(tableOffset, tableLength);
  }
  if (!name) return reader.Fail("no name table");
  if (!ReadNameTable(reader, name->first, name->second, face)) return false;
  // The revision follows the table's own version; a head too short to hold it has none.
  constexpr std::uint64_t kRevisionAt = 4;
  if (head && head->second >= kRevisionAt + 4) {
    std::vector<std::byte> revision;
    if (!reader.Fetch(head->first + kRevisionAt, 4, "head table outside the file", revision)) return false;
    face.fontRevision = U32Be(revision, 0);
  }
  return true;
}

bool ReadCollection(Reader& reader, FontFileInfo& info) {
  std::vector<std::byte> header;
  if (!reader.Fetch(0, 12, "truncated collection header", header)) return false;
  const std::uint32_t faceCount = U32Be(header, 8);
  if (faceCount == 0) return reader.Fail("empty collection");
  if (faceCount > kMaxFaces) return reader.Fail("too many faces in the collection");
  std::vector<std::byte> offsets;
  if (!reader.Fetch(12, std::uint64_t{faceCount} * 4, "truncated collection header", offsets)) return false;
  info.format = FontFormat::Collection;
  for (std::uint32_t i = 0; i < faceCount; ++i) {
    FontFormat outlines{};
    FontFace face;
    if (!ReadSfntFace(reader, U32Be(offsets, std::size_t{i} * 4), outlines, face)) {
      reader.Prefix("face " + std::to_string(i) + ": ");
      return false;
    }
    info.faces.push_back(std::move(face));
  }
  return true;
}

// ---- .fon: an NE module with FONTDIR and FONT resources ---------------------

constexpr std::uint16_t kFontDirectoryType = 0x8007;  // RT_FONTDIR
constexpr std::uint16_t kFontType = 0x8008;           // RT_FONT
// Offsets into a font's header (FNT versions 1 to 3 share them).
constexpr std::size_t kPointsAt = 68, kItalicAt = 80, kWeightAt = 83, kFaceAt = 105, kFontHeaderLength = 109;

struct Range {
  std::uint64_t offset = 0, length = 0;
};

// What the .fon names are in: Windows-1252 for the Western fonts, and ASCII,
// which every other code page shares, for the rest.
std::string Utf8FromWindows1252(std::span<const std::byte> bytes) {
  static constexpr std::array<char16_t, 32> kHigh = {
      0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
  std::u16string text;
  for (const std::byte b : bytes) {
    const auto c = std::to_integer<unsigned>(b);
    text.push_back(c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : static_cast<char16_t>(c));
  }
  return Utf8FromUtf16(text);
}

std::string StyleOf(std::uint16_t weight, bool italic) {
  const bool bold = weight >= 600;  // FW_SEMIBOLD and heavier
  if (bold && italic) return "Bold Italic";
  if (bold) return "Bold";
  if (italic) return "Italic";
  return "Regular";
}

bool ReadFontResource(Reader& reader, const Range& font, FontFileInfo& info) {
  std::vector<std::byte> header;
  if (font.length < kFontHeaderLength) return reader.Fail("truncated font header");
  if (!reader.Fetch(font.offset, kFontHeaderLength, "truncated font header", header)) return false;
  const std::uint16_t version = U16Le(header, 0);
  if (version != 0x100 && version != 0x200 && version != 0x300) return reader.Fail("unknown font header version");
  const std::uint64_t faceAt = U32Le(header, kFaceAt);
  if (faceAt >= font.length) return reader.Fail("face name outside the font resource");
  std::vector<std::byte> name;
  if (!reader.Fetch(font.offset + faceAt, std::min(font.length - faceAt, kMaxFaceNameBytes),
                    "face name outside the file", name)) {
    return false;
  }
  const auto end = std::find(name.begin(), name.end(), std::byte{0});
  if (end == name.end()) return reader.Fail("face name without an end");
  if (end == name.begin()) return reader.Fail("empty face name");

  FontFace face;
  face.family = Utf8FromWindows1252(std::span(name.begin(), end));
  face.style = StyleOf(U16Le(header, kWeightAt), Byte(header, kItalicAt) != 0);
  face.fullName = face.style == "Regular" ? face.family : face.family + " " + face.style;
  const int points = U16Le(header, kPointsAt);
  // One face per name and style, with all its sizes.
  auto same = std::find_if(info.faces.begin(), info.faces.end(), [&](const FontFace& known) {
    return known.family == face.family && known.style == face.style;
  });
  if (same == info.faces.end()) {
    info.faces.push_back(std::move(face));
    same = info.faces.end() - 1;
  }
  auto& sizes = same->pointSizes;
  const auto at = std::lower_bound(sizes.begin(), sizes.end(), points);
  if (at == sizes.end() || *at != points) sizes.insert(at, points);
  return true;
}

bool ReadFon(Reader& reader, FontFileInfo& info) {
  std::vector<std::byte> mz;
  if (!reader.Fetch(0, 0x40, "truncated MZ header", mz)) return false;
  const std::uint64_t ne = U32Le(mz, 0x3C);
  std::vector<std::byte> header;
  if (!reader.Fetch(ne, 2, "no NE header", header)) return false;
  if (header[0] != std::byte{'N'} || header[1] != std::byte{'E'}) return reader.Fail("not an NE executable");
  if (!reader.Fetch(ne, 0x40, "truncated NE header", header)) return false;
  const std::uint64_t resourceTable = ne + U16Le(header, 0x24);
  if (U16Le(header, 0x24) == U16Le(header, 0x26)) return reader.Fail("no resources");

  std::vector<std::byte> bytes;
  if (!reader.Fetch(resourceTable, 2, "truncated resource table", bytes)) return false;
  const unsigned shift = U16Le(bytes, 0);
  if (shift > 16) return reader.Fail("resource alignment out of range");
  std::optional<Range> directory;
  std::vector<Range> fonts;
  std::uint64_t at = resourceTable + 2;
  std::uint32_t resourceCount = 0;
  for (int types = 0;; ++types) {
    if (types == kMaxResourceTypes) return reader.Fail("too many resource types");
    if (!reader.Fetch(at, 2, "truncated resource table", bytes)) return false;
    const std::uint16_t type = U16Le(bytes, 0);
    if (type == 0) break;
    if (!reader.Fetch(at, 8, "truncated resource table", bytes)) return false;
    const std::uint16_t count = U16Le(bytes, 2);
    resourceCount += count;
    if (resourceCount > kMaxResources) return reader.Fail("too many resources");
    if (!reader.Fetch(at + 8, std::uint64_t{count} * 12, "truncated resource table", bytes)) return false;
    at += 8 + std::uint64_t{count} * 12;
    for (std::size_t entry = 0; entry < bytes.size(); entry += 12) {
      const Range range{std::uint64_t{U16Le(bytes, entry)} << shift, std::uint64_t{U16Le(bytes, entry + 2)} << shift};
      if (!reader.Inside(range.offset, range.length)) return reader.Fail("resource outside the file");
      if (type == kFontDirectoryType && !directory) directory = range;
      if (type == kFontType) fonts.push_back(range);
    }
  }
  if (!directory) return reader.Fail("no font directory resource");
  if (fonts.empty()) return reader.Fail("no font resources");
  if (directory->length < 2) return reader.Fail("truncated font directory");
  if (!reader.Fetch(directory->offset, 2, "truncated font directory", bytes)) return false;
  if (U16Le(bytes, 0) == 0) return reader.Fail("empty font directory");

  info.format = FontFormat::WindowsBitmap;
  for (std::size_t i = 0; i < fonts.size(); ++i) {
    if (!ReadFontResource(reader, fonts[i], info)) {
      reader.Prefix("font " + std::to_string(i) + ": ");
      return false;
    }
  }

  // The first entry of the non-resident name table: a length byte, then text.
  const std::uint64_t names = U32Le(header, 0x2C);
  if (U16Le(header, 0x20) != 0) {
    if (!reader.Fetch(names, 1, "module description outside the file", bytes)) return false;
    const std::uint64_t length = Byte(bytes, 0);
    if (!reader.Fetch(names + 1, length, "module description outside the file", bytes)) return false;
    info.description = Utf8FromWindows1252(bytes);
  }
  return true;
}

class MemorySource : public FontByteSource {
 public:
  explicit MemorySource(std::span<const std::byte> bytes) : bytes_(bytes) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  FileResult Read(std::uint64_t offset, std::span<std::byte> out) override {
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
    return {};
  }

 private:
  std::span<const std::byte> bytes_;
};

class FileSource : public FontByteSource {
 public:
  explicit FileSource(ReadableFile& file) : file_(file) {}
  std::uint64_t Size() const override { return file_.Size(); }
  FileResult Read(std::uint64_t offset, std::span<std::byte> out) override { return file_.ReadAt(offset, out); }

 private:
  ReadableFile& file_;
};

}  // namespace

FontReadResult ReadFont(FontByteSource& source) {
  Reader reader(source);
  if (reader.Size() == 0) return NotAFont{"empty file"};
  std::vector<std::byte> signature;
  if (!reader.Fetch(0, std::min<std::uint64_t>(reader.Size(), 4), "", signature)) return reader.Failure();
  FontFileInfo info;
  bool read = false;
  if (signature.size() >= 2 && signature[0] == std::byte{'M'} && signature[1] == std::byte{'Z'}) {
    read = ReadFon(reader, info);
  } else if (signature.size() < 4) {
    return NotAFont{"truncated font header"};
  } else if (const std::uint32_t tag = U32Be(signature, 0); tag == Tag("ttcf")) {
    read = ReadCollection(reader, info);
  } else if (tag == 0x00010000 || tag == Tag("true") || tag == Tag("OTTO")) {
    FontFace face;
    read = ReadSfntFace(reader, 0, info.format, face);
    if (read) info.faces.push_back(std::move(face));
  } else if (tag == Tag("wOFF") || tag == Tag("wOF2")) {
    return NotAFont{"a web font (WOFF), which Windows does not install"};
  } else {
    return NotAFont{"unknown signature"};
  }
  if (!read) return reader.Failure();
  return info;
}

FontReadResult ParseFontBytes(std::span<const std::byte> bytes) {
  MemorySource source(bytes);
  return ReadFont(source);
}

FontReadResult ReadFontFile(std::string_view utf8Path) {
  ReadableFile file;
  if (FileResult opened = file.Open(utf8Path); !opened) return *opened.error;
  if (file.Kind() == EntryKind::Folder) return NotAFont{"a folder"};
  if (file.Kind() != EntryKind::File) return NotAFont{"not a regular file"};
  FileSource source(file);
  return ReadFont(source);
}

std::string NotAFontText(const NotAFont& notAFont) { return "not a font: " + notAFont.why; }

}  // namespace quorvane
