#include "sync/fonts/font_structure.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <random>

#include "font_builder.h"
#include "test_support.h"

namespace quorvane {
namespace {

using ::testing::HasSubstr;
using ::testing::Optional;
using ::testing::StartsWith;
using namespace quorvane::testing;
namespace fs = std::filesystem;

// From the Debian packages scripts/install-deps.sh installs.
constexpr const char* kDejaVuSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr const char* kC059 = "/usr/share/fonts/opentype/urw-base35/C059-Roman.otf";
// A collection whose tables do not all start on a 4-byte boundary.
constexpr const char* kMicroHei = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";
constexpr const char* kSansSerif = "/usr/share/wine/fonts/sserife.fon";

Bytes LoadNative(const std::string& path) {
  std::ifstream in(PathOf(path), std::ios::binary);
  const std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Bytes bytes(chars.size());
  std::transform(chars.begin(), chars.end(), bytes.begin(),
                 [](char c) { return std::byte(static_cast<unsigned char>(c)); });
  if (bytes.empty()) ADD_FAILURE() << path << " is missing or empty: scripts/install-deps.sh installs it";
  return bytes;
}
Bytes Load(const std::string& unixPath) { return LoadNative(NativePath(unixPath)); }

// The check fed in pieces of `piece` bytes, as a copy's reads hand them over.
std::optional<std::string> CheckInPieces(std::span<const std::byte> bytes, std::size_t piece) {
  FontStructureCheck check;
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    check.Feed(bytes.subspan(at, std::min(piece, bytes.size() - at)));
  }
  return check.Finish();
}

std::size_t LeU16(const Bytes& bytes, std::size_t at) {
  return std::to_integer<std::size_t>(bytes[at]) | std::to_integer<std::size_t>(bytes[at + 1]) << 8;
}

struct TableEntry {
  std::string tag;
  std::size_t entryAt = 0;  // where its directory entry is
  std::uint32_t offset = 0, length = 0;
};

std::vector<TableEntry> DirectoryAt(const Bytes& font, std::size_t face) {
  std::vector<TableEntry> tables;
  const std::size_t count = GetU16Be(font, face + 4);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = face + 12 + 16 * i;
    const std::uint32_t tag = GetU32Be(font, at);
    const std::string text{static_cast<char>(tag >> 24), static_cast<char>(tag >> 16), static_cast<char>(tag >> 8),
                           static_cast<char>(tag)};
    tables.push_back({text, at, GetU32Be(font, at + 8), GetU32Be(font, at + 12)});
  }
  return tables;
}

TEST(FontStructureTest, EveryFontOnTheMachinePassesInAnyPieces) {
  std::map<std::string, int> counts;
  for (const char* folder : {"/usr/share/fonts", "/usr/share/wine"}) {
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(PathOf(NativePath(folder)), error)) {
      std::string extension = entry.path().extension().string();
      std::transform(extension.begin(), extension.end(), extension.begin(),
                     [](char c) { return static_cast<char>(std::tolower(c)); });
      const bool font = extension == ".ttf" || extension == ".otf" || extension == ".ttc" || extension == ".fon";
      if (!font || !entry.is_regular_file()) continue;
      const std::string path = Utf8Of(entry.path());
      const Bytes bytes = LoadNative(path);
      // Whole, in a copy's 1 MiB reads, and in pieces that split every word.
      EXPECT_EQ(CheckFontStructure(bytes), std::nullopt) << path;
      EXPECT_EQ(CheckInPieces(bytes, 1 << 20), std::nullopt) << path;
      EXPECT_EQ(CheckInPieces(bytes, 4093), std::nullopt) << path;
      ++counts[extension];
    }
  }
  for (const auto& [extension, count] : counts) std::cout << count << " " << extension << " files pass\n";
  EXPECT_GT(counts[".ttf"] + counts[".otf"], 50);
  EXPECT_GT(counts[".ttc"], 0);
  EXPECT_GT(counts[".fon"], 20);
}

TEST(FontStructureTest, ADamagedOutlineFontSaysWhichTableAndWhat) {
  for (const char* path : {kDejaVuSans, kC059, kMicroHei}) {
    SCOPED_TRACE(path);
    const Bytes font = Load(path);
    ASSERT_FALSE(font.empty());
    const bool collection = GetU32Be(font, 0) == FourCc("ttcf");
    const std::size_t face = collection ? GetU32Be(font, 12) : 0;
    const std::string prefix = collection ? "face 0: " : "";
    const std::vector<TableEntry> tables = DirectoryAt(font, face);
    ASSERT_EQ(CheckFontStructure(font), std::nullopt);

    for (const TableEntry& table : tables) {
      if (table.length == 0) continue;
      Bytes flipped = font;
      flipped[table.offset + table.length / 2] ^= std::byte{0x10};
      const auto why = CheckInPieces(flipped, 4093);
      EXPECT_THAT(why, Optional(StartsWith(prefix + "table '" + table.tag + "': checksum 0x"))) << table.tag;
      EXPECT_THAT(why, Optional(HasSubstr(", the directory gives 0x")));
      // The head table's checkSumAdjustment is the whole file's, left out of its own
      // sum (the wqy collections sum it in, so a change to it shows there).
      if (table.tag == "head" && !collection) {
        Bytes adjusted = font;
        adjusted[table.offset + 9] ^= std::byte{0xFF};
        EXPECT_EQ(CheckInPieces(adjusted, 5), std::nullopt);
      }
    }

    // Cut short: a table runs past the end, or lies past it; the directory itself; nothing.
    EXPECT_THAT(CheckFontStructure(std::span(font).first(font.size() - 1)),
                Optional(HasSubstr("' runs past the end of the file")));
    const auto last = std::max_element(tables.begin(), tables.end(), [](const TableEntry& a, const TableEntry& b) {
      return a.offset + a.length < b.offset + b.length;
    });
    EXPECT_THAT(CheckFontStructure(std::span(font).first(last->offset)),
                Optional(StartsWith(prefix + "table '" + last->tag + "' lies outside the file")));
    EXPECT_THAT(CheckFontStructure(std::span(font).first(face + 20)), Optional(prefix + "truncated table directory"));
    EXPECT_THAT(CheckFontStructure(std::span(font).first(3)), Optional(std::string("truncated font header")));
    EXPECT_THAT(CheckFontStructure({}), Optional(std::string("empty file")));

    // A table placed over the directory.
    Bytes overlapping = font;
    PutU32Be(overlapping, tables[1].entryAt + 8, static_cast<std::uint32_t>(face + 4));
    EXPECT_THAT(CheckFontStructure(overlapping),
                Optional(prefix + "table '" + tables[1].tag + "' overlaps a table directory"));
  }
}

TEST(FontStructureTest, ACollectionsOffsetsAndEachFaceAreChecked) {
  const Bytes font = Load(kMicroHei);
  ASSERT_GT(font.size(), 2u << 20);
  ASSERT_EQ(GetU32Be(font, 8), 2u);
  const std::uint32_t second = GetU32Be(font, 16);
  const auto withSecondAt = [&](std::uint32_t offset) {
    Bytes bytes = font;
    PutU32Be(bytes, 16, offset);
    return CheckFontStructure(bytes);
  };
  EXPECT_THAT(withSecondAt(static_cast<std::uint32_t>(font.size()) + 100),
              Optional(std::string("face 1: font header past the first MiB, further than a font's structure goes")));
  EXPECT_THAT(withSecondAt(4), Optional(std::string("face 1: offset 4 inside the collection header")));
  EXPECT_THAT(withSecondAt(second + 2), Optional(StartsWith("face 1: unknown font version")));
  // Both faces at one directory is a whole collection.
  EXPECT_EQ(withSecondAt(GetU32Be(font, 12)), std::nullopt);

  Bytes empty = font;
  PutU32Be(empty, 8, 0);
  EXPECT_THAT(CheckFontStructure(empty), Optional(std::string("empty collection")));

  // The second face's own tables are checked too.
  const auto firstTables = DirectoryAt(font, GetU32Be(font, 12));
  for (const TableEntry& table : DirectoryAt(font, second)) {
    const bool shared = std::any_of(firstTables.begin(), firstTables.end(), [&](const TableEntry& t) {
      return t.offset == table.offset && t.length == table.length;
    });
    if (shared || table.length == 0) continue;
    Bytes flipped = font;
    flipped[table.offset] ^= std::byte{1};
    EXPECT_THAT(CheckFontStructure(flipped), Optional(StartsWith("face 1: table '" + table.tag + "': checksum")));
  }
}

TEST(FontStructureTest, ADamagedBitmapFontSaysWhatIsWrong) {
  const Bytes fon = Load(kSansSerif);
  ASSERT_FALSE(fon.empty());
  ASSERT_EQ(CheckFontStructure(fon), std::nullopt);
  // Every cut of its first kilobyte and a sampling of the rest; its last resource ends the file.
  std::mt19937 random(28);
  std::vector<std::size_t> lengths;
  for (std::size_t length = 0; length < 1024; ++length) lengths.push_back(length);
  for (int i = 0; i < 200; ++i) lengths.push_back(random() % fon.size());
  for (const std::size_t length : lengths) {
    const auto why = CheckInPieces(std::span(fon).first(length), 97);
    ASSERT_TRUE(why.has_value()) << length;
    ASSERT_EQ(why, CheckFontStructure(std::span(fon).first(length))) << length;
  }
  EXPECT_THAT(CheckFontStructure(std::span(fon).first(fon.size() - 1)),
              Optional(HasSubstr("runs past the end of the file")));

  Bytes notNe = fon;
  notNe[LeU16(fon, 0x3C)] = std::byte{'P'};
  EXPECT_THAT(CheckFontStructure(notNe), Optional(std::string("not an NE executable")));

  // A made .fon: its font resource's header version, size and face name.
  const Bytes made = Fon("FONTRES 100,96,96 : Made 10", {{"Made", 10}});
  ASSERT_EQ(CheckFontStructure(made), std::nullopt);
  // The builder's one FONT entry, in 16-byte units.
  const std::size_t resource = LeU16(made, 0x9E) << 4;
  Bytes version = made;
  PutU16Le(version, resource, 0x400);
  EXPECT_THAT(CheckFontStructure(version),
              Optional(std::string("font resource 0: unknown font header version 0x00000400")));
  Bytes size = made;
  PutU32Le(size, resource + 2, 1 << 20);
  EXPECT_THAT(CheckFontStructure(size), Optional(StartsWith("font resource 0: its header gives 1048576 bytes")));
  Bytes face = made;
  PutU32Le(face, resource + 105, 1 << 20);
  EXPECT_THAT(CheckFontStructure(face), Optional(std::string("font resource 0: face name outside the resource")));
}

// Each of them summed over the same bytes: the work a file may ask for is bounded.
TEST(FontStructureTest, TablesPiledOnOneAnotherAreRefused) {
  for (const std::size_t tables : {16, 17}) {
    Face face;
    for (std::size_t i = 0; i < tables; ++i) {
      face.tables.push_back({FourCc("zzzz") + static_cast<std::uint32_t>(i), {}});
    }
    face.tables.push_back({FourCc("data"), Bytes(4096)});
    Bytes font = Sfnt(face);
    const std::size_t data = 12 + 16 * tables;
    for (std::size_t i = 0; i < tables; ++i) {
      PutU32Be(font, 12 + 16 * i + 8, GetU32Be(font, data + 8));
      PutU32Be(font, 12 + 16 * i + 12, 4096);
      PutU32Be(font, 12 + 16 * i + 4, static_cast<std::uint32_t>(i + 1));  // no two alike
    }
    const auto why = CheckFontStructure(font);
    if (tables == 16) {
      EXPECT_THAT(why, Optional(StartsWith("table 'zzzz': checksum 0x00000000, the directory gives 0x00000001")));
    } else {
      EXPECT_THAT(why, Optional(std::string("tables lie over one another more than 16 deep")));
    }
  }
}

// The copy hashes and checks the very bytes it writes: the digest is
// sha256sum's, and a damaged font never takes the name of the one it would replace.
TEST(FontStructureTest, ACopyHashesAndChecksTheBytesItWrites) {
  const std::string expected = QUORVANE_DEJAVU_SHA256;
  ASSERT_EQ(expected.size(), 64u) << "sha256sum of DejaVuSans.ttf was not found when the build was configured";
  TempFolder temp;
  const std::string target = temp.Path("DejaVuSans.ttf"), cut = temp.Path("cut.ttf");
  FontCopyCheck check;
  const CopyResult copied = CopyOneFile(NativePath(kDejaVuSans), target, {.hash = true, .check = &check});
  ASSERT_EQ(copied.status, CopyStatus::Created);
  const auto digest = copied.sha256.Get();
  ASSERT_TRUE(digest);
  EXPECT_EQ(HexOf(*digest), expected);
  EXPECT_FALSE(copied.refusal);

  const Bytes font = Load(kDejaVuSans);
  const auto* chars = reinterpret_cast<const char*>(font.data());
  WriteFile(cut, std::string(chars, font.size() - 1000));
  const std::string before = ReadFile(target);
  FontCopyCheck cutCheck;
  const CopyResult refused = CopyOneFile(cut, target, {.hash = true, .check = &cutCheck});
  EXPECT_EQ(refused.status, CopyStatus::Refused);
  EXPECT_FALSE(refused.Succeeded());
  EXPECT_THAT(refused.refusal, Optional(HasSubstr("table '")));
  EXPECT_EQ(ReadFile(target), before);
  EXPECT_THAT(TemporaryFilesIn(temp.Path()), ::testing::IsEmpty());
}

TEST(FontStructureTest, OtherBytesAreNoFont) {
  std::mt19937 random(3);
  Bytes noise(4096);
  for (std::byte& b : noise) b = std::byte(random() & 0xFF);
  noise[0] = std::byte{0x7F};
  EXPECT_THAT(CheckFontStructure(noise), Optional(std::string("unknown signature")));
  Bytes woff = noise;
  PutU32Be(woff, 0, FourCc("wOFF"));
  EXPECT_THAT(CheckFontStructure(woff), Optional(HasSubstr("web font")));
}

}  // namespace
}  // namespace quorvane
