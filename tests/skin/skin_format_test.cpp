#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "skin/default_skin_text.h"
#include "skin/format/skin_format.h"
#include "skin/format/skin_theme.h"

namespace quorvane::skin {
namespace {

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

SkinError ParseError(std::string_view text) { return ParseSkin(Bytes(text)).error; }

std::string Replace(std::string text, std::string_view from, std::string_view to) {
  const auto at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// A minimal well-formed skin around `body`, which holds `entries` entries.
std::string Wrap(std::string_view body, int entries) {
  std::string text = "QVSKIN 1 ";
  text.append(std::to_string(entries)).append("\n").append(body).append("end\n");
  return text;
}

TEST(SkinFormat, DefaultSkinHoldsEveryNameTheEngineNeeds) {
  const ThemeResult result = LoadTheme(Bytes(kDefaultSkinText));
  ASSERT_TRUE(result.ok()) << DescribeSkinError(result.error) << " at line " << result.line;
  EXPECT_EQ(result.theme.colours.windowBackground, (Rgb{0xF4, 0xF5, 0xF7}));
  EXPECT_EQ(result.theme.metrics.radioSize, 14u);
}

TEST(SkinFormat, ReadsColoursMetricsCommentsAndCrLf) {
  const std::string text =
      "QVSKIN 1 2\r\n# note\r\n\r\n  colour\tlist.grid   #0a0B0c \r\nmetric focus.width 3\r\nend\r\n";
  const SkinParseResult result = ParseSkin(Bytes(text));
  ASSERT_TRUE(result.ok()) << DescribeSkinError(result.error);
  ASSERT_EQ(result.document.colours.size(), 1u);
  EXPECT_EQ(result.document.colours[0].name, "list.grid");
  EXPECT_EQ(result.document.colours[0].value, (Rgb{0x0A, 0x0B, 0x0C}));
  ASSERT_EQ(result.document.metrics.size(), 1u);
  EXPECT_EQ(result.document.metrics[0].name, "focus.width");
  EXPECT_EQ(result.document.metrics[0].value, 3u);
}

TEST(SkinFormat, EveryTruncationOfTheDefaultSkinIsRejected) {
  for (std::size_t length = 0; length < kDefaultSkinText.size(); ++length) {
    // A copy of exactly `length` bytes, so a read past it is caught by ASan.
    const std::vector<std::uint8_t> cut(kDefaultSkinText.begin(), kDefaultSkinText.begin() + length);
    EXPECT_FALSE(ParseSkin(cut).ok()) << "accepted the first " << length << " bytes";
  }
}

TEST(SkinFormat, NeverReadsPastTheGivenLength) {
  // Without its final line break the skin is cut off, even if the next byte in
  // memory happens to be the missing break.
  std::string text = Wrap("colour text #000000\n", 1);
  ASSERT_TRUE(ParseSkin(Bytes(text)).ok());
  EXPECT_EQ(ParseSkin(Bytes(text).first(text.size() - 1)).error, SkinError::kMissingEnd);
  EXPECT_EQ(ParseSkin(Bytes(text).first(text.size() - 4)).error, SkinError::kMissingEnd);
}

TEST(SkinFormat, RejectsForeignSignaturesAndVersions) {
  EXPECT_EQ(ParseError(""), SkinError::kEmpty);
  EXPECT_EQ(ParseError("MZ\x90\x00"), SkinError::kBadSignature);
  EXPECT_EQ(ParseError("qvskin 1 0\nend\n"), SkinError::kBadSignature);
  EXPECT_EQ(ParseError("QVSKINX 1 0\nend\n"), SkinError::kBadSignature);
  EXPECT_EQ(ParseError("QVSKIN 1\nend\n"), SkinError::kBadSignature);
  EXPECT_EQ(ParseError("QVSKIN 0 0\nend\n"), SkinError::kUnsupportedVersion);
  EXPECT_EQ(ParseError("QVSKIN 2 0\nend\n"), SkinError::kUnsupportedVersion);
  EXPECT_EQ(ParseError("QVSKIN 01 0\nend\n"), SkinError::kUnsupportedVersion);
  EXPECT_EQ(ParseError("QVSKIN 99999999999999999999 0\nend\n"), SkinError::kUnsupportedVersion);
  EXPECT_TRUE(ParseSkin(Bytes("QVSKIN 1 0\nend\n")).ok());
}

TEST(SkinFormat, RejectsAbsurdOrWrongEntryCounts) {
  EXPECT_EQ(ParseError("QVSKIN 1 257\nend\n"), SkinError::kBadEntryCount);
  EXPECT_EQ(ParseError("QVSKIN 1 4294967295\nend\n"), SkinError::kBadEntryCount);
  EXPECT_EQ(ParseError("QVSKIN 1 18446744073709551616\nend\n"), SkinError::kBadEntryCount);
  EXPECT_EQ(ParseError("QVSKIN 1 -1\nend\n"), SkinError::kBadEntryCount);
  EXPECT_EQ(ParseError(Wrap("colour text #000000\n", 2)), SkinError::kEntryCountMismatch);
  EXPECT_EQ(ParseError(Wrap("colour text #000000\ncolour accent #000000\n", 1)), SkinError::kEntryCountMismatch);
}

TEST(SkinFormat, RejectsMalformedStatementsWithTheirLine) {
  const std::vector<std::tuple<std::string, SkinError>> cases = {
      {"colour text #00000\n", SkinError::kBadColour},
      {"colour text 000000\n", SkinError::kBadColour},
      {"colour text #00000G\n", SkinError::kBadColour},
      {"colour text\n", SkinError::kBadColour},
      {"metric radio.size -1\n", SkinError::kBadMetric},
      {"metric radio.size 014\n", SkinError::kBadMetric},
      {"metric radio.size 10001\n", SkinError::kBadMetric},
      {"metric radio.size 1.5\n", SkinError::kBadMetric},
      {"colour Text #000000\n", SkinError::kBadName},
      {"colour 1text #000000\n", SkinError::kBadName},
      {"colour " + std::string(49, 'a') + " #000000\n", SkinError::kBadName},
      {"color text #000000\n", SkinError::kUnknownStatement},
      {"colour text #000000 extra\n", SkinError::kUnknownStatement},
      {"colour text #000\x01" "00\n", SkinError::kBadCharacter},
      {"colour text #00\xC3\xA9" "00\n", SkinError::kBadCharacter},
      {"# " + std::string(199, 'x') + "\n", SkinError::kLineTooLong},
  };
  for (const auto& [line, expected] : cases) {
    const SkinParseResult result = ParseSkin(Bytes(Wrap(line, 1)));
    EXPECT_EQ(result.error, expected) << line;
    EXPECT_EQ(result.line, 2u) << line;
  }
  EXPECT_EQ(ParseError(Wrap("colour text #000000\ncolour text #FFFFFF\n", 2)), SkinError::kDuplicateName);
  EXPECT_EQ(ParseError(Wrap("colour text #000000\nmetric text 1\n", 2)), SkinError::kDuplicateName);
  EXPECT_EQ(ParseError(Wrap("", 0) + "\n"), SkinError::kDataAfterEnd);
  EXPECT_EQ(ParseError("QVSKIN 1 0\nend now\n"), SkinError::kUnknownStatement);
  EXPECT_EQ(ParseSkin(Bytes(Wrap(std::string(198, '#') + "\n", 0))).error, SkinError::kNone);
}

TEST(SkinFormat, RandomBytesAndMutatedSkinsNeverCrash) {
  std::mt19937 random(20261208);
  for (int round = 0; round < 4000; ++round) {
    std::vector<std::uint8_t> bytes(random() % 512);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
    EXPECT_FALSE(ParseSkin(bytes).ok());
  }
  for (int round = 0; round < 4000; ++round) {
    std::vector<std::uint8_t> bytes(kDefaultSkinText.begin(), kDefaultSkinText.end());
    for (int flips = 1 + static_cast<int>(random() % 4); flips > 0; --flips)
      bytes[random() % bytes.size()] = static_cast<std::uint8_t>(random());
    (void)LoadTheme(bytes);  // the mutation may be harmless (a comment); only crashes matter
  }
}

// Each colour name must land in a field of its own: give every colour a unique
// value and expect as many distinct values in the theme.
TEST(SkinTheme, EveryColourNameFillsItsOwnField) {
  SkinParseResult parsed = ParseSkin(Bytes(kDefaultSkinText));
  ASSERT_TRUE(parsed.ok());
  std::uint8_t next = 1;
  for (NamedColour& colour : parsed.document.colours) colour.value = {next++, 0, 0};
  const ThemeResult result = ThemeFromDocument(parsed.document);
  ASSERT_TRUE(result.ok());
  const auto& c = result.theme.colours;
  static_assert(sizeof(SkinColours) % sizeof(Rgb) == 0);
  const Rgb* first = &c.windowBackground;
  std::set<int> reds;
  for (std::size_t i = 0; i < sizeof(SkinColours) / sizeof(Rgb); ++i) reds.insert(first[i].red);
  EXPECT_EQ(reds.size(), parsed.document.colours.size());
  EXPECT_EQ(reds.count(0), 0u);
}

TEST(SkinTheme, RequiresKnownCompleteNamesAndSaneMetrics) {
  const std::string full(kDefaultSkinText);
  EXPECT_EQ(LoadTheme(Bytes(Replace(Replace(full, "QVSKIN 1 45", "QVSKIN 1 44"), "colour label.text #3C4657\n", "")))
                .error,
            SkinError::kMissingName);
  EXPECT_EQ(LoadTheme(Bytes(Replace(full, "colour label.text", "colour label.txt"))).error, SkinError::kUnknownName);
  EXPECT_EQ(LoadTheme(Bytes(Replace(full, "metric radio.size       14", "metric radio.size 400"))).error,
            SkinError::kMetricOutOfRange);
  EXPECT_EQ(LoadTheme(Bytes(Replace(full, "metric focus.width      2", "metric focus.width 0"))).error,
            SkinError::kMetricOutOfRange);
}

TEST(SkinTheme, AdjustmentsMoveSurfacesAndAccentsOnly) {
  const ThemeResult loaded = LoadTheme(Bytes(kDefaultSkinText));
  ASSERT_TRUE(loaded.ok());
  const SkinColours& base = loaded.theme.colours;
  const Rgb orange{0xE0, 0x70, 0x10};

  const SkinColours white = AdjustTheme(loaded.theme, {.accent = orange, .lightness = 100}).colours;
  EXPECT_EQ(white.windowBackground, (Rgb{255, 255, 255}));
  EXPECT_EQ(white.progressTrack, (Rgb{255, 255, 255}));
  EXPECT_EQ(white.text, base.text);
  EXPECT_EQ(white.groupText, base.groupText);
  for (const Rgb& colour : {white.accent, white.focusRing, white.radioMark, white.progressFill, white.editBorderFocus})
    EXPECT_EQ(colour, orange);

  const SkinColours darker = AdjustTheme(loaded.theme, {.accent = std::nullopt, .lightness = -50}).colours;
  EXPECT_EQ(darker.windowBackground, (Rgb{122, 123, 124}));
  EXPECT_EQ(darker.accent, base.accent);
}

// The fuzzer's corpus, replayed: ok-* must load, bad-* must not; files the
// fuzzer added under other names only have to be read without harm.
TEST(SkinFormat, FuzzCorpusReplays) {
  int named = 0;
  for (const auto& entry : std::filesystem::directory_iterator(QUORVANE_SKIN_FUZZ_CORPUS)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    const std::string name = entry.path().filename().string();
    const bool ok = LoadTheme(bytes).ok();
    if (name.starts_with("ok-")) {
      EXPECT_TRUE(ok) << name;
      ++named;
    } else if (name.starts_with("bad-")) {
      EXPECT_FALSE(ok) << name;
      ++named;
    }
  }
  EXPECT_GE(named, 10);
}

}  // namespace
}  // namespace quorvane::skin
