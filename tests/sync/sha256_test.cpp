#include "sync/files/sha256.h"

#include "sync/files/background_sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace quorvane {
namespace {

using namespace quorvane::testing;

std::span<const std::byte> BytesOf(const std::string& text) { return std::as_bytes(std::span(text)); }

// The hex digest of `bytes`, added in pieces of `piece` bytes (0: at once).
std::string HashInPieces(std::span<const std::byte> bytes, std::size_t piece) {
  Sha256 hash;
  if (piece == 0) piece = std::max<std::size_t>(bytes.size(), 1);
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    hash.Add(bytes.subspan(at, std::min(piece, bytes.size() - at)));
  }
  const auto digest = hash.Finish();
  EXPECT_EQ(hash.Error(), 0);
  return digest ? HexOf(*digest) : "failed";
}

// FIPS 180-2's examples, and the empty message.
TEST(Sha256Test, KnownVectorsInAnyPieces) {
  const std::vector<std::pair<std::string, std::string>> vectors = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}};
  for (const auto& [message, digest] : vectors) {
    SCOPED_TRACE(message.size());
    for (const std::size_t piece : {0, 1, 63, 4093}) EXPECT_EQ(HashInPieces(BytesOf(message), piece), digest) << piece;
  }
  // Two at once keep apart.
  Sha256 first, second;
  first.Add(BytesOf("ab"));
  second.Add(BytesOf("xyz"));
  first.Add(BytesOf("c"));
  EXPECT_EQ(HexOf(first.Finish().value()), vectors[1].second);
}

// What sha256sum said of the font when the build was configured.
TEST(Sha256Test, ARealFontHashesAsSha256sumSays) {
  const std::string expected = QUORVANE_DEJAVU_SHA256;
  ASSERT_EQ(expected.size(), 64u) << "sha256sum of DejaVuSans.ttf was not found when the build was configured";
  std::ifstream in(PathOf(NativePath("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf")), std::ios::binary);
  const std::vector<char> font((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(font.empty());
  for (const std::size_t piece : {0, 1 << 20, 4093}) {
    EXPECT_EQ(HashInPieces(std::as_bytes(std::span(font)), piece), expected) << piece;
  }
}

// Copies hashed on the hashing thread, four at once, each far more blocks than
// may wait, with abandoned ones among them: each digest is its own bytes'.
TEST(Sha256Test, BackgroundHashesKeepEachCopyApart) {
  const auto hashCopies = [](unsigned seed) {
    std::mt19937 random(seed);
    for (int copy = 0; copy < 6; ++copy) {
      std::string bytes(random() % (24 << 20), '\0');
      for (std::size_t i = 0; i < bytes.size(); i += 4) bytes[i] = static_cast<char>(random());
      const bool abandon = copy % 3 == 2;
      BackgroundSha256 background;
      // As a copy loop does: a block taken each turn, the last one (the end of the file) still held.
      for (std::size_t at = 0;;) {
        const std::span<std::byte> block = background.Block();
        if (at == bytes.size() || (abandon && at > bytes.size() / 2)) break;
        const std::size_t filled = std::min<std::size_t>(random() % block.size() + 1, bytes.size() - at);
        std::copy_n(reinterpret_cast<const std::byte*>(bytes.data() + at), filled, block.data());
        background.Add(filled);
        at += filled;
      }
      if (abandon) continue;
      const auto digest = background.Finish().Get();
      ASSERT_TRUE(digest) << "seed " << seed << " copy " << copy;
      EXPECT_EQ(HexOf(*digest), HashInPieces(BytesOf(bytes), 0)) << "seed " << seed << " copy " << copy;
    }
  };
  std::vector<std::thread> copies;
  for (unsigned seed = 1; seed <= 4; ++seed) copies.emplace_back(hashCopies, seed);
  for (std::thread& copy : copies) copy.join();
}

}  // namespace
}  // namespace quorvane
