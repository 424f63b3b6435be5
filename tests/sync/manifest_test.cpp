#include "sync/run/manifest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <variant>
#include <vector>

namespace quorvane {
namespace {

Sha256::Digest DigestOf(const std::string& text) {
  Sha256 hash;
  hash.Add(std::as_bytes(std::span(text)));
  return hash.Finish().value();
}

// Names a share can hold: every escape, a ';' inside a face name, a byte that
// is no UTF-8, Chinese, and text that looks like an escape.
std::vector<ManifestEntry> AwkwardEntries() {
  return {
      {.path = "a.ttf", .size = 0, .sha256 = DigestOf(""), .faces = {}, .version = ""},
      {.path = "子文件夹/宋体 粗体.ttc",
       .size = 18446744073709551615ull,
       .sha256 = DigestOf("b"),
       .faces = {"宋体", "Song;Bold", "x\\x41"},
       .version = "Version 1.0;PS 1"},
      {.path = "tab\there/line\nfeed\r/back\\slash/\x01\x7f\xff\xc3.otf",
       .size = 7,
       .sha256 = DigestOf("c"),
       .faces = {"", "\t"},
       .version = "\\x00\n"},
  };
}

ManifestEntry Named(std::string path, std::uint64_t size = 0) {
  ManifestEntry entry;
  entry.path = std::move(path);
  entry.size = size;
  return entry;
}

std::string Text(const std::vector<ManifestEntry>& entries) { return FormatManifest(entries).value(); }

TEST(ManifestTest, AwkwardNamesComeBackByteForByte) {
  const std::vector<ManifestEntry> entries = AwkwardEntries();
  const std::string text = Text(entries);
  const auto parsed = ParseManifest(text);
  ASSERT_TRUE(std::holds_alternative<std::vector<ManifestEntry>>(parsed)) << std::get<ManifestRefusal>(parsed).why;
  EXPECT_EQ(std::get<std::vector<ManifestEntry>>(parsed), entries);
  // One line per font between the header and the end line, whatever the names hold.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), static_cast<long>(entries.size()) + 2);
  const auto empty = ParseManifest(Text({}));
  ASSERT_TRUE(std::holds_alternative<std::vector<ManifestEntry>>(empty));
  EXPECT_TRUE(std::get<std::vector<ManifestEntry>>(empty).empty());
}

// Whatever a byte becomes, and wherever the text ends early, the manifest is refused.
TEST(ManifestTest, EveryChangedByteAndEveryCutIsRefused) {
  const std::string text = Text(AwkwardEntries());
  for (size_t at = 0; at < text.size(); ++at) {
    std::string changed = text;
    changed[at] = static_cast<char>(changed[at] ^ 0x01);
    EXPECT_TRUE(std::holds_alternative<ManifestRefusal>(ParseManifest(changed))) << "byte " << at;
    EXPECT_TRUE(std::holds_alternative<ManifestRefusal>(ParseManifest(text.substr(0, at)))) << "cut at " << at;
  }
  std::string crlf;
  for (const char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(std::get<ManifestRefusal>(ParseManifest(crlf)).why,
            "it holds a carriage return: its line ends were changed");
  EXPECT_TRUE(std::holds_alternative<ManifestRefusal>(ParseManifest(text + text)));
}

TEST(ManifestTest, APathThatLeavesItsFolderOrIsNamedTwiceIsRefused) {
  for (const std::string path : {"../a.ttf", "/a.ttf", "a//b.ttf", "./a.ttf", "a/"}) {
    const auto parsed = ParseManifest(Text({Named(path)}));
    ASSERT_TRUE(std::holds_alternative<ManifestRefusal>(parsed)) << path;
    EXPECT_EQ(std::get<ManifestRefusal>(parsed).why, "a path is not a plain relative path");
  }
  // Named as the manifest spells it: the reason stays one line.
  const auto twice = ParseManifest(Text({Named("a\nb.ttf"), Named("a\nb.ttf", 1)}));
  ASSERT_TRUE(std::holds_alternative<ManifestRefusal>(twice));
  EXPECT_EQ(std::get<ManifestRefusal>(twice).why, "it names a\\x0ab.ttf twice");
}

}  // namespace
}  // namespace quorvane
