#include "sync/fonts/font_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "font_builder.h"
#include "test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace quorvane {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::StartsWith;
using namespace quorvane::testing;
namespace fs = std::filesystem;

// ---- helpers ------------------------------------------------------------------

// The Debian packages the real fonts come from; scripts/install-deps.sh installs them.
struct RealFont {
  const char* path;
  const char* package;
};
constexpr RealFont kDejaVuSans{"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", "fonts-dejavu-core"};
constexpr RealFont kMicroHei{"/usr/share/fonts/truetype/wqy/wqy-microhei.ttc", "fonts-wqy-microhei"};
constexpr RealFont kZenHei{"/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc", "fonts-wqy-zenhei"};
constexpr RealFont kC059{"/usr/share/fonts/opentype/urw-base35/C059-Roman.otf", "fonts-urw-base35"};
constexpr RealFont kSansSerif{"/usr/share/wine/fonts/sserife.fon", "wine"};
constexpr RealFont kCourier{"/usr/share/wine/fonts/coure.fon", "wine"};

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(PathOf(path), std::ios::binary);
  const std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Bytes bytes(chars.size());
  std::transform(chars.begin(), chars.end(), bytes.begin(), [](char c) { return std::byte(static_cast<unsigned char>(c)); });
  return bytes;
}

// The font's bytes, or a failure naming the package that brings it.
Bytes Load(const RealFont& font) {
  const std::string path = NativePath(font.path);
  if (!fs::exists(PathOf(path))) {
    ADD_FAILURE() << font.path << " is missing: install the Debian package " << font.package
                  << " (scripts/install-deps.sh does)";
    return {};
  }
  return ReadBytes(path);
}

std::vector<std::string> FontsIn(const std::string& unixFolder, const char* package) {
  std::vector<std::string> paths;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(PathOf(NativePath(unixFolder)), error)) {
    const std::string extension = entry.path().extension().string();
    if (extension == ".ttf" || extension == ".otf" || extension == ".ttc" || extension == ".fon") {
      paths.push_back(Utf8Of(entry.path()));
    }
  }
  std::sort(paths.begin(), paths.end());
  if (paths.empty()) ADD_FAILURE() << "no fonts in " << unixFolder << ": install the Debian package " << package;
  return paths;
}

std::string Describe(const FontReadResult& result) {
  if (const auto* notAFont = std::get_if<NotAFont>(&result)) return NotAFontText(*notAFont);
  if (const auto* error = std::get_if<FileError>(&result)) {
    return std::string(StepName(error->step)) + " failed (error " + std::to_string(error->code) + ")";
  }
  std::string text = "a font:";
  for (const FontFace& face : std::get<FontFileInfo>(result).faces) text += " [" + face.fullName + "]";
  return text;
}

FontFileInfo InfoOf(const FontReadResult& result) {
  if (const auto* info = std::get_if<FontFileInfo>(&result)) return *info;
  ADD_FAILURE() << "expected a font, got " << Describe(result);
  return {};
}

std::string WhyOf(const FontReadResult& result) {
  if (const auto* notAFont = std::get_if<NotAFont>(&result)) return notAFont->why;
  std::string text("<");
  text += Describe(result);
  return text += ">";
}

// Everything the reader says about the faces, to compare two readings.
std::vector<std::string> Summary(const FontFileInfo& info) {
  std::vector<std::string> lines{std::to_string(static_cast<int>(info.format)) + " " + info.description};
  for (const FontFace& face : info.faces) {
    std::string line = face.family + "|" + face.style + "|" + face.fullName + "|";
    for (const int points : face.pointSizes) line += std::to_string(points) + ",";
    lines.push_back(line);
  }
  return lines;
}

FontReadResult Parse(const Bytes& bytes) { return ParseFontBytes(bytes); }

// A prefix of some bytes that fails the test if the reader asks past its end,
// and counts what it reads.
class CheckedSource : public FontByteSource {
 public:
  explicit CheckedSource(std::span<const std::byte> bytes) : bytes_(bytes) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  FileResult Read(std::uint64_t offset, std::span<std::byte> out) override {
    if (offset > bytes_.size() || out.size() > bytes_.size() - offset) {
      ADD_FAILURE() << "read of " << out.size() << " bytes at " << offset << " past the end, " << bytes_.size();
      return {FileError{FileStep::Read, 0, FileErrorKind::Truncated}};
    }
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
    ++reads;
    bytesRead += out.size();
    return {};
  }
  int reads = 0;
  std::uint64_t bytesRead = 0;

 private:
  std::span<const std::byte> bytes_;
};

// Where the structures of an sfnt or collection begin and end: each face's
// offset table and directory, each name table.
std::vector<std::size_t> SfntEdges(const Bytes& font) {
  std::vector<std::size_t> edges{0}, faces{0};
  if (GetU32Be(font, 0) == FourCc("ttcf")) {
    const std::size_t count = GetU32Be(font, 8);
    edges.push_back(12 + 4 * count);
    faces.clear();
    for (std::size_t i = 0; i < count; ++i) faces.push_back(GetU32Be(font, 12 + 4 * i));
  }
  for (const std::size_t face : faces) {
    const std::size_t tables = GetU16Be(font, face + 4);
    edges.insert(edges.end(), {face, face + 12, face + 12 + 16 * tables});
    for (std::size_t i = 0; i < tables; ++i) {
      const std::size_t record = face + 12 + 16 * i;
      if (GetU32Be(font, record) != FourCc("name")) continue;
      const std::size_t offset = GetU32Be(font, record + 8);
      // The name table's header, its records, and its end.
      edges.insert(edges.end(), {offset, offset + 6 + 12 * std::size_t{GetU16Be(font, offset + 2)},
                                 offset + GetU32Be(font, record + 12)});
    }
  }
  edges.push_back(font.size());
  return edges;
}

// ---- real fonts -------------------------------------------------------------

TEST(RealFontsTest, OutlineFontsGiveTheirFormatAndEveryFace) {
  struct Case {
    RealFont font;
    FontFormat format;
    std::vector<std::string> fullNames;
  };
  const std::vector<Case> cases = {
      {kDejaVuSans, FontFormat::TrueType, {"DejaVu Sans"}},
      {kMicroHei, FontFormat::Collection, {"WenQuanYi Micro Hei", "WenQuanYi Micro Hei Mono"}},
      {kZenHei, FontFormat::Collection, {"WenQuanYi Zen Hei", "WenQuanYi Zen Hei Mono", "WenQuanYi Zen Hei Sharp"}},
      {kC059, FontFormat::OpenType, {"C059-Roman"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.font.path);
    const FontFileInfo info = InfoOf(ReadFontFile(NativePath(c.font.path)));
    EXPECT_EQ(info.format, c.format);
    std::vector<std::string> fullNames;
    for (const FontFace& face : info.faces) fullNames.push_back(face.fullName);
    EXPECT_EQ(fullNames, c.fullNames);
    EXPECT_EQ(info.description, "");
  }
}

TEST(RealFontsTest, EveryFontOfThePackagesIsAFont) {
  std::vector<std::string> paths;
  for (const auto& [folder, package] : std::vector<std::pair<std::string, const char*>>{
           {"/usr/share/fonts/truetype/dejavu", "fonts-dejavu-core"},
           {"/usr/share/fonts/truetype/wqy", "fonts-wqy-microhei"},
           {"/usr/share/fonts/opentype/urw-base35", "fonts-urw-base35"},
           {"/usr/share/wine/fonts", "wine"}}) {
    const auto found = FontsIn(folder, package);
    paths.insert(paths.end(), found.begin(), found.end());
  }
  EXPECT_GT(paths.size(), 100u);
  for (const std::string& path : paths) {
    const FontReadResult result = ReadFontFile(path);
    EXPECT_TRUE(std::holds_alternative<FontFileInfo>(result)) << path << ": " << Describe(result);
  }
}

TEST(RealFontsTest, BitmapFontsGiveTheirFaceSizesAndDescription) {
  for (const auto& [font, face] : {std::pair{kSansSerif, "MS Sans Serif"}, std::pair{kCourier, "Courier"}}) {
    SCOPED_TRACE(font.path);
    const FontFileInfo info = InfoOf(ReadFontFile(NativePath(font.path)));
    EXPECT_EQ(info.format, FontFormat::WindowsBitmap);
    ASSERT_EQ(info.faces.size(), 1u);
    EXPECT_EQ(info.faces[0].family, face);
    EXPECT_EQ(info.faces[0].style, "Regular");
    EXPECT_EQ(info.faces[0].fullName, face);
    // "FONTRES 100,96,96 : MS Sans Serif 8,10,12 (VGA res)": the sizes the
    // module says it holds are the sizes of its fonts.
    const std::string label = std::string(" : ") + face + " ";
    const std::size_t at = info.description.find(label);
    ASSERT_NE(at, std::string::npos) << info.description;
    const std::size_t from = at + label.size();
    const std::string list = info.description.substr(from, info.description.find_first_not_of("0123456789,", from) - from);
    std::vector<int> listed;
    std::stringstream sizes(list);
    for (std::string size; std::getline(sizes, size, ',');) listed.push_back(std::stoi(size));
    EXPECT_EQ(info.faces[0].pointSizes, listed);
    EXPECT_THAT(info.description, StartsWith("FONTRES "));
  }
}

TEST(RealFontsTest, ReadsOnlyTheHeadersAndTheNameTables) {
  for (const RealFont& font : {kZenHei, kDejaVuSans, kSansSerif}) {
    SCOPED_TRACE(font.path);
    const Bytes bytes = Load(font);
    CheckedSource source(bytes);
    InfoOf(ReadFont(source));
    // ZenHei is 16 MB; its three directories and name tables are 9 KB.
    EXPECT_LT(source.bytesRead, 32u * 1024);
    EXPECT_LT(source.reads, 64);
  }
}

#ifndef _WIN32
// fontconfig's names of each face: every language's, tagged, for the family,
// the style and the full name.
struct FontconfigFace {
  std::multimap<std::string, std::string> families, styles, fullNames;
};

std::vector<FontconfigFace> Fontconfig(const std::string& path) {
  const std::string command = "fc-scan --format '%{index}|%{[]family,familylang{\t%{familylang}=%{family}}}|"
                              "%{[]style,stylelang{\t%{stylelang}=%{style}}}|"
                              "%{[]fullname,fullnamelang{\t%{fullnamelang}=%{fullname}}}\\n' '" + path + "' 2>&1";
  std::vector<FontconfigFace> faces;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return faces;
  std::string output;
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  if (pclose(pipe) != 0) {
    ADD_FAILURE() << "fc-scan failed (install the Debian package fontconfig): " << output;
    return faces;
  }
  std::stringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::stringstream parts(line);
    for (std::string field; std::getline(parts, field, '|');) fields.push_back(field);
    if (fields.size() != 4) {
      ADD_FAILURE() << "fc-scan printed " << line;
      continue;
    }
    const std::size_t index = std::stoul(fields[0]);
    if (faces.size() <= index) faces.resize(index + 1);
    for (auto [field, names] : {std::pair{1, &faces[index].families}, std::pair{2, &faces[index].styles},
                                std::pair{3, &faces[index].fullNames}}) {
      std::stringstream entries(fields[static_cast<std::size_t>(field)]);
      for (std::string entry; std::getline(entries, entry, '\t');) {
        if (const auto equals = entry.find('='); equals != std::string::npos) {
          names->emplace(entry.substr(0, equals), entry.substr(equals + 1));
        }
      }
    }
  }
  return faces;
}

std::vector<std::string> English(const std::multimap<std::string, std::string>& names) {
  std::vector<std::string> english;
  for (auto [at, end] = names.equal_range("en"); at != end; ++at) english.push_back(at->second);
  return english;
}

// fontconfig lists every record's name, of every platform and language; where
// the Mac and Windows records differ there are two English names, and the
// reader's must be one of them.
TEST(RealFontsTest, NamesAreTheEnglishNamesFontconfigFinds) {
  std::vector<std::string> paths = FontsIn("/usr/share/fonts/truetype/dejavu", "fonts-dejavu-core");
  const auto otf = FontsIn("/usr/share/fonts/opentype/urw-base35", "fonts-urw-base35");
  paths.insert(paths.end(), otf.begin(), otf.end());
  paths.insert(paths.end(), {kMicroHei.path, kZenHei.path});
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    const FontFileInfo info = InfoOf(ReadFontFile(path));
    const std::vector<FontconfigFace> expected = Fontconfig(path);
    ASSERT_EQ(info.faces.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_THAT(English(expected[i].fullNames), Contains(info.faces[i].fullName)) << "face " << i;
      EXPECT_THAT(English(expected[i].families), Contains(info.faces[i].family)) << "face " << i;
      EXPECT_THAT(English(expected[i].styles), Contains(info.faces[i].style)) << "face " << i;
    }
  }
}

// fontconfig counts a .fon's fonts one by one; the reader joins the sizes of one face.
TEST(RealFontsTest, BitmapFaceNamesAreTheOnesFontconfigFinds) {
  for (const std::string& path : FontsIn("/usr/share/wine/fonts", "wine")) {
    if (!path.ends_with(".fon")) continue;
    SCOPED_TRACE(path);
    const FontFileInfo info = InfoOf(ReadFontFile(path));
    std::set<std::string> families, read;
    int sizes = 0;
    for (const FontconfigFace& face : Fontconfig(path)) {
      const auto english = English(face.families);
      families.insert(english.begin(), english.end());
    }
    for (const FontFace& face : info.faces) {
      read.insert(face.family);
      sizes += static_cast<int>(face.pointSizes.size());
    }
    EXPECT_EQ(read, families);
    EXPECT_EQ(static_cast<std::size_t>(sizes), Fontconfig(path).size());
  }
}
#endif

// ---- names and formats, from fonts made here ---------------------------------

std::string FamilyOf(const std::vector<NameRecord>& records) {
  const FontFileInfo info = InfoOf(Parse(Sfnt(Face{0x00010000, {{FourCc("name"), NameTable(records)}}})));
  return info.faces.empty() ? "<none>" : info.faces[0].family;
}

TEST(FontNamesTest, TheUsEnglishWindowsNameWinsElseTheFirst) {
  EXPECT_EQ(FamilyOf({{1, u"文泉驿微米黑", 0x0804}, {1, u"WenQuanYi Micro Hei", 0x0409}, {1, u"Other", 0x0809}}),
            "WenQuanYi Micro Hei");
  EXPECT_EQ(FamilyOf({{1, u"文泉驿微米黑", 0x0804}, {1, u"文泉驛微米黑", 0x0404}}), "文泉驿微米黑");
  EXPECT_EQ(FamilyOf({{1, u"First", 0x0409}, {1, u"Second", 0x0409}}), "First");
}

TEST(FontNamesTest, OnlyWindowsRecordsOfTheUnicodeEncodingsCount) {
  EXPECT_EQ(FamilyOf({{1, u"Mac", 0, 1, 0}, {1, u"Unicode", 0, 0, 3}, {1, u"ShiftJis", 0x0411, 3, 2},
                      {1, u"Windows", 0x0804, 3, 1}}),
            "Windows");
  EXPECT_EQ(FamilyOf({{1, u"Symbol", 0x0409, 3, 0}}), "Symbol");
  EXPECT_EQ(FamilyOf({{1, u"Ucs4", 0x0409, 3, 10}}), "Ucs4");
  EXPECT_EQ(WhyOf(Parse(Sfnt(Face{0x00010000, {{FourCc("name"), NameTable({{1, u"Mac", 0, 1, 0}})}}}))),
            "no Windows family name");
}

TEST(FontNamesTest, LegacyNamesComeBeforeTypographicOnes) {
  const FontFileInfo info = InfoOf(Parse(Sfnt(Face{
      0x00010000, {{FourCc("name"), NameTable({{16, u"DejaVu Sans"}, {17, u"Condensed Bold"}, {1, u"DejaVu Sans Condensed"},
                                               {2, u"Bold"}, {4, u"DejaVu Sans Condensed Bold"}})}}})));
  ASSERT_EQ(info.faces.size(), 1u);
  EXPECT_EQ(info.faces[0].family, "DejaVu Sans Condensed");
  EXPECT_EQ(info.faces[0].style, "Bold");
  EXPECT_EQ(info.faces[0].fullName, "DejaVu Sans Condensed Bold");
}

TEST(FontNamesTest, AMissingStyleOrFullNameIsMadeFromTheOthers) {
  auto face = [](const std::vector<NameRecord>& records) {
    const FontFileInfo info = InfoOf(Parse(Sfnt(Face{0x00010000, {{FourCc("name"), NameTable(records)}}})));
    return info.faces.empty() ? FontFace{} : info.faces[0];
  };
  const FontFace bare = face({{1, u"Plain"}});
  EXPECT_EQ(bare.style, "Regular");
  EXPECT_EQ(bare.fullName, "Plain");
  EXPECT_EQ(face({{1, u"Plain"}, {2, u"Italic"}}).fullName, "Plain Italic");
  EXPECT_EQ(face({{1, u"Plain"}, {2, u""}}).style, "Regular");
}

TEST(FontNamesTest, TextStopsAtNulAndKeepsCharactersOutsideTheBmp) {
  EXPECT_EQ(FamilyOf({{1, std::u16string(u"Cut\0here", 8)}}), "Cut");
  EXPECT_EQ(FamilyOf({{1, u"Emoji \U0001F600 Ω"}}), "Emoji \xF0\x9F\x98\x80 \xCE\xA9");
  // An odd length leaves its last byte out.
  Bytes name = NameTable({{1, u"Odd"}});
  PutU16Be(name, 6 + 8, 5);
  EXPECT_EQ(InfoOf(Parse(Sfnt(Face{0x00010000, {{FourCc("name"), name}}}))).faces.at(0).family, "Od");
}

TEST(FontNamesTest, EachSignatureGivesItsFormat) {
  Face face = FaceNamed(u"A", u"Regular", u"A");
  EXPECT_EQ(InfoOf(Parse(Sfnt(face))).format, FontFormat::TrueType);
  face.version = FourCc("true");
  EXPECT_EQ(InfoOf(Parse(Sfnt(face))).format, FontFormat::TrueType);
  face.version = FourCc("OTTO");
  EXPECT_EQ(InfoOf(Parse(Sfnt(face))).format, FontFormat::OpenType);

  const FontFileInfo collection = InfoOf(Parse(Collection(
      {FaceNamed(u"A", u"Regular", u"A"), Face{FourCc("OTTO"), FaceNamed(u"B", u"Bold", u"B Bold").tables}})));
  EXPECT_EQ(collection.format, FontFormat::Collection);
  EXPECT_THAT(Summary(collection), ElementsAre("2 ", "A|Regular|A|", "B|Bold|B Bold|"));
}

TEST(FontNamesTest, BitmapFontsJoinTheSizesOfEachFaceAndStyle) {
  const Bytes fon = Fon("FONTRES 100,96,96 : Test 8,10", {{"Test", 10},
                                                           {"Test", 8},
                                                           {"Test", 10, 700},
                                                           {"Test", 12, 700, true},
                                                           {"Other", 9, 400, true},
                                                           {"Caf\xE9 \x80", 8}});
  const FontFileInfo info = InfoOf(Parse(fon));
  EXPECT_EQ(info.format, FontFormat::WindowsBitmap);
  EXPECT_EQ(info.description, "FONTRES 100,96,96 : Test 8,10");
  // The names are Windows-1252.
  EXPECT_THAT(Summary(info), ElementsAre("3 FONTRES 100,96,96 : Test 8,10", "Test|Regular|Test|8,10,",
                                         "Test|Bold|Test Bold|10,", "Test|Bold Italic|Test Bold Italic|12,",
                                         "Other|Italic|Other Italic|9,", "Caf\xC3\xA9 \xE2\x82\xAC|Regular|Caf\xC3\xA9 \xE2\x82\xAC|8,"));
}

// ---- malformed fonts --------------------------------------------------------

// Where Fon() puts its parts.
constexpr std::size_t kFonNe = 0x40, kFonResources = 0x80, kFonDirectoryEntry = 0x8A, kFonFontEntry = 0x9E;

std::uint16_t LeU16(const Bytes& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(std::to_integer<unsigned>(bytes[at]) | std::to_integer<unsigned>(bytes[at + 1]) << 8);
}

std::size_t FirstFontResource(const Bytes& fon) { return std::size_t{LeU16(fon, kFonFontEntry)} << 4; }

TEST(MalformedFontTest, EachFlawGivesItsOwnReason) {
  // head, then name: the name table's directory record is the second.
  const Face face{0x00010000, {{FourCc("head"), Bytes(54)}, FaceNamed(u"Test", u"Bold", u"Test Bold").tables[0]}};
  const Bytes sfnt = Sfnt(face);
  const std::size_t nameRecord = 12 + 16, nameAt = GetU32Be(sfnt, nameRecord + 8);
  const Bytes ttc = Collection({face, face});
  const Bytes fon = Fon("FONTRES 100,96,96 : Test 8", {{"Test", 8}});
  const std::size_t font = FirstFontResource(fon);

  struct Case {
    std::string why;
    Bytes base;
    std::function<void(Bytes&)> change;
  };
  auto text = [](std::string_view s) {
    Bytes bytes;
    for (const char c : s) bytes.push_back(std::byte(static_cast<unsigned char>(c)));
    return bytes;
  };
  const std::vector<Case> cases = {
      {"empty file", {}, [](Bytes&) {}},
      {"truncated font header", sfnt, [](Bytes& b) { b.resize(3); }},
      {"unknown signature", text("GIF89a\1\0\1\0"), [](Bytes&) {}},
      {"a web font (WOFF), which Windows does not install", text("wOFF\0\1\0\0"), [](Bytes&) {}},
      {"truncated font header", sfnt, [](Bytes& b) { b.resize(8); }},
      {"no tables", sfnt, [](Bytes& b) { PutU16Be(b, 4, 0); }},
      {"truncated table directory", sfnt, [](Bytes& b) { PutU16Be(b, 4, 0xFFFF); }},
      {"table 'head' outside the file", sfnt, [](Bytes& b) { PutU32Be(b, 12 + 12, 0xFFFFFF00); }},
      {"table 'head' outside the file", sfnt, [](Bytes& b) { PutU32Be(b, 12 + 8, 0xFFFFFFFF); }},
      {"table '?ame' outside the file", sfnt, [&](Bytes& b) { b[nameRecord] = std::byte{1}; b.pop_back(); }},
      {"no name table", sfnt, [&](Bytes& b) { PutU32Be(b, nameRecord, FourCc("nama")); }},
      {"truncated name table", sfnt, [&](Bytes& b) { PutU32Be(b, nameRecord + 12, 5); }},
      {"truncated name records", sfnt, [&](Bytes& b) { PutU16Be(b, nameAt + 2, 100); }},
      {"name string outside the name table", sfnt, [&](Bytes& b) { PutU16Be(b, nameAt + 6 + 10, 0xFFF0); }},
      {"name string outside the name table", sfnt, [&](Bytes& b) { PutU16Be(b, nameAt + 4, 0xFFFF); }},
      {"name string outside the name table", sfnt, [&](Bytes& b) { PutU16Be(b, nameAt + 6 + 12 + 8, 0xFFFF); }},
      {"empty family name", sfnt, [&](Bytes& b) { PutU16Be(b, nameAt + 6 + 8, 0); }},
      {"no Windows family name", sfnt, [&](Bytes& b) { PutU16Be(b, nameAt + 6 + 6, 3); }},
      {"empty collection", ttc, [](Bytes& b) { PutU32Be(b, 8, 0); }},
      {"too many faces in the collection", ttc, [](Bytes& b) { PutU32Be(b, 8, 5000); }},
      {"truncated collection header", ttc, [](Bytes& b) { PutU32Be(b, 8, 1000); }},
      {"truncated collection header", ttc, [](Bytes& b) { b.resize(11); }},
      {"face 0: unknown font version 'ttcf'", ttc, [](Bytes& b) { PutU32Be(b, 12, 0); }},
      {"face 1: truncated font header", ttc, [](Bytes& b) { PutU32Be(b, 16, static_cast<std::uint32_t>(b.size() - 4)); }},
      {"face 1: no name table", ttc, [](Bytes& b) { PutU32Be(b, GetU32Be(b, 16) + 12 + 16, FourCc("nama")); }},
      {"truncated MZ header", fon, [](Bytes& b) { b.resize(0x3F); }},
      {"no NE header", fon, [](Bytes& b) { PutU32Le(b, 0x3C, 0x7FFFFFFF); }},
      {"not an NE executable", fon, [](Bytes& b) { b[kFonNe] = std::byte{'P'}; }},
      {"truncated NE header", fon, [](Bytes& b) { b.resize(kFonNe + 0x30); }},
      {"no resources", fon, [](Bytes& b) { PutU16Le(b, kFonNe + 0x26, 0x40); }},
      {"truncated resource table", fon, [](Bytes& b) { PutU16Le(b, kFonNe + 0x24, 0xFFF0); }},
      {"resource alignment out of range", fon, [](Bytes& b) { PutU16Le(b, kFonResources, 17); }},
      {"resource outside the file", fon, [](Bytes& b) { PutU16Le(b, kFonFontEntry + 2, 0xFFFF); }},
      {"resource outside the file", fon, [](Bytes& b) { PutU16Le(b, kFonResources, 16); }},
      {"no font directory resource", fon, [](Bytes& b) { PutU16Le(b, kFonResources + 2, 0x8010); }},
      {"no font resources", fon, [](Bytes& b) { PutU16Le(b, kFonDirectoryEntry + 12, 0x8010); }},
      {"empty font directory", fon, [](Bytes& b) { PutU16Le(b, std::size_t{LeU16(b, kFonDirectoryEntry)} << 4, 0); }},
      {"too many resources", fon, [](Bytes& b) { PutU16Le(b, kFonDirectoryEntry + 14, 5000); }},
      {"font 0: truncated font header", fon, [](Bytes& b) { PutU16Le(b, kFonFontEntry + 2, 1); }},
      {"font 0: unknown font header version", fon, [&](Bytes& b) { PutU16Le(b, font, 0x500); }},
      {"font 0: face name outside the font resource", fon, [&](Bytes& b) { PutU32Le(b, font + 105, 0xFFFF); }},
      {"font 0: face name without an end", fon, [&](Bytes& b) { std::fill(b.begin() + static_cast<std::ptrdiff_t>(font + 118), b.end(), std::byte{'A'}); }},
      {"font 0: empty face name", fon, [&](Bytes& b) { b[font + 118] = std::byte{0}; }},
      {"module description outside the file", fon, [](Bytes& b) { PutU32Le(b, kFonNe + 0x2C, 0xFFFFFF00); }},
  };
  for (const Case& c : cases) {
    Bytes bytes = c.base;
    c.change(bytes);
    EXPECT_EQ(WhyOf(Parse(bytes)), c.why);
  }
  // The unchanged bases are fonts, so each reason above is the change's.
  for (const Bytes* base : {&sfnt, &ttc, &fon}) EXPECT_TRUE(std::holds_alternative<FontFileInfo>(Parse(*base)));
  EXPECT_EQ(NotAFontText(NotAFont{"no name table"}), "not a font: no name table");
}

TEST(MalformedFontTest, AResourceTableThatNeverEndsIsCutShort) {
  Bytes fon = Fon("FONTRES 100,96,96 : Test 8", {{"Test", 8}});
  // 300 empty resource types, where the table now starts.
  const std::size_t table = fon.size();
  fon.resize(table + 2 + 8 * 300 + 2);
  PutU16Le(fon, table, 4);
  for (std::size_t i = 0; i < 300; ++i) PutU16Le(fon, table + 2 + 8 * i, 0x8010);
  PutU16Le(fon, kFonNe + 0x24, static_cast<std::uint16_t>(table - kFonNe));
  EXPECT_EQ(WhyOf(Parse(fon)), "too many resource types");
}

// ---- damaged copies of real fonts ------------------------------------------

struct Sample {
  RealFont font;
  Bytes bytes;
  FontFileInfo info;
};

std::vector<Sample> Samples() {
  std::vector<Sample> samples;
  for (const RealFont& font : {kDejaVuSans, kMicroHei, kZenHei, kC059, kSansSerif, kCourier}) {
    Bytes bytes = Load(font);
    if (bytes.empty()) continue;
    FontFileInfo info = InfoOf(Parse(bytes));
    samples.push_back({font, std::move(bytes), std::move(info)});
  }
  return samples;
}

TEST(DamagedFontTest, EveryCutOfASmallFormIsNotAFontAndTheWholeReadsTheSame) {
  for (const Sample& sample : Samples()) {
    SCOPED_TRACE(sample.font.path);
    const Bytes small = SmallFormOf(sample.bytes);
    ASSERT_FALSE(small.empty());
    EXPECT_LT(small.size(), 64u * 1024);
    EXPECT_EQ(Summary(InfoOf(Parse(small))), Summary(sample.info));
    for (std::size_t length = 0; length < small.size(); ++length) {
      // A heap block of exactly the cut's size, so AddressSanitizer sees any read past it.
      const Bytes cut(small.begin(), small.begin() + static_cast<std::ptrdiff_t>(length));
      const FontReadResult result = Parse(cut);
      ASSERT_TRUE(std::holds_alternative<NotAFont>(result)) << length << ": " << Describe(result);
      ASSERT_FALSE(std::get<NotAFont>(result).why.empty());
    }
  }
}

TEST(DamagedFontTest, EveryCutOfARealFontIsNotAFont) {
  std::mt19937 random(20240611);
  for (const Sample& sample : Samples()) {
    SCOPED_TRACE(sample.font.path);
    const std::size_t size = sample.bytes.size();
    std::set<std::size_t> lengths;
    if (sample.info.format == FontFormat::WindowsBitmap) {
      for (std::size_t length = 0; length < size; ++length) lengths.insert(length);
    } else {
      // Every length near a structure's edge, and a sampling of the rest.
      for (const std::size_t edge : SfntEdges(sample.bytes)) {
        for (std::size_t length = edge > 64 ? edge - 64 : 0; length <= edge + 64; ++length) lengths.insert(length);
      }
      for (std::size_t length = 0; length < 1024; ++length) lengths.insert(length);
      for (int i = 0; i < 300; ++i) lengths.insert(random() % size);
    }
    int cuts = 0;
    for (const std::size_t length : lengths) {
      if (length >= size) continue;
      CheckedSource source(std::span(sample.bytes).first(length));
      const FontReadResult result = ReadFont(source);
      // Each of these fonts' last table or resource ends the file.
      ASSERT_TRUE(std::holds_alternative<NotAFont>(result)) << length << ": " << Describe(result);
      ++cuts;
    }
    EXPECT_GT(cuts, 1000);
  }
}

TEST(DamagedFontTest, FlippedBitsGiveANameOrAReason) {
  std::mt19937 random(7);
  for (const Sample& sample : Samples()) {
    SCOPED_TRACE(sample.font.path);
    // The small form is all structure, so every flip lands on something the reader reads.
    const Bytes small = SmallFormOf(sample.bytes);
    ASSERT_FALSE(small.empty());
    int fonts = 0, notFonts = 0;
    for (int round = 0; round < 2000; ++round) {
      Bytes bytes = small;
      const int flips = 1 + static_cast<int>(random() % 4);
      for (int i = 0; i < flips; ++i) bytes[random() % bytes.size()] ^= std::byte(1u << (random() % 8));
      CheckedSource source(bytes);
      const FontReadResult result = ReadFont(source);
      if (const auto* info = std::get_if<FontFileInfo>(&result)) {
        ASSERT_FALSE(info->faces.empty());
        for (const FontFace& face : info->faces) ASSERT_FALSE(face.family.empty() || face.fullName.empty());
        ++fonts;
      } else {
        ASSERT_TRUE(std::holds_alternative<NotAFont>(result)) << Describe(result);
        ASSERT_FALSE(std::get<NotAFont>(result).why.empty());
        ++notFonts;
      }
      // Also as an exact heap block, for AddressSanitizer.
      const FontReadResult again = Parse(bytes);
      ASSERT_EQ(Describe(again), Describe(result));
    }
    // Flips both break the file and leave it readable, or they missed.
    EXPECT_GT(fonts, 0);
    EXPECT_GT(notFonts, 0);
  }
}

// ---- files ------------------------------------------------------------------

TEST(FontFileReadTest, AMissingFileIsAReadErrorWithTheSystemsCode) {
  TempFolder temp;
  const FontReadResult result = ReadFontFile(temp.Path("missing.ttf"));
  const auto* error = std::get_if<FileError>(&result);
  ASSERT_NE(error, nullptr) << Describe(result);
  EXPECT_EQ(error->step, FileStep::Open);
#ifdef _WIN32
  EXPECT_EQ(error->code, 2);  // ERROR_FILE_NOT_FOUND
#else
  EXPECT_EQ(error->code, ENOENT);
#endif
}

TEST(FontFileReadTest, FoldersAndPipesAreNotFonts) {
  TempFolder temp;
  MakeFolder(temp.Path("folder.ttf"));
  EXPECT_EQ(WhyOf(ReadFontFile(temp.Path("folder.ttf"))), "a folder");
#ifndef _WIN32
  // Opening a pipe would wait for a writer.
  ASSERT_EQ(mkfifo(temp.Path("pipe.ttf").c_str(), 0600), 0);
  EXPECT_EQ(WhyOf(ReadFontFile(temp.Path("pipe.ttf"))), "not a regular file");
#endif
}

TEST(FontFileReadTest, AFileReadsAsItsBytesWhateverItsName) {
  TempFolder temp;
  const Bytes fon = Fon("FONTRES 100,96,96 : Test 8", {{"Test", 8}});
  const Bytes ttc = Collection({FaceNamed(u"宋体", u"Regular", u"宋体"), FaceNamed(u"B", u"Bold", u"B Bold")});
  for (const auto& [name, bytes] : {std::pair{std::string("字体 Ω é.ttc"), ttc}, std::pair{std::string("Шрифт.fon"), fon},
                                    std::pair{std::string("empty.ttf"), Bytes{}}}) {
    WriteFile(temp.Path(name), std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    EXPECT_EQ(Describe(ReadFontFile(temp.Path(name))), Describe(Parse(bytes))) << name;
  }
  EXPECT_EQ(Describe(ReadFontFile(temp.Path("字体 Ω é.ttc"))), "a font: [宋体] [B Bold]");
}

}  // namespace
}  // namespace quorvane
