#include "tests/sync/font_builder.h"

#include <variant>

#include "sync/fonts/font_file.h"

namespace quorvane::testing {

void PutU16Be(Bytes& bytes, std::size_t at, std::uint16_t value) {
  bytes.at(at) = std::byte(value >> 8);
  bytes.at(at + 1) = std::byte(value & 0xFF);
}
void PutU32Be(Bytes& bytes, std::size_t at, std::uint32_t value) {
  PutU16Be(bytes, at, static_cast<std::uint16_t>(value >> 16));
  PutU16Be(bytes, at + 2, static_cast<std::uint16_t>(value & 0xFFFF));
}
void PutU16Le(Bytes& bytes, std::size_t at, std::uint16_t value) {
  bytes.at(at) = std::byte(value & 0xFF);
  bytes.at(at + 1) = std::byte(value >> 8);
}
void PutU32Le(Bytes& bytes, std::size_t at, std::uint32_t value) {
  PutU16Le(bytes, at, static_cast<std::uint16_t>(value & 0xFFFF));
  PutU16Le(bytes, at + 2, static_cast<std::uint16_t>(value >> 16));
}
std::uint16_t GetU16Be(std::span<const std::byte> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(std::to_integer<unsigned>(bytes[at]) << 8 | std::to_integer<unsigned>(bytes[at + 1]));
}
std::uint32_t GetU32Be(std::span<const std::byte> bytes, std::size_t at) {
  return std::uint32_t{GetU16Be(bytes, at)} << 16 | GetU16Be(bytes, at + 2);
}

namespace {

void Append(Bytes& to, std::span<const std::byte> bytes) { to.insert(to.end(), bytes.begin(), bytes.end()); }
void PadTo(Bytes& bytes, std::size_t alignment) { bytes.resize((bytes.size() + alignment - 1) / alignment * alignment); }

// The offset table and directory of `face` at `at`, its tables appended to `out`.
void PlaceFace(Bytes& out, std::size_t at, const Face& face) {
  PutU32Be(out, at, face.version);
  PutU16Be(out, at + 4, static_cast<std::uint16_t>(face.tables.size()));
  for (std::size_t i = 0; i < face.tables.size(); ++i) {
    const Table& table = face.tables[i];
    PadTo(out, 4);
    const std::size_t record = at + 12 + i * 16;
    PutU32Be(out, record, table.tag);
    PutU32Be(out, record + 8, static_cast<std::uint32_t>(out.size()));
    PutU32Be(out, record + 12, static_cast<std::uint32_t>(table.data.size()));
    Append(out, table.data);
  }
}

std::size_t DirectorySize(const Face& face) { return 12 + 16 * face.tables.size(); }

}  // namespace

Bytes NameTable(const std::vector<NameRecord>& records) {
  Bytes table(6 + 12 * records.size());
  Bytes strings;
  PutU16Be(table, 2, static_cast<std::uint16_t>(records.size()));
  PutU16Be(table, 4, static_cast<std::uint16_t>(table.size()));
  for (std::size_t i = 0; i < records.size(); ++i) {
    const NameRecord& record = records[i];
    const std::size_t at = 6 + 12 * i;
    const std::size_t start = strings.size();
    for (const char16_t unit : record.text) {
      if (record.platform != 1) strings.push_back(std::byte(unit >> 8));
      strings.push_back(std::byte(unit & 0xFF));
    }
    PutU16Be(table, at, record.platform);
    PutU16Be(table, at + 2, record.encoding);
    PutU16Be(table, at + 4, record.language);
    PutU16Be(table, at + 6, record.nameId);
    PutU16Be(table, at + 8, static_cast<std::uint16_t>(strings.size() - start));
    PutU16Be(table, at + 10, static_cast<std::uint16_t>(start));
  }
  Append(table, strings);
  return table;
}

Bytes Sfnt(const Face& face) {
  Bytes out(DirectorySize(face));
  PlaceFace(out, 0, face);
  return out;
}

Bytes Collection(const std::vector<Face>& faces) {
  Bytes out(12 + 4 * faces.size());
  PutU32Be(out, 0, FourCc("ttcf"));
  PutU16Be(out, 4, 1);
  PutU32Be(out, 8, static_cast<std::uint32_t>(faces.size()));
  for (std::size_t i = 0; i < faces.size(); ++i) {
    PadTo(out, 4);
    const std::size_t at = out.size();
    PutU32Be(out, 12 + 4 * i, static_cast<std::uint32_t>(at));
    out.resize(at + DirectorySize(faces[i]));
    PlaceFace(out, at, faces[i]);
  }
  return out;
}

Face FaceNamed(const std::u16string& family, const std::u16string& style, const std::u16string& fullName) {
  return Face{0x00010000, {{FourCc("name"), NameTable({{1, family}, {2, style}, {4, fullName}})}}};
}

Bytes HeadTable(std::uint32_t revision) {
  Bytes head(54);
  PutU32Be(head, 0, 0x00010000);
  PutU32Be(head, 4, revision);
  PutU32Be(head, 12, 0x5F0F3CF5);  // the magic number every head carries
  PutU16Be(head, 18, 1000);        // units per em
  return head;
}

Face FaceVersioned(const std::u16string& fullName, const std::u16string& version, std::uint32_t revision,
                   const std::u16string& postScriptName) {
  std::vector<NameRecord> names = {{1, fullName}, {2, u"Regular"}, {4, fullName}, {5, version}};
  if (!postScriptName.empty()) names.push_back({6, postScriptName});
  return Face{0x00010000, {{FourCc("head"), HeadTable(revision)}, {FourCc("name"), NameTable(names)}}};
}

Bytes Fon(const std::string& description, const std::vector<BitmapFont>& fonts) {
  constexpr std::size_t kNe = 0x40, kResources = 0x80, kAlign = 16;
  constexpr std::size_t kHeaderSize = 118;
  Bytes out(kResources);
  out[0] = std::byte{'M'};
  out[1] = std::byte{'Z'};
  PutU32Le(out, 0x3C, kNe);
  out[kNe] = std::byte{'N'};
  out[kNe + 1] = std::byte{'E'};

  // One font's header: the part a FONTDIR entry repeats, then the bits' place.
  auto header = [](const BitmapFont& font, std::uint32_t size) {
    Bytes bytes(kHeaderSize);
    PutU16Le(bytes, 0, 0x200);
    PutU32Le(bytes, 2, size);
    PutU16Le(bytes, 68, static_cast<std::uint16_t>(font.points));
    PutU16Le(bytes, 70, 96);
    PutU16Le(bytes, 72, 96);
    bytes[80] = std::byte{font.italic};
    PutU16Le(bytes, 83, static_cast<std::uint16_t>(font.weight));
    PutU16Le(bytes, 88, static_cast<std::uint16_t>(font.points * 96 / 72));
    PutU32Le(bytes, 105, kHeaderSize);
    return bytes;
  };
  auto text = [](const std::string& s) {
    Bytes bytes;
    for (const char c : s) bytes.push_back(std::byte(static_cast<unsigned char>(c)));
    return bytes;
  };

  // Resource table: alignment shift, FONTDIR, FONT, end.
  const std::size_t fontDirEntry = kResources + 2 + 8;
  const std::size_t fontEntries = fontDirEntry + 12 + 8;
  out.resize(fontEntries + 12 * fonts.size() + 2);
  PutU16Le(out, kResources, 4);
  PutU16Le(out, kResources + 2, 0x8007);
  PutU16Le(out, kResources + 4, 1);
  PutU16Le(out, fontDirEntry + 12, 0x8008);
  PutU16Le(out, fontDirEntry + 14, static_cast<std::uint16_t>(fonts.size()));

  const std::size_t residentNames = out.size();
  out.push_back(std::byte{5});
  Append(out, text("FONTS"));
  out.resize(out.size() + 3);
  const std::size_t nonResidentNames = out.size();
  out.push_back(std::byte(description.size()));
  Append(out, text(description));
  out.resize(out.size() + 3);

  PutU16Le(out, kNe + 0x20, static_cast<std::uint16_t>(out.size() - nonResidentNames));
  PutU16Le(out, kNe + 0x24, kResources - kNe);
  PutU16Le(out, kNe + 0x26, static_cast<std::uint16_t>(residentNames - kNe));
  PutU16Le(out, kNe + 0x28, static_cast<std::uint16_t>(nonResidentNames - kNe));
  PutU16Le(out, kNe + 0x2A, static_cast<std::uint16_t>(nonResidentNames - kNe));
  PutU32Le(out, kNe + 0x2C, static_cast<std::uint32_t>(nonResidentNames));
  out[kNe + 0x36] = std::byte{2};  // Windows

  auto place = [&](std::size_t entry, const Bytes& resource, std::uint16_t id) {
    PadTo(out, kAlign);
    const std::size_t start = out.size();
    Append(out, resource);
    PadTo(out, kAlign);
    PutU16Le(out, entry, static_cast<std::uint16_t>(start / kAlign));
    PutU16Le(out, entry + 2, static_cast<std::uint16_t>((out.size() - start) / kAlign));
    PutU16Le(out, entry + 4, 0x1C30);
    PutU16Le(out, entry + 6, id);
  };

  Bytes directory(2);
  PutU16Le(directory, 0, static_cast<std::uint16_t>(fonts.size()));
  for (std::size_t i = 0; i < fonts.size(); ++i) {
    directory.push_back(std::byte(i + 1));
    directory.push_back(std::byte{0});
    const Bytes entry = header(fonts[i], 0);
    directory.insert(directory.end(), entry.begin(), entry.begin() + 113);
    directory.push_back(std::byte{0});
    Append(directory, text(fonts[i].face));
    directory.push_back(std::byte{0});
  }
  place(fontDirEntry, directory, 0x8001);
  for (std::size_t i = 0; i < fonts.size(); ++i) {
    Bytes font = header(fonts[i], static_cast<std::uint32_t>(kHeaderSize + fonts[i].face.size() + 1));
    Append(font, text(fonts[i].face));
    font.push_back(std::byte{0});
    place(fontEntries + 12 * i, font, static_cast<std::uint16_t>(0x8001 + i));
  }
  return out;
}

Bytes SmallFormOf(std::span<const std::byte> font) {
  if (font.size() >= 2 && font[0] == std::byte{'M'} && font[1] == std::byte{'Z'}) {
    const FontReadResult result = ParseFontBytes(font);
    const auto* info = std::get_if<FontFileInfo>(&result);
    if (!info) return {};
    std::vector<BitmapFont> fonts;
    for (const FontFace& face : info->faces) {
      for (const int points : face.pointSizes) {
        fonts.push_back({face.family, points, face.style.starts_with("Bold") ? 700 : 400,
                         face.style.ends_with("Italic")});
      }
    }
    return Fon(info->description, fonts);
  }

  if (font.size() < 12) return {};
  std::vector<std::size_t> offsets{0};
  const bool collection = GetU32Be(font, 0) == FourCc("ttcf");
  if (collection) {
    const std::size_t count = GetU32Be(font, 8);
    if (font.size() < 12 + 4 * count) return {};
    offsets.clear();
    for (std::size_t i = 0; i < count; ++i) offsets.push_back(GetU32Be(font, 12 + 4 * i));
  }
  std::vector<Face> faces;
  for (const std::size_t at : offsets) {
    if (at + 12 > font.size()) return {};
    Face face{GetU32Be(font, at), {}};
    const std::size_t count = GetU16Be(font, at + 4);
    if (at + 12 + 16 * count > font.size()) return {};
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t record = at + 12 + 16 * i;
      Table table{GetU32Be(font, record), {}};
      if (table.tag == FourCc("name") || table.tag == FourCc("head")) {
        const std::size_t offset = GetU32Be(font, record + 8), length = GetU32Be(font, record + 12);
        if (offset > font.size() || length > font.size() - offset) return {};
        table.data.assign(font.begin() + static_cast<std::ptrdiff_t>(offset),
                          font.begin() + static_cast<std::ptrdiff_t>(offset + length));
      }
      face.tables.push_back(std::move(table));
    }
    faces.push_back(std::move(face));
  }
  if (!collection) return Sfnt(faces.front());
  return Collection(faces);
}

}  // namespace quorvane::testing
