// Every input the fuzzers kept is replayed here, so a fixed finding stays fixed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz_targets.h"

namespace quorvane::fuzz {
namespace {

namespace fs = std::filesystem;

int ReplayCorpus(const char* name, int (*entry)(const std::uint8_t*, std::size_t)) {
  int replayed = 0;
  for (const auto& file : fs::directory_iterator(fs::path(QUORVANE_FUZZ_CORPUS) / name)) {
    std::ifstream in(file.path(), std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    entry(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ++replayed;
  }
  return replayed;
}

TEST(FuzzCorpusTest, PathsCorpusHoldsItsInvariants) { EXPECT_GT(ReplayCorpus("paths", FuzzPaths), 0); }

TEST(FuzzCorpusTest, ArgumentsCorpusHoldsItsInvariants) {
  EXPECT_GT(ReplayCorpus("arguments", FuzzArguments), 0);
}

TEST(FuzzCorpusTest, FontFileCorpusHoldsItsInvariants) { EXPECT_GT(ReplayCorpus("font_file", FuzzFontFile), 0); }

// The structure check reads the same inputs as the font reader.
TEST(FuzzCorpusTest, FontFileCorpusHoldsTheStructureChecksInvariants) {
  EXPECT_GT(ReplayCorpus("font_file", FuzzFontStructure), 0);
}

TEST(FuzzCorpusTest, ManifestCorpusHoldsItsInvariants) { EXPECT_GT(ReplayCorpus("manifest", FuzzManifest), 0); }

}  // namespace
}  // namespace quorvane::fuzz
